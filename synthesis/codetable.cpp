#include "codetable.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "icuconverter.h"

#include <memory>

namespace {

// A converter that reports unmappable input instead of substituting it, without fallbacks, so
// only exact code-page mappings enter the table.
IcuConverter strictConverter(const char *name)
{
    IcuConverter converter = openIcuConverter(name);
    if (!converter)
        return {};
    UErrorCode status = U_ZERO_ERROR;
    ucnv_setToUCallBack(
        converter.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    ucnv_setFromUCallBack(
        converter.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    ucnv_setFallback(converter.get(), false);
    return U_SUCCESS(status) ? std::move(converter) : IcuConverter();
}

// The one UTF-16 unit of a two-byte GBK code, or none.
std::optional<char16_t> gbkCharacter(UConverter *gbk, quint8 lead, quint8 trail)
{
    const char bytes[2] = {char(lead), char(trail)};
    UChar out[4];
    UErrorCode status = U_ZERO_ERROR;
    ucnv_resetToUnicode(gbk);
    const int32_t length = ucnv_toUChars(gbk, out, 4, bytes, 2, &status);
    if (U_FAILURE(status) || length != 1 || out[0] == 0xFFFD || out[0] == 0x1A)
        return std::nullopt;
    return char16_t(out[0]);
}

// The two-byte BIG5 code of a character, or none.
std::optional<quint16> big5Code(UConverter *big5, char16_t unit)
{
    const UChar in[1] = {UChar(unit)};
    char out[8];
    UErrorCode status = U_ZERO_ERROR;
    ucnv_resetFromUnicode(big5);
    const int32_t length = ucnv_fromUChars(big5, out, 8, in, 1, &status);
    if (U_FAILURE(status) || length != 2)
        return std::nullopt;
    return quint16((quint8(out[0]) << 8) | quint8(out[1]));
}

// The BIG5 code of a character's traditional form, or none.
std::optional<quint16> traditionalBig5(
    UConverter *big5, const CodeTable::TraditionalForm &traditional, char16_t unit)
{
    if (!traditional)
        return std::nullopt;
    const std::optional<char16_t> form = traditional(unit);
    if (!form || *form == unit || QChar::isSurrogate(*form))
        return std::nullopt;
    return big5Code(big5, *form);
}

bool isPrivateUse(char16_t unit)
{
    return unit >= 0xE000 && unit <= 0xF8FF;
}

void putLittleEndian(char *at, quint16 value)
{
    at[0] = char(value & 0xFF);
    at[1] = char(value >> 8);
}

}   // namespace

QString CodeTable::fileName()
{
    return QStringLiteral("GBKToBig5AndUnicode.dat");
}

QString CodeTable::defaultPath()
{
    return QDir(QCoreApplication::applicationDirPath()).filePath(fileName());
}

QStringList CodeTable::searchPaths()
{
    return {defaultPath(), QDir(QStringLiteral(ORV_DATA_DIR)).filePath(fileName())};
}

QString CodeTable::locate(const QStringList &candidates)
{
    for (const QString &path : candidates) {
        if (QFileInfo(path).isFile())
            return path;
    }
    return candidates.value(0);
}

CodeTable::Load CodeTable::load(const QString &path)
{
    Load result;
    const QFileInfo info(path);
    if (!info.exists() || info.isDir()) {
        result.status = LoadStatus::Missing;
        result.errorString = QStringLiteral("%1: no such file").arg(path);
        return result;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.status = LoadStatus::Unreadable;
        result.errorString = QStringLiteral("%1: %2").arg(path, file.errorString());
        return result;
    }
    const QByteArray bytes = file.read(kFileBytes);
    if (file.error() != QFileDevice::NoError) {
        result.status = LoadStatus::Unreadable;
        result.errorString = QStringLiteral("%1: %2").arg(path, file.errorString());
        return result;
    }
    if (bytes.size() < kFileBytes) {
        result.status = LoadStatus::TooShort;
        result.errorString =
            QStringLiteral("%1: %2 of %3 bytes").arg(path).arg(bytes.size()).arg(kFileBytes);
        return result;
    }
    result.status = LoadStatus::Loaded;
    result.table = CodeTable(bytes);
    return result;
}

std::optional<CodeTable> CodeTable::fromBytes(const QByteArray &bytes)
{
    if (bytes.size() < kFileBytes)
        return std::nullopt;
    return CodeTable(bytes.left(kFileBytes));
}

QByteArray CodeTable::generate(const TraditionalForm &traditional, Origins *origins)
{
    const IcuConverter gbk = strictConverter("windows-936");
    const IcuConverter big5 = strictConverter("windows-950");
    if (!gbk || !big5)
        return {};
    Origins counted;
    QByteArray table(kFileBytes, '\0');
    for (int lead = kFirstLead; lead <= kLastLead; ++lead) {
        for (int trail = kFirstTrail; trail <= kLastTrail; ++trail) {
            quint16 big5Value = kNoBig5;
            quint16 unitValue = kNoCharacter;
            if (const auto unit = gbkCharacter(gbk.get(), quint8(lead), quint8(trail))) {
                unitValue = *unit;
                // user-defined areas of the two code pages do not hold the same characters
                if (!isPrivateUse(*unit)) {
                    if (const auto code = big5Code(big5.get(), *unit)) {
                        big5Value = *code;
                        ++counted.sameCharacter;
                    } else if (const auto code = traditionalBig5(big5.get(), traditional, *unit)) {
                        big5Value = *code;
                        ++counted.traditionalForm;
                    } else {
                        ++counted.filler;
                    }
                }
            }
            char *record = table.data() + recordIndex(quint8(lead), quint8(trail)) * kRecordBytes;
            putLittleEndian(record, big5Value);
            putLittleEndian(record + 2, unitValue);
        }
    }
    if (origins)
        *origins = counted;
    return table;
}

int CodeTable::recordIndex(quint8 lead, quint8 trail)
{
    if (lead < kFirstLead || lead > kLastLead || trail < kFirstTrail || trail > kLastTrail)
        return -1;
    return (lead - kFirstLead) * kTrailsPerLead + (trail - kFirstTrail);
}

quint16 CodeTable::field(quint8 lead, quint8 trail, int offset) const
{
    const int record = recordIndex(lead, trail);
    const char *at = m_records.constData() + record * kRecordBytes + offset;
    return quint16(quint8(at[0]) | (quint8(at[1]) << 8));
}

quint16 CodeTable::big5(quint8 lead, quint8 trail) const
{
    if (recordIndex(lead, trail) < 0)
        return kNoBig5;
    return field(lead, trail, 0);
}

quint16 CodeTable::utf16(quint8 lead, quint8 trail) const
{
    if (recordIndex(lead, trail) < 0)
        return kNoCharacter;
    return field(lead, trail, 2);
}
