#include "monitor.h"

#include "boards.h"
#include "codes.h"
#include "frame.h"
#include "framedecoder.h"
#include "interrupts.h"
#include "linereport.h"
#include "linescan.h"
#include "options.h"
#include "portresolver.h"
#include "soakreport.h"
#include "transactions.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QMap>
#include <QSerialPort>
#include <QSet>
#include <QTimer>

#include <cstdio>
#include <optional>

namespace {

void printError(const QString &message)
{
    const QByteArray bytes = (QStringLiteral("orv4120: ") + message + u'\n').toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
}

struct MonitorOptions
{
    QString framesPort;
    QString answersPort;
    int baud = 9600;
    double maxGapMs = -1;   // -1: 20 character times
    int timeoutMs = TransactionModel::kDefaultBoundMs;
    bool json = false;
    QString reportDir;
    int storeEncoding = 1;
};

bool speaks(int command)
{
    return command == int(Command::Synthesize) || command == int(Command::CachePlay);
}

class Monitor : public QObject
{
public:
    explicit Monitor(const MonitorOptions &options);

    // Opens the ports (and the report); false with the exit code.
    bool start(int *exitCode);
    // Ctrl-C: the summary, and the end.
    void stop(int exitCode);

private:
    std::unique_ptr<QSerialPort> openPort(const QString &name, QString *error);
    void onFrameBytes();
    void onAnswerBytes();
    void cutPartialFrame(LinkTime at);
    void onItem(const FrameScanner::Item &item);
    void onFrame(const FrameScanner::Item &item, const DecodedFrame &decoded, bool refuse,
        const QString &why);
    void onAnswer(const TransactionModel::AnswerEvent &a, const TransactionModel::Transaction *t);
    void onTransaction(const TransactionModel::Transaction &t);
    void fault(const QString &kind, LinkTime at, const QString &message, QJsonObject fields = {});
    void addRow(const TransactionRow &row);

    const MonitorOptions &m_o;
    LineReport m_report;
    std::unique_ptr<QSerialPort> m_frames;
    std::unique_ptr<QSerialPort> m_answers;
    ListeningLink m_link {kSerialMaxTextBytes};
    AnswerReader m_reader {&m_link, AnswerRule::SerialCharacters};
    TransactionModel m_model;
    qint64 m_maxGapUs = 0;
    FrameScanner m_scanner;
    QTimer m_cutTimer;   // a frame under way that stops for good is cut off
    SoakReport m_soak;
    TransactionStats m_framesOnly;   // --frames alone: no model, counts of frames only
    quint64 m_framesSeen = 0;
    bool m_trafficSeen = false;
    bool m_skippingStart = true;
    quint64 m_skippedAtStart = 0;
    QMap<QString, quint64> m_faults;
    QSet<quint64> m_refusable;   // frames the chip must refuse, until their first answer
    QSet<quint64> m_reported;   // frames whose missing answer is told
    quint64 m_speaking = 0;   // the frame whose speech goes on
    LinkTime m_speakingSince = 0;
    QString m_speakingFrame;
    bool m_stopped = false;
};

Monitor::Monitor(const MonitorOptions &options)
    : m_o(options)
    , m_report(options.json, LineReport::Clock::Live)
    , m_maxGapUs(options.maxGapMs >= 0 ? qint64(options.maxGapMs * 1000)
                                       : qint64(20) * 10 * 1000000 / options.baud)
    , m_scanner(m_maxGapUs)
{
    m_report.setLiveBase(linkNow(), QDateTime::currentMSecsSinceEpoch());
    m_model.setBound(options.timeoutMs);
    m_model.setStoreEncoding(options.storeEncoding);
    m_model.addLink(&m_reader, options.framesPort);
    m_model.setRowSink([this](const TransactionRow &row) { addRow(row); });
    connect(&m_model, &TransactionModel::answerRead, this,
        [this](Link *, const TransactionModel::AnswerEvent &a,
            const TransactionModel::Transaction *t) { onAnswer(a, t); });
    connect(&m_model, &TransactionModel::transactionChanged, this,
        [this](const TransactionModel::Transaction &t) { onTransaction(t); });
    m_cutTimer.setSingleShot(true);
    connect(&m_cutTimer, &QTimer::timeout, this, [this] { cutPartialFrame(linkNow()); });
}

std::unique_ptr<QSerialPort> Monitor::openPort(const QString &name, QString *error)
{
    QString path = name;
    if (const std::optional<int> number = comNumber(name)) {
        path = PortResolver().pathFor(*number);
        if (path.isEmpty()) {
            *error = QStringLiteral("%1 stands for no device here (see orv4120 ports)").arg(name);
            return nullptr;
        }
    }
    auto port = std::make_unique<QSerialPort>(path);
    port->setBaudRate(m_o.baud);
    port->setDataBits(QSerialPort::Data8);
    port->setParity(QSerialPort::NoParity);
    port->setStopBits(QSerialPort::OneStop);
    port->setFlowControl(QSerialPort::NoFlowControl);
    // Read only: the monitor never puts a byte on the line it listens to.
    if (!port->open(QIODevice::ReadOnly)) {
        QString reason = port->errorString();
        if (port->error() == QSerialPort::PermissionError) {
            const QString access = accessProblem(path);
            reason = access.isEmpty() ? QStringLiteral("in use by another program, or no "
                                                       "permission")
                                      : access;
        } else if (port->error() == QSerialPort::DeviceNotFoundError) {
            reason = QStringLiteral("no such device");
        }
        *error = QStringLiteral("cannot open %1: %2").arg(path, reason);
        return nullptr;
    }
    return port;
}

bool Monitor::start(int *exitCode)
{
    QString error;
    m_frames = openPort(m_o.framesPort, &error);
    if (m_frames && !m_o.answersPort.isEmpty())
        m_answers = openPort(m_o.answersPort, &error);
    if (!m_frames || (!m_o.answersPort.isEmpty() && !m_answers)) {
        printError(error);
        *exitCode = ExitUnavailable;
        return false;
    }
    if (!m_o.reportDir.isEmpty() && !m_soak.start(m_o.reportDir)) {
        printError(QStringLiteral("cannot write the report: ") + m_soak.errorString());
        *exitCode = ExitFailed;
        return false;
    }
    connect(m_frames.get(), &QSerialPort::readyRead, this, &Monitor::onFrameBytes);
    if (m_answers)
        connect(m_answers.get(), &QSerialPort::readyRead, this, &Monitor::onAnswerBytes);
    for (QSerialPort *port : {m_frames.get(), m_answers.get()}) {
        if (!port)
            continue;
        connect(
            port, &QSerialPort::errorOccurred, this, [this, port](QSerialPort::SerialPortError e) {
                // A read on a readable port that finds nothing: the line hung up. A pty has no
                // modem lines, and a fault on one character ends nothing.
                if (e != QSerialPort::ResourceError && e != QSerialPort::ReadError
                    && e != QSerialPort::DeviceNotFoundError)
                    return;
                printError(
                    QStringLiteral("%1 was lost: %2").arg(port->portName(), port->errorString()));
                stop(ExitUnavailable);
            });
    }
    QJsonObject fields {{QStringLiteral("frames"), m_o.framesPort},
        {QStringLiteral("baud"), m_o.baud},
        {QStringLiteral("max_gap_ms"), double(m_maxGapUs) / 1000.0},
        {QStringLiteral("timeout_ms"), m_o.timeoutMs}};
    if (m_answers)
        fields.insert(QStringLiteral("answers"), m_o.answersPort);
    if (m_soak.isOpen())
        fields.insert(QStringLiteral("report"), m_soak.csvPath());
    m_report.note(QStringLiteral("listening"), linkNow(),
        QStringLiteral("监听 %1%2，%3 波特，帧内停顿上限 %4，应答时限 %5 ms")
            .arg(m_o.framesPort, m_answers ? QStringLiteral(" 与 ") + m_o.answersPort : QString())
            .arg(m_o.baud)
            .arg(formatDuration(m_maxGapUs))
            .arg(m_o.timeoutMs),
        fields);
    return true;
}

void Monitor::fault(const QString &kind, LinkTime at, const QString &message, QJsonObject fields)
{
    ++m_faults[kind];
    fields.insert(QStringLiteral("fault"), true);
    m_report.note(kind, at, message, fields);
}

void Monitor::onFrameBytes()
{
    const QByteArray bytes = m_frames->readAll();
    const LinkTime at = linkNow();
    m_model.checkDeadlines();
    for (const FrameScanner::Item &item : m_scanner.feed(bytes, at))
        onItem(item);
    if (m_scanner.inFrame())
        m_cutTimer.start(m_o.timeoutMs);
    else
        m_cutTimer.stop();
    // Bytes outside a frame are told at once, not when the next frame comes.
    for (const FrameScanner::Item &item : m_scanner.takeStray())
        onItem(item);
}

void Monitor::onAnswerBytes()
{
    // The frame an answer answers may still wait on the other port (two adapters, two
    // buffers): what is there is read first, without waiting (readyRead comes from within).
    m_frames->waitForReadyRead(0);
    if (m_frames->bytesAvailable() > 0)
        onFrameBytes();
    const QByteArray bytes = m_answers->readAll();
    const LinkTime at = linkNow();
    // The chip refuses while a frame is still short of its length and the line is quiet: it
    // gave up on that frame.
    if (m_scanner.inFrame() && at - m_scanner.lastArrival() > m_maxGapUs
        && bytes.contains(char(Answer::ReceiveFailed)))
        cutPartialFrame(at);
    m_reader.receive(bytes, at);
}

void Monitor::cutPartialFrame(LinkTime)
{
    m_cutTimer.stop();
    for (const FrameScanner::Item &item : m_scanner.finish())
        onItem(item);
}

void Monitor::onItem(const FrameScanner::Item &item)
{
    using Kind = FrameScanner::Item::Kind;
    const QJsonObject where {{QStringLiteral("offset"), double(item.offset)},
        {QStringLiteral("count"), double(item.bytes.size())}};
    if (item.kind == Kind::Stray) {
        if (m_skippingStart) {
            m_skippedAtStart += item.bytes.size();
            m_report.note(QStringLiteral("skipped"), item.first,
                QStringLiteral("开始监听时正在传送的帧：跳过 %1 字节，到下一个 FD 为止")
                    .arg(item.bytes.size()),
                where);
            return;
        }
        fault(QStringLiteral("stray"), item.first,
            QStringLiteral("%1 字节不属于任何帧：%2")
                .arg(item.bytes.size())
                .arg(hexPreview(item.bytes, 16)),
            where);
        return;
    }
    m_skippingStart = false;
    m_trafficSeen = true;
    if (item.longestGapUs > m_maxGapUs)
        fault(QStringLiteral("gap"), item.gapEnd,
            QStringLiteral("帧内停顿 %1（第 %2 字节之前），超过 %3")
                .arg(formatDuration(item.longestGapUs))
                .arg(item.gapOffset - item.offset)
                .arg(formatDuration(m_maxGapUs)),
            {{QStringLiteral("gap_ms"), double(item.longestGapUs) / 1000.0},
                {QStringLiteral("byte"), double(item.gapOffset - item.offset)}});
    const DecodedFrame decoded = decodeFrame(item.bytes, m_o.storeEncoding);
    QString why;
    if (item.kind == Kind::Oversized)
        why = QStringLiteral("长度字段 %1 超过 %2（帧超过 4096 字节）")
                  .arg((quint8(item.bytes.at(1)) << 8) | quint8(item.bytes.at(2)))
                  .arg(FrameScanner::kMaxLengthField);
    else if (item.kind == Kind::CutFrame)
        why = QStringLiteral("帧被截断：长度字段要求 %1 字节，只来了 %2 字节")
                  .arg(item.bytes.size() >= 3
                          ? 3 + ((quint8(item.bytes.at(1)) << 8) | quint8(item.bytes.at(2)))
                          : 3)
                  .arg(item.bytes.size());
    else if (decoded.hasErrors())
        why = decoded.problems.first().message;
    onFrame(item, decoded, !why.isEmpty(), why);
}

void Monitor::onFrame(
    const FrameScanner::Item &item, const DecodedFrame &decoded, bool refuse, const QString &why)
{
    ++m_framesSeen;
    if (!m_answers) {
        // One adapter: the frames and what is wrong with them, no answers to pair.
        ++m_framesOnly.frames;
        ++m_framesOnly.framesByCommand[decoded.command];
        m_report.frame(m_framesSeen, item.offset, item.first, item.bytes, decoded);
        if (refuse)
            fault(QStringLiteral("bad_frame"), item.last,
                QStringLiteral("帧 #%1 芯片应拒收：%2").arg(m_framesSeen).arg(why));
        if (m_soak.isOpen()) {
            TransactionRow row;
            row.id = m_framesSeen;
            row.wallMs = QDateTime::currentMSecsSinceEpoch();
            row.link = m_o.framesPort;
            row.frame = frameSummary(decoded);
            m_soak.addRow(row);
        }
        return;
    }
    // Faults of the conversation, as things stood when this frame came.
    const TransactionModel::Transaction *previous = m_model.lastSent(&m_link);
    const bool unanswered = previous && previous->firstAnswer < 0
        && !(previous->problems & (TransactionModel::NoAnswer | TransactionModel::NotWritten));
    const quint64 previousId = previous ? previous->id : 0;
    m_model.frameSent(item.bytes, &m_link, item.first);
    m_model.frameWritten(&m_link, {item.bytes.size(), item.last, item.last});
    const TransactionModel::Transaction *t = m_model.lastSent(&m_link);
    const quint64 id = t ? t->id : m_framesSeen;
    m_report.frame(id, item.offset, item.first, item.bytes, decoded, id);
    if (unanswered)
        fault(QStringLiteral("overlap"), item.first,
            QStringLiteral("帧 #%1 在帧 #%2 得到应答之前发出").arg(id).arg(previousId),
            {{QStringLiteral("id"), double(id)}, {QStringLiteral("previous"), double(previousId)}});
    if (speaks(decoded.command) && m_speaking) {
        const qint64 played = item.last - m_speakingSince;
        fault(QStringLiteral("cut_speech"), item.last,
            QStringLiteral("帧 #%1 在芯片播音时发出：截断帧 #%2（%3），已播 %4")
                .arg(id)
                .arg(m_speaking)
                .arg(m_speakingFrame, formatDuration(played)),
            {{QStringLiteral("id"), double(id)}, {QStringLiteral("cut"), double(m_speaking)},
                {QStringLiteral("played_s"), double(played) / 1e6}});
        m_speaking = 0;
    }
    if (refuse) {
        m_refusable.insert(id);
        fault(QStringLiteral("bad_frame"), item.last,
            QStringLiteral("帧 #%1 芯片应拒收：%2").arg(id).arg(why),
            {{QStringLiteral("id"), double(id)}});
    }
}

void Monitor::onAnswer(
    const TransactionModel::AnswerEvent &a, const TransactionModel::Transaction *t)
{
    const bool first = t && t->firstAnswer == t->answers.size() - 1;
    m_report.answer(a.code, a.text, a.arrival, -1, t ? t->id : 0, first ? t->latency() : -1, !t);
    if (a.code == Answer::Initialised) {
        if (m_trafficSeen) {
            fault(QStringLiteral("restart"), a.arrival,
                m_speaking ? QStringLiteral("芯片重启（4A），帧 #%1 的播音中断").arg(m_speaking)
                           : QStringLiteral("芯片重启（4A）"));
            m_speaking = 0;
        }
    }
    m_trafficSeen = true;
    if (first && m_refusable.remove(t->id)) {
        const bool refused = a.code == Answer::ReceiveFailed;
        fault(QStringLiteral("bad_frame_answered"), a.arrival,
            refused ? QStringLiteral("帧 #%1 应拒收，芯片回 45（拒收）").arg(t->id)
                    : QStringLiteral("帧 #%1 应拒收，芯片却回 %2")
                          .arg(t->id)
                          .arg(QString::number(a.code, 16).toUpper()),
            {{QStringLiteral("id"), double(t->id)},
                {QStringLiteral("code"), QString::number(a.code, 16).toUpper()}});
    } else if (first && a.code == Answer::ReceiveFailed) {
        fault(QStringLiteral("refused"), a.arrival,
            QStringLiteral("芯片拒收帧 #%1（45）").arg(t->id),
            {{QStringLiteral("id"), double(t->id)}});
    }
}

void Monitor::onTransaction(const TransactionModel::Transaction &t)
{
    if (t.frame.isEmpty())
        return;
    if (speaks(t.command()) && t.taken && t.speechEnd == TransactionModel::SpeechEnd::None
        && m_speaking != t.id && t.firstAnswer >= 0) {
        m_speaking = t.id;
        m_speakingSince = t.answers.at(t.firstAnswer).arrival;
        m_speakingFrame = frameSummary(decodeFrame(t.frame, m_o.storeEncoding));
    }
    if (t.speechEnd != TransactionModel::SpeechEnd::None && t.id == m_speaking)
        m_speaking = 0;
    if ((t.problems & (TransactionModel::NoAnswer | TransactionModel::MissingFollowUp))
        && !m_reported.contains(t.id)) {
        m_reported.insert(t.id);
        m_refusable.remove(t.id);
        const bool none = t.problems & TransactionModel::NoAnswer;
        const LinkTime at = t.deadline;
        fault(none ? QStringLiteral("no_answer") : QStringLiteral("missing_follow_up"), at,
            none ? QStringLiteral("帧 #%1 在 %2 ms 内无应答").arg(t.id).arg(m_o.timeoutMs)
                 : QStringLiteral("帧 #%1：%2").arg(t.id).arg(m_model.row(t).problems.join(u'；')),
            {{QStringLiteral("id"), double(t.id)}});
    }
}

void Monitor::addRow(const TransactionRow &row)
{
    m_reported.remove(row.id);
    if (m_soak.isOpen())
        m_soak.addRow(row);
}

void Monitor::stop(int exitCode)
{
    if (m_stopped)
        return;
    m_stopped = true;
    cutPartialFrame(linkNow());
    m_model.checkDeadlines();
    m_model.finish();
    const TransactionStats &stats = m_answers ? m_model.stats() : m_framesOnly;
    QJsonObject faults;
    QStringList faultText;
    for (auto it = m_faults.cbegin(); it != m_faults.cend(); ++it) {
        faults.insert(it.key(), double(it.value()));
        faultText << QStringLiteral("%1 ×%2").arg(it.key()).arg(it.value());
    }
    m_report.note(QStringLiteral("faults"), LineReport::kNoTime,
        QStringLiteral("问题：%1；开始时跳过 %2 字节")
            .arg(faultText.isEmpty() ? QStringLiteral("无") : faultText.join(QStringLiteral("，")))
            .arg(m_skippedAtStart),
        {{QStringLiteral("counts"), faults},
            {QStringLiteral("skipped_at_start"), double(m_skippedAtStart)}});
    m_report.summary(m_o.framesPort, stats);
    if (m_soak.isOpen()) {
        const QString summary = summaryText(stats)
            + QStringLiteral("问题：%1\n").arg(faultText.join(QStringLiteral("，")));
        if (!m_soak.finish(summary)) {
            printError(QStringLiteral("the report is incomplete: ") + m_soak.errorString());
            if (exitCode == ExitDone)
                exitCode = ExitFailed;
        }
    }
    QCoreApplication::exit(exitCode);
}

}   // namespace

QString monitorCommandHelp()
{
    return QStringLiteral(
        "Usage: orv4120 monitor --frames PORT [--answers PORT] [OPTIONS]\n"
        "Listens, and never writes, on the line between a microcontroller and the chip: PORT\n"
        "is an adapter whose receive pin is on the microcontroller's transmit line (--frames)\n"
        "or on the chip's (--answers); a device path or COM1-COM20. Prints each frame decoded,\n"
        "each answer with its latency from the frame's last byte, and what is wrong, with its\n"
        "time: a frame the chip must refuse and what it answered, a synthesis while the chip\n"
        "still speaks (the speech cut and how long it had played), a frame sent before the one\n"
        "before was answered, a pause inside a frame, 0x4A in the middle of a run (a restart),\n"
        "a frame without an answer in time, bytes outside any frame. Bytes that arrive\n"
        "mid-frame on start-up are skipped up to the next FD and counted. Ctrl-C prints the\n"
        "summary. With --frames alone there are no answers and no latencies.\n"
        "Options:\n"
        "  --baud N          the line's speed (default 9600)\n"
        "  --max-gap MS      a longer pause inside a frame is a fault (default: 20 characters)\n"
        "  --timeout MS      a frame without an answer within MS is a fault (default 1000)\n"
        "  --encoding E      the encoding of cache-store text (default gbk)\n"
        "  --report DIR      writes a soak report (CSV row by row, summary at the end)\n"
        "  --json            one JSON object per line and event\n");
}

int runMonitorCommand(const QList<QByteArray> &arguments)
{
    MonitorOptions o;
    auto bad = [](const QString &message) {
        printError(message);
        return int(ExitBadInput);
    };
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QString arg = QString::fromUtf8(arguments.at(i));
        std::optional<QString> inlineValue;
        if (const qsizetype eq = arg.indexOf(u'='); eq > 0 && arg.startsWith(u"--")) {
            inlineValue = arg.mid(eq + 1);
            arg.truncate(eq);
        }
        if (arg == u"-h" || arg == u"--help") {
            std::fputs(monitorCommandHelp().toUtf8().constData(), stdout);
            return ExitDone;
        }
        if (arg == u"--json") {
            o.json = true;
            continue;
        }
        static const QStringList valued {
            "--frames", "--answers", "--baud", "--max-gap", "--timeout", "--report", "--encoding"};
        if (!valued.contains(arg))
            return bad(QStringLiteral("monitor does not take \"%1\"; see orv4120 monitor --help")
                           .arg(arg));
        if (!inlineValue && i + 1 >= arguments.size())
            return bad(arg + QStringLiteral(" needs a value"));
        const QString v = inlineValue ? *inlineValue : QString::fromUtf8(arguments.at(++i));
        bool ok = false;
        if (arg == u"--frames") {
            o.framesPort = v;
        } else if (arg == u"--answers") {
            o.answersPort = v;
        } else if (arg == u"--baud") {
            o.baud = v.toInt(&ok);
            if (!ok || o.baud < 300 || o.baud > 4000000)
                return bad(QStringLiteral("--baud takes a line speed, not \"%1\"").arg(v));
        } else if (arg == u"--max-gap") {
            o.maxGapMs = millisecondsOf(v, &ok);
            if (!ok || o.maxGapMs <= 0 || o.maxGapMs > 60000)
                return bad(
                    QStringLiteral("--max-gap takes milliseconds above 0, not \"%1\"").arg(v));
        } else if (arg == u"--timeout") {
            const double ms = millisecondsOf(v, &ok);
            if (!ok || ms < 1 || ms > 3600000)
                return bad(
                    QStringLiteral("--timeout takes milliseconds, 1 or more, not \"%1\"").arg(v));
            o.timeoutMs = int(ms);
        } else if (arg == u"--report") {
            o.reportDir = v;
        } else {
            static const char *const kNames[] = {"gb2312", "gbk", "big5", "utf16le", "utf16be"};
            o.storeEncoding = -1;
            for (int e = 0; e < 5; ++e) {
                if (v.compare(QLatin1String(kNames[e]), Qt::CaseInsensitive) == 0)
                    o.storeEncoding = e;
            }
            if (o.storeEncoding < 0)
                return bad(QStringLiteral("--encoding takes gb2312, gbk, big5, utf16le or utf16be, "
                                          "not \"%1\"")
                               .arg(v));
        }
    }
    if (o.framesPort.isEmpty())
        return bad(QStringLiteral("monitor needs --frames PORT (the microcontroller's line)"));
    if (o.answersPort == o.framesPort)
        return bad(QStringLiteral("--frames and --answers name the same port"));

    Monitor monitor(o);
    int code = ExitDone;
    if (!monitor.start(&code))
        return code;
    Interrupts::onSignal(&monitor, [&monitor] { monitor.stop(ExitDone); });
    return QCoreApplication::exec();
}
