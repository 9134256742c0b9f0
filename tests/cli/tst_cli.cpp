#include "boards.h"
#include "cache.h"
#include "clirun.h"
#include "codepage.h"
#include "controltags.h"
#include "fakelink.h"
#include "frame.h"
#include "hexeditor.h"
#include "linkfaults.h"
#include "options.h"
#include "ptypeer.h"
#include "session.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Runs orv4120 to its end while the event loop serves the peer; setUp runs in the child.
Run runCli(
    const QStringList &arguments, const QByteArray &input = {}, std::function<void()> setUp = {})
{
    return runProgram(QStringLiteral(ORV_CLI), arguments, input, {}, std::move(setUp));
}

// Starts orv4120, sends SIGINT once ready() holds, and runs it to its end.
Run interruptCli(const QStringList &arguments, std::function<bool()> ready)
{
    QProcess process;
    process.start(QStringLiteral(ORV_CLI), arguments);
    process.closeWriteChannel();
    QSignalSpy finished(&process, &QProcess::finished);
    if (process.waitForStarted(5000) && QTest::qWaitFor(ready, 10000))
        ::kill(pid_t(process.processId()), SIGINT);
    if (!finished.wait(10000))
        process.kill();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
        process.readAllStandardOutput(), process.readAllStandardError()};
}

// The last event of a JSON run.
QJsonObject lastEvent(const QByteArray &out)
{
    return QJsonDocument::fromJson(out.trimmed().split('\n').last()).object();
}

// orv4120-board as its own program, with the path of its pseudo-terminal.
struct BoardProcess
{
    QProcess process;
    QString path;
    explicit BoardProcess(const QStringList &arguments)
    {
        process.start(
            QStringLiteral(ORV_BOARD), QStringList {"--quiet", "--speech-scale", "0"} + arguments);
        if (process.waitForReadyRead(10000))
            path = QString::fromUtf8(process.readLine()).trimmed();
    }
    ~BoardProcess()
    {
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill();
    }
};

// The first number in text that regex captures.
int captured(const QString &text, const QString &regex)
{
    const QRegularExpressionMatch m =
        QRegularExpression(regex, QRegularExpression::DotMatchesEverythingOption).match(text);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

// The frames the window's text pipeline makes of a text, piece after piece.
QByteArray textFrames(const QString &text, Command command, quint8 parameter, int encoding)
{
    FakeLink link;
    Session session;
    session.attachLink(&link, AnswerRule::SerialCharacters);
    session.setCodeTablePath(QStringLiteral(ORV_CODE_TABLE));
    QByteArray frames;
    for (QStringView rest = text; !rest.isEmpty();) {
        const TextFrame piece = session.textFrame(rest, command, parameter, encoding);
        if (piece.keepChars == 0)
            return {};
        frames += piece.frame;
        rest = rest.sliced(piece.keepChars);
    }
    return frames;
}

QList<QJsonObject> events(const QByteArray &out)
{
    QList<QJsonObject> list;
    for (const QByteArray &line : out.split('\n')) {
        if (!line.isEmpty())
            list << QJsonDocument::fromJson(line).object();
    }
    return list;
}

const QStringList kFastVirtual {QStringLiteral("--virtual"), QStringLiteral("--virtual-accept-ms"),
    QStringLiteral("0"), QStringLiteral("--virtual-speech-scale"), QStringLiteral("0")};

}   // namespace

class TstCli : public QObject
{
    Q_OBJECT
private slots:
    void parsing_data();
    void parsing();
    void virtualBoardOptions_data();
    void virtualBoardOptions();
    void linkFaultMessages_data();
    void linkFaultMessages();
    void wireBytes_data();
    void wireBytes();
    void exitCodes_data();
    void exitCodes();
    void jsonEvents_data();
    void jsonEvents();
    void answerLinesBeforeTheResult_data();
    void answerLinesBeforeTheResult();
    void answerLinesBeforeAnEarlyEnd();
    void soakOnThreeBoards();
    void soakPlaysTheScript();
    void resultEventOnEveryExit_data();
    void resultEventOnEveryExit();
    void inputNeverHoldsOffSignals_data();
    void inputNeverHoldsOffSignals();
    void interruptedRuns_data();
    void interruptedRuns();
    void textChecks_data();
    void textChecks();
    void boardTextEscaped();
    void statusSaysWhatTheChipSaid_data();
    void statusSaysWhatTheChipSaid();
    void soakEndsWhenNoBoardIsLeft();
    void soakReportThatDoesNotFit();
    void boardSpeedAsDocumented();
    void boardBoundsWhatItTakes();
};

// The board's pseudo-terminal opened raw, past the board's power-up answer; -1 when it cannot be.
static int openQuietBoard(const QString &path, int flags)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | flags);
    if (fd < 0)
        return -1;
    termios raw {};
    ::tcgetattr(fd, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(fd, TCSANOW, &raw);
    QTest::qWait(400);
    ::tcflush(fd, TCIFLUSH);
    return fd;
}

void TstCli::parsing_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("parsed");   // boards and what they are, or "exit N"
    QTest::newRow("--usb before the command takes no path")
        << QStringList {"--usb", "say", "x"} << QStringLiteral("say: usb");
    QTest::newRow("--usb takes a path that starts with /") << QStringList {
        "--usb", "/dev/hidraw3", "stop"} << QStringLiteral("stop: usb /dev/hidraw3");
    QTest::newRow("--usb=PATH") << QStringList {"stop", "--usb=/dev/hidraw4"}
                                << QStringLiteral("stop: usb /dev/hidraw4");
    QTest::newRow("--virtual --usb is the virtual USB board")
        << QStringList {"status", "--virtual", "--usb"} << QStringLiteral("status: virtual-usb");
    QTest::newRow("several boards for soak, with the virtual one") << QStringList {"soak",
        "--duration", "1.5h", "--port", "COM2", "--port", "/dev/ttyUSB1",
        "--virtual"} << QStringLiteral("soak: serial COM2, serial /dev/ttyUSB1, virtual");
    QTest::newRow("several boards for another command")
        << QStringList {"stop", "--port", "a", "--port", "b"} << QStringLiteral("exit 2");
    QTest::newRow("an option the command does not take")
        << QStringList {"say", "x", "--duration", "1", "--virtual"} << QStringLiteral("exit 2");
    QTest::newRow("a text that starts with - after --")
        << QStringList {"--virtual", "say", "--", "-5度"} << QStringLiteral("say: virtual");
    QTest::newRow("soak without a duration")
        << QStringList {"soak", "--virtual"} << QStringLiteral("exit 2");
    QTest::newRow("a speed the window does not offer")
        << QStringList {"stop", "--virtual", "--baud", "19200"} << QStringLiteral("exit 2");
    QTest::newRow("an option given twice") << QStringList {"say", "x", "--virtual", "--encoding",
        "gbk", "--encoding", "big5"} << QStringLiteral("exit 2");
    QTest::newRow("a flag given twice, as -q and --quiet")
        << QStringList {"stop", "--virtual", "-q", "--quiet"} << QStringLiteral("exit 2");
    QTest::newRow("--no-stop for a command that does not speak")
        << QStringList {"stop", "--virtual", "--no-stop"} << QStringLiteral("exit 2");
}

void TstCli::parsing()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, parsed);
    QList<QByteArray> raw;
    for (const QString &a : arguments)
        raw << a.toUtf8();
    const ParsedCommandLine r = parseCommandLine(raw);
    if (r.exitNow) {
        QCOMPARE(QStringLiteral("exit %1").arg(r.exitCode), parsed);
        return;
    }
    static const char *const kKinds[] = {"serial", "usb", "virtual", "virtual-usb"};
    QStringList boards;
    for (const BoardSpec &b : r.options.boards)
        boards << (QLatin1String(kKinds[int(b.kind)]) + u' ' + b.path).trimmed();
    QCOMPARE(r.options.command + QStringLiteral(": ") + boards.join(QStringLiteral(", ")), parsed);
    if (r.options.command == u"soak")
        QCOMPARE(r.options.durationS, 5400.0);
}

void TstCli::virtualBoardOptions_data()
{
    QTest::addColumn<QStringList>("arguments");   // after "stop --virtual"
    // baud, accept delay, speech scale, playback, USB acknowledgements; or the refused option
    QTest::addColumn<QString>("board");
    QTest::newRow("defaults") << QStringList {} << QStringLiteral("9600 4 1 play ready");
    QTest::newRow("the line speed of --baud")
        << QStringList {"--baud", "115200"} << QStringLiteral("115200 4 1 play ready");
    QTest::newRow("faster speech is timed silently")
        << QStringList {"--virtual-speech-scale", "0.5"} << QStringLiteral("9600 4 0.5 - ready");
    QTest::newRow("accept delay and acknowledgements")
        << QStringList {"--usb", "--virtual-accept-ms", "0", "--virtual-usb-acks", "all"}
        << QStringLiteral("9600 0 1 play all");
    QTest::newRow("acknowledgements of full reports") << QStringList {
        "--usb", "--virtual-usb-acks", "full"} << QStringLiteral("9600 4 1 play full");
    QTest::newRow("a refused delay")
        << QStringList {"--virtual-accept-ms", "-1"} << QStringLiteral("--virtual-accept-ms");
    QTest::newRow("a refused scale") << QStringList {"--virtual-speech-scale", "fast"}
                                     << QStringLiteral("--virtual-speech-scale");
}

void TstCli::virtualBoardOptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, board);
    QList<QByteArray> raw {"stop", "--virtual"};
    for (const QString &a : arguments)
        raw << a.toUtf8();
    const ParsedCommandLine parsed = parseCommandLine(raw);
    QVERIFY2(!parsed.exitNow, qPrintable(parsed.output));
    QString error;
    const VirtualBoardOptions options = ::virtualBoardOptions(parsed.options, &error);
    if (board.startsWith(u'-')) {
        QVERIFY2(error.startsWith(board), qPrintable(error));
        return;
    }
    QVERIFY2(error.isEmpty(), qPrintable(error));
    static const char *const kAcks[] = {"full", "all", "ready"};
    QCOMPARE(QStringLiteral("%1 %2 %3 %4 %5")
                 .arg(options.baud)
                 .arg(options.acceptDelayMs)
                 .arg(options.speechScale)
                 .arg(options.playback ? "play" : "-")
                 .arg(QLatin1String(kAcks[int(options.usbAcks)])),
        board);
}

void TstCli::linkFaultMessages_data()
{
    using Kind = LinkFault::Kind;
    QTest::addColumn<LinkFault>("fault");
    QTest::addColumn<QString>("message");
    const QString io = QStringLiteral("Input/output error");
    QTest::newRow("serial device gone") << LinkFault(Kind::SerialGone, "ttyUSB0",
        io) << "ttyUSB0: the device is gone (Input/output error); the port is closed";
    QTest::newRow("serial write failed") << LinkFault(Kind::SerialWriteFailed, "ttyUSB0",
        io) << "ttyUSB0: a write failed (Input/output error); the port is closed";
    QTest::newRow("serial stalled") << LinkFault(Kind::SerialStalled, "pts/3", {},
        4096) << "pts/3: writing stalled with 4096 bytes not sent; the port is closed";
    QTest::newRow("serial reopened") << LinkFault(Kind::SerialReopened, "/dev/ttyUSB1")
                                     << "/dev/ttyUSB1: the device is back and the port open again";
    QTest::newRow("USB lost") << LinkFault(Kind::UsbLost, "/dev/hidraw2", io)
                              << "the USB board /dev/hidraw2 is lost (Input/output error)";
    QTest::newRow("USB lost, the system silent")
        << LinkFault(Kind::UsbLost) << "the USB board is lost";
    QTest::newRow("USB short write")
        << LinkFault(Kind::UsbShortWrite, "/dev/hidraw2", {}, 20, 33)
        << "the USB board /dev/hidraw2 took only 20 of the 33 bytes of a report; the link is "
           "closed";
    QTest::newRow("USB acknowledgement late")
        << LinkFault(Kind::UsbAckTimeout, "/dev/hidraw2")
        << "the USB board /dev/hidraw2 did not acknowledge a report with 0x5E in time; the frame "
           "is dropped";
    QTest::newRow("USB no permission")
        << LinkFault(Kind::UsbNoPermission, "/dev/hidraw2")
        << "no permission to open the USB board /dev/hidraw2; install the udev rule "
           "70-orv4120.rules and plug the board in again";
    QTest::newRow("USB board not found") << LinkFault(
        Kind::UsbNotFound) << "the USB board is not found; the frames waiting for it are dropped";
    QTest::newRow("USB board not connected")
        << LinkFault(Kind::UsbNotConnected) << "no USB board is connected; the frame is not sent";
    QTest::newRow("USB empty frame")
        << LinkFault(Kind::UsbEmptyFrame) << "a frame without bytes is not sent";
    QTest::newRow("USB short reports")
        << LinkFault(Kind::UsbShortReports, {}, {}, 17, 33)
        << "the output reports of the USB board hold 17 bytes, fewer than 33; the frame is not "
           "sent";
}

void TstCli::linkFaultMessages()
{
    QFETCH(LinkFault, fault);
    QFETCH(QString, message);
    QCOMPARE(linkFaultMessage(fault), message);
}

void TstCli::wireBytes_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("frames");
    QTest::addColumn<QString>("lastLine");
    const QString hello = QStringLiteral("你好");
    const auto synth = [](const QString &text, int encoding) {
        return textFrames(text, Command::Synthesize, quint8(encoding), encoding);
    };
    QTest::newRow("say, GBK") << QStringList {"say", hello} << QByteArray() << synth(hello, 1)
                              << QStringLiteral("<---- 返回：4F  芯片空闲");
    QTest::newRow("say, BIG5, a line break as CR LF")
        << QStringList {"say", "--encoding", "big5", "欢迎\n光临"} << QByteArray()
        << synth(QStringLiteral("欢迎\n光临"), 2) << QString();
    QTest::newRow("say -, UTF-16BE, the file's last line break left out")
        << QStringList {"say", "--encoding", "utf16be", "-"} << QByteArray("你好\r\n")
        << synth(hello, 4) << QString();
    QTest::newRow("say -, GBK input") << QStringList {"say", "--input-encoding", "gbk", "-"}
                                      << toGbk(hello) << synth(hello, 1) << QString();
    const QString longText = QString(3000, u'中');   // 6000 bytes: two serial frames
    QTest::newRow("say, a long text in two pieces")
        << QStringList {"say", longText} << QByteArray() << synth(longText, 1) << QString();
    QTest::newRow("stop") << QStringList {"stop"} << QByteArray() << commandFrame(Command::Stop)
                          << QStringLiteral("<---- 返回：41  接收成功");
    QTest::newRow("tag volume 0 is the bar's lowest value")
        << QStringList {"tag", "volume", "0"} << QByteArray()
        << *barTagFrame(TagBar::Volume, kTagBarMinimum) << QString();
    QTest::newRow("tag voice by name") << QStringList {"tag", "voice", voiceNames().at(3)}
                                       << QByteArray() << *voiceTagFrame(3) << QString();
    QTest::newRow("cache store") << QStringList {"cache", "store", "3", "你好"} << QByteArray()
                                 << textFrames(hello, Command::CacheStore, 3, 1) << QString();
    QTest::newRow("cache play 15, GB2312")
        << QStringList {"cache", "play", "15", "--encoding", "gb2312"} << QByteArray()
        << cachePlayFrame(15, 0) << QString();
    QTest::newRow("raw with the header")
        << QStringList {"raw", "--header", "--encoding", "utf16le", "60 4F"} << QByteArray()
        << headerPlayFrame(QStringLiteral("60 4F"), 3).bytes << QString();
    QTest::newRow("status prints the state last")
        << QStringList {"status"} << QByteArray() << commandFrame(Command::StatusQuery)
        << QStringLiteral("idle");
}

void TstCli::wireBytes()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, frames);
    QFETCH(QString, lastLine);
    QVERIFY(!frames.isEmpty());
    AnsweringPeer peer("A");
    QVERIFY(peer.isOpen());
    const Run run =
        runCli(arguments + QStringList {"--port", peer.slavePath(), "--baud", "115200"}, input);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(peer.received().toHex(' '), frames.toHex(' '));
    if (!lastLine.isEmpty())
        QCOMPARE(QString::fromUtf8(run.out).trimmed().split(u'\n').last(), lastLine);
}

void TstCli::exitCodes_data()
{
    QTest::addColumn<QStringList>("arguments");   // "PEER" stands for the peer's device
    QTest::addColumn<QByteArray>("answers");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<bool>("sends");
    QTest::newRow("unknown command")
        << QStringList {"frob", "--port", "PEER"} << QByteArray("A") << 2 << false;
    QTest::newRow("hex that breaks the editor's rules")
        << QStringList {"raw", "FD 0G 01", "--port", "PEER"} << QByteArray("A") << 2 << false;
    QTest::newRow("segment out of range") << QStringList {"cache", "store", "16", "x", "--port",
        "PEER"} << QByteArray("A") << 2 << false;
    QTest::newRow("a segment for cache play") << QStringList {"cache", "play", "3", "2", "--port",
        "PEER"} << QByteArray("A") << 2 << false;
    QTest::newRow("--strict and a character BIG5 cannot carry")
        << QStringList {"say", "--strict", "--encoding", "big5", "你好😀", "--port", "PEER"}
        << QByteArray("A") << 2 << false;
    QTest::newRow("a cache-store text longer than one frame")
        << QStringList {"cache", "store", "0", QString(4092, u'a'), "--port", "PEER"}
        << QByteArray("A") << 2 << false;
    QTest::newRow("the port is missing")
        << QStringList {"stop", "--port", "/dev/orv4120-none"} << QByteArray() << 3 << false;
    QTest::newRow("the USB board path is missing")
        << QStringList {"stop", "--usb", "/dev/orv4120-none"} << QByteArray() << 3 << false;
    QTest::newRow("no answer in time")
        << QStringList {"stop", "--port", "PEER", "--timeout", "0.3"} << QByteArray() << 4 << true;
    QTest::newRow("--no-wait: done once the frame is written")
        << QStringList {"stop", "--port", "PEER", "--no-wait"} << QByteArray() << 0 << true;
    QTest::newRow("the chip answers 0x45")
        << QStringList {"stop", "--port", "PEER"} << QByteArray("E") << 5 << true;
    for (const char *acks : {"full", "all", "ready"}) {
        QTest::addRow("version over USB, acks %s", acks)
            << QStringList {"version", "--virtual", "--usb", "--virtual-usb-acks", acks}
            << QByteArray() << 6 << false;
    }
}

void TstCli::exitCodes()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, answers);
    QFETCH(int, exitCode);
    QFETCH(bool, sends);
    AnsweringPeer peer(answers);
    arguments.replaceInStrings(QStringLiteral("PEER"), peer.slavePath());
    const Run run = runCli(arguments);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(exitCode == 0 || run.err.startsWith("orv4120: "), run.err.constData());
    QCOMPARE(!peer.received().isEmpty(), sends);
}

void TstCli::jsonEvents_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("expected");   // event and code of each event
    QTest::addColumn<QString>("sentText");
    // Speech long enough to outlast the board's power-up answer: 0x4A must not end it.
    QTest::newRow("say over the serial board")
        << QStringList {"say", "你好", "--virtual", "--virtual-speech-scale", "0.9"}
        << QStringList {"sent", "answer 41", "answer 4F", "result"} << QStringLiteral("你好");
    // Over USB with each board: a text of several reports, then a query; whichever reports the
    // board answers with 0x5E, the frame leaves whole and the chip's answers come.
    const QString text = QStringLiteral(
        "欢迎观看语音合成系统的演示，银行行长穿过人行道向骑着自行车的银行职员行走过去");
    for (const char *acks : {"full", "all", "ready"}) {
        const QStringList board =
            QStringList {"--usb", "--virtual-usb-acks", QString::fromLatin1(acks)} + kFastVirtual;
        QTest::addRow("say over the USB board, acks %s", acks)
            << (QStringList {"say", text} + board)
            << QStringList {"sent", "answer AA", "answer 41", "answer 4F", "result"} << text;
        QTest::addRow("status over the USB board, acks %s: the receipt is the first answer", acks)
            << (QStringList {"status"} + board)
            << QStringList {"sent", "answer AA", "answer 41", "answer 4F", "result"} << QString();
    }
}

void TstCli::jsonEvents()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, expected);
    QFETCH(QString, sentText);
    const Run run = runCli(arguments + QStringList {"--json"});
    QCOMPARE(run.exitCode, 0);
    QStringList got;
    qint64 id = -1;
    for (const QJsonObject &e : events(run.out)) {
        if (e.value(QStringLiteral("unsolicited")).toBool())
            continue;   // the board's 0x4A may come in time
        const QString event = e.value(QStringLiteral("event")).toString();
        if (event == u"log")
            continue;   // the work log, as in the readable output
        got << (event + u' ' + e.value(QStringLiteral("code")).toString()).trimmed();
        if (event == u"sent") {
            id = e.value(QStringLiteral("id")).toInteger();
            QCOMPARE(e.value(QStringLiteral("frame")).toObject().value(QStringLiteral("text")),
                sentText.isEmpty() ? QJsonValue(QJsonValue::Undefined) : QJsonValue(sentText));
        } else if (event == u"answer") {
            QCOMPARE(e.value(QStringLiteral("id")).toInteger(), id);
            QCOMPARE(e.contains(QStringLiteral("latency_ms")), got.size() == 2);
            QVERIFY(!e.value(QStringLiteral("label")).toString().isEmpty());
        } else {
            QCOMPARE(e.value(QStringLiteral("exit")).toInt(), 0);
        }
    }
    QCOMPARE(got, expected);
}

void TstCli::answerLinesBeforeTheResult_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("answers");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("lines");   // the answer lines of the log, before the result
    const QString taken = QStringLiteral("<---- 返回：41  接收成功");
    const QString idle = QStringLiteral("<---- 返回：4F  芯片空闲");
    QTest::newRow("stop") << QStringList {"stop"} << QByteArray("A") << 0 << QStringList {taken};
    QTest::newRow("status") << QStringList {"status"} << QByteArray("A") << 0
                            << QStringList {taken, idle};
    QTest::newRow("say") << QStringList {"say", "你好"} << QByteArray("A") << 0
                         << QStringList {taken, idle};
    QTest::newRow("refused") << QStringList {"stop"} << QByteArray("E") << 5
                             << QStringList {QStringLiteral("<---- 返回：45  接收失败")};
}

void TstCli::answerLinesBeforeTheResult()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, answers);
    QFETCH(int, exitCode);
    QFETCH(QStringList, lines);
    for (const bool json : {false, true}) {
        AnsweringPeer peer(answers);
        const Run run = runCli(arguments + QStringList {"--port", peer.slavePath()}
            + (json ? QStringList {"--json"} : QStringList {}));
        QCOMPARE(run.exitCode, exitCode);
        QStringList got;
        bool resultLast = false;
        if (json) {
            for (const QJsonObject &e : events(run.out)) {
                const QString text = e.value(QStringLiteral("text")).toString();
                resultLast = e.value(QStringLiteral("event")).toString() == u"result";
                if (e.value(QStringLiteral("event")).toString() == u"log"
                    && text.startsWith(u"<----"))
                    got << text;
            }
        } else {
            const QStringList out = QString::fromUtf8(run.out).trimmed().split(u'\n');
            for (const QString &line : out) {
                if (line.startsWith(u"<----"))
                    got << line;
            }
            // status prints its state after the log
            resultLast = out.last() == lines.last() || out.last() == u"idle";
        }
        QVERIFY2(resultLast, run.out.constData());
        QCOMPARE(got, lines);
    }
}

// A run that ends while the answers that came are still in the log's pause (the speech bound
// runs out first) waits for their lines before it gives its result.
void TstCli::answerLinesBeforeAnEarlyEnd()
{
    AnsweringPeer peer(QByteArray("AN"), false);
    const Run run =
        runCli({"say", "你好", "--speech-timeout", "0.001", "--json", "--port", peer.slavePath()});
    QCOMPARE(run.exitCode, int(ExitNoAnswer));
    QStringList got;
    const QList<QJsonObject> all = events(run.out);
    for (const QJsonObject &e : all) {
        if (e.value(QStringLiteral("event")).toString() == u"log")
            got << e.value(QStringLiteral("text")).toString();
    }
    QVERIFY2(!all.isEmpty() && all.last().value(QStringLiteral("event")).toString() == u"result",
        run.out.constData());
    QVERIFY2(got.contains(QStringLiteral("<---- 返回：4E  芯片正在播音")), run.out.constData());
}

void TstCli::soakOnThreeBoards()
{
    QTemporaryDir dir;
    const QString texts = writeFile(dir, QStringLiteral("texts.txt"), "你好\n\n欢迎使用\n");
    QVERIFY(!texts.isEmpty());
    AnsweringPeer silent {QByteArray()};
    const Run run = runCli(QStringList {"soak", "--duration", "1", "--texts", texts, "--report-dir",
                               dir.path(), "--timeout", "0.2", "--json", "--port",
                               silent.slavePath(), "--port", "/dev/orv4120-none"}
        + kFastVirtual);
    // The missing board is the worst outcome; the two others ran to the end all the same.
    QCOMPARE(run.exitCode, 3);
    const QStringList reports =
        QDir(dir.path()).entryList({QStringLiteral("soak-*.csv")}, QDir::Files, QDir::Name);
    QCOMPARE(reports.size(), 2);
    QCOMPARE(QDir(dir.path()).entryList({QStringLiteral("soak-*.txt")}).size(), 2);
    int answered = 0;
    int unanswered = 0;
    for (const QString &name : reports) {
        QFile csv(dir.filePath(name));
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QList<QByteArray> rows = csv.readAll().trimmed().split('\n').mid(1);
        for (const QByteArray &row : rows) {
            if (row.contains(',' + silent.slavePath().toUtf8() + ','))
                unanswered += row.trimmed().endsWith("无应答") ? 1 : 1000;
            else if (row.contains(",4F,"))
                ++answered;
        }
    }
    QVERIFY2(unanswered >= 3 && unanswered < 1000, qPrintable(QString::number(unanswered)));
    QVERIFY2(answered >= 10, qPrintable(QString::number(answered)));
    QStringList summaries;
    QStringList virtualFirst;   // the virtual board's first answer and frame, in order
    for (const QJsonObject &e : events(run.out)) {
        const QString event = e.value(QStringLiteral("event")).toString();
        if (event == u"summary")
            summaries << e.value(QStringLiteral("board")).toString();
        const bool virtualBoard =
            e.value(QStringLiteral("board")).toString().startsWith(u"virtual:");
        if (virtualBoard && (event == u"answer" || event == u"sent") && virtualFirst.size() < 2)
            virtualFirst << event + e.value(QStringLiteral("code")).toString();
    }
    // The board that has just started is sent nothing before its power-up answer.
    QCOMPARE(virtualFirst, (QStringList {"answer4A", "sent"}));
    QCOMPARE(summaries.size(), 3);
    QCOMPARE(summaries.last(), QStringLiteral("all"));
}

void TstCli::soakPlaysTheScript()
{
    QTemporaryDir dir;
    const Run run = runCli(QStringList {"soak", "--duration", "1", "--wait-scale", "0.001",
                               "--report-dir", dir.path(), "--json", "--baud", "115200"}
        + kFastVirtual);
    QCOMPARE(run.exitCode, 0);
    QStringList texts;
    for (const QJsonObject &e : events(run.out)) {
        if (e.value(QStringLiteral("event")).toString() == u"sent")
            texts << e.value(QStringLiteral("frame"))
                         .toObject()
                         .value(QStringLiteral("text"))
                         .toString();
    }
    QVERIFY(texts.size() > 20);
    QCOMPARE(texts.first(), QStringLiteral("sound101 1"));   // the first phase's marker
}

void TstCli::resultEventOnEveryExit_data()
{
    QTest::addColumn<QStringList>("arguments");   // "PEER": the peer's device, "FILE": a file
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");   // what the result's message holds
    QTest::newRow("a command line that cannot be read")
        << QStringList {"frob", "--port", "PEER"} << 2 << QStringLiteral("unknown command");
    QTest::newRow("bad input found before the port is opened") << QStringList {
        "cache", "store", "16", "x", "--port", "PEER"} << 2 << QStringLiteral("segment");
    QTest::newRow("the port is missing") << QStringList {"stop", "--port", "/dev/orv4120-none"} << 3
                                         << QStringLiteral("no such device");
    QTest::newRow("the link cannot carry the command")
        << QStringList {"version", "--virtual", "--usb"} << 6 << QStringLiteral("USB");
    QTest::newRow("a report folder that is a file")
        << QStringList {"soak", "--duration", "1", "--report-dir", "FILE", "--port", "PEER"} << 2
        << QStringLiteral("FILE is not a folder");
    QTest::newRow("a report folder that does not exist")
        << QStringList {"soak", "--duration", "1", "--report-dir", "FILE/none", "--port", "PEER"}
        << 2 << QStringLiteral("FILE/none does not exist");
}

void TstCli::resultEventOnEveryExit()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("file"));
    QFile(file).open(QIODevice::WriteOnly);
    AnsweringPeer peer("A");
    arguments.replaceInStrings(QStringLiteral("PEER"), peer.slavePath());
    arguments.replaceInStrings(QStringLiteral("FILE"), file);
    message.replace(QStringLiteral("FILE"), file);
    const Run run = runCli(arguments + QStringList {"--json"});
    QCOMPARE(run.exitCode, exitCode);
    const QJsonObject result = lastEvent(run.out);
    QCOMPARE(result.value(QStringLiteral("event")).toString(), QStringLiteral("result"));
    QCOMPARE(result.value(QStringLiteral("exit")).toInt(), exitCode);
    QVERIFY2(
        result.value(QStringLiteral("message")).toString().contains(message), run.out.constData());
    QVERIFY(peer.received().isEmpty());
}

void TstCli::inputNeverHoldsOffSignals_data()
{
    QTest::addColumn<QStringList>("arguments");   // "FIFO": a FIFO no one writes to
    QTest::addColumn<bool>("interrupt");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("say -f a FIFO without a writer")
        << QStringList {"say", "-f", "FIFO"} << true << 1;
    QTest::newRow("soak --texts a FIFO without a writer") << QStringList {"soak", "--duration", "1",
        "--texts", "FIFO", "--report-dir", "DIR"} << true << 1;
    QTest::newRow("say -f a device without an end")
        << QStringList {"say", "-f", "/dev/zero"} << false << 2;
    QTest::newRow("soak --texts a device without an end")
        << QStringList {"soak", "--duration", "1", "--texts", "/dev/zero", "--report-dir", "DIR"}
        << false << 2;
}

void TstCli::inputNeverHoldsOffSignals()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, interrupt);
    QFETCH(int, exitCode);
    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("fifo"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    AnsweringPeer peer("A");
    arguments.replaceInStrings(QStringLiteral("FIFO"), fifo);
    arguments.replaceInStrings(QStringLiteral("DIR"), dir.path());
    arguments << "--port" << peer.slavePath() << "--json";
    QElapsedTimer started;
    started.start();
    // A gigabyte of address space: far more than a run needs, far less than an input without
    // an end would take.
    const Run run = interrupt
        ? interruptCli(arguments, [&started] { return started.elapsed() > 300; })
        : runCli(arguments, {}, [] {
              const rlimit limit {1L << 30, 1L << 30};
              ::setrlimit(RLIMIT_AS, &limit);
          });
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(lastEvent(run.out).value(QStringLiteral("exit")).toInt(), exitCode);
    QVERIFY(peer.received().isEmpty());
}

void TstCli::interruptedRuns_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("lastFrame");   // the last the board received
    QTest::newRow("say stops the speech")
        << QStringList {"say", "你好"} << commandFrame(Command::Stop);
    QTest::newRow("say --no-stop leaves it") << QStringList {"say", "你好",
        "--no-stop"} << textFrames(QStringLiteral("你好"), Command::Synthesize, 1, 1);
    QTest::newRow("cache play stops the speech")
        << QStringList {"cache", "play", "2"} << commandFrame(Command::Stop);
    QTest::newRow("soak ends with complete reports")
        << QStringList {"soak", "--duration", "60", "--texts", "TEXTS", "--report-dir", "DIR"}
        << textFrames(QStringLiteral("你好"), Command::Synthesize, 1, 1);
}

void TstCli::interruptedRuns()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, lastFrame);
    QTemporaryDir dir;
    const QString texts = writeFile(dir, QStringLiteral("texts.txt"), "你好\n");
    QVERIFY(!texts.isEmpty());
    arguments.replaceInStrings(QStringLiteral("TEXTS"), texts);
    arguments.replaceInStrings(QStringLiteral("DIR"), dir.path());
    AnsweringPeer peer("A", false);   // the speech never ends by itself
    const Run run = interruptCli(
        arguments + QStringList {"--port", peer.slavePath(), "--json", "--timeout", "0.5"},
        [&peer] { return !peer.received().isEmpty(); });
    QCOMPARE(run.exitCode, 1);
    const QJsonObject result = lastEvent(run.out);
    QCOMPARE(result.value(QStringLiteral("event")).toString(), QStringLiteral("result"));
    QCOMPARE(result.value(QStringLiteral("exit")).toInt(), 1);
    QVERIFY(peer.received().endsWith(lastFrame));
    if (lastFrame == commandFrame(Command::Stop))
        QCOMPARE(result.value(QStringLiteral("message")).toString(),
            QStringLiteral("interrupted; the chip took the stop frame"));
    if (arguments.first() == u"soak")
        QCOMPARE(QDir(dir.path()).entryList({QStringLiteral("soak-*.txt")}).size(), 1);
}

void TstCli::textChecks_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("input");   // standard input
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("warning");   // what stderr says; empty: nothing
    const QStringList gbk {"--input-encoding", "gbk"};
    const QStringList strict = gbk + QStringList {"--strict"};
    QTest::newRow("GBK") << strict << toGbk(QStringLiteral("你好")) << 0 << QString();
    QTest::newRow("a lone FF, strict")
        << strict << QByteArray("ab\xff") << 2 << QStringLiteral("byte 3 is FF");
    QTest::newRow("a lone 80, strict")
        << strict << QByteArray("\x80") << 2 << QStringLiteral("byte 1 is 80");
    QTest::newRow("FE FE (user-defined), strict")
        << strict << QByteArray("\xfe\xfe") << 2 << QStringLiteral("byte 1 is FE FE");
    QTest::newRow("a lone FF, a warning")
        << gbk << QByteArray("ab\xff") << 0 << QStringLiteral("warning: the text is not valid GBK");
    QTest::newRow("NUL, strict") << QStringList {"--strict"} << QByteArray("a\0b", 3) << 2
                                 << QStringLiteral("NUL character(s), the first at character 2");
    QTest::newRow("NUL, a warning") << QStringList() << QByteArray("a\0b", 3) << 0
                                    << QStringLiteral("warning: the text holds 1 NUL");
}

void TstCli::textChecks()
{
    QFETCH(QStringList, options);
    QFETCH(QByteArray, input);
    QFETCH(int, exitCode);
    QFETCH(QString, warning);
    AnsweringPeer peer("A");
    const Run run = runCli(QStringList {"say", "-", "--port", peer.slavePath()} + options, input);
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(peer.received().isEmpty(), exitCode != 0);
    if (warning.isEmpty())
        QCOMPARE(run.err, QByteArray());
    else
        QVERIFY2(QString::fromUtf8(run.err).contains(warning), run.err.constData());
}

void TstCli::boardTextEscaped()
{
    // A version text that would set the terminal's title and clear the screen.
    const QByteArray hostile = "\x1b]0;owned\x07\x1b[2J\x9b"
                               "1m";
    AnsweringPeer peer("AS" + hostile);
    const Run readable = runCli({"version", "--port", peer.slavePath()});
    QCOMPARE(readable.exitCode, 0);
    QVERIFY2(
        !readable.out.contains('\x1b') && !readable.out.contains('\x07'), readable.out.constData());
    QVERIFY2(readable.out.contains("\\x1B]0;owned\\x07\\x1B[2J"), readable.out.constData());

    const Run json = runCli({"version", "--port", peer.slavePath(), "--json"});
    QCOMPARE(json.exitCode, 0);
    QVERIFY(!json.out.contains('\x1b') && !json.out.contains('\x07'));
    const QString version = lastEvent(json.out).value(QStringLiteral("version")).toString();
    QCOMPARE(version, fromGbk(hostile));   // escaped, not changed
}

void TstCli::statusSaysWhatTheChipSaid_data()
{
    QTest::addColumn<QByteArray>("answers");
    QTest::addColumn<QString>("state");
    QTest::newRow("4E") << QByteArray("AN") << QStringLiteral("playing");
    QTest::newRow("4F") << QByteArray("AO") << QStringLiteral("idle");
}

void TstCli::statusSaysWhatTheChipSaid()
{
    QFETCH(QByteArray, answers);
    QFETCH(QString, state);
    AnsweringPeer peer(answers);
    const Run run = runCli({"status", "--port", peer.slavePath(), "--json"});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(lastEvent(run.out).value(QStringLiteral("state")).toString(), state);
}

void TstCli::soakEndsWhenNoBoardIsLeft()
{
    QTemporaryDir dir;
    const QString texts = writeFile(dir, QStringLiteral("texts.txt"), "你好\n");
    QVERIFY(!texts.isEmpty());
    AnsweringPeer peer("A");
    connect(&peer, &PtyPeer::bytesReceived, &peer, [&peer] {
        if (peer.received().size() > 100)
            QTimer::singleShot(0, &peer, &PtyPeer::unplug);
    });
    QElapsedTimer clock;
    clock.start();
    // The program must not hold the peer's side of the pty too: it would never go.
    const Run run = runCli({"soak", "--duration", "10m", "--texts", texts, "--report-dir",
                               dir.path(), "--port", peer.slavePath()},
        {}, [] {
            for (int fd = 3; fd < 1024; ++fd)
                ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        });
    QCOMPARE(run.exitCode, 3);
    QVERIFY(clock.elapsed() < 20000);
    QCOMPARE(run.err.count("this board stops"), 1);
    QCOMPARE(run.err.count("no board is left"), 1);
    // Standard error in English; the report keeps the work log's words.
    QVERIFY2(run.err.contains("the device is gone"), run.err.constData());
    QVERIFY2(!QString::fromUtf8(run.err).contains(QStringLiteral("串口")), run.err.constData());
    const QStringList summaries = QDir(dir.path()).entryList({QStringLiteral("soak-*.txt")});
    QCOMPARE(summaries.size(), 1);
    QFile summary(QDir(dir.path()).filePath(summaries.first()));
    QVERIFY(summary.open(QIODevice::ReadOnly));
    QVERIFY(QString::fromUtf8(summary.readAll()).contains(QStringLiteral("串口设备已断开")));
}

void TstCli::soakReportThatDoesNotFit()
{
    QTemporaryDir dir;
    const QString texts = writeFile(dir, QStringLiteral("texts.txt"), "你好\n欢迎使用\n");
    QVERIFY(!texts.isEmpty());
    // No file of the run may grow beyond 1500 bytes: the CSV fills up after a few rows.
    const Run run = runCli(QStringList {"soak", "--duration", "1.5", "--texts", texts,
                               "--report-dir", dir.path(), "--json"}
            + kFastVirtual,
        {}, [] {
            const rlimit limit {1500, 1500};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        });
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains("the soak report is incomplete"), run.err.constData());
    QCOMPARE(lastEvent(run.out).value(QStringLiteral("exit")).toInt(), 1);
    const QStringList csv = QDir(dir.path()).entryList({QStringLiteral("soak-*.csv")});
    QCOMPARE(csv.size(), 1);
    QFile file(dir.filePath(csv.first()));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray rows = file.readAll();
    QVERIFY(rows.size() > 100 && rows.endsWith("\r\n"));   // whole rows only
    for (const QByteArray &row : rows.split('\n').mid(1, rows.count('\n') - 1))
        QVERIFY2(row.startsWith("20") && row.endsWith('\r'), row.constData());
    const QStringList summary = QDir(dir.path()).entryList({QStringLiteral("soak-*.txt")});
    QCOMPARE(summary.size(), 1);   // small enough to fit: it counts the rows lost
    QFile text(dir.filePath(summary.first()));
    QVERIFY(text.open(QIODevice::ReadOnly));
    QVERIFY(QString::fromUtf8(text.readAll()).contains(QStringLiteral("报告中缺")));
}

void TstCli::boardSpeedAsDocumented()
{
    QProcess help;
    help.start(QStringLiteral(ORV_BOARD), {"--help"});
    QVERIFY(help.waitForFinished(10000));
    const QString boardHelp = QString::fromUtf8(help.readAllStandardOutput());
    QFile readme(QStringLiteral(ORV_SOURCE_DIR "/README.md"));
    QVERIFY(readme.open(QIODevice::ReadOnly));
    QFile man(QStringLiteral(ORV_SOURCE_DIR "/data/man/orv4120-board.1"));
    QVERIFY(man.open(QIODevice::ReadOnly));
    const int documented = captured(QString::fromUtf8(readme.readAll()),
        QStringLiteral("The virtual board.*?`--baud`[^(]*\\(default (\\d+)"));
    QCOMPARE(documented, 9600);
    QCOMPARE(captured(boardHelp, QStringLiteral("--baud.*?(\\d+) \\(default\\)")), documented);
    QCOMPARE(
        captured(QString::fromUtf8(man.readAll()), QStringLiteral("-baud.*?(\\d+) \\(default\\)")),
        documented);
    QCOMPARE(CliOptions().baud, documented);

    // And the board keeps to it: 300 bytes take 312 ms at 9600 baud (26 ms at 115200).
    BoardProcess board({});
    QVERIFY(!board.path.isEmpty());
    const int fd = openQuietBoard(board.path, 0);
    QVERIFY(fd >= 0);
    QByteArray frame = QByteArray::fromHex("fd012d0001") + QByteArray(296, 'a');
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(::write(fd, frame.constData(), size_t(frame.size())), frame.size());
    pollfd in {fd, POLLIN, 0};
    QCOMPARE(::poll(&in, 1, 5000), 1);
    const qint64 answeredMs = clock.elapsed();
    ::close(fd);
    QVERIFY2(answeredMs >= 300, qPrintable(QString::number(answeredMs)));
}

void TstCli::boardBoundsWhatItTakes()
{
    BoardProcess board({"--baud", "9600"});
    QVERIFY(!board.path.isEmpty());
    const int fd = openQuietBoard(board.path, O_NONBLOCK);
    QVERIFY(fd >= 0);
    // A host that writes as fast as it can: the board takes what a 9600-baud line carries.
    const QByteArray zeros(1 << 16, '\0');
    qint64 written = 0;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 2000 && written < (64 << 20)) {
        const ssize_t n = ::write(fd, zeros.constData(), size_t(zeros.size()));
        if (n > 0) {
            written += n;
            continue;
        }
        pollfd out {fd, POLLOUT, 0};
        ::poll(&out, 1, 100);
    }
    QVERIFY2(written < (1 << 20), qPrintable(QString::number(written)));
    // A run of bytes that is no frame: one 0x45, as the chip answers it.
    QByteArray answers;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            char buffer[64];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0)
                answers.append(buffer, n);
            return !answers.isEmpty();
        }(),
        5000);
    QTest::qWait(300);
    char buffer[64];
    const ssize_t more = ::read(fd, buffer, sizeof buffer);
    answers.append(buffer, qMax<ssize_t>(more, 0));
    ::close(fd);
    QCOMPARE(answers, QByteArray("E"));
}

QTEST_GUILESS_MAIN(TstCli)
#include "tst_cli.moc"
