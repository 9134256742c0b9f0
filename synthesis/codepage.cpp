#include "codepage.h"

#include "icuconverter.h"

#include <array>
#include <bitset>
#include <memory>
#include <vector>

namespace {

bool isSurrogate(char16_t unit)
{
    return unit >= 0xD800 && unit <= 0xDFFF;
}

// Converts every BMP code unit outside the surrogates with one ICU call and hands each output
// byte to take(unit, byte), in order. Units the code page cannot map are skipped.
template <typename Take> void convertPlane(const char *codePage, Take take)
{
    std::vector<UChar> source;
    source.reserve(0x10000);
    for (int unit = 0; unit <= 0xFFFF; ++unit) {
        if (!isSurrogate(char16_t(unit)))
            source.push_back(UChar(unit));
    }
    IcuConverter converter = openIcuConverter(codePage);
    if (!converter)
        return;
    UErrorCode status = U_ZERO_ERROR;
    ucnv_setFromUCallBack(
        converter.get(), UCNV_FROM_U_CALLBACK_SKIP, nullptr, nullptr, nullptr, &status);
    ucnv_setFallback(converter.get(), false);
    std::vector<char> target(source.size() * 4 + 16);
    std::vector<int32_t> offsets(target.size());
    const UChar *from = source.data();
    char *to = target.data();
    ucnv_fromUnicode(converter.get(), &to, target.data() + target.size(), &from,
        source.data() + source.size(), offsets.data(), true, &status);
    if (U_FAILURE(status))
        return;
    const auto written = to - target.data();
    for (qsizetype i = 0; i < written; ++i)
        take(char16_t(source[size_t(offsets[size_t(i)])]), quint8(target[size_t(i)]));
}

// GBK code of every BMP code unit, built once from one ICU conversion of the whole
// plane. Characters ICU cannot map keep byte count 0.
class GbkMap
{
public:
    GbkMap()
    {
        convertPlane("windows-936", [this](char16_t unit, quint8 byte) {
            GbkCode &code = m_codes[unit];
            code.value = quint16((code.value << 8) | byte);
            ++code.bytes;
        });
    }

    GbkCode code(char16_t unit) const { return m_codes[unit]; }
    const GbkCode *codes() const { return m_codes.data(); }

private:
    std::array<GbkCode, 0x10000> m_codes {};
};

const GbkMap &gbkMap()
{
    static const GbkMap map;
    return map;
}

// The code units ICU's GB2312 converter maps.
class Gb2312Set
{
public:
    Gb2312Set()
    {
        convertPlane("GB2312", [this](char16_t unit, quint8) { m_units.set(unit); });
    }
    bool contains(char16_t unit) const { return m_units.test(unit); }

private:
    std::bitset<0x10000> m_units;
};

}   // namespace

bool inGb2312(char16_t unit)
{
    static const Gb2312Set set;
    return set.contains(unit);
}

const GbkCode *gbkCodes()
{
    return gbkMap().codes();
}

QByteArray toGbk(QStringView text, LineBreaks lineBreaks)
{
    const GbkMap &map = gbkMap();
    const bool crLf = lineBreaks == LineBreaks::CrLf;
    QByteArray out(text.size() * 2, Qt::Uninitialized);   // at most two bytes per unit
    char *at = out.data();
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i].unicode();
        if (crLf
            && (unit == u'\n' || unit == QChar::ParagraphSeparator
                || unit == QChar::LineSeparator)) {
            *at++ = '\r';
            *at++ = '\n';
            continue;
        }
        if (isSurrogate(unit)) {
            // a pair is one character: one substitute byte for both halves
            if (QChar::isHighSurrogate(unit) && i + 1 < text.size()
                && QChar::isLowSurrogate(text[i + 1].unicode()))
                ++i;
            *at++ = '?';
            continue;
        }
        const GbkCode code = map.code(unit);
        if (code.bytes == 2) {
            *at++ = char(code.value >> 8);
            *at++ = char(code.value & 0xFF);
        } else if (code.bytes == 1) {
            *at++ = char(code.value);
        } else {
            *at++ = '?';
        }
    }
    out.truncate(at - out.constData());
    return out;
}

QString fromGbk(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return {};
    IcuConverter converter = openIcuConverter("windows-936");
    if (!converter)
        return QString(bytes.size(), QChar::ReplacementCharacter);
    UErrorCode status = U_ZERO_ERROR;
    QString out(bytes.size() + 1, Qt::Uninitialized);
    const int32_t length = ucnv_toUChars(converter.get(), reinterpret_cast<UChar *>(out.data()),
        int32_t(out.size()), bytes.constData(), int32_t(bytes.size()), &status);
    if (U_FAILURE(status) && status != U_STRING_NOT_TERMINATED_WARNING)
        return QString(bytes.size(), QChar::ReplacementCharacter);
    out.truncate(length);
    return out;
}
