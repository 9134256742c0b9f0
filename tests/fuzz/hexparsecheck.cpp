#include "hexparsecheck.h"

#include "hexeditor.h"

namespace {

int digit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if ((u | 0x20) >= u'a' && (u | 0x20) <= u'f')
        return (u | 0x20) - u'a' + 10;
    return -1;
}

bool sameResult(const HexParse &a, const HexParse &b)
{
    return a.status == b.status && a.bytes == b.bytes && a.badOffset == b.badOffset;
}

}   // namespace

QString checkHexParse(const QString &text)
{
    const qsizetype length = text.size();
    const HexParse parsed = parseHexText(text);
    if (!sameResult(parsed, directPlayFrame(text)))
        return QStringLiteral("direct play differs from the parser");
    if ((parsed.status == HexStatus::Empty) != (length == 0))
        return QStringLiteral("empty status for a text of %1 characters").arg(length);

    if (parsed.status == HexStatus::Mismatch) {
        const qsizetype bad = parsed.badOffset;
        if (!parsed.bytes.isEmpty())
            return QStringLiteral("bytes returned with a mismatch");
        if (bad < 0 || bad > length || bad % 3 == 2)
            return QStringLiteral("mismatch offset %1 is no digit position").arg(bad);
        if (bad < length ? digit(text.at(bad)) >= 0 : length != 1)
            return QStringLiteral("mismatch offset %1 holds a digit").arg(bad);
        for (qsizetype i = 0; i < bad; ++i) {
            if (i % 3 != 2 && digit(text.at(i)) < 0)
                return QStringLiteral("earlier bad digit at %1 than reported %2").arg(i).arg(bad);
        }
    } else if (parsed.status == HexStatus::Parsed) {
        const qsizetype n = (length + 1) / 3;
        if (length < 2 || parsed.bytes.size() != n || hexByteCount(length) != n)
            return QStringLiteral("%1 bytes from %2 characters")
                .arg(parsed.bytes.size())
                .arg(length);
        for (qsizetype i = 0; i < n; ++i) {
            const int high = digit(text.at(3 * i));
            const int low = digit(text.at(3 * i + 1));
            if (high < 0 || low < 0 || quint8(parsed.bytes.at(i)) != high * 16 + low)
                return QStringLiteral("byte %1 does not match its digits").arg(i);
        }
    } else if (parsed.status == HexStatus::TooLong) {
        return QStringLiteral("the parser itself refused a length");
    }

    for (const quint8 encoding : {quint8(0), quint8(4)}) {
        const HexParse header = headerPlayFrame(text, encoding);
        if (parsed.status != HexStatus::Parsed) {
            if (!sameResult(header, parsed))
                return QStringLiteral("header play reports differently from the parser");
            continue;
        }
        const qsizetype n = parsed.bytes.size();
        if (n > kMaxHeaderFrameData) {
            if (header.status != HexStatus::TooLong || !header.bytes.isEmpty())
                return QStringLiteral("a length field overflow was not refused");
            continue;
        }
        QByteArray expected;
        expected.append(char(0xFD));
        expected.append(char((n + 2) >> 8));
        expected.append(char((n + 2) & 0xFF));
        expected.append(char(0x01));
        expected.append(char(encoding));
        expected.append(parsed.bytes);
        if (header.status != HexStatus::Parsed || header.bytes != expected)
            return QStringLiteral("header frame differs from FD, n + 2, 01, encoding, bytes");
    }
    return {};
}
