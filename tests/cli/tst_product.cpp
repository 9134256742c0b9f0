#include "clirun.h"
#include "codepage.h"
#include "fakelink.h"
#include "frame.h"
#include "ptypeer.h"
#include "session.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

Run runCli(const QStringList &arguments, const QByteArray &input = {})
{
    return runProgram(QStringLiteral(ORV_CLI), arguments, input);
}

// A byte on one of the two lines at a time in seconds.
struct WireByte
{
    double at;
    bool chip;
    quint8 value;
};

// Bytes sent one after the other at 115200 baud from a time on.
QList<WireByte> onWire(double at, bool chip, const QByteArray &bytes)
{
    QList<WireByte> out;
    for (const char b : bytes) {
        out.append({at, chip, quint8(b)});
        at += 10.0 / 115200;
    }
    return out;
}

// "Time [s],Value,Parity Error,Framing Error", one line a file.
QByteArray csvTimeValue(const QList<WireByte> &bytes, bool chip)
{
    QByteArray csv = "Time [s],Value,Parity Error,Framing Error\n";
    for (const WireByte &b : bytes) {
        if (b.chip == chip)
            csv += QByteArray::number(b.at, 'f', 9) + ",0x"
                + QByteArray::number(b.value, 16).toUpper().rightJustified(2, '0') + ",,\n";
    }
    return csv;
}

// "name,type,start_time,duration,data": both lines in one file, by name.
QByteArray csvNamed(QList<WireByte> bytes)
{
    std::stable_sort(bytes.begin(), bytes.end(),
        [](const WireByte &a, const WireByte &b) { return a.at < b.at; });
    QByteArray csv = "name,type,start_time,duration,data\n";
    for (const WireByte &b : bytes)
        csv += QByteArray(b.chip ? "\"RX\"" : "\"TX\"") + ",data,"
            + QByteArray::number(b.at, 'f', 9) + ",8.68e-05," + "0x"
            + QByteArray::number(b.value, 16).toUpper().rightJustified(2, '0') + '\n';
    return csv;
}

// What decode --json found, an item per event: "frame fd000102", "answer 41 4.09" (latency in
// ms), "cut", "stray", "oversized", "gap", "row 无应答".
QStringList decodedItems(const QByteArray &out)
{
    QStringList items;
    for (const QByteArray &line : out.split('\n')) {
        const QJsonObject e = QJsonDocument::fromJson(line).object();
        const QString event = e.value(QStringLiteral("event")).toString();
        if (event == u"frame") {
            items << QStringLiteral("frame ")
                    + QString(e.value(QStringLiteral("bytes")).toString()).remove(u' ').toLower();
        } else if (event == u"answer") {
            QString item = QStringLiteral("answer ") + e.value(QStringLiteral("code")).toString();
            if (e.contains(QStringLiteral("latency_ms")))
                item += u' '
                    + QString::number(e.value(QStringLiteral("latency_ms")).toDouble(), 'f', 2);
            items << item;
        } else if (event == u"cut_frame") {
            items << QStringLiteral("cut");
        } else if (event == u"row") {
            const QStringList problems =
                e.value(QStringLiteral("problems")).toVariant().toStringList();
            if (!problems.isEmpty())
                items << QStringLiteral("row ") + problems.join(u';');
        } else if (event == u"stray" || event == u"oversized" || event == u"gap") {
            items << event;
        }
    }
    return items;
}

// The desk of an engineer whose product talks to the chip: the test plays the microcontroller
// on the virtual board's pseudo-terminal (the board plays the chip), and a tap copies each
// direction to a pseudo-terminal of its own, on which orv4120 monitor listens.
class Desk : public QObject
{
public:
    ~Desk() override
    {
        for (QProcess *p : {&monitor, &board}) {
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(3000);
            }
        }
    }

    bool start(const QStringList &monitorOptions, bool withChip = true)
    {
        if (withChip) {
            board.start(QStringLiteral(ORV_BOARD),
                {"--quiet", "--speech-scale", "0.2", "--baud", "115200", "--accept-ms", "4"});
            QSignalSpy path(&board, &QProcess::readyReadStandardOutput);
            if (!path.wait(10000))
                return false;
            mcu.setPortName(QString::fromUtf8(board.readAllStandardOutput().trimmed()));
            mcu.setBaudRate(115200);
            if (!mcu.open(QIODevice::ReadWrite))
                return false;
            connect(&mcu, &QSerialPort::readyRead, this, [this] {
                const QByteArray bytes = mcu.readAll();
                chip += bytes;
                answersTap.answer(bytes);
            });
        }
        QStringList arguments {"monitor", "--frames", framesTap.slavePath(), "--json"};
        if (withChip)
            arguments << "--answers" << answersTap.slavePath();
        monitor.start(QStringLiteral(ORV_CLI), arguments + monitorOptions);
        connect(&monitor, &QProcess::readyReadStandardOutput, this,
            [this] { out += monitor.readAllStandardOutput(); });
        QElapsedTimer clock;
        clock.start();
        while (!out.contains("\"listening\"") && clock.elapsed() < 10000)
            QTest::qWait(10);
        QTest::qWait(600);   // the board's power-up answer, if it comes, before the script
        return out.contains("\"listening\"");
    }

    // Bytes from the microcontroller: to the chip and to the monitor's tap. The time they left.
    qint64 send(const QByteArray &bytes, bool chipHears = true)
    {
        const qint64 at = QDateTime::currentMSecsSinceEpoch();
        if (chipHears && mcu.isOpen())
            mcu.write(bytes);
        framesTap.answer(bytes);
        return at;
    }
    bool chipSaid(const QByteArray &bytes, int timeoutMs = 5000)
    {
        QElapsedTimer clock;
        clock.start();
        while (!chip.contains(bytes) && clock.elapsed() < timeoutMs)
            QTest::qWait(5);
        return chip.contains(bytes);
    }
    int stopMonitor()
    {
        monitor.terminate();   // as Ctrl-C
        monitor.waitForFinished(10000);
        out += monitor.readAllStandardOutput();
        return monitor.exitStatus() == QProcess::NormalExit ? monitor.exitCode() : -1;
    }
    QList<QJsonObject> events(const QString &name) const
    {
        QList<QJsonObject> list;
        for (const QByteArray &line : out.split('\n')) {
            const QJsonObject e = QJsonDocument::fromJson(line).object();
            if (e.value(QStringLiteral("event")).toString() == name)
                list << e;
        }
        return list;
    }

    QProcess board;
    QSerialPort mcu;
    PtyPeer framesTap;
    PtyPeer answersTap;
    QProcess monitor;
    QByteArray out;
    QByteArray chip;   // what the chip answered
};

qint64 eventMs(const QJsonObject &e)
{
    return QDateTime::fromString(e.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs)
        .toMSecsSinceEpoch();
}

QByteArray fromHexLines(const QByteArray &out)
{
    return QByteArray::fromHex(QByteArray(out).replace('\n', ' '));
}

}   // namespace

class TstProduct : public QObject
{
    Q_OBJECT
private slots:
    void frameIsWhatTheCommandSends_data();
    void frameIsWhatTheCommandSends();
    void frameRefuses_data();
    void frameRefuses();
    void sourceGivesTheBytes_data();
    void sourceGivesTheBytes();
    void decodeReads_data();
    void decodeReads();
    void decodeWritesAReport();
    void decodeShowsControlCharactersEscaped();
    void monitorNamesEachFault();
    void monitorOnOneLine();
    void monitorRefuses_data();
    void monitorRefuses();
};

void TstProduct::frameIsWhatTheCommandSends_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("input");
    QTest::newRow("say") << QStringList {"say", "你好"} << QByteArray();
    QTest::newRow("say, BIG5, a line break")
        << QStringList {"say", "--encoding", "big5", "欢迎\n光临"} << QByteArray();
    QTest::newRow("say, a text in two frames")
        << QStringList {"say", QString(3000, u'中')} << QByteArray();
    QTest::newRow("say -, GBK input, UTF-16BE") << QStringList {"say", "--input-encoding", "gbk",
        "--encoding", "utf16be", "-"} << toGbk(QStringLiteral("你好"));
    QTest::newRow("stop") << QStringList {"stop"} << QByteArray();
    QTest::newRow("status") << QStringList {"status"} << QByteArray();
    QTest::newRow("cache store") << QStringList {"cache", "store", "3", "你好"} << QByteArray();
    QTest::newRow("cache play, GB2312")
        << QStringList {"cache", "play", "15", "--encoding", "gb2312"} << QByteArray();
    QTest::newRow("raw with the header")
        << QStringList {"raw", "--header", "--encoding", "utf16le", "60 4F"} << QByteArray();
    QTest::newRow("tag volume 0") << QStringList {"tag", "volume", "0"} << QByteArray();
    QTest::newRow("tag voice 3") << QStringList {"tag", "voice", "3"} << QByteArray();
}

// The frames printed are, byte for byte, the ones the command itself puts on the wire.
void TstProduct::frameIsWhatTheCommandSends()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, input);
    AnsweringPeer peer("A");   // 0x41, and 0x4F after the frames that speak
    QVERIFY(peer.isOpen());
    const Run sent =
        runCli(arguments + QStringList {"--port", peer.slavePath(), "--baud", "115200"}, input);
    QCOMPARE(sent.exitCode, 0);
    const Run framed =
        runCli(QStringList {"frame"} + arguments + QStringList {"--format", "hex"}, input);
    QCOMPARE(framed.exitCode, 0);
    QCOMPARE(fromHexLines(framed.out).toHex(' '), peer.received().toHex(' '));
}

void TstProduct::frameRefuses_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out");   // with exit code 0: the hexadecimal printed
    QTest::newRow("the example") << QStringList {"frame", "say", "你好", "--format", "hex"} << 0
                                 << QByteArray("FD 00 06 01 01 C4 E3 BA C3\n");
    QTest::newRow("stop, no board opened though one is named") << QStringList {
        "frame", "stop", "--port", "/dev/orv4120-none"} << 0 << QByteArray("FD 00 01 02\n");
    const QByteArray zhong = " D6 D0";   // 中
    QTest::newRow("--usb cuts at 512 text bytes")
        << QStringList {"frame", "say", "--usb", QString(300, u'中')} << 0
        << "FD 02 02 01 01" + zhong.repeated(256) + "\nFD 00 5A 01 01" + zhong.repeated(44) + '\n';
    QTest::newRow("a name that is a keyword")
        << QStringList {"frame", "stop", "--name", "int", "--format", "c"} << 2 << QByteArray();
    QTest::newRow("a name that is no identifier")
        << QStringList {"frame", "stop", "--name", "1st", "--format", "c"} << 2 << QByteArray();
    QTest::newRow("an unknown format")
        << QStringList {"frame", "stop", "--format", "rust"} << 2 << QByteArray();
    QTest::newRow("hexadecimal that breaks the editor's rules")
        << QStringList {"frame", "raw", "FD 0G"} << 2 << QByteArray();
    QTest::newRow("soak sends no frame of its own")
        << QStringList {"frame", "soak", "--duration", "1"} << 2 << QByteArray();
    QTest::newRow("--strict and a character GBK cannot carry")
        << QStringList {"frame", "say", "--strict", "你好😀"} << 2 << QByteArray();
    QTest::newRow("no command") << QStringList {"frame", "--format", "c"} << 2 << QByteArray();
}

void TstProduct::frameRefuses()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, out);
    const Run run = runCli(arguments);
    QCOMPARE(run.exitCode, exitCode);
    if (exitCode == 0)
        QCOMPARE(run.out, out);
    if (exitCode != 0)
        QVERIFY2(run.err.startsWith("orv4120: "), run.err.constData());
}

void TstProduct::sourceGivesTheBytes_data()
{
    QTest::addColumn<QString>("prompts");   // the lines of a prompt table, or one text
    QTest::addColumn<bool>("table");   // -f FILE, else the text as the argument
    QTest::newRow("Chinese") << QStringLiteral("你好\n欢迎光临") << true;
    QTest::newRow("text that would end a comment") << QStringLiteral("a */ b /* c\n*/") << true;
    QTest::newRow("one text with a comment's end") << QStringLiteral("x */ y") << false;
    QTest::newRow("a tab and quotes") << QStringLiteral("x\ty\"z\" 'w'\n#define X 1") << true;
    QTest::newRow("a prompt longer than one frame")
        << (QString(3000, u'中') + QStringLiteral("\n短")) << true;
}

// The C output compiles with the system's compiler and the Python output runs under python3;
// both hold exactly the bytes of the hexadecimal output, line for line.
void TstProduct::sourceGivesTheBytes()
{
    QFETCH(QString, prompts);
    QFETCH(bool, table);
    QTemporaryDir dir;
    const QString file = writeFile(dir, QStringLiteral("prompts.txt"), prompts.toUtf8() + '\n');
    QVERIFY(!file.isEmpty());
    const QStringList base =
        table ? QStringList {"frame", "say", "-f", file} : QStringList {"frame", "say", prompts};
    const Run hex = runCli(base + QStringList {"--format", "hex"});
    QCOMPARE(hex.exitCode, 0);
    QByteArray expected;
    for (const QByteArray &line : hex.out.trimmed().split('\n'))
        expected += QByteArray::fromHex(line).toHex() + '\n';

    const Run c = runCli(base + QStringList {"--format", "c"});
    QCOMPARE(c.exitCode, 0);
    QStringList names;
    for (const QByteArray &line : c.out.split('\n')) {
        if (line.startsWith("static const unsigned char "))
            names << QString::fromUtf8(line.mid(27, line.indexOf('[') - 27));
    }
    QByteArray program = c.out
        + "\n#include <stdio.h>\nstatic void put(const unsigned char *b, "
          "unsigned long n)\n{\n    for (unsigned long i = 0; i < n; ++i)\n"
          "        printf(\"%02x\", b[i]);\n    printf(\"\\n\");\n}\n"
          "int main(void)\n{\n";
    for (const QString &name : std::as_const(names))
        program += QStringLiteral("    put(%1, sizeof %1);\n").arg(name).toUtf8();
    program += "    return 0;\n}\n";
    const QString source = writeFile(dir, QStringLiteral("frames.c"), program);
    QVERIFY(!source.isEmpty());
    const QString binary = dir.filePath(QStringLiteral("frames"));
    const Run compiled = runProgram(QStringLiteral("cc"),
        {"-std=c99", "-Wall", "-Wextra", "-Werror", "-trigraphs", "-o", binary, source});
    QVERIFY2(compiled.exitCode == 0, compiled.err.constData());
    QCOMPARE(runProgram(binary, {}).out, expected);

    const Run python = runCli(base + QStringList {"--format", "python"});
    QCOMPARE(python.exitCode, 0);
    QByteArray script = python.out + "import sys\n";
    for (const QByteArray &line : python.out.split('\n')) {
        if (!line.isEmpty())
            script += "print(" + line.left(line.indexOf(' ')) + ".hex())\n";
    }
    const Run evaluated = runProgram(QStringLiteral("python3"), {"-"}, script);
    QVERIFY2(evaluated.exitCode == 0, evaluated.err.constData());
    QCOMPARE(evaluated.out, expected);
}

void TstProduct::decodeReads_data()
{
    QTest::addColumn<QByteArray>("input");   // the first file
    QTest::addColumn<QByteArray>("second");   // the chip's side, when not empty
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<QByteArray>("damage");   // on stderr, with exit code 2
    const QStringList none;
    QTest::newRow("as the hexadecimal editor takes it")
        << QByteArray("FD 00 06 01 01 C4 E3 BA C3\r\n") << QByteArray() << none
        << QStringList {"frame fd00060101c4e3bac3"} << QByteArray();
    QTest::newRow("0x and commas, a run without blanks, comments")
        << QByteArray("# captured\n0xFD,0x00,0x01,0x02, // stop\nfd000121") << QByteArray() << none
        << QStringList {"frame fd000102", "frame fd000121"} << QByteArray();
    QTest::newRow("damage is skipped and named with its offset")
        << QByteArray("FD 00 01 02\nFD 0G 01 21\nFD 00 01 03") << QByteArray() << none
        << QStringList {"frame fd000102", "frame fd0121fd000103", "cut"}   // 0G was a byte
        << QByteArray("stdin:2:4 (offset 15)");
    QTest::newRow("bytes before the first frame, a frame cut off at the end")
        << QByteArray("C3 41 FD 00 01 02 FD 00 09 01 01 41") << QByteArray() << none
        << QStringList {"stray", "frame fd000102", "frame fd0009010141", "cut"} << QByteArray();
    QTest::newRow("a length over 4093, then a good frame")
        << QByteArray("FD FF FF 01 01 FD 00 01 02") << QByteArray() << none
        << QStringList {"oversized", "stray", "frame fd000102"} << QByteArray();
    // A log as the window writes it (GBK, CR LF), over serial with and without "0x" and over
    // USB, one frame line damaged by hand (a byte short of its count).
    QTest::newRow("the window's LOG.txt") << toGbk(QStringLiteral(
        "导出数据\r\n发出一帧，字节数 4\r\n----> FD 00 01 21 \r\n<---- 返回：41  接收成功\r\n"
        "<---- 返回：4F  芯片空闲\r\n手写的一行\r\n\r\n导出数据\r\n发出一帧，字节数 4\r\n"
        "----> 0xFD 0x00 0x01 0x58 \r\n<---- 返回：0x41  接收成功\r\n"
        "<---- 返回：0x58  软件版本号：V1.2\r\n发出一帧，字节数 4\r\n----> FD 00 01 \r\n"
        "<-0xAA接收成功，芯片原状态空闲\r\n<-0x41  接收成功\r\n<-硬件查询，4120处于播音状态\r\n"))
                                          << QByteArray() << none
                                          << QStringList {"frame fd000121", "answer 41",
                                                 "answer 4F", "frame fd000158", "answer 41",
                                                 "answer 53", "frame fd0001", "answer AA",
                                                 "answer 41", "answer AD"}
                                          << QByteArray("stdin:14:1");
    QTest::newRow("the chip's side")
        << QByteArray("41 4F 4A 4E") << QByteArray() << QStringList {"--answers"}
        << QStringList {"answer 41", "answer 4F", "answer 4A", "answer 4E"} << QByteArray();

    const QByteArray hello = QByteArray::fromHex("fd00060101c4e3bac3");
    QList<WireByte> line = onWire(0.05, true, "J");   // the chip's line speaks first: power-up
    line += onWire(0.1, false, hello);   // last byte at 0.1 + 8 characters
    const double helloEnd = 0.1 + 8 * 10.0 / 115200;
    line += onWire(helloEnd + 0.004, true, "A");
    line += onWire(helloEnd + 1.5, true, "O");
    line += onWire(2.0, false, QByteArray::fromHex("fd000102"));
    line += onWire(2.0 + 3 * 10.0 / 115200 + 0.0031, true, "A");
    line += onWire(3.0, false, QByteArray::fromHex("fd000121"));   // never answered
    const QStringList paired {"answer 4A", "frame fd00060101c4e3bac3", "answer 41 4.00",
        "answer 4F", "frame fd000102", "answer 41 3.10", "frame fd000121", "row 无帧等待的应答",
        "row 无应答"};
    QTest::newRow("CSV, both lines in one file by name")
        << csvNamed(line) << QByteArray() << QStringList {"--baud", "115200"} << paired
        << QByteArray();
    QTest::newRow("CSV, a file per line")
        << csvTimeValue(line, false) << csvTimeValue(line, true) << QStringList {"--baud", "115200"}
        << paired << QByteArray();
    QTest::newRow("CSV in milliseconds, the microcontroller's line only")
        << QByteArray("Time [ms],Value\n100.0,0xFD\n100.1,0x00\n100.2,0x01\n100.3,0x02\n")
        << QByteArray() << none << QStringList {"frame fd000102"} << QByteArray();
    QList<WireByte> paused = onWire(0.5, false, QByteArray::fromHex("fd000102"));
    paused[2].at += 0.05;   // 50 ms before the third byte
    paused[3].at += 0.05;
    QTest::newRow("CSV, a pause inside a frame")
        << csvTimeValue(paused, false) << QByteArray() << QStringList {"--baud", "115200"}
        << QStringList {"frame fd000102", "gap"} << QByteArray();
    QTest::newRow("CSV, a row without a byte")
        << QByteArray("Time [s],Value\n0.1,0xFD\n0.2,oops\n0.3,0x00\n0.4,0x01\n0.5,0x02\n")
        << QByteArray() << none << QStringList {"frame fd000102", "gap"} << QByteArray("stdin:3:1");
}

void TstProduct::decodeReads()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, second);
    QFETCH(QStringList, options);
    QFETCH(QStringList, items);
    QFETCH(QByteArray, damage);
    QTemporaryDir dir;
    QStringList arguments = QStringList {"decode", "--json"} + options;
    if (!second.isEmpty()) {
        const QString file = writeFile(dir, QStringLiteral("chip.csv"), second);
        QVERIFY(!file.isEmpty());
        arguments << QStringLiteral("-") << file;
    }
    const Run run = runCli(arguments, input);
    QCOMPARE(decodedItems(run.out), items);
    QCOMPARE(run.exitCode, damage.isEmpty() ? 0 : 2);
    QVERIFY2(run.err.contains(damage), run.err.constData());
}

// A timed capture gives the same soak report as a run: a row per frame, a summary beside it.
void TstProduct::decodeWritesAReport()
{
    QTemporaryDir dir;
    QList<WireByte> line = onWire(0.1, false, QByteArray::fromHex("fd000102"));
    line += onWire(0.2, true, "A");
    line += onWire(1.0, false, QByteArray::fromHex("fd000103"));
    line += onWire(1.1, true, "E");
    const Run run = runCli({"decode", "--report", dir.path()}, csvNamed(line));
    QCOMPARE(run.exitCode, 0);
    const QStringList csv = QDir(dir.path()).entryList({QStringLiteral("soak-*.csv")});
    QCOMPARE(csv.size(), 1);
    QFile file(dir.filePath(csv.first()));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> rows = file.readAll().trimmed().split('\n');
    QCOMPARE(rows.size(), 3);
    QVERIFY(rows.at(2).contains("接收失败(45)"));
    QCOMPARE(QDir(dir.path()).entryList({QStringLiteral("soak-*.txt")}).size(), 1);
    QVERIFY(run.out.contains("接收失败(45) 1"));
}

// Each fault the script plants is named once, at the time it happened (within a margin for a
// busy machine), and the summary counts it.
// A version text from the chip's line may hold anything: the terminal gets escapes, not the
// control characters.
void TstProduct::decodeShowsControlCharactersEscaped()
{
    const Run run = runCli({"decode", "--answers"}, "53 1B 5B 33 31 6D 0D 0A");
    QCOMPARE(run.exitCode, 0);
    QVERIFY(!run.out.contains('\x1b') && !run.out.contains('\r'));
    QVERIFY2(run.out.contains("\\x1B[31m\\x0D\\x0A"), run.out.constData());
}

void TstProduct::monitorNamesEachFault()
{
    Desk desk;
    QTemporaryDir reports;
    QVERIFY(desk.start({"--baud", "115200", "--timeout", "500", "--report", reports.path()}));
    const QByteArray hello = QByteArray::fromHex("fd00060101c4e3bac3");
    QMap<QString, qint64> planted;   // fault: when the script planted it

    desk.send(hello);   // a good synthesis: 41, its speech, 4F
    QVERIFY(desk.chipSaid("AO"));
    desk.chip.clear();
    planted["bad_frame unknown command"] = desk.send(QByteArray::fromHex("fd000177"));
    QVERIFY(desk.chipSaid("E"));
    desk.chip.clear();
    // The length field claims a byte more than comes; the chip gives up after a silence.
    planted["bad_frame cut"] = desk.send(QByteArray::fromHex("fd00070101c4e3bac3"));
    QVERIFY(desk.chipSaid("E"));
    desk.chip.clear();
    desk.send(QByteArray::fromHex("fd0001"));
    QTest::qWait(60);
    planted["gap"] = desk.send(QByteArray::fromHex("02"));
    QVERIFY(desk.chipSaid("A"));
    QTest::qWait(100);
    planted["overlap"] = desk.send(QByteArray::fromHex("fd000102fd000121"));
    QVERIFY(desk.chipSaid("AAO"));
    desk.chip.clear();
    const QByteArray longText = synthesisFrame(
        1, toGbk(QStringLiteral("欢迎使用语音合成系统，这是一段比较长的测试文本。")));
    desk.send(longText);
    QVERIFY(desk.chipSaid("A"));
    QTest::qWait(400);
    planted["cut_speech"] = desk.send(hello);
    QVERIFY(desk.chipSaid("AA"));
    QVERIFY(desk.chipSaid("AAO"));
    planted["restart"] = QDateTime::currentMSecsSinceEpoch();
    desk.answersTap.answer("J");   // the chip's line says it restarted
    QTest::qWait(100);
    planted["no_answer"] = desk.send(QByteArray::fromHex("fd000102"), false) + 500;
    QTest::qWait(800);
    QCOMPARE(desk.stopMonitor(), 0);

    QMap<QString, QList<QJsonObject>> faults;
    for (const char *kind : {"bad_frame", "bad_frame_answered", "gap", "overlap", "cut_speech",
             "restart", "no_answer", "refused", "stray"})
        faults[QLatin1String(kind)] = desk.events(QLatin1String(kind));
    QCOMPARE(faults["bad_frame"].size(), 2);
    QCOMPARE(faults["bad_frame_answered"].size(), 2);
    for (const QJsonObject &e : faults["bad_frame_answered"])
        QCOMPARE(e.value(QStringLiteral("code")).toString(), QStringLiteral("45"));
    QVERIFY(faults["bad_frame"]
                .at(0)
                .value(QStringLiteral("message"))
                .toString()
                .contains(u"未知命令"));
    QVERIFY(
        faults["bad_frame"].at(1).value(QStringLiteral("message")).toString().contains(u"截断"));
    QCOMPARE(faults["refused"].size(), 0);
    QCOMPARE(faults["stray"].size(), 0);
    auto near = [&](const QJsonObject &e, const char *what, qint64 marginMs) {
        const qint64 off = eventMs(e) - planted[QLatin1String(what)];
        return off > -50 && off < marginMs;
    };
    QVERIFY(near(faults["bad_frame"].at(0), "bad_frame unknown command", 300));
    // A cut frame is known once the chip answers its silence (200 ms on the virtual board).
    QVERIFY(near(faults["bad_frame"].at(1), "bad_frame cut", 600));
    for (const char *kind : {"gap", "overlap", "cut_speech", "restart", "no_answer"}) {
        QVERIFY2(faults[kind].size() == 1, kind);
        QVERIFY2(near(faults[kind].first(), kind, 300), kind);
    }
    QVERIFY(faults["gap"].first().value(QStringLiteral("gap_ms")).toDouble() >= 50);
    const double played = faults["cut_speech"].first().value(QStringLiteral("played_s")).toDouble();
    QVERIFY2(played > 0.3 && played < 0.8, qPrintable(QString::number(played)));

    // Every answer of a frame carries its frame, and a first answer its latency.
    const QList<QJsonObject> answers = desk.events(QStringLiteral("answer"));
    QVERIFY(answers.size() >= 10);
    int latencies = 0;
    for (const QJsonObject &a : answers) {
        if (a.value(QStringLiteral("code")).toString() == u"41") {
            QVERIFY(a.value(QStringLiteral("id")).toInt() > 0);
            latencies += a.value(QStringLiteral("latency_ms")).toDouble() > 0;
        }
    }
    QVERIFY(latencies >= 5);
    const QJsonObject counts =
        desk.events(QStringLiteral("faults")).value(0).value(QStringLiteral("counts")).toObject();
    QCOMPARE(counts.value(QStringLiteral("no_answer")).toInt(), 1);
    QCOMPARE(desk.events(QStringLiteral("summary")).size(), 1);

    // The soak report: a row per frame (and per answer no frame waited for), the summary.
    const QStringList csv = QDir(reports.path()).entryList({QStringLiteral("soak-*.csv")});
    QCOMPARE(csv.size(), 1);
    QFile file(reports.filePath(csv.first()));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray rows = file.readAll();
    QCOMPARE(rows.count("无应答"), 1);
    QVERIFY(rows.count("\n") >= 11);
    QFile summary(reports.filePath(
        QString(csv.first()).replace(QStringLiteral(".csv"), QStringLiteral(".txt"))));
    QVERIFY(summary.open(QIODevice::ReadOnly));
    QVERIFY(summary.readAll().contains("cut_speech"));
}

// One adapter: the microcontroller's line alone. Bytes of a frame under way at start-up are
// skipped up to the next FD and counted; frames are decoded, faults of the frames named.
void TstProduct::monitorOnOneLine()
{
    Desk desk;
    QVERIFY(desk.start({"--baud", "115200"}, false));
    desk.send(QByteArray::fromHex("c4e3bac3"));   // the end of a frame that began before
    QTest::qWait(50);
    desk.send(QByteArray::fromHex("fd000102"));
    desk.send(QByteArray::fromHex("fd000177"));
    QTest::qWait(300);
    desk.framesTap.unplug();   // the adapter is pulled out: the summary, and exit code 3
    QVERIFY(desk.monitor.waitForFinished(10000));
    desk.out += desk.monitor.readAllStandardOutput();
    QCOMPARE(desk.monitor.exitCode(), 3);
    QCOMPARE(desk.events(QStringLiteral("skipped")).size(), 1);
    QCOMPARE(
        desk.events(QStringLiteral("skipped")).first().value(QStringLiteral("count")).toInt(), 4);
    QCOMPARE(desk.events(QStringLiteral("frame")).size(), 2);
    QCOMPARE(desk.events(QStringLiteral("bad_frame")).size(), 1);
    QCOMPARE(desk.events(QStringLiteral("answer")).size(), 0);
    QCOMPARE(desk.events(QStringLiteral("no_answer")).size(), 0);
    QCOMPARE(desk.events(QStringLiteral("faults"))
                 .value(0)
                 .value(QStringLiteral("skipped_at_start"))
                 .toInt(),
        4);
}

void TstProduct::monitorRefuses_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("no --frames") << QStringList {"monitor", "--answers", "/dev/null"} << 2;
    QTest::newRow("a timeout that is no time")
        << QStringList {"monitor", "--frames", "/dev/null", "--timeout", "soon"} << 2;
    QTest::newRow("an option of another command")
        << QStringList {"monitor", "--frames", "/dev/null", "--virtual"} << 2;
    QTest::newRow("a port that is missing")
        << QStringList {"monitor", "--frames", "/dev/orv4120-none"} << 3;
    QTest::newRow("the answers' port missing")
        << QStringList {"monitor", "--frames", "PTY", "--answers", "/dev/orv4120-none"} << 3;
}

void TstProduct::monitorRefuses()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    PtyPeer pty;
    arguments.replaceInStrings(QStringLiteral("PTY"), pty.slavePath());
    const Run run = runCli(arguments);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.err.startsWith("orv4120: "), run.err.constData());
    QVERIFY(pty.received().isEmpty());
}

QTEST_GUILESS_MAIN(TstProduct)
#include "tst_product.moc"
