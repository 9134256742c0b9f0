#include "recordlines.h"

#include "codepage.h"
#include "textform.h"

#include <QtGlobal>

#include <vector>

void RecordLines::appended(qint64 at, const QByteArray &bytes)
{
    // No GBK character has a byte 0x0A: each one ends a line.
    for (qsizetype i = bytes.indexOf('\n'); i >= 0; i = bytes.indexOf('\n', i + 1))
        m_starts.push_back(at + i + 1);
}

void RecordLines::dropFirst(size_t lines)
{
    Q_ASSERT(lines < m_starts.size());
    m_starts.erase(m_starts.begin(), m_starts.begin() + qsizetype(lines));
}

RecordLines::Edit RecordLines::replace(
    size_t first, size_t linesAfter, const QStringList &lines, qint64 recordSize)
{
    Q_ASSERT(linesAfter < m_starts.size() - first && !lines.isEmpty());
    const size_t after = m_starts.size() - linesAfter;   // old index of the first line after
    Edit edit;
    edit.from = m_starts[first];
    edit.to = linesAfter > 0 ? m_starts[after] : recordSize;

    std::vector<qint64> starts;   // of the record's lines from the edit on
    for (qsizetype i = 0; i < lines.size(); ++i) {
        edit.bytes += toGbk(toCrLf(lines[i]));   // a line break typed inside a line too
        if (i + 1 == lines.size())
            break;
        edit.bytes += "\r\n";
        starts.push_back(edit.from + edit.bytes.size());
    }
    if (linesAfter > 0)
        edit.bytes += "\r\n";
    const qint64 shift = edit.bytes.size() - (edit.to - edit.from);
    for (size_t i = after; i < m_starts.size(); ++i)
        starts.push_back(m_starts[i] + shift);
    m_starts.resize(first + 1);
    m_starts.insert(m_starts.end(), starts.begin(), starts.end());
    return edit;
}
