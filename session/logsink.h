#pragma once

#include <QString>

// Where the session's work-log entries go: the window's log box, or the command line's output.
// Entries come in CR LF form, one or more whole lines.
class LogSink
{
public:
    virtual ~LogSink() = default;
    // Appends an entry and brings the end of the log into view.
    virtual void append(const QString &entry) = 0;
    // Appends an entry and leaves the operator's view and caret where they are.
    virtual void appendKeepingCaret(const QString &entry) { append(entry); }
};
