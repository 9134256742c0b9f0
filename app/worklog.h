#pragma once

#include "logfile.h"

#include <QString>
#include <QTimer>

#include <deque>

class QPlainTextEdit;

// The work log: the whole record of the run in the journal, its most recent lines in the text
// box Text4. Entries come in CR LF form; the box shows its own line separators. Older lines
// leave the top of the box but stay in the record, so appending, editing and clearing cost the
// same after a million lines as after ten, and memory stays bounded.
//
// Every entry goes to the journal at once. What the operator types into the box reaches it a
// moment after the typing stops: the record is rewritten from the first changed line on. Lines
// that have left the box are never rewritten.
class WorkLog
{
public:
    // Lines the box keeps: about 27 MB of widget memory at 0.55 KB a line.
    static constexpr int kBoxLines = 50000;
    // Time from the operator's last keystroke in the log to the journal's rewrite.
    static constexpr int kEditSettleMs = 1000;

    WorkLog(QPlainTextEdit *box, LogJournal *journal, int boxLines = kBoxLines);

    // Appends an entry and puts the caret at the end, so the newest line is in view.
    void append(const QString &entry);
    // Appends an entry and leaves the caret, the selection and the view on the same text.
    void appendKeepingCaret(const QString &entry);
    // Empties the log, the record included.
    void clear();
    // The whole record, CR LF form, as the log shows it (what is being typed included). It reads
    // the whole journal: for tests, not for the running program.
    QString text() const;
    // Writes what the operator has typed to the journal now instead of once the typing settles.
    void settleEdit();
    // Appends the whole record to LOG.txt in dir as one export, streamed from the journal.
    LogFile::ExportResult exportTo(const QString &dir);

private:
    struct Trimmed
    {
        int characters = 0;
        int lines = 0;   // visual lines, the unit of the box's scroll bar
    };

    Trimmed insertAtEnd(const QString &entry);
    Trimmed trimTop();

    QPlainTextEdit *m_box;
    LogJournal *m_journal;
    int m_boxLines;
    std::deque<qint64> m_lineStarts;   // record offset of each line of the box
    int m_editedFrom = -1;   // first box position the operator changed and the record lacks
    QTimer m_editSettled;
    bool m_writing = false;   // the change is ours, not the operator's
};
