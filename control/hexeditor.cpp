#include "hexeditor.h"

#include "frame.h"

namespace {

// Value of an ASCII hexadecimal digit; -1 for anything else (full-width digits included).
int hexDigitValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

HexParse mismatchAt(qsizetype offset)
{
    HexParse result;
    result.status = HexStatus::Mismatch;
    result.badOffset = offset;
    return result;
}

}   // namespace

qsizetype hexByteCount(qsizetype textLength)
{
    return (textLength + 1) / 3;
}

HexParse parseHexText(const QString &text)
{
    const qsizetype length = text.size();
    if (length == 0)
        return {};
    // One character holds no complete group: its second digit is missing.
    if (length == 1)
        return mismatchAt(hexDigitValue(text.at(0)) < 0 ? 0 : 1);

    QByteArray bytes;
    bytes.reserve(hexByteCount(length));
    // Each group starts at p; a further group needs both its digits inside the text, so the
    // loop never reads past the end and a lone trailing character is left unread.
    for (qsizetype p = 0; p + 1 < length; p += 3) {
        const int high = hexDigitValue(text.at(p));
        if (high < 0)
            return mismatchAt(p);
        const int low = hexDigitValue(text.at(p + 1));
        if (low < 0)
            return mismatchAt(p + 1);
        bytes.append(char(high * 16 + low));
    }
    Q_ASSERT(bytes.size() == hexByteCount(length));

    HexParse result;
    result.status = HexStatus::Parsed;
    result.bytes = bytes;
    return result;
}

HexParse directPlayFrame(const QString &text)
{
    return parseHexText(text);
}

HexParse headerPlayFrame(const QString &text, quint8 encoding)
{
    HexParse result = parseHexText(text);
    if (result.status != HexStatus::Parsed)
        return result;
    if (result.bytes.size() > kMaxHeaderFrameData) {
        // The length field would wrap and announce a different frame: send nothing.
        result.status = HexStatus::TooLong;
        result.bytes.clear();
        return result;
    }
    result.bytes = synthesisFrame(encoding, result.bytes);
    return result;
}
