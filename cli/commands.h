#pragma once

#include "options.h"
#include "output.h"
#include "session.h"
#include "textcheck.h"
#include "transactions.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTimer>

#include <memory>

struct OpenedBoard;

// The characters a text check found the encoding cannot carry, as the command line names them
// (`"€" (U+20AC) ×1: not in GB2312, sent as its GBK bytes`), joined by "; ".
QString uncarriedList(const TextCheck &check);

// One command on one board: reads and checks its input before the board is opened, then sends
// its frames one after the other, each once the wait before it is over, and ends with an exit
// code. Every wait is bounded: the answers by the session's answer bound (--timeout), the end of
// speech by --speech-timeout.
class CommandRun : public QObject
{
    Q_OBJECT
public:
    CommandRun(const CliOptions &options, Output &output, QObject *parent = nullptr);
    ~CommandRun() override;

    // Reads the text or the arguments and builds what does not depend on the link; false with
    // *exitCode when the input is bad (nothing is sent then).
    bool prepare(int *exitCode);
    // Builds the frames for the board and sends the first; false with *exitCode when nothing
    // can be sent.
    bool start(OpenedBoard &board, int *exitCode);
    // A signal: a speech under way is stopped first (FD 00 01 02, unless --no-stop), then the
    // run ends with exit code 1; a second signal ends it at once.
    void interrupt();

signals:
    void finished(int exitCode);

private:
    enum class Wait { Written, Taken, SpeechEnd, State, Version };
    struct Step
    {
        QByteArray frame;
        Wait wait = Wait::Taken;
    };

    bool fail(int *exitCode, int code, const QString &message);
    std::optional<QString> readText(int *exitCode);
    bool checkCarried(const QString &text, int *exitCode);
    void sendNext();
    void onTransaction(const TransactionModel::Transaction &t);
    void readAnswers();
    void stepDone(const TransactionModel::Transaction &t);
    void end(int code, const QString &message);
    void printResult();

    const CliOptions &m_options;
    Output &m_output;
    Session m_session;
    std::unique_ptr<LogSink> m_log;
    OpenedBoard *m_board = nullptr;
    QString m_text;   // say, cache store
    int m_segment = 0;   // cache store
    QList<Step> m_steps;
    qsizetype m_next = 0;
    quint64 m_current = 0;   // the transaction of the step under way
    QTimer m_speechTimer;
    QTimer m_exitTimer;
    bool m_ended = false;
    bool m_printed = false;
    bool m_speaking = false;   // a frame that speaks went out and its speech has not ended
    bool m_stopping = false;   // interrupted: the stop frame is under way
    QJsonObject m_result;   // the JSON result event
    QStringList m_resultLines;   // printed last in readable mode
    QString m_lastFault;   // what the link last met, in English
};
