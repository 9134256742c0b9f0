#pragma once

#include <QByteArray>
#include <QStringList>

#include <deque>

// Where the lines a log box shows start in the journal's record.
//
// The box holds the newest lines of the record; line 0 is its oldest. Promises: after each
// change the caller reports, start(n) is the record offset of the box's line n, and an edit of
// lines comes back as the bytes that replace a range of the record (GBK, CR LF between lines)
// while the lines after it keep their bytes. The caller reports every change to the record and
// to the box's lines, in order, and applies each Edit to the journal.
class RecordLines
{
public:
    explicit RecordLines(qint64 firstStart = 0)
        : m_starts {firstStart}
    { }

    // Bytes [from, to) of the record become bytes.
    struct Edit
    {
        qint64 from = 0;
        qint64 to = 0;
        QByteArray bytes;
    };

    // Lines in the box: at least one.
    size_t count() const { return m_starts.size(); }
    qint64 start(size_t line) const { return m_starts[line]; }

    // GBK bytes were appended to the record at offset at; each LF in them ends a line.
    void appended(qint64 at, const QByteArray &bytes);
    // The oldest lines left the box.
    void dropFirst(size_t lines);
    // The box's lines from first on, but for the last linesAfter lines, now read lines (widget
    // text); recordSize is the record's length. linesAfter must be below count() - first.
    Edit replace(size_t first, size_t linesAfter, const QStringList &lines, qint64 recordSize);

private:
    std::deque<qint64> m_starts;
};
