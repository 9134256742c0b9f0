#include "Form1.h"
#include "codepage.h"
#include "guardedfile.h"
#include "logjournal.h"
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
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

// The work log of the window and the program: exports to LOG.txt at close and their fallback,
// the journal that brings back the log of a killed run, the bounded log box over the whole record,
// and the start-up text.
class TstWorkLog : public QObject
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
    void longRestOfAnEditMovesInSteps();
    void fullDiskWarnsOnceAndLosesNothingJournaled();
    void startTextThatIsNoFileIsNotRead_data();
    void startTextThatIsNoFileIsNotRead();
    void terminateEndsTheProgramWithABoxOpen();
    void terminateEndsAStartUpErrorBox_data();
    void terminateEndsAStartUpErrorBox();
    void largeStartTextIsNotRead_data();
    void largeStartTextIsNotRead();

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

void TstWorkLog::init()
{
    // The fallback folder lies under XDG_DATA_HOME, set per test by CTest; start it empty.
    QDir(LogFile::fallbackDirectory()).removeRecursively();
}

Form1Options TstWorkLog::optionsFor(const QString &dir)
{
    Form1Options options;
    options.workDir = dir;
    for (int n = 1; n <= 20; ++n)
        options.ports.setOverride(n, dir + QStringLiteral("/absent"));
    options.ports.setOverride(1, m_board.slavePath());
    options.ports.setPresentDevicesForTest({});
    return options;
}

void TstWorkLog::twoClosesLeaveTwoExports()
{
    QTemporaryDir dir;
    RecordedMessages messages;
    for (const QVariantList &frame :
        {QVariantList {0xFD, 0, 1, 2}, QVariantList {0xFD, 0, 1, 0x21}}) {
        Form1 window(optionsFor(dir.path()), &messages);
        const qsizetype before = m_board.received().size();
        window.SendFrameData(frame);
        QTRY_COMPARE(m_board.received().size(), before + 4);   // sent, not dropped by the close
        window.close();
    }
    QCOMPARE(readAll(dir.filePath("LOG.txt")),
        toGbk(u"导出数据\r\n发出一帧，字节数 4\r\n----> FD 00 01 02 \r\n\r\n"
              u"导出数据\r\n发出一帧，字节数 4\r\n----> FD 00 01 21 \r\n\r\n"));
    QVERIFY(QDir(dir.path()).entryList({QStringLiteral("*.journal")}, QDir::Files).isEmpty());
}

void TstWorkLog::emptyLogExportsHeadingAndEmptyLine()
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

void TstWorkLog::unwritableLogGoesToFallback()
{
    // A folder named LOG.txt cannot be appended to, whoever runs the test.
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("LOG.txt")));
    RecordedMessages messages;
    {
        Form1 window(optionsFor(dir.path()), &messages);
        const qsizetype before = m_board.received().size();
        window.SendFrameData({0xFD, 0, 1, 3});
        QTRY_COMPARE(m_board.received().size(), before + 4);   // sent, not dropped by the close
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

void TstWorkLog::readOnlyWorkingDirectoryLosesNothing()
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

void TstWorkLog::killedRunIsExportedAtNextStart()
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

void TstWorkLog::typingIntoTheLogReachesTheJournal()
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

void TstWorkLog::recordKeepsWhatLeavesTheBox_data()
{
    QTest::addColumn<QString>("step");
    QTest::addColumn<int>("line");   // of the box, edited or selected
    QTest::addColumn<int>("characters");   // the box's bound; lines of 21 to 23 characters
    QTest::newRow("appends only") << QString() << 0 << 1000000;
    QTest::newRow("edit that stays in the box") << QStringLiteral("edit") << 50 << 1000000;
    QTest::newRow("edited line leaves before it settles") << QStringLiteral("edit") << 0 << 1000000;
    QTest::newRow("edit that splits a line") << QStringLiteral("split") << 20 << 1000000;
    QTest::newRow("edit that joins two lines") << QStringLiteral("join") << 20 << 1000000;
    QTest::newRow("two edits apart, settled together") << QStringLiteral("two") << 20 << 1000000;
    QTest::newRow("selection kept as lines leave") << QStringLiteral("select") << 50 << 1000000;
    QTest::newRow("cleared") << QStringLiteral("clear") << 0 << 1000000;
    QTest::newRow("bounded by characters") << QString() << 0 << 1000;
    QTest::newRow("edit, bounded by characters") << QStringLiteral("split") << 10 << 1000;
}

void TstWorkLog::recordKeepsWhatLeavesTheBox()
{
    QFETCH(QString, step);
    QFETCH(int, line);
    QFETCH(int, characters);
    constexpr int kBoxLines = 100;
    QTemporaryDir dir;
    QPlainTextEdit box;
    box.show();
    LogJournal journal(dir.path());
    WorkLog log(&box, &journal, kBoxLines, characters);
    QStringList lines;
    const auto add = [&](int count) {
        for (int i = 0; i < count; ++i) {
            lines << QStringLiteral("<---- 返回：41  接收成功 %1").arg(lines.size());
            log.appendKeepingCaret(lines.last() + QStringLiteral("\r\n"));
        }
    };
    add(250);
    const int boxLines = box.document()->blockCount();
    QVERIFY(boxLines <= kBoxLines);
    QVERIFY(box.document()->characterCount() <= characters);
    const int oldestInBox = 250 - (boxLines - 1);
    QTextCursor operatorCursor(box.document()->findBlockByNumber(line));
    const int edited = oldestInBox + line;
    if (step == QStringLiteral("edit")) {
        operatorCursor.insertText(QStringLiteral("X"));
        lines[edited].prepend(u'X');
        add(10);
    } else if (step == QStringLiteral("split")) {
        const int at = 6;   // after the arrow
        operatorCursor.setPosition(operatorCursor.position() + at);
        operatorCursor.insertText(QStringLiteral("新\n"));
        lines.insert(edited + 1, lines[edited].mid(at));
        lines[edited] = lines[edited].left(at) + QStringLiteral("新");
        add(3);
    } else if (step == QStringLiteral("join")) {
        operatorCursor.movePosition(QTextCursor::EndOfBlock);
        operatorCursor.deleteChar();
        lines[edited] += lines.takeAt(edited + 1);
        add(3);
    } else if (step == QStringLiteral("two")) {
        operatorCursor.insertText(QStringLiteral("A"));
        QTextCursor(box.document()->findBlockByNumber(line + 5)).insertText(QStringLiteral("BB"));
        lines[edited].prepend(u'A');
        lines[edited + 5].prepend(QStringLiteral("BB"));
        add(3);
    } else if (step == QStringLiteral("select")) {
        operatorCursor.select(QTextCursor::LineUnderCursor);
        box.setTextCursor(operatorCursor);
        add(30);
        QCOMPARE(box.textCursor().selectedText(), lines[edited]);
    } else if (step == QStringLiteral("clear")) {
        log.clear();
        lines.clear();
        add(5);
    }
    log.settleEdit();
    add(2);   // entries go on after the rewrite
    QVERIFY(box.document()->characterCount() <= characters);
    const QString record = lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");
    QVERIFY(record.endsWith(box.toPlainText().replace(u'\n', QStringLiteral("\r\n"))));
    if (box.document()->characterCount() + 30 < characters)   // only the line count bounds it
        QCOMPARE(box.document()->blockCount(), qMin(kBoxLines, int(lines.size()) + 1));
    QCOMPARE(log.text(), record);
    QVERIFY(log.exportTo(dir.path()).written);
    QCOMPARE(fromGbk(readAll(dir.filePath("LOG.txt"))),
        QStringLiteral("导出数据\r\n") + record + QStringLiteral("\r\n"));
}

void TstWorkLog::longRestOfAnEditMovesInSteps()
{
    // A box of 100 hex lines of 12,000 characters: 1.2 MB after its oldest line.
    QTemporaryDir dir;
    QPlainTextEdit box;
    box.show();
    LogJournal journal(dir.path());
    WorkLog log(&box, &journal, 100);
    QStringList lines;
    const auto add = [&](int count) {
        for (int i = 0; i < count; ++i) {
            lines << QStringLiteral("%1 ").arg(lines.size()) + QString(12000, u'5');
            log.append(lines.last() + QStringLiteral("\r\n"));
        }
    };
    const auto onDisk = [&journal] {
        QByteArray bytes;
        for (const QString &path : journal.paths())
            bytes += readAll(path);
        return bytes;
    };
    const auto record = [&lines] {
        return toGbk(lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
    };
    add(120);
    const QByteArray before = record();
    QCOMPARE(onDisk(), before);
    QTextCursor(box.document()->firstBlock()).insertText(QStringLiteral("X"));
    lines[21].prepend(u'X');
    log.settleEdit();
    QCOMPARE(onDisk(), before);   // the files hold the record as it was until the move is done
    add(3);   // entries that come while it moves
    QTRY_COMPARE(onDisk(), record());
    QCOMPARE(journal.paths().size(), 2);   // the old piece cut before the edit, the new one
    add(2);
    QCOMPARE(onDisk(), record());
    QCOMPARE(toGbk(log.text()), record());
}

void TstWorkLog::fullDiskWarnsOnceAndLosesNothingJournaled()
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

void TstWorkLog::startTextThatIsNoFileIsNotRead_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("FIFO") << QStringLiteral("命名管道");
    QTest::newRow("folder") << QStringLiteral("文件夹");
    QTest::newRow("device") << QStringLiteral("设备");
}

void TstWorkLog::startTextThatIsNoFileIsNotRead()
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

void TstWorkLog::terminateEndsTheProgramWithABoxOpen()
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

void TstWorkLog::terminateEndsAStartUpErrorBox_data()
{
    QTest::addColumn<QString>("workDir");   // "@" stands for a file
    QTest::addColumn<int>("signal");
    QTest::newRow("a file, SIGTERM") << QStringLiteral("@") << int(SIGTERM);
    QTest::newRow("/dev/null, SIGINT") << QStringLiteral("/dev/null") << int(SIGINT);
    QTest::newRow("empty, SIGTERM") << QString() << int(SIGTERM);
    QTest::newRow("/proc, SIGINT") << QStringLiteral("/proc") << int(SIGINT);
}

void TstWorkLog::terminateEndsAStartUpErrorBox()
{
    // The error box opens for a program started from a desktop: a display, no terminal.
    QFETCH(QString, workDir);
    QFETCH(int, signal);
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
        QSKIP("no Xvfb to show the box on");
    QProcess display;
    display.start(QStringLiteral("Xvfb"),
        {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
            QStringLiteral("tcp")});
    QTRY_VERIFY_WITH_TIMEOUT(display.canReadLine(), 10000);
    const QString number = QString::fromLatin1(display.readLine().trimmed());
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("file")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    workDir.replace(u'@', file.fileName());

    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), u':' + number);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(ORV_DEMO_PROGRAM), {QStringLiteral("--workdir"), workDir});
    QVERIFY(program.waitForStarted(10000));
    QString errors;
    QTRY_VERIFY_WITH_TIMEOUT(
        (errors += QString::fromLocal8Bit(program.readAllStandardError())).contains(u"--workdir")
            || errors.contains(QStringLiteral("cannot be used")),
        10000);
    QTest::qWait(500);   // the box is on the display by now
    QCOMPARE(program.state(), QProcess::Running);   // the box waits for the operator
    ::kill(pid_t(program.processId()), signal);
    const bool ended = program.waitForFinished(10000);
    if (!ended)
        program.kill();
    program.waitForFinished();
    display.kill();
    display.waitForFinished();
    QVERIFY2(ended, qPrintable(errors));
    QCOMPARE(program.exitStatus(), QProcess::CrashExit);   // ended by the signal
}

void TstWorkLog::largeStartTextIsNotRead_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<bool>("read");
    QTest::newRow("at the limit") << LogFile::kMaxStartTextBytes << true;
    QTest::newRow("one byte more") << LogFile::kMaxStartTextBytes + 1 << false;
    QTest::newRow("200 MB, one line") << qint64(200) * 1024 * 1024 << false;
}

void TstWorkLog::largeStartTextIsNotRead()
{
    QFETCH(qint64, size);
    QFETCH(bool, read);
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("初始默认文本.txt")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.resize(size));   // sparse: a line of NUL characters
    QVERIFY(file.seek(size - 1));
    QVERIFY(file.putChar('A'));
    file.close();
    RecordedMessages messages;
    Form1 window(optionsFor(dir.path()), &messages);
    const QString text = window.findChild<QPlainTextEdit *>(QStringLiteral("Text3"))->toPlainText();
    if (read) {
        QCOMPARE(text.size(), size);
        QVERIFY(text.endsWith(u'A'));
        QCOMPARE(window.workLogText(), QString());
    } else {
        QVERIFY(text.isEmpty());
        QCOMPARE(window.workLogText(),
            QStringLiteral("初始默认文本.txt 过大（%1 字节，上限 %2 字节），未读取，发送框为空\r\n")
                .arg(size)
                .arg(LogFile::kMaxStartTextBytes));
    }
}

QTEST_MAIN(TstWorkLog)
#include "tst_worklog.moc"
