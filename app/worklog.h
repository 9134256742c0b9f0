#pragma once

#include <QString>

class LogJournal;
class QPlainTextEdit;

// The work log in the text box Text4. Entries come in CR LF form; the box shows its own line
// separators and the log's text comes back in CR LF form. Appending costs the same however long
// the log has grown: the entry is inserted at the end, the rest of the text is left alone.
class WorkLog
{
public:
    WorkLog(QPlainTextEdit *box, LogJournal *journal);

    // Appends an entry and puts the caret at the end, so the newest line is in view.
    void append(const QString &entry);
    // Appends an entry and leaves the caret and the view where they are.
    void appendKeepingCaret(const QString &entry);
    // Empties the log.
    void clear();
    // The whole log, CR LF form.
    QString text() const;

private:
    void insertAtEnd(const QString &entry);

    QPlainTextEdit *m_box;
    LogJournal *m_journal;
};
