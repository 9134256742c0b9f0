#pragma once

#include "options.h"
#include "output.h"
#include "session.h"
#include "soakreport.h"
#include "transactions.h"

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <memory>

class InternalTestRunner;
struct OpenedBoard;

// The soak run on one board: the internal test script with its waits, or a list of texts
// spoken one after the other, with every frame and answer paired into the board's report.
class BoardSoak : public QObject
{
    Q_OBJECT
public:
    BoardSoak(const CliOptions &options, Output &output, std::unique_ptr<OpenedBoard> board,
        const QStringList &texts, QObject *parent = nullptr);
    ~BoardSoak() override;

    QString name() const;
    // Creates the report file; false with *error. Nothing is sent before.
    bool openReport(QString *error);
    QString reportPath() const { return m_report.csvPath(); }
    // Builds what it sends; false with *error when it cannot (the code table).
    bool prepare(QString *error);
    void start();
    void stopSending();
    // Ends every open transaction and writes the summary; false when the report is not whole
    // (said on stderr).
    bool finish();
    const TransactionStats &stats() const { return m_session.transactions().stats(); }
    // 0, or the exit code this board's run deserves.
    int exitCode() const;
    QString failure() const { return m_failure; }

signals:
    // The board stopped for good (its link failed, or a text cannot be framed); said once.
    void stopped();

private:
    void sendNextText();
    void onTransaction(const TransactionModel::Transaction &t);

    const CliOptions &m_options;
    Output &m_output;
    std::unique_ptr<OpenedBoard> m_board;
    Session m_session;
    SoakReport m_report;
    std::unique_ptr<LogSink> m_log;
    std::unique_ptr<InternalTestRunner> m_script;
    QByteArray m_demoFrame;   // the script's synthesis of the demonstration text
    QStringList m_texts;
    qsizetype m_nextText = 0;
    QList<TextFrame> m_pieces;   // the frames of the text being spoken
    qsizetype m_nextPiece = 0;
    quint64 m_current = 0;
    QTimer m_speechTimer;
    bool m_sending = false;
    QString m_failure;   // the link was lost
};

// A soak run on every board named, for a set time. Boards that cannot be opened are reported
// and left out; the others run to the end, or until no board is left.
class SoakRun : public QObject
{
    Q_OBJECT
public:
    SoakRun(const CliOptions &options, Output &output, QObject *parent = nullptr);
    ~SoakRun() override;

    // Reads the texts file and checks the report folder; false with *exitCode.
    bool prepare(int *exitCode);
    // Opens the boards and their reports and starts; false with *exitCode when none can run.
    bool start(class BoardOpener &opener, int *exitCode);
    // The first call ends the sending and lets the last answers come; a second ends at once.
    // The run exits 1 either way.
    void interrupt();

signals:
    void finished(int exitCode);

private:
    void stopSending();
    void boardStopped();
    void finishAll();

    const CliOptions &m_options;
    Output &m_output;
    QStringList m_texts;
    QList<BoardSoak *> m_boards;
    int m_unavailable = 0;   // boards that could not be opened
    QTimer m_duration;
    QTimer m_drain;
    bool m_finished = false;
    bool m_interrupted = false;
};
