#include "Form1.h"
#include "codepage.h"
#include "logfile.h"
#include "operatormessages.h"
#include "ptypeer.h"
#include "worklog.h"

#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QtTest>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

// Exports of the work log to LOG.txt, the fallback when LOG.txt takes none, the journal that
// brings back the log of a killed run, and the bounded log box over the whole record.
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
    void recordKeepsWhatLeavesTheBox_data();
    void recordKeepsWhatLeavesTheBox();
    void fullDiskWarnsOnceAndLosesNothingJournaled();
    void newJournalNeverOpensAPlantedName();
    void recoveryReadsOnlyOwnRegularFiles_data();
    void recoveryReadsOnlyOwnRegularFiles();
    void twoRecoveriesExportAnOrphanOnce();
    void startTextThatIsNoFileIsNotRead_data();
    void startTextThatIsNoFileIsNotRead();
    void terminateEndsTheProgramWithABoxOpen();

private:
    Form1Options optionsFor(const QString &dir);
    PtyPeer m_board;   // COM1, so that no port message enters the log
};

static QByteArray readAll(const QString &path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

// A pid no process has now.
static qint64 deadPid()
{
    QProcess done;
    done.start(QStringLiteral("true"), {});
    done.waitForStarted();
    const qint64 pid = done.processId();
    done.waitForFinished();
    return pid;
}

// The demo program run in a folder, COM1 on a pseudo-terminal whose far end the test holds.
struct Program
{
    ~Program()
    {
        process.kill();
        process.waitForFinished();
    }

    bool start(const QString &folder, bool com1 = true, const QStringList &prefix = {})
    {
        dir = folder;
        ::chmod(QFile::encodeName(board.slavePath()).constData(), 0666);
        process.setWorkingDirectory(dir);
        QStringList arguments = prefix;
        arguments << QStringLiteral(ORV_DEMO_PROGRAM);
        arguments << QStringLiteral("--lang") << QStringLiteral("zh");   // whatever the locale
        for (int n = 1; n <= 20; ++n) {
            arguments << QStringLiteral("--com")
                      << QStringLiteral("COM%1=%2")
                             .arg(n)
                             .arg(n == 1 && com1 ? board.slavePath()
                                                 : QStringLiteral("/nonexistent"));
        }
        const QString command = arguments.takeFirst();
        process.start(command, arguments);
        return process.waitForStarted(10000);
    }

    // This program's own journals, in the working directory and in the fallback folder.
    QStringList journals() const
    {
        const QString run = QStringLiteral("LOG.txt.%1-").arg(process.processId());
        QStringList found;
        for (const QString &folder : {dir, fallback}) {
            for (const QString &name :
                QDir(folder).entryList({QStringLiteral("*.journal")}, QDir::Files, QDir::Name)) {
                if (name.contains(run))
                    found << QDir(folder).filePath(name);
            }
        }
        return found;
    }

    QByteArray journaled() const
    {
        QByteArray bytes;
        for (const QString &path : journals())
            bytes += readAll(path);
        return bytes;
    }

    // Answers "A" (one journaled line each) until done() holds.
    bool answerUntil(const std::function<bool()> &done)
    {
        for (int i = 0; i < 400; ++i) {
            board.answer("A");
            QTest::qWait(50);
            if (done())
                return true;
        }
        return false;
    }

    // Until the program has journaled an answer: its port is open and its signals handled.
    bool answerUntilJournaled()
    {
        return answerUntil([this] { return fromGbk(journaled()).contains(u"41  接收成功"); });
    }

    QProcess process;
    PtyPeer board;
    QString dir;
    QString fallback = LogFile::fallbackDirectory();
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
    QCOMPARE(QFileInfo(path).permissions() & (QFile::ReadOther | QFile::WriteOther),
        QFile::Permissions());
}

void TstLogFile::readOnlyWorkingDirectoryLosesNothing()
{
    QTemporaryDir dir;
    QFile::setPermissions(dir.path(),
        QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther
            | QFile::ExeOther);
    QTemporaryDir data;   // the user's own data folder, where the fallback goes
    Program program;
    program.process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DATA_HOME"), data.path());
    program.process.setProcessEnvironment(environment);
    program.fallback = data.filePath(QStringLiteral("orv4120-demo"));
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
    QVERIFY(program.start(dir.path(), true, prefix));
    if (!program.answerUntilJournaled()) {
        const QString log = fromGbk(program.journaled());
        if (log.contains(QStringLiteral("串口打开失败")))   // a lock file another user left behind
            QSKIP(qPrintable(QStringLiteral("an ordinary user cannot open COM1 here: ") + log));
        QFAIL(qPrintable(log));
    }
    program.process.terminate();
    QVERIFY(program.process.waitForFinished(10000));

    QVERIFY(!QFile::exists(dir.filePath("LOG.txt")));
    const QStringList saved =
        QDir(program.fallback).entryList({QStringLiteral("LOG-*.txt")}, QDir::Files);
    QCOMPARE(saved.size(), 1);
    const QString text = fromGbk(readAll(QDir(program.fallback).filePath(saved.first())));
    QVERIFY2(text.startsWith(QStringLiteral("导出数据\r\n")), qPrintable(text));
    QVERIFY(text.contains(QStringLiteral("<---- 返回：41  接收成功\r\n")));
    QVERIFY(QDir(program.fallback).entryList({QStringLiteral("*.journal")}).isEmpty());
}

void TstLogFile::killedRunIsExportedAtNextStart()
{
    QTemporaryDir dir;
    {
        Program first;
        QVERIFY(first.start(dir.path()));
        QVERIFY(first.answerUntilJournaled());
        first.process.kill();
        QVERIFY(first.process.waitForFinished(10000));
    }
    QVERIFY(!QFile::exists(dir.filePath("LOG.txt")));   // killed: no export at close

    // The second program handles signals once its own journal exists.
    Program second;
    QVERIFY(second.start(dir.path()));
    QVERIFY(second.answerUntilJournaled());
    second.process.terminate();
    QVERIFY(second.process.waitForFinished(10000));

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
    const QStringList journals =
        QDir(dir.path())
            .entryList(
                {QStringLiteral("LOG.txt.%1-*.journal").arg(QCoreApplication::applicationPid())});
    QCOMPARE(journals.size(), 1);
    const QString journal = dir.filePath(journals.first());
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

void TstLogFile::recordKeepsWhatLeavesTheBox_data()
{
    QTest::addColumn<QString>("step");
    QTest::addColumn<int>("line");   // of the box, edited or selected
    QTest::newRow("appends only") << QString() << 0;
    QTest::newRow("edit that stays in the box") << QStringLiteral("edit") << 50;
    QTest::newRow("edited line leaves before it settles") << QStringLiteral("edit") << 0;
    QTest::newRow("selection kept as lines leave") << QStringLiteral("select") << 50;
    QTest::newRow("cleared") << QStringLiteral("clear") << 0;
}

void TstLogFile::recordKeepsWhatLeavesTheBox()
{
    QFETCH(QString, step);
    QFETCH(int, line);
    constexpr int kBoxLines = 100;
    QTemporaryDir dir;
    QPlainTextEdit box;
    box.show();
    LogJournal journal(dir.path());
    WorkLog log(&box, &journal, kBoxLines);
    QStringList lines;
    const auto add = [&](int count) {
        for (int i = 0; i < count; ++i) {
            lines << QStringLiteral("<---- 返回：41  接收成功 %1").arg(lines.size());
            log.appendKeepingCaret(lines.last() + QStringLiteral("\r\n"));
        }
    };
    add(250);
    QCOMPARE(box.document()->blockCount(), kBoxLines);   // the last one is empty
    const int oldestInBox = 250 - (kBoxLines - 1);
    QTextCursor operatorCursor(box.document()->findBlockByNumber(line));
    if (step == QStringLiteral("edit")) {
        operatorCursor.insertText(QStringLiteral("X"));
        lines[oldestInBox + line].prepend(u'X');
        add(10);
    } else if (step == QStringLiteral("select")) {
        operatorCursor.select(QTextCursor::LineUnderCursor);
        box.setTextCursor(operatorCursor);
        add(30);
        QCOMPARE(box.textCursor().selectedText(), lines[oldestInBox + line]);
    } else if (step == QStringLiteral("clear")) {
        log.clear();
        lines.clear();
        add(5);
    }
    QCOMPARE(box.document()->blockCount(), qMin(kBoxLines, int(lines.size()) + 1));
    const QString record = lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");
    QCOMPARE(log.text(), record);
    QVERIFY(log.exportTo(dir.path()).written);
    QCOMPARE(fromGbk(readAll(dir.filePath("LOG.txt"))),
        QStringLiteral("导出数据\r\n") + record + QStringLiteral("\r\n"));
}

void TstLogFile::fullDiskWarnsOnceAndLosesNothingJournaled()
{
    // Every file the program writes holds at most 1,500 bytes: the journal in the working
    // directory fills up, then its continuation in the fallback folder.
    QTemporaryDir dir;
    const QString warning = QStringLiteral("工作记录无法写入日志文件");
    QByteArray journaled;
    {
        Program first;
        first.process.setChildProcessModifier([] {
            ::signal(SIGXFSZ, SIG_IGN);
            const struct rlimit limit = {1500, 1500};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        });
        QVERIFY(first.start(dir.path()));
        QString errors;
        QVERIFY(first.answerUntil([&] {
            errors += QString::fromLocal8Bit(first.process.readAllStandardError());
            return errors.contains(warning);
        }));
        int more = 20;   // lines after the warning
        first.answerUntil([&more] { return --more == 0; });
        errors += QString::fromLocal8Bit(first.process.readAllStandardError());
        QCOMPARE(errors.count(warning), 1);
        const QStringList pieces = first.journals();
        QCOMPARE(pieces.size(), 2);
        QVERIFY(pieces[0].startsWith(dir.path()));
        QVERIFY(pieces[1].startsWith(first.fallback));
        journaled = first.journaled();
        first.process.kill();
        QVERIFY(first.process.waitForFinished(10000));
    }
    QVERIFY(journaled.size() > 1500);
    const QString record = fromGbk(journaled);
    const QString answer = QStringLiteral("<---- 返回：41  接收成功\r\n");
    QCOMPARE(record.count(answer) * toGbk(answer).size(), journaled.size());   // no torn line

    Program second;
    QVERIFY(second.start(dir.path()));
    QVERIFY(second.answerUntilJournaled());
    second.process.terminate();
    QVERIFY(second.process.waitForFinished(10000));
    const QStringList exports = fromGbk(readAll(dir.filePath("LOG.txt")))
                                    .split(QStringLiteral("导出数据\r\n"), Qt::SkipEmptyParts);
    QCOMPARE(exports.size(), 2);   // the killed run's pieces as one export
    QCOMPARE(exports.first(), record + QStringLiteral("\r\n"));
}

void TstLogFile::newJournalNeverOpensAPlantedName()
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("private"));
    QFile secret(target);
    QVERIFY(secret.open(QIODevice::WriteOnly));
    secret.write("secret");
    secret.close();
    const QString planted =
        QStringLiteral("LOG.txt.%1-planted.1.0.journal").arg(QCoreApplication::applicationPid());
    QVERIFY(QFile::link(target, dir.filePath(planted)));

    QList<QByteArray> tokens {"planted", "fresh"};
    {
        LogJournal journal(dir.path(), [&tokens] { return tokens.takeFirst(); });
        journal.append("entry\r\n");
        QCOMPARE(journal.paths(),
            QStringList {dir.filePath(
                QString(planted).replace(QStringLiteral("planted"), QStringLiteral("fresh")))});
        struct stat info = {};
        QCOMPARE(::lstat(QFile::encodeName(journal.paths().first()).constData(), &info), 0);
        QCOMPARE(info.st_mode & 07777, mode_t(0600));
    }
    QCOMPARE(readAll(target), QByteArray("secret"));
}

void TstLogFile::recoveryReadsOnlyOwnRegularFiles_data()
{
    QTest::addColumn<bool>("link");
    QTest::newRow("link to a private file") << true;
    QTest::newRow("another user's file") << false;
}

void TstLogFile::recoveryReadsOnlyOwnRegularFiles()
{
    QFETCH(bool, link);
    QTemporaryDir dir;
    const QString name = QStringLiteral("LOG.txt.%1-0123456789abcdef.1.0.journal").arg(deadPid());
    QFile secret(link ? dir.filePath(QStringLiteral("private")) : dir.filePath(name));
    QVERIFY(secret.open(QIODevice::WriteOnly));
    secret.write("secret");
    secret.close();
    if (link) {
        QVERIFY(QFile::link(secret.fileName(), dir.filePath(name)));
    } else if (::chown(QFile::encodeName(secret.fileName()).constData(), 65534, 65534) != 0) {
        QSKIP("only root can give a file to another user");
    }
    LogJournal::recoverOrphans(dir.path());
    QVERIFY(!readAll(dir.filePath("LOG.txt")).contains("secret"));
}

void TstLogFile::twoRecoveriesExportAnOrphanOnce()
{
    // Two programs start at the same moment, twenty times, each time over one dead run's journal.
    QTemporaryDir dir;
    const qint64 dead = deadPid();
    constexpr int kRounds = 20;
    for (int round = 0; round < kRounds; ++round) {
        QFile orphan(
            dir.filePath(QStringLiteral("LOG.txt.%1-%2.1.0.journal").arg(dead).arg(round)));
        QVERIFY(orphan.open(QIODevice::WriteOnly));
        orphan.write(QByteArray(64 * 1024, 'x') + "round " + QByteArray::number(round) + "\r\n");
        orphan.close();
        int gate[2];
        QVERIFY(::pipe(gate) == 0);
        pid_t children[2];
        for (pid_t &child : children) {
            child = ::fork();
            if (child == 0) {
                ::close(gate[1]);
                char go;
                [[maybe_unused]] const ssize_t n = ::read(gate[0], &go, 1);
                LogJournal::recoverOrphans(dir.path());
                ::_exit(0);
            }
        }
        ::close(gate[0]);
        ::close(gate[1]);   // both children go
        for (pid_t child : children)
            ::waitpid(child, nullptr, 0);
    }
    const QByteArray log = readAll(dir.filePath("LOG.txt"));
    for (int round = 0; round < kRounds; ++round)
        QCOMPARE(log.count("round " + QByteArray::number(round) + "\r\n"), 1);
    QVERIFY(QDir(dir.path()).entryList({QStringLiteral("*.journal")}, QDir::Files).isEmpty());
}

void TstLogFile::startTextThatIsNoFileIsNotRead_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("FIFO") << QStringLiteral("命名管道");
    QTest::newRow("folder") << QStringLiteral("文件夹");
    QTest::newRow("device") << QStringLiteral("设备");
}

void TstLogFile::startTextThatIsNoFileIsNotRead()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("初始默认文本.txt"));
    if (kind == QStringLiteral("命名管道"))
        QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
    else if (kind == QStringLiteral("文件夹"))
        QVERIFY(QDir().mkdir(path));
    else
        QVERIFY(QFile::link(QStringLiteral("/dev/null"), path));
    RecordedMessages messages;
    Form1 window(optionsFor(dir.path()), &messages);
    QVERIFY(window.findChild<QPlainTextEdit *>(QStringLiteral("Text3"))->toPlainText().isEmpty());
    QCOMPARE(window.workLogText(),
        QStringLiteral("初始默认文本.txt 不是普通文件（%1），未读取，发送框为空\r\n").arg(kind));
}

void TstLogFile::terminateEndsTheProgramWithABoxOpen()
{
    // Without COM1 the start-up leaves the port message on screen.
    QTemporaryDir dir;
    Program program;
    QVERIFY(program.start(dir.path(), false));
    QTRY_VERIFY_WITH_TIMEOUT(!program.journaled().isEmpty(), 10000);
    program.process.terminate();
    QVERIFY(program.process.waitForFinished(10000));
    QCOMPARE(program.process.exitStatus(), QProcess::CrashExit);   // ended by the signal
    QVERIFY(fromGbk(readAll(dir.filePath("LOG.txt"))).contains(QStringLiteral("串口打开失败")));
}

QTEST_MAIN(TstLogFile)
#include "tst_logfile.moc"
