#include "cache.h"
#include "codepage.h"
#include "controltags.h"
#include "fakelink.h"
#include "frame.h"
#include "hexeditor.h"
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

namespace {

// The board at the far end of a pseudo-terminal: it answers every whole frame it reads with
// answers (nothing when empty); synthesis, cache play and the status query also get "O".
class AnsweringPeer : public PtyPeer
{
public:
    explicit AnsweringPeer(const QByteArray &answers)
    {
        connect(this, &PtyPeer::bytesReceived, this, [this, answers] {
            while (received().size() - m_taken >= 3) {
                const QByteArray rest = received().mid(m_taken);
                const int size = 3 + (quint8(rest.at(1)) << 8) + quint8(rest.at(2));
                if (rest.size() < size)
                    return;
                m_taken += size;
                const quint8 command = quint8(rest.at(3));
                if (answers.isEmpty())
                    continue;
                answer(answers);
                if (command == 0x01 || command == 0x32 || command == 0x21)
                    answer("O");
            }
        });
    }

private:
    qsizetype m_taken = 0;
};

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Runs orv4120 to its end while the event loop serves the peer.
Run runCli(const QStringList &arguments, const QByteArray &input = {})
{
    QProcess process;
    process.start(QStringLiteral(ORV_CLI), arguments);
    process.write(input);
    process.closeWriteChannel();
    QSignalSpy finished(&process, &QProcess::finished);
    if (!finished.wait(20000))
        process.kill();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
        process.readAllStandardOutput(), process.readAllStandardError()};
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
    void wireBytes_data();
    void wireBytes();
    void exitCodes_data();
    void exitCodes();
    void jsonEvents_data();
    void jsonEvents();
    void soakOnThreeBoards();
    void soakPlaysTheScript();
};

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

void TstCli::soakOnThreeBoards()
{
    QTemporaryDir dir;
    QFile texts(dir.filePath(QStringLiteral("texts.txt")));
    QVERIFY(texts.open(QIODevice::WriteOnly));
    texts.write("你好\n\n欢迎使用\n");
    texts.close();
    AnsweringPeer silent {QByteArray()};
    const Run run = runCli(QStringList {"soak", "--duration", "1", "--texts", texts.fileName(),
                               "--report-dir", dir.path(), "--timeout", "0.2", "--json", "--port",
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
    for (const QJsonObject &e : events(run.out)) {
        if (e.value(QStringLiteral("event")).toString() == u"summary")
            summaries << e.value(QStringLiteral("board")).toString();
    }
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

QTEST_GUILESS_MAIN(TstCli)
#include "tst_cli.moc"
