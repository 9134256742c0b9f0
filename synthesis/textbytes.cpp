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
int codePageWidth(const GbkCode *codes, char16_t unit, qsizetype units)
{
    if (units == 2 || QChar::isSurrogate(unit))
        return 1;   // one "?"
    if (isLineBreak(unit) || unit == 0)
        return 2;
    return codes[unit].bytes == 2 ? 2 : 1;
}

// Writes into a buffer sized for the longest result (4 bytes per code unit), trimmed at the end.
class ByteWriter
{
public:
    explicit ByteWriter(qsizetype units)
        : m_bytes(units * 4, Qt::Uninitialized)
    {
        m_at = m_bytes.data();
    }
    void byte(quint8 value) { *m_at++ = char(value); }
    void pair(quint16 value)   // high byte first
    {
        *m_at++ = char(value >> 8);
        *m_at++ = char(value & 0xFF);
    }
    void unit(char16_t value, bool littleEndian)
    {
        if (littleEndian) {
            *m_at++ = char(value & 0xFF);
            *m_at++ = char(value >> 8);
        } else {
            pair(value);
        }
    }
    QByteArray take()
    {
        m_bytes.truncate(m_at - m_bytes.constData());
        return std::move(m_bytes);
    }

private:
    QByteArray m_bytes;
    char *m_at = nullptr;
};

// BIG5 through the table: a line break is CR LF, and a character GBK cannot hold (or a surrogate
// pair) or a GBK single byte that BIG5 does not share is one "?".
QByteArray encodeBig5(QStringView text, const CodeTable &table)
{
    const GbkCode *codes = gbkCodes();
    ByteWriter out(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i].unicode();
        if (isLineBreak(unit)) {
            out.byte(kCr);
            out.byte(kLf);
            continue;
        }
        const qsizetype units = characterUnits(text, i);
        const GbkCode code = units == 1 ? codes[unit] : GbkCode {};
        i += units - 1;
        if (code.bytes == 2)
            out.pair(table.big5(quint8(code.value >> 8), quint8(code.value & 0xFF)));
        else if (code.bytes == 1 && code.value < 0x80)
            out.byte(quint8(code.value));
        else
            out.byte('?');
    }
    return out.take();
}

QByteArray encodeUtf16(QStringView text, const CodeTable &table, bool littleEndian)
{
    const GbkCode *codes = gbkCodes();
    ByteWriter out(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i].unicode();
        if (isLineBreak(unit)) {
            out.unit(kCr, littleEndian);
            out.unit(kLf, littleEndian);
            continue;
        }
        const qsizetype units = characterUnits(text, i);
        if (units == 2) {
            out.unit(unit, littleEndian);
            out.unit(text[++i].unicode(), littleEndian);
            continue;
        }
        if (QChar::isSurrogate(unit)) {
            out.unit(QChar::ReplacementCharacter, littleEndian);
            continue;
        }
        const GbkCode code = codes[unit];
        if (code.bytes == 2)
            out.unit(table.utf16(quint8(code.value >> 8), quint8(code.value & 0xFF)), littleEndian);
        else
            out.unit(unit, littleEndian);   // ASCII, or a character outside the table
    }
    return out.take();
}

}   // namespace

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
    const GbkCode *codes = gbkCodes();
    qsizetype i = 0;
    while (i < widgetText.size()) {
        const char16_t unit = widgetText[i].unicode();
        const qsizetype units = characterUnits(widgetText, i);
        int width;
        if (unicode)
            width = (isLineBreak(unit) || units == 2) ? 4 : 2;
        else
            width = codePageWidth(codes, unit, units);
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

std::optional<QByteArray> encodeText(
    QStringView widgetText, int encodingIndex, const CodeTable *table)
{
    if (!isValidEncoding(encodingIndex))
        return std::nullopt;
    if (!needsCodeTable(encodingIndex))
        return toGbk(widgetText, LineBreaks::CrLf);
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

FrameText frameText(
    QStringView selection, int encodingIndex, int maxTextBytes, const CodeTable *table)
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
