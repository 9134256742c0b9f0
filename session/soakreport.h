#pragma once

#include "transactionstats.h"

#include <QDateTime>
#include <QString>

// A soak report on disk: soak-<yyyyMMdd-HHmmss>-<16 hex digits>.csv, one UTF-8 row per finished
// transaction, written as the run goes (memory stays bounded however long it runs), and beside
// it the summary in a .txt of the same stem. Both files are created new in the folder given
// (O_CREAT | O_EXCL | O_NOFOLLOW, mode 0644): an existing file or link of that name is never
// opened. The random part makes the name unguessable, so two runs never meet.
//
// Columns: time (local, ms), link, frame, answers (code and time after the frame's last byte),
// latency_ms, speech_s, speech_end, problems (separated by "; ").
class SoakReport
{
public:
    SoakReport() = default;
    ~SoakReport();
    SoakReport(const SoakReport &) = delete;
    SoakReport &operator=(const SoakReport &) = delete;

    // Creates the CSV and writes its header; false with errorString() when it cannot (and no
    // file is left).
    bool start(const QString &folder, const QDateTime &startedAt = QDateTime::currentDateTime());
    bool isOpen() const { return m_fd >= 0; }
    QString csvPath() const { return m_csvPath; }
    QString summaryPath() const { return m_summaryPath; }
    // Appends a row and hands it to the system at once. A row is written whole or not at all
    // (what part of it went out is cut off again), so the file always ends with a whole row.
    // After a write fails, later rows are counted but not written; errorString() says why.
    void addRow(const TransactionRow &row);
    quint64 rowsWritten() const { return m_rowsWritten; }
    quint64 rowsLost() const { return m_rowsLost; }
    // Closes the CSV and writes the summary file (with the count of rows lost); false with
    // errorString() when either failed. A summary that cannot be written whole is removed.
    bool finish(const QString &summary);
    bool summaryWritten() const { return m_summaryWritten; }
    // The first thing that went wrong; empty when nothing did.
    QString errorString() const { return m_error; }

    // One CSV line (CR LF at its end) for a row; fields with a comma, quote or line break are
    // quoted.
    static QByteArray csvLine(const TransactionRow &row);

private:
    bool writeAll(int fd, const QByteArray &bytes, const QString &path);

    int m_fd = -1;
    QString m_csvPath;
    QString m_summaryPath;
    QString m_error;
    quint64 m_rowsWritten = 0;
    quint64 m_rowsLost = 0;
    qint64 m_wholeBytes = 0;   // the CSV up to the end of its last whole row
    bool m_summaryWritten = false;
};

// Creates a new file for writing (O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode 0644); the
// descriptor, or -1 with *error set.
int createNewFile(const QString &path, QString *error);
