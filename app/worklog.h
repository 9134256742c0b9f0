#pragma once

#include <QString>
#include <QTimer>

class LogJournal;
class QPlainTextEdit;

// The work log in the text box Text4. Entries come in CR LF form; the box shows its own line
// separators and the log's text comes back in CR LF form. Appending costs the same however long
// the log has grown: the entry is inserted at the end, the rest of the text is left alone.
// Every entry goes to the journal at once; what the operator types into the box reaches it a
// moment after the typing stops.
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

    // Time from the operator's last keystroke in the log to the journal's rewrite.
    static constexpr int kEditSettleMs = 1000;

private:
    void insertAtEnd(const QString &entry);
    void onContentsChange();

    QPlainTextEdit *m_box;
    LogJournal *m_journal;
    QTimer m_editSettled;
    bool m_writing = false;   // the change is ours, not the operator's
};
