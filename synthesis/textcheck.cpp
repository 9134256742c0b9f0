#include "textcheck.h"

#include "codepage.h"
#include "codes.h"

#include <QHash>

namespace {

constexpr char16_t kBig5QuestionMark = 0xFF1F;   // "？", whose BIG5 code is the filler itself

bool isLineBreak(char16_t unit)
{
    return unit == u'\n' || unit == QChar::ParagraphSeparator || unit == QChar::LineSeparator;
}

}   // namespace

TextCheck checkText(QStringView widgetText, int encodingIndex, const CodeTable *table)
{
    TextCheck result;
    const bool unicode =
        encodingIndex == int(Encoding::Utf16Le) || encodingIndex == int(Encoding::Utf16Be);
    const bool big5 = encodingIndex == int(Encoding::Big5);
    const bool gb2312 = encodingIndex == int(Encoding::Gb2312);
    const GbkCode *codes = gbkCodes();
    QHash<QStringView, qsizetype> seen;   // character -> index in uncarried

    auto note = [&](QStringView character, UncarriedKind kind, QChar sentAs) {
        const auto at = seen.constFind(character);
        if (at != seen.cend()) {
            ++result.uncarried[*at].count;
            return;
        }
        seen.insert(character, result.uncarried.size());
        result.uncarried.append({character.toString(), kind, sentAs, 1});
    };

    for (qsizetype i = 0; i < widgetText.size(); ++i) {
        ++result.characters;
        const char16_t unit = widgetText[i].unicode();
        if (unit == u'\r' && i + 1 < widgetText.size() && widgetText[i + 1] == u'\n') {
            ++i;   // CR LF is one line break
            continue;
        }
        if (QChar::isHighSurrogate(unit) && i + 1 < widgetText.size()
            && QChar::isLowSurrogate(widgetText[i + 1].unicode())) {
            if (!unicode)
                note(widgetText.sliced(i, 2), UncarriedKind::OutsideGbk, u'?');
            ++i;
            continue;
        }
        if (unicode || isLineBreak(unit))
            continue;
        const GbkCode code = QChar::isSurrogate(unit) ? GbkCode {} : codes[unit];
        const QStringView character = widgetText.sliced(i, 1);
        if (code.bytes == 0) {
            note(character, UncarriedKind::OutsideGbk, u'?');
        } else if (big5 && table) {
            if (code.bytes == 1 && code.value >= 0x80)
                note(character, UncarriedKind::NoBig5, u'?');
            else if (code.bytes == 2 && unit != kBig5QuestionMark
                && table->big5(quint8(code.value >> 8), quint8(code.value & 0xFF))
                    == CodeTable::kNoBig5)
                note(character, UncarriedKind::NoBig5, QChar(kBig5QuestionMark));
        } else if (gb2312 && unit >= 0x80 && !inGb2312(unit)) {
            note(character, UncarriedKind::OutsideGb2312, QChar());
        }
    }
    return result;
}
