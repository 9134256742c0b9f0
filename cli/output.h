#pragma once

#include "logsink.h"
#include "session.h"
#include "transactions.h"

#include <QJsonObject>
#include <QString>

// What orv4120 prints. Readable mode: the session's work-log entries, as the window shows them,
// and results on standard output; JSON mode: one object per line and event, the work-log entries
// among them as "log" events (quiet leaves them out in both). Errors and warnings
// go to standard error in either mode. Everything is UTF-8 and reaches the system line by line,
// so a pipe sees each event as it happens. What a board sent is data, never a terminal's control
// sequence: control characters are shown escaped (\x1B) in readable mode and as \u escapes in
// JSON.
class Output
{
public:
    Output(bool json, bool quiet);

    bool json() const { return m_json; }
    // Board names go in front of log lines when several boards run.
    void setSeveralBoards(bool several) { m_severalBoards = several; }

    void logEntry(const QString &board, const QString &entry);
    // A result line in readable mode (printed even when quiet).
    void result(const QString &line);
    void event(QJsonObject object);
    void error(const QString &message);
    void warning(const QString &message);
    // The last error printed: the message of the result event.
    QString lastError() const { return m_lastError; }
    void setLastError(const QString &message) { m_lastError = message; }

private:
    bool m_json;
    QString m_lastError;
    bool m_quiet;
    bool m_severalBoards = false;
};

// The work log of one board, printed.
class BoardLog : public LogSink
{
public:
    BoardLog(Output &output, const QString &board)
        : m_output(output)
        , m_board(board)
    { }
    void append(const QString &entry) override { m_output.logEntry(m_board, entry); }

private:
    Output &m_output;
    QString m_board;
};

// JSON events of a board's session and transactions: every frame sent (its bytes and decoding)
// and every answer read (its code, label and, for a first answer, latency).
void reportEvents(Output &output, const QString &board, Session &session, TransactionModel &model,
    AnswerRule rule, int storeEncoding);

// Text with its control characters (C0 but the tab, DEL, C1) written as \xNN, so that bytes
// from a board reach a terminal as data.
QString escapeControls(const QString &text);

// The row of a transaction as a JSON event.
QJsonObject rowEvent(const QString &board, const TransactionRow &row);

// Counts and percentiles as a JSON event.
QJsonObject summaryEvent(const QString &board, const TransactionStats &stats);
