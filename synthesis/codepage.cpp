#include "codepage.h"

#include "icuconverter.h"

#include <array>
#include <memory>
#include <vector>

namespace {

bool isSurrogate(char16_t unit)
{
    return unit >= 0xD800 && unit <= 0xDFFF;
}

// GBK code of every BMP code unit, built once from one ICU conversion of the whole
// plane. Characters ICU cannot map are skipped and keep byte count 0.
class GbkMap
{
public:
    GbkMap()
    {
        std::vector<UChar> source;
        source.reserve(0x10000);
        for (int unit = 0; unit <= 0xFFFF; ++unit) {
            if (!isSurrogate(char16_t(unit)))
                source.push_back(UChar(unit));
        }
        IcuConverter converter = openIcuConverter("windows-936");
        if (!converter)
            return;
        UErrorCode status = U_ZERO_ERROR;
        ucnv_setFromUCallBack(
            converter.get(), UCNV_FROM_U_CALLBACK_SKIP, nullptr, nullptr, nullptr, &status);
        std::vector<char> target(source.size() * 2 + 16);
        std::vector<int32_t> offsets(target.size());
        const UChar *from = source.data();
        char *to = target.data();
        ucnv_fromUnicode(converter.get(), &to, target.data() + target.size(), &from,
            source.data() + source.size(), offsets.data(), true, &status);
        if (U_FAILURE(status))
            return;
        const auto written = to - target.data();
        for (qsizetype i = 0; i < written; ++i) {
            GbkCode &code = m_codes[source[size_t(offsets[size_t(i)])]];
            code.value = quint16((code.value << 8) | quint8(target[size_t(i)]));
            ++code.bytes;
        }
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

}   // namespace

GbkCode gbkCode(char16_t unit)
{
    if (isSurrogate(unit))
        return {};
    return gbkMap().code(unit);
}

const GbkCode *gbkCodes()
{
    return gbkMap().codes();
}

QByteArray toGbk(QStringView text)
{
    const GbkMap &map = gbkMap();
    QByteArray out;
    out.reserve(text.size() * 2);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i].unicode();
        if (isSurrogate(unit)) {
            // a pair is one character: one substitute byte for both halves
            if (QChar::isHighSurrogate(unit) && i + 1 < text.size()
                && QChar::isLowSurrogate(text[i + 1].unicode()))
                ++i;
            out.append('?');
            continue;
        }
        const GbkCode code = map.code(unit);
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
