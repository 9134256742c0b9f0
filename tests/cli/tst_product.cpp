#include "codepage.h"
#include "fakelink.h"
#include "frame.h"
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

// The board at the far end of a pseudo-terminal: 0x41 for every whole frame, and 0x4F after
// the frames that speak, so that orv4120 COMMAND runs to its end.
class AnsweringPeer : public PtyPeer
{
public:
    AnsweringPeer()
    {
        connect(this, &PtyPeer::bytesReceived, this, [this] {
            while (received().size() - m_taken >= 3) {
                const QByteArray rest = received().mid(m_taken);
                const int size = 3 + (quint8(rest.at(1)) << 8) + quint8(rest.at(2));
                if (rest.size() < size)
                    return;
                m_taken += size;
                const quint8 command = quint8(rest.at(3));
                answer(command == 0x01 || command == 0x32 || command == 0x21 ? "AO" : "A");
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

Run runProgram(const QString &program, const QStringList &arguments, const QByteArray &input = {},
    const QString &workDir = {})
{
    QProcess process;
    if (!workDir.isEmpty())
        process.setWorkingDirectory(workDir);
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    QSignalSpy finished(&process, &QProcess::finished);
    if (!finished.wait(30000))
        process.kill();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
        process.readAllStandardOutput(), process.readAllStandardError()};
}

Run runCli(const QStringList &arguments, const QByteArray &input = {})
{
    return runProgram(QStringLiteral(ORV_CLI), arguments, input);
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
};

void TstProduct::frameIsWhatTheCommandSends_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("input");
    QTest::newRow("say") << QStringList {"say", "你好"} << QByteArray();
    QTest::newRow("say, BIG5, a line break") << QStringList {"say", "--encoding", "big5", "欢迎\n光临"}
                                             << QByteArray();
    QTest::newRow("say, a text in two frames") << QStringList {"say", QString(3000, u'中')}
                                               << QByteArray();
    QTest::newRow("say -, GBK input, UTF-16BE")
        << QStringList {"say", "--input-encoding", "gbk", "--encoding", "utf16be", "-"}
        << toGbk(QStringLiteral("你好"));
    QTest::newRow("stop") << QStringList {"stop"} << QByteArray();
    QTest::newRow("status") << QStringList {"status"} << QByteArray();
    QTest::newRow("cache store") << QStringList {"cache", "store", "3", "你好"} << QByteArray();
    QTest::newRow("cache play, GB2312") << QStringList {"cache", "play", "15", "--encoding", "gb2312"}
                                        << QByteArray();
    QTest::newRow("raw with the header") << QStringList {"raw", "--header", "--encoding", "utf16le", "60 4F"}
                                         << QByteArray();
    QTest::newRow("tag volume 0") << QStringList {"tag", "volume", "0"} << QByteArray();
    QTest::newRow("tag voice 3") << QStringList {"tag", "voice", "3"} << QByteArray();
}

// The frames printed are, byte for byte, the ones the command itself puts on the wire.
void TstProduct::frameIsWhatTheCommandSends()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, input);
    AnsweringPeer peer;
    QVERIFY(peer.isOpen());
    const Run sent =
        runCli(arguments + QStringList {"--port", peer.slavePath(), "--baud", "115200"}, input);
    QCOMPARE(sent.exitCode, 0);
    const Run framed = runCli(QStringList {"frame"} + arguments + QStringList {"--format", "hex"}, input);
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
    QTest::newRow("stop, no board opened though one is named")
        << QStringList {"frame", "stop", "--port", "/dev/orv4120-none"} << 0
        << QByteArray("FD 00 01 02\n");
    const QByteArray zhong = " D6 D0";   // 中
    QTest::newRow("--usb cuts at 512 text bytes")
        << QStringList {"frame", "say", "--usb", QString(300, u'中')} << 0
        << "FD 02 02 01 01" + zhong.repeated(256) + "\nFD 00 5A 01 01" + zhong.repeated(44) + '\n';
    QTest::newRow("a name that is a keyword")
        << QStringList {"frame", "stop", "--name", "int", "--format", "c"} << 2 << QByteArray();
    QTest::newRow("a name that is no identifier")
        << QStringList {"frame", "stop", "--name", "1st", "--format", "c"} << 2 << QByteArray();
    QTest::newRow("an unknown format") << QStringList {"frame", "stop", "--format", "rust"} << 2
                                       << QByteArray();
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
    QFile file(dir.filePath(QStringLiteral("prompts.txt")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(prompts.toUtf8() + '\n');
    file.close();
    const QStringList base = table ? QStringList {"frame", "say", "-f", file.fileName()}
                                   : QStringList {"frame", "say", prompts};
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
    QByteArray program = c.out + "\n#include <stdio.h>\nstatic void put(const unsigned char *b, "
                                 "unsigned long n)\n{\n    for (unsigned long i = 0; i < n; ++i)\n"
                                 "        printf(\"%02x\", b[i]);\n    printf(\"\\n\");\n}\n"
                                 "int main(void)\n{\n";
    for (const QString &name : std::as_const(names))
        program += QStringLiteral("    put(%1, sizeof %1);\n").arg(name).toUtf8();
    program += "    return 0;\n}\n";
    QFile source(dir.filePath(QStringLiteral("frames.c")));
    QVERIFY(source.open(QIODevice::WriteOnly));
    source.write(program);
    source.close();
    const QString binary = dir.filePath(QStringLiteral("frames"));
    const Run compiled = runProgram(QStringLiteral("cc"),
        {"-std=c99", "-Wall", "-Wextra", "-Werror", "-trigraphs", "-o", binary, source.fileName()});
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

QTEST_GUILESS_MAIN(TstProduct)
#include "tst_product.moc"
