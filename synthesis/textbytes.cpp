#include "textbytes.h"

#include "codepage.h"
#include "codes.h"

namespace {

constexpr char16_t kCr = 0x0D;
constexpr char16_t kLf = 0x0A;

bool isLineBreak(char16_t unit)
{
    return unit == u'\n' || unit == QChar::ParagraphSeparator || unit == QChar::LineSeparator;
}

bool isUnicode(int encodingIndex)
{
    return encodingIndex == int(Encoding::Utf16Le) || encodingIndex == int(Encoding::Utf16Be);
}

// Units of the character starting at i: 2 for a surrogate pair, else 1.
qsizetype characterUnits(QStringView text, qsizetype i)
{
    if (QChar::isHighSurrogate(text[i].unicode()) && i + 1 < text.size()
        && QChar::isLowSurrogate(text[i + 1].unicode()))
        return 2;
    return 1;
}

// Bytes one character counts in GBK or BIG5.
int codePageWidth(char16_t unit, qsizetype units)
{
    if (units == 2 || QChar::isSurrogate(unit))
        return 1;   // one "?"
    if (isLineBreak(unit) || unit == 0)
        return 2;
    return gbkCode(unit).bytes == 2 ? 2 : 1;
}

void appendUnit(QByteArray &out, char16_t unit, bool littleEndian)
{
    const char low = char(unit & 0xFF);
    const char high = char(unit >> 8);
    if (littleEndian) {
        out.append(low);
        out.append(high);
    } else {
        out.append(high);
        out.append(low);
    }
}

QByteArray encodeGbk(QStringView text)
{
    QByteArray out;
    out.reserve(text.size() * 2);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i].unicode();
        if (isLineBreak(unit)) {
            out.append(char(kCr));
            out.append(char(kLf));
            continue;
        }
        const qsizetype units = characterUnits(text, i);
        const GbkCode code = units == 1 ? gbkCode(unit) : GbkCode{};
        i += units - 1;
        if (code.bytes == 2) {
            out.append(char(code.value >> 8));
            out.append(char(code.value & 0xFF));
        } else if (code.bytes == 1) {
            out.append(char(code.value));
        } else {
            out.append('?');
        }
    }
    return out;
}

QByteArray encodeBig5(QStringView text, const CodeTable &table)
{
    QByteArray out;
    out.reserve(text.size() * 2);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i].unicode();
        if (isLineBreak(unit)) {
            out.append(char(kCr));
            out.append(char(kLf));
            continue;
        }
        const qsizetype units = characterUnits(text, i);
        const GbkCode code = units == 1 ? gbkCode(unit) : GbkCode{};
        i += units - 1;
        if (code.bytes == 2) {
            const quint16 big5 = table.big5(quint8(code.value >> 8), quint8(code.value & 0xFF));
            out.append(char(big5 >> 8));
            out.append(char(big5 & 0xFF));
        } else if (code.bytes == 1 && code.value < 0x80) {
            out.append(char(code.value));
        } else {
            out.append('?');   // no GBK code, or a GBK single byte that BIG5 does not share
        }
    }
    return out;
}

QByteArray encodeUtf16(QStringView text, const CodeTable &table, bool littleEndian)
{
    QByteArray out;
    out.reserve(text.size() * 2 + 8);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i].unicode();
        if (isLineBreak(unit)) {
            appendUnit(out, kCr, littleEndian);
            appendUnit(out, kLf, littleEndian);
            continue;
        }
        const qsizetype units = characterUnits(text, i);
        if (units == 2) {
            appendUnit(out, unit, littleEndian);
            appendUnit(out, text[++i].unicode(), littleEndian);
            continue;
        }
        if (QChar::isSurrogate(unit)) {
            appendUnit(out, QChar::ReplacementCharacter, littleEndian);
            continue;
        }
        const GbkCode code = gbkCode(unit);
        if (code.bytes == 2)
            appendUnit(out, table.utf16(quint8(code.value >> 8), quint8(code.value & 0xFF)),
                       littleEndian);
        else
            appendUnit(out, unit, littleEndian);   // ASCII, or a character outside the table
    }
    return out;
}

} // namespace

bool isValidEncoding(int encodingIndex)
{
    return encodingIndex >= 0 && encodingIndex < kEncodingCount;
}

bool needsCodeTable(int encodingIndex)
{
    return encodingIndex >= int(Encoding::Big5) && encodingIndex <= int(Encoding::Utf16Be);
}

TextCut cutToFit(QStringView widgetText, int encodingIndex, int maxTextBytes)
{
    TextCut result;
    const bool unicode = isUnicode(encodingIndex);
    qsizetype i = 0;
    while (i < widgetText.size()) {
        const char16_t unit = widgetText[i].unicode();
        const qsizetype units = characterUnits(widgetText, i);
        int width;
        if (unicode)
            width = (isLineBreak(unit) || units == 2) ? 4 : 2;
        else
            width = codePageWidth(unit, units);
        if (result.byteCount + width > maxTextBytes) {
            result.cut = true;
            break;
        }
        result.byteCount += width;
        i += units;
    }
    result.keepChars = int(i);
    return result;
}

std::optional<QByteArray> encodeText(QStringView widgetText, int encodingIndex,
                                     const CodeTable *table)
{
    if (!isValidEncoding(encodingIndex))
        return std::nullopt;
    if (!needsCodeTable(encodingIndex))
        return encodeGbk(widgetText);
    if (!table)
        return std::nullopt;
    switch (Encoding(encodingIndex)) {
    case Encoding::Big5:
        return encodeBig5(widgetText, *table);
    case Encoding::Utf16Le:
        return encodeUtf16(widgetText, *table, true);
    default:
        return encodeUtf16(widgetText, *table, false);
    }
}

FrameText frameText(QStringView selection, int encodingIndex, int maxTextBytes,
                    const CodeTable *table)
{
    FrameText result;
    const TextCut cut = cutToFit(selection, encodingIndex, maxTextBytes);
    result.keepChars = cut.keepChars;
    result.textByteCount = cut.byteCount;
    result.cut = cut.cut;
    if (needsCodeTable(encodingIndex) && !table) {
        result.tableMissing = true;
        return result;
    }
    if (const auto bytes = encodeText(selection.left(cut.keepChars), encodingIndex, table))
        result.bytes = *bytes;
    return result;
}
