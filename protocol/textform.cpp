#include "textform.h"

QString toCrLf(const QString &widgetText)
{
    QString out;
    out.reserve(widgetText.size() + widgetText.size() / 16);
    for (const QChar c : widgetText) {
        if (c == u'\n' || c == QChar::ParagraphSeparator || c == QChar::LineSeparator)
            out += QStringLiteral("\r\n");
        else
            out += c;
    }
    return out;
}

QString fromCrLf(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'\r') {
            out += u'\n';
            if (i + 1 < text.size() && text.at(i + 1) == u'\n')
                ++i;
        } else {
            out += c;
        }
    }
    return out;
}
