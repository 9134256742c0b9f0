#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <optional>

// "GBKToBig5AndUnicode.dat": one 4-byte record per GBK double-byte code, lead byte L 0x81-0xFE,
// trail byte T 0x40-0xFE, in the order of L then T; record r = (L - 0x81) * 191 + (T - 0x40)
// starts at offset 4r. A record holds the BIG5 code (16 bits, little-endian: trail byte first)
// and then the UTF-16 code unit (16 bits, little-endian).
//
// A code that GBK leaves without a character holds BIG5 kNoBig5 and UTF-16 kNoCharacter; a GBK
// character without a BIG5 code (most simplified characters, the user-defined areas) holds
// BIG5 kNoBig5 and its own UTF-16 unit. kNoBig5 is the BIG5 full-width question mark "？", so a
// double-byte character always stays two bytes on the wire.
class CodeTable
{
public:
    static constexpr int kFirstLead = 0x81;
    static constexpr int kLastLead = 0xFE;
    static constexpr int kFirstTrail = 0x40;
    static constexpr int kLastTrail = 0xFE;
    static constexpr int kTrailsPerLead = kLastTrail - kFirstTrail + 1;   // 191
    static constexpr int kRecordCount = (kLastLead - kFirstLead + 1) * kTrailsPerLead;   // 24,066
    static constexpr int kRecordBytes = 4;
    static constexpr int kFileBytes = kRecordCount * kRecordBytes;   // 96,264
    static constexpr quint16 kNoBig5 = 0xA148;
    static constexpr quint16 kNoCharacter = 0xFFFD;

    enum class LoadStatus { Loaded, Missing, TooShort, Unreadable };
    struct Load;

    // The file name, and its place beside the program.
    static QString fileName();
    static QString defaultPath();

    // Reads the first kFileBytes bytes of the file at path. A file shorter than that is refused
    // like a missing one: its absent records would put garbage on the wire.
    static Load load(const QString &path);

    // A table over bytes in the file layout; none when fewer than kFileBytes are given.
    static std::optional<CodeTable> fromBytes(const QByteArray &bytes);

    // The whole file content, computed from ICU's code pages 936 and 950.
    static QByteArray generate();

    // Record number of a GBK double-byte code, -1 outside lead 0x81-0xFE, trail 0x40-0xFE.
    static int recordIndex(quint8 lead, quint8 trail);

    // BIG5 code (lead byte in the high half) and UTF-16 unit of a GBK code; the fillers above
    // outside the table's range.
    quint16 big5(quint8 lead, quint8 trail) const;
    quint16 utf16(quint8 lead, quint8 trail) const;

private:
    explicit CodeTable(QByteArray records)
        : m_records(std::move(records))
    { }
    quint16 field(quint8 lead, quint8 trail, int offset) const;

    QByteArray m_records;
};

struct CodeTable::Load
{
    LoadStatus status = LoadStatus::Missing;
    std::optional<CodeTable> table;   // set when status is Loaded
    QString errorString;   // why a file could not be used
};
