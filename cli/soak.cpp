#include "soak.h"

#include "boards.h"
#include "demotexts.h"
#include "frame.h"
#include "input.h"
#include "internaltestrunner.h"
#include "linkfaults.h"
#include "logshape.h"
#include "textform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// The internal test script's waits, shortened by a factor.
class ScaledStepClock final : public StepClock
{
public:
    explicit ScaledStepClock(double scale)
        : m_scale(scale)
    {
        m_timer.setSingleShot(true);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            if (auto done = std::exchange(m_done, nullptr))
                done();
        });
    }
    void startWait(int milliseconds, std::function<void()> done) override
    {
        m_done = std::move(done);
        m_timer.start(qMax(1, int(milliseconds * m_scale)));
    }
    void cancelWait() override
    {
        m_timer.stop();
        m_done = nullptr;
    }

private:
    double m_scale;
    QTimer m_timer;
    std::function<void()> m_done;
};

// Time the last answers of the run have to come after the sending ends.
constexpr int kDrainMarginMs = 200;

}   // namespace

BoardSoak::BoardSoak(const CliOptions &options, Output &output, std::unique_ptr<OpenedBoard> board,
    const QStringList &texts, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_output(output)
    , m_board(std::move(board))
    , m_texts(texts)
{
    m_session.setAnswerBound(int(options.timeoutS * 1000));
    TransactionModel &transactions = m_session.transactions();
    transactions.setStoreEncoding(options.encoding);
    m_log = std::make_unique<BoardLog>(output, m_board->name);
    m_session.setLogSink(m_log.get());
    m_session.attachLink(m_board->link, m_board->rule, m_board->name);
    transactions.setRowSink([this](const TransactionRow &row) {
        m_report.addRow(row);
        m_output.event(rowEvent(name(), row));
    });
    reportEvents(output, m_board->name, m_session, transactions, m_board->rule, options.encoding);
    connect(&transactions, &TransactionModel::transactionChanged, this, &BoardSoak::onTransaction);
    connect(m_board->link, &Link::failed, this, [this](const LinkFault &fault) {
        if (!m_failure.isEmpty())
            return;   // said once
        m_failure = linkFaultLine(fault);   // the report's words, as the work log's
        m_output.error(QStringLiteral("%1: the link failed, this board stops: %2")
                           .arg(name(), linkFaultMessage(fault)));
        stopSending();
        emit stopped();
    });
    m_speechTimer.setSingleShot(true);
    connect(&m_speechTimer, &QTimer::timeout, this, &BoardSoak::sendNextText);
}

BoardSoak::~BoardSoak() = default;

QString BoardSoak::name() const
{
    return m_board->name;
}

bool BoardSoak::openReport(QString *error)
{
    if (m_report.start(m_options.reportDir))
        return true;
    *error = m_report.errorString();
    return false;
}

bool BoardSoak::prepare(QString *error)
{
    if (!m_texts.isEmpty())
        return true;
    const TextFrame demo = m_session.textFrame(
        demonstrationText(), Command::Synthesize, quint8(m_options.encoding), m_options.encoding);
    if (demo.frame.isEmpty()) {
        *error = QStringLiteral("the code table %1 cannot be used").arg(m_session.codeTablePath());
        return false;
    }
    m_demoFrame = demo.frame;
    std::unique_ptr<StepClock> clock;
    if (m_options.waitScale < 1.0)
        clock = std::make_unique<ScaledStepClock>(m_options.waitScale);
    m_script = std::make_unique<InternalTestRunner>(std::move(clock));
    m_script->setMaxTextBytesSource([this] { return m_session.maxTextBytes(); });
    connect(m_script.get(), &InternalTestRunner::sendFrameValues, this,
        [this](const QVariantList &values) {
            if (const std::optional<QByteArray> frame = frameFromValues(values))
                m_session.send(*frame);
        });
    connect(m_script.get(), &InternalTestRunner::synthesizeRequested, this,
        [this] { m_session.send(m_demoFrame); });
    return true;
}

void BoardSoak::start()
{
    m_sending = true;
    m_session.whenReady(m_board->justPoweredUp, this, [this] {
        if (!m_sending)
            return;   // the run ended before the board was ready
        if (m_script)
            m_script->start();
        else
            sendNextText();
    });
}

void BoardSoak::stopSending()
{
    m_sending = false;
    m_speechTimer.stop();
    if (m_script)
        m_script->stop();
}

void BoardSoak::sendNextText()
{
    if (!m_sending)
        return;
    m_speechTimer.stop();
    if (m_nextPiece >= m_pieces.size()) {
        const QString &text = m_texts.at(m_nextText++ % m_texts.size());
        m_pieces = m_session.textPieces(
            text, Command::Synthesize, quint8(m_options.encoding), m_options.encoding);
        m_nextPiece = 0;
    }
    const QByteArray frame = m_pieces.at(m_nextPiece++).frame;
    if (frame.isEmpty()) {
        m_failure = QStringLiteral("a text cannot be framed (the code table %1)")
                        .arg(m_session.codeTablePath());
        m_output.error(name() + QStringLiteral(": ") + m_failure);
        stopSending();
        emit stopped();
        return;
    }
    m_session.send(frame);
    const TransactionModel::Transaction *t = m_session.transactions().lastSent(m_board->link);
    m_current = t ? t->id : 0;
}

void BoardSoak::onTransaction(const TransactionModel::Transaction &t)
{
    if (m_script || !m_sending || t.id != m_current)
        return;
    if (t.phase == TransactionModel::Transaction::Phase::Done) {
        // answered, refused, unanswered or spoken: the next text, from the event loop
        m_current = 0;
        QTimer::singleShot(0, this, &BoardSoak::sendNextText);
    } else if (t.phase == TransactionModel::Transaction::Phase::Speaking
        && !m_speechTimer.isActive()) {
        // a speech that does not end is given up on; the next text replaces it
        m_speechTimer.start(int(qMin(m_options.speechTimeoutS * 1000.0, 2147483647.0)));
    }
}

bool BoardSoak::finish()
{
    stopSending();
    m_session.transactions().finish();
    QString summary = QStringLiteral("板子：%1\n").arg(name()) + summaryText(stats());
    if (!m_failure.isEmpty())
        summary += QStringLiteral("链路故障：%1\n").arg(m_failure);
    const bool whole = m_report.finish(summary);
    m_output.event(summaryEvent(name(), stats()));
    if (whole) {
        m_output.result(QStringLiteral("%1: report %2, summary %3")
                            .arg(name(), m_report.csvPath(), m_report.summaryPath()));
    } else {
        const QString summaryFile = m_report.summaryWritten()
            ? QStringLiteral("summary %1").arg(m_report.summaryPath())
            : QStringLiteral("no summary file (the summary is printed below)");
        m_output.error(QStringLiteral("%1: the soak report is incomplete: %2; %3 row(s) in %4, "
                                      "%5 lost; %6")
                           .arg(name(), m_report.errorString())
                           .arg(m_report.rowsWritten())
                           .arg(m_report.csvPath())
                           .arg(m_report.rowsLost())
                           .arg(summaryFile));
    }
    m_output.result(summary.trimmed());
    return whole;
}

int BoardSoak::exitCode() const
{
    const TransactionStats &s = stats();
    if (!m_failure.isEmpty())
        return ExitUnavailable;
    if (s.unanswered + s.notWritten + s.missingFollowUps > 0)
        return ExitNoAnswer;
    if (s.errorAnswers > 0)
        return ExitErrorAnswer;
    return ExitDone;
}

SoakRun::SoakRun(const CliOptions &options, Output &output, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_output(output)
{
    m_duration.setSingleShot(true);
    m_drain.setSingleShot(true);
    connect(&m_duration, &QTimer::timeout, this, &SoakRun::stopSending);
    connect(&m_drain, &QTimer::timeout, this, &SoakRun::finishAll);
}

SoakRun::~SoakRun()
{
    qDeleteAll(m_boards);
}

bool SoakRun::prepare(int *exitCode)
{
    const QFileInfo folder(m_options.reportDir);
    const QString folderProblem = !folder.exists() ? QStringLiteral("does not exist")
        : !folder.isDir()                          ? QStringLiteral("is not a folder")
        : !folder.isWritable() ? QStringLiteral("cannot be written (no permission)")
                               : QString();
    if (!folderProblem.isEmpty()) {
        m_output.error(
            QStringLiteral("the report folder %1 %2").arg(m_options.reportDir, folderProblem));
        *exitCode = ExitBadInput;
        return false;
    }
    if (m_options.textsFile.isEmpty())
        return true;
    const InputRead input = readInput(m_options.textsFile);
    if (input.interrupted || !input.error.isEmpty()) {
        m_output.error(input.interrupted ? QStringLiteral("interrupted while reading the texts")
                                         : input.error);
        *exitCode = input.interrupted ? ExitFailed : ExitBadInput;
        return false;
    }
    const std::optional<QString> text = checkedText(input.bytes, m_options, m_output, exitCode);
    if (!text) {
        m_output.error(QStringLiteral("%1: nothing sent").arg(m_options.textsFile));
        return false;
    }
    for (const QString &line : fromCrLf(*text).split(u'\n')) {
        if (!line.trimmed().isEmpty())
            m_texts << line;
    }
    if (m_texts.isEmpty()) {
        m_output.error(QStringLiteral("%1 holds no text").arg(m_options.textsFile));
        *exitCode = ExitBadInput;
        return false;
    }
    return true;
}

bool SoakRun::start(BoardOpener &opener, int *exitCode)
{
    m_output.setSeveralBoards(m_options.boards.size() > 1);
    for (const BoardSpec &wanted : m_options.boards) {
        QString error;
        std::unique_ptr<OpenedBoard> board = opener.open(wanted, &error);
        if (!board) {
            m_output.error(error);
            ++m_unavailable;
            continue;
        }
        auto *soak = new BoardSoak(m_options, m_output, std::move(board), m_texts);
        if (!soak->prepare(&error) || !soak->openReport(&error)) {
            m_output.error(soak->name() + QStringLiteral(": ") + error);
            delete soak;
            *exitCode = ExitFailed;
            return false;   // nothing has been sent yet
        }
        m_boards << soak;
        connect(soak, &BoardSoak::stopped, this, &SoakRun::boardStopped);
    }
    if (m_boards.isEmpty()) {
        *exitCode = ExitUnavailable;
        return false;
    }
    for (BoardSoak *soak : std::as_const(m_boards)) {
        m_output.result(QStringLiteral("%1: soak report %2").arg(soak->name(), soak->reportPath()));
        soak->start();
    }
    m_duration.start(int(qMin(m_options.durationS * 1000.0, 2147483647.0)));
    return true;
}

void SoakRun::stopSending()
{
    m_duration.stop();
    for (BoardSoak *soak : std::as_const(m_boards))
        soak->stopSending();
    m_drain.start(int(m_options.timeoutS * 1000) + kDrainMarginMs);
}

void SoakRun::interrupt()
{
    m_interrupted = true;
    if (m_duration.isActive())
        stopSending();
    else
        finishAll();
}

void SoakRun::boardStopped()
{
    if (std::any_of(m_boards.cbegin(), m_boards.cend(),
            [](const BoardSoak *soak) { return soak->failure().isEmpty(); }))
        return;
    m_output.error(QStringLiteral("no board is left: the soak ends"));
    m_duration.stop();
    QTimer::singleShot(0, this, &SoakRun::finishAll);   // after the link's own signal
}

void SoakRun::finishAll()
{
    if (m_finished)
        return;
    m_finished = true;
    m_drain.stop();
    TransactionStats all;
    int code = m_unavailable > 0 ? ExitUnavailable : ExitDone;
    // The worst outcome decides: a board lost, then an answer missing, then a 0x45. A report
    // not written whole or an interrupted run comes before them all: the run did not give
    // what it was asked for.
    auto rank = [](int c) {
        return c == ExitFailed     ? 4
            : c == ExitUnavailable ? 3
            : c == ExitNoAnswer    ? 2
            : c == ExitErrorAnswer ? 1
                                   : 0;
    };
    bool reportsWhole = true;
    for (BoardSoak *soak : std::as_const(m_boards)) {
        reportsWhole = soak->finish() && reportsWhole;
        all.merge(soak->stats());
        if (rank(soak->exitCode()) > rank(code))
            code = soak->exitCode();
    }
    QString message;
    if (!reportsWhole)
        message = QStringLiteral("a soak report is incomplete");
    else if (m_interrupted)
        message = QStringLiteral("interrupted");
    if (!message.isEmpty())
        code = ExitFailed;
    if (m_boards.size() + m_unavailable > 1) {
        m_output.event(summaryEvent(QStringLiteral("all"), all));
        m_output.result(QStringLiteral("所有板子（%1 个，%2 个无法打开）：\n")
                            .arg(m_boards.size() + m_unavailable)
                            .arg(m_unavailable)
            + summaryText(all).trimmed());
    }
    QJsonObject result {{QStringLiteral("event"), QStringLiteral("result")},
        {QStringLiteral("command"), QStringLiteral("soak")}, {QStringLiteral("exit"), code}};
    if (!message.isEmpty())
        result.insert(QStringLiteral("message"), message);
    m_output.event(result);
    emit finished(code);
}
