#pragma once

#include "logexport.h"
#include "recordlines.h"

#include <QString>
#include <QTimer>

class LogJournal;
class QPlainTextEdit;

// The work log: the whole record of the run in the journal, its most recent lines in the text
// box Text4. Entries come in CR LF form; the box shows its own line separators. Older lines
// leave the top of the box but stay in the record, so appending, editing and clearing cost the
// same after a million lines as after ten, and memory stays bounded: by lines, and by characters,
// since one hex line of a long frame has thousands.
//
// Every entry goes to the journal at once. What the operator types into the box reaches it a
// moment after the typing stops: the changed lines are put in place of the ones they were, the
// lines after them keep their bytes. Lines that have left the box are never rewritten.
class WorkLog
{
public:
    // Lines the box keeps: about 27 MB of widget memory at 0.55 KB a line.
    static constexpr int kBoxLines = 50000;
    // Characters the box keeps: 2 bytes each, and up to as much again that the text's buffer
    // holds until it is compacted. Measured: a box full of 4096-byte frames (12,000-character
    // hex lines) takes 29 MB more than one of 10,000 answer lines.
    static constexpr int kBoxCharacters = 6'000'000;
    // Time from the operator's last keystroke in the log to the journal's rewrite.
    static constexpr int kEditSettleMs = 1000;

    WorkLog(QPlainTextEdit *box, LogJournal *journal, int boxLines = kBoxLines,
        int boxCharacters = kBoxCharacters);

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
    int m_boxCharacters;
    // Record offset of each line of the box, as the record has it: an edit not yet settled has
    // not changed them.
    RecordLines m_lines;
    // Box positions of the text the operator changed and the record lacks: from the first
    // changed character to the end of the last; -1 when nothing waits.
    int m_editedFrom = -1;
    int m_editedTo = -1;
    QTimer m_editSettled;
    bool m_writing = false;   // the change is ours, not the operator's
};
