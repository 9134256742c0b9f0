#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

// The log file and the journal that keeps the work log safe while the program runs.
//
// At every close the log is appended to "LOG.txt" in the working directory as one export:
// "导出数据" CR LF, the log, CR LF, in GBK. While the program runs, every entry is also appended to
// a journal and flushed, so a run that is killed loses nothing: its journal is appended to
// "LOG.txt" as an export at the next start. A clean close removes the journal.
namespace LogFile {
inline const QString kFileName = QStringLiteral("LOG.txt");

// Where an export went.
struct ExportResult
{
    bool written = false;   // false: even the fallback failed
    bool fallback = false;   // LOG.txt could not be appended to; the export is in path instead
    QString path;
    QString reason;   // why LOG.txt could not be appended to
};

// The bytes of one export of the given log text (CR LF form).
QByteArray exportBytes(const QString &logText);

// Appends bytes to LOG.txt in dir; when that fails, to the fallback file for dir.
ExportResult appendToLog(const QString &dir, const QByteArray &bytes);

// A folder of the user's own where logs go when the working directory takes none.
QString fallbackDirectory();
}   // namespace LogFile

class LogJournal
{
public:
    // Opens this run's journal for the working directory dir (in dir, or the fallback folder).
    explicit LogJournal(const QString &dir);
    ~LogJournal();

    bool isOpen() const { return m_file.isOpen(); }
    QString path() const { return m_file.fileName(); }

    // Appends an entry (CR LF form) and flushes it to the file.
    void append(const QString &entry);
    // The log was emptied.
    void clear();
    // The log was edited by hand: the journal becomes its whole text (CR LF form).
    void rewrite(const QString &log);
    // A clean close: the export is written, the journal is no longer needed.
    void remove();

    // Journals that runs in dir left behind when they were killed, appended to LOG.txt as
    // exports, oldest first, and removed. Returns where each one went.
    static QList<LogFile::ExportResult> recoverOrphans(const QString &dir);

private:
    QFile m_file;
};
