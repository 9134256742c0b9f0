#include "Form1.h"
#include "codepage.h"
#include "logfile.h"
#include "operatormessages.h"
#include "ptypeer.h"

#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Exports of the work log to LOG.txt, the fallback when LOG.txt takes none, and the journal that
// brings back the log of a killed run.
class TstLogFile : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void twoClosesLeaveTwoExports();
    void emptyLogExportsHeadingAndEmptyLine();
    void unwritableLogGoesToFallback();
    void readOnlyWorkingDirectoryLosesNothing();
    void killedRunIsExportedAtNextStart();
    void typingIntoTheLogReachesTheJournal();

private:
    Form1Options optionsFor(const QString &dir);
    PtyPeer m_board;   // COM1, so that no port message enters the log
    static QByteArray readAll(const QString &path);
};

void TstLogFile::init()
{
    // The fallback folder lies under XDG_DATA_HOME, set per test by CTest; start it empty.
    QDir(LogFile::fallbackDirectory()).removeRecursively();
}

Form1Options TstLogFile::optionsFor(const QString &dir)
{
    Form1Options options;
    options.workDir = dir;
    for (int n = 1; n <= 20; ++n)
        options.ports.setOverride(n, dir + QStringLiteral("/absent"));
    options.ports.setOverride(1, m_board.slavePath());
    options.ports.setPresentDevicesForTest({});
    return options;
}

QByteArray TstLogFile::readAll(const QString &path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

void TstLogFile::twoClosesLeaveTwoExports()
{
    QTemporaryDir dir;
    RecordedMessages messages;
    for (const QVariantList &frame :
        {QVariantList {0xFD, 0, 1, 2}, QVariantList {0xFD, 0, 1, 0x21}}) {
        Form1 window(optionsFor(dir.path()), &messages);
        window.SendFrameData(frame);
        window.close();
    }
    QCOMPARE(readAll(dir.filePath("LOG.txt")),
        toGbk(u"导出数据\r\n发出一帧，字节数 4\r\n----> FD 00 01 02 \r\n\r\n"
              u"导出数据\r\n发出一帧，字节数 4\r\n----> FD 00 01 21 \r\n\r\n"));
    QVERIFY(QDir(dir.path()).entryList({QStringLiteral("*.journal")}, QDir::Files).isEmpty());
}

void TstLogFile::emptyLogExportsHeadingAndEmptyLine()
{
    QTemporaryDir dir;
    QFile old(dir.filePath("LOG.txt"));
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("earlier\r\n");
    old.close();
    RecordedMessages messages;
    {
        Form1 window(optionsFor(dir.path()), &messages);
    }
    QCOMPARE(readAll(dir.filePath("LOG.txt")), toGbk(u"earlier\r\n导出数据\r\n\r\n"));
}

void TstLogFile::unwritableLogGoesToFallback()
{
    // A folder named LOG.txt cannot be appended to, whoever runs the test.
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("LOG.txt")));
    RecordedMessages messages;
    {
        Form1 window(optionsFor(dir.path()), &messages);
        window.SendFrameData({0xFD, 0, 1, 3});
        window.close();
    }
    QCOMPARE(messages.shown.size(), 1);   // where the log went
    const QString notice = messages.shown.last();
    QVERIFY2(notice.contains(QStringLiteral("已保存到 ")), qPrintable(notice));
    const QString path = notice.mid(notice.indexOf(QStringLiteral("已保存到 ")) + 5);
    QCOMPARE(readAll(path), toGbk(u"导出数据\r\n发出一帧，字节数 4\r\n----> FD 00 01 03 \r\n\r\n"));
}

// Runs the program in dir with COM1 on a pty; returns once it has logged an answer.
static bool startProgram(
    QProcess &program, const QString &dir, const QStringList &prefix = {}, QString fallback = {})
{
    if (fallback.isEmpty())
        fallback = LogFile::fallbackDirectory();
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
        return false;
    const QString slave = QString::fromLocal8Bit(::ptsname(master));
    ::chmod(::ptsname(master), 0666);
    program.setWorkingDirectory(dir);
    QStringList arguments = prefix;
    arguments << QStringLiteral(ORV_DEMO_PROGRAM) << QStringLiteral("--com")
              << QStringLiteral("COM1=") + slave;
    for (int n = 2; n <= 20; ++n)
        arguments << QStringLiteral("--com") << QStringLiteral("COM%1=/nonexistent").arg(n);
    const QString command = arguments.takeFirst();
    program.start(command, arguments);
    if (!program.waitForStarted(10000))
        return false;
    // Answer "A" until the program has opened the port and journaled the line.
    for (int i = 0; i < 200; ++i) {
        [[maybe_unused]] const ssize_t n = ::write(master, "A", 1);
        QTest::qWait(50);
        // Its own journal: a killed run's journal may lie beside it.
        const QString own = QStringLiteral("*.%1.journal").arg(program.processId());
        const QStringList journals =
            QDir(dir).entryList({own}, QDir::Files) + QDir(fallback).entryList({own}, QDir::Files);
        bool logged = false;
        for (const QString &name : journals) {
            for (const QString &folder : {dir, fallback}) {
                QFile journal(QDir(folder).filePath(name));
                if (journal.open(QIODevice::ReadOnly) && journal.size() > 0)
                    logged = true;
            }
        }
        if (logged)
            break;
    }
    QTest::qWait(100);
    ::close(master);
    return true;
}

void TstLogFile::readOnlyWorkingDirectoryLosesNothing()
{
    QTemporaryDir dir;
    QFile::setPermissions(dir.path(),
        QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther
            | QFile::ExeOther);
    QTemporaryDir data;   // the user's own data folder, where the fallback goes
    QProcess program;
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DATA_HOME"), data.path());
    program.setProcessEnvironment(environment);
    QStringList prefix;
    if (::geteuid() == 0) {
        // root writes anywhere; an ordinary user meets the read-only folder as an operator would
        if (QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
            QSKIP("running as root without setpriv");
        prefix << QStringLiteral("setpriv") << QStringLiteral("--reuid=65534")
               << QStringLiteral("--regid=65534") << QStringLiteral("--clear-groups");
        ::chmod(QFile::encodeName(data.path()).constData(), 01777);
        if (QProcess::execute(prefix.first(),
                prefix.mid(1)
                    + QStringList {QStringLiteral("test"), QStringLiteral("-x"),
                        QStringLiteral(ORV_DEMO_PROGRAM)})
            != 0)
            QSKIP("the program lies where an ordinary user cannot run it");
    }
    const QString fallback = data.filePath(QStringLiteral("orv4120-demo"));
    QVERIFY(startProgram(program, dir.path(), prefix, fallback));
    program.terminate();
    QVERIFY(program.waitForFinished(10000));

    QVERIFY(!QFile::exists(dir.filePath("LOG.txt")));
    const QStringList saved = QDir(fallback).entryList({QStringLiteral("LOG-*.txt")}, QDir::Files);
    QCOMPARE(saved.size(), 1);
    const QString text = fromGbk(readAll(QDir(fallback).filePath(saved.first())));
    QVERIFY2(text.startsWith(QStringLiteral("导出数据\r\n")), qPrintable(text));
    QVERIFY(text.contains(QStringLiteral("<---- 返回：41  接收成功\r\n")));
    QVERIFY(QDir(fallback).entryList({QStringLiteral("*.journal")}).isEmpty());
}

void TstLogFile::killedRunIsExportedAtNextStart()
{
    QTemporaryDir dir;
    QProcess first;
    QVERIFY(startProgram(first, dir.path()));
    first.kill();
    QVERIFY(first.waitForFinished(10000));
    QVERIFY(!QFile::exists(dir.filePath("LOG.txt")));   // killed: no export at close

    QProcess second;
    QVERIFY(startProgram(second, dir.path()));
    second.terminate();
    QVERIFY(second.waitForFinished(10000));

    const QString text = fromGbk(readAll(dir.filePath("LOG.txt")));
    const QStringList exports = text.split(QStringLiteral("导出数据\r\n"), Qt::SkipEmptyParts);
    QCOMPARE(exports.size(), 2);
    QVERIFY(exports.at(0).contains(QStringLiteral("<---- 返回：41  接收成功\r\n")));
    QVERIFY(exports.at(0).endsWith(QStringLiteral("\r\n\r\n")));
    QVERIFY(exports.at(1).startsWith(QStringLiteral("上次运行未正常结束")));
    QVERIFY(QDir(dir.path()).entryList({QStringLiteral("*.journal")}, QDir::Files).isEmpty());
}

void TstLogFile::typingIntoTheLogReachesTheJournal()
{
    QTemporaryDir dir;
    RecordedMessages messages;
    Form1 window(optionsFor(dir.path()), &messages);
    window.show();
    window.SendFrameData({0xFD, 0, 1, 2});
    const QString journal =
        dir.filePath(QStringLiteral("LOG.txt.%1.journal").arg(QCoreApplication::applicationPid()));
    QCOMPARE(
        fromGbk(readAll(journal)), QStringLiteral("发出一帧，字节数 4\r\n----> FD 00 01 02 \r\n"));

    auto *log = window.findChild<QPlainTextEdit *>(QStringLiteral("Text4"));
    log->moveCursor(QTextCursor::End);
    QTest::keyClicks(log, QStringLiteral("note"));
    QTRY_COMPARE(fromGbk(readAll(journal)),
        QStringLiteral("发出一帧，字节数 4\r\n----> FD 00 01 02 \r\nnote"));
    window.SendFrameData({0xFD, 0, 1, 3});   // entries go on after the rewrite
    QVERIFY(fromGbk(readAll(journal))
                .endsWith(QStringLiteral("note发出一帧，字节数 4\r\n----> FD 00 01 03 \r\n")));
}

QTEST_MAIN(TstLogFile)
#include "tst_logfile.moc"
