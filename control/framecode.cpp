#include "framecode.h"

#include <QRegularExpression>
#include <QStringList>

namespace {

constexpr int kCBytesPerLine = 12;

// Keywords of C (up to C23) and of Python 3: neither language takes them as a name.
const char *const kKeywords[] = {"auto", "break", "case", "char", "const", "continue", "default",
    "do", "double", "else", "enum", "extern", "float", "for", "goto", "if", "inline", "int", "long",
    "register", "restrict", "return", "short", "signed", "sizeof", "static", "struct", "switch",
    "typedef", "union", "unsigned", "void", "volatile", "while", "bool", "true", "false", "alignas",
    "alignof", "constexpr", "nullptr", "static_assert", "thread_local", "typeof", "typeof_unqual",
    "False", "None", "True", "and", "as", "assert", "async", "await", "class", "def", "del", "elif",
    "except", "finally", "from", "global", "import", "in", "is", "lambda", "nonlocal", "not", "or",
    "pass", "raise", "try", "with", "yield"};

}   // namespace

QString hexLine(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

bool isSourceIdentifier(const QString &name)
{
    static const QRegularExpression shape(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]{0,62}$"));
    if (!shape.match(name).hasMatch())
        return false;
    if (name.startsWith(QLatin1String("__"))
        || (name.size() > 1 && name.at(0) == u'_' && name.at(1).isUpper()))
        return false;
    for (const char *keyword : kKeywords) {
        if (name == QLatin1String(keyword))
            return false;
    }
    return true;
}

QString commentText(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'\r') {
            out += QLatin1String("\\r");
        } else if (c == u'\n') {
            out += QLatin1String("\\n");
        } else if (c == u'\t') {
            out += QLatin1String("\\t");
        } else if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            out += c;
            out += text.at(++i);
        } else if (c.isSurrogate() || !c.isPrint() || c.category() == QChar::Separator_Line
            || c.category() == QChar::Separator_Paragraph) {
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        } else {
            out += c;
        }
    }
    out.replace(QLatin1String("*/"), QLatin1String("*\\/"));
    out.replace(QLatin1String("/*"), QLatin1String("/\\*"));
    return out;
}

QString cArray(const QString &name, const QByteArray &bytes, const QString &comment)
{
    QString out;
    if (!comment.isEmpty())
        out += QStringLiteral("/* %1 */\n").arg(commentText(comment));
    out += QStringLiteral("static const unsigned char %1[%2] = {\n").arg(name).arg(bytes.size());
    for (qsizetype i = 0; i < bytes.size(); i += kCBytesPerLine) {
        QStringList items;
        for (qsizetype j = i; j < qMin(bytes.size(), i + kCBytesPerLine); ++j)
            items << QStringLiteral("0x")
                    + QString::number(quint8(bytes.at(j)), 16).toUpper().rightJustified(2, u'0');
        out += QStringLiteral("    ") + items.join(QStringLiteral(", ")) + QStringLiteral(",\n");
    }
    out += QStringLiteral("};\n");
    return out;
}

QString pythonBytes(const QString &name, const QByteArray &bytes, const QString &comment)
{
    QString out = QStringLiteral("%1 = bytes.fromhex(\"%2\")").arg(name, hexLine(bytes));
    if (!comment.isEmpty())
        out += QStringLiteral("  # ") + commentText(comment);
    return out + u'\n';
}
