#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>
#include <optional>

// "GBKToBig5AndUnicode.dat": one 4-byte record per GBK double-byte code, lead byte L 0x81-0xFE,
// trail byte T 0x40-0xFE, in the order of L then T; record r = (L - 0x81) * 191 + (T - 0x40)
// starts at offset 4r. A record holds the BIG5 code (16 bits, little-endian: trail byte first)
// and then the UTF-16 code unit (16 bits, little-endian).
//
// A GBK character that code page 950 holds takes its own BIG5 code; one that it lacks (most
// simplified characters) takes the BIG5 code of its Taiwan-standard traditional form. A GBK
// character with neither, and the user-defined areas, hold BIG5 kNoBig5 and the character's own
// UTF-16 unit; a code that GBK leaves without a character holds kNoBig5 and kNoCharacter.
// kNoBig5 is the BIG5 full-width question mark "？", so a double-byte character always stays two
// bytes on the wire. The UTF-16 column is always the GBK character itself.
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

    // Where the table is looked for, in order: beside the program, then the package's data folder.
    static QStringList searchPaths();

    // The first of the candidates that is a file; the first candidate when none is, so that a
    // missing-table message names the place the program looks first.
    static QString locate(const QStringList &candidates = searchPaths());

    // Reads the first kFileBytes bytes of the file at path. A file shorter than that is refused
    // like a missing one: its absent records would put garbage on the wire.
    static Load load(const QString &path);

    // A table over bytes in the file layout; none when fewer than kFileBytes are given.
    static std::optional<CodeTable> fromBytes(const QByteArray &bytes);

    // The single traditional form of a character, or none; the generator asks OpenCC's s2tw
    // one character at a time.
    using TraditionalForm = std::function<std::optional<char16_t>(char16_t)>;

    // How the GBK double-byte characters outside the user-defined areas got their BIG5 code.
    struct Origins
    {
        int sameCharacter = 0;   // code page 950 holds the character itself
        int traditionalForm = 0;   // it holds the traditional form
        int filler = 0;   // kNoBig5
    };

    // The whole file content, computed from ICU's code pages 936 and 950 and the traditional
    // forms given; empty when ICU lacks either code page.
    static QByteArray generate(const TraditionalForm &traditional, Origins *origins = nullptr);

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
