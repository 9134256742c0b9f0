#include "codepage.h"
#include "guardedfile.h"
#include "journalnames.h"
#include "logexport.h"
#include "logjournal.h"
#include "recordlines.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

// The work log's files without a window: guarded opening and the start-up text, the LOG.txt
// export and its fallback, the journal's record and names, and the recovery of dead runs.
class TstLogFile : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void linksPlantedByAnotherUser_data();
    void linksPlantedByAnotherUser();
    void startTextIsReadOrMadeEmpty_data();
    void startTextIsReadOrMadeEmpty();
    void exportIsWholeOrGoesToTheFallback_data();
    void exportIsWholeOrGoesToTheFallback();
    void recordAfterEachChange_data();
    void recordAfterEachChange();
    void longReplaceMovesInSteps();
    void removedPieceIsCopiedBack();
    void editedLinesReplaceTheirBytes_data();
    void editedLinesReplaceTheirBytes();
    void newJournalNeverOpensAPlantedName();
    void pieceNamesReadBack_data();
    void pieceNamesReadBack();
    void recoveryJoinsPiecesByTheirStarts_data();
    void recoveryJoinsPiecesByTheirStarts();
    void deadRunsAreExportedOldestFirst();
    void liveJournalIsNotRecovered();
    void recoveryReadsOnlyOwnRegularFiles_data();
    void recoveryReadsOnlyOwnRegularFiles();
    void twoRecoveriesExportAnOrphanOnce();
    void livenessIsTheJournalsLock_data();
    void livenessIsTheJournalsLock();
};

static QByteArray readAll(const QString &path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

static bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
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

void TstLogFile::init()
{
    // The fallback folder lies under XDG_DATA_HOME, set for the suite by CTest; start it empty.
    QDir(LogFile::fallbackDirectory()).removeRecursively();
}

void TstLogFile::linksPlantedByAnotherUser_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("owner");   // of the link: 0 the user, 1 the folder's owner, 2 another
    QTest::addColumn<bool>("sticky");   // the folder: sticky and world-writable, or private
    QTest::addColumn<bool>("dangling");   // the link's target does not exist
    QTest::addColumn<bool>("followed");
    const QString log = QStringLiteral("LOG.txt");
    const QString start = QStringLiteral("初始默认文本.txt");
    QTest::newRow("LOG.txt, another user's link") << log << 2 << true << false << false;
    QTest::newRow("LOG.txt, another user's dangling link") << log << 2 << true << true << false;
    QTest::newRow("LOG.txt, the folder owner's link") << log << 1 << true << false << true;
    QTest::newRow("LOG.txt, own link") << log << 0 << true << true << true;
    QTest::newRow("LOG.txt, another user's link, private folder")
        << log << 2 << false << false << true;
    QTest::newRow("LOG.txt, another user's file") << log << -2 << true << false << false;
    QTest::newRow("start text, another user's link") << start << 2 << true << false << false;
    QTest::newRow("start text, another user's dangling link")
        << start << 2 << true << true << false;
    QTest::newRow("start text, the folder owner's link") << start << 1 << true << false << true;
    QTest::newRow("start text, own dangling link") << start << 0 << true << true << true;
}

void TstLogFile::linksPlantedByAnotherUser()
{
    // A negative owner plants a regular file of that owner instead of a link.
    QFETCH(QString, name);
    QFETCH(int, owner);
    QFETCH(bool, sticky);
    QFETCH(bool, dangling);
    QFETCH(bool, followed);
    if (::geteuid() != 0)
        QSKIP("only root can make links of other users");
    constexpr uid_t kFolderOwner = 65534, kAnother = 65533;
    const uid_t uid = std::abs(owner) == 0 ? 0 : std::abs(owner) == 1 ? kFolderOwner : kAnother;
    QTemporaryDir base;
    const QString shared = base.filePath(QStringLiteral("shared"));
    QVERIFY(QDir().mkdir(shared));
    QCOMPARE(::chown(QFile::encodeName(shared).constData(), kFolderOwner, kFolderOwner), 0);
    QCOMPARE(::chmod(QFile::encodeName(shared).constData(), sticky ? 01777 : 0755), 0);
    const QString target = base.filePath(QStringLiteral("elsewhere"));
    if (!dangling) {
        QFile file(target);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("kept");
    }
    const QString path = QDir(shared).filePath(name);
    if (owner >= 0) {
        QVERIFY(QFile::link(target, path));
        QCOMPARE(::lchown(QFile::encodeName(path).constData(), uid, uid), 0);
    } else {
        QVERIFY(QFile::copy(target, path));
        QCOMPARE(::chown(QFile::encodeName(path).constData(), uid, uid), 0);
    }
    const QString watched = owner >= 0 ? target : path;   // what an export must not reach
    const QByteArray before = readAll(watched);

    if (name == QStringLiteral("LOG.txt")) {
        const LogFile::ExportResult result = LogFile::appendExport(
            shared, [](int fd, QString *) { return ::write(fd, "x", 1) == 1; });
        QVERIFY(result.written);
        QCOMPARE(result.fallback, !followed);
        if (followed) {
            QCOMPARE(readAll(target), before + toGbk(u"导出数据\r\nx\r\n"));
        } else {
            QCOMPARE(readAll(watched), before);
            QCOMPARE(QFileInfo::exists(target), !dangling);
            QVERIFY2(result.reason.contains(QStringLiteral("其他用户")), qPrintable(result.reason));
            QFile::remove(result.path);
        }
        return;
    }
    QByteArray bytes;
    QString problem;
    const bool read = LogFile::readStartText(path, &bytes, &problem);
    if (followed) {
        QVERIFY(read);
        QCOMPARE(bytes, before);
        QVERIFY(QFileInfo::exists(target));   // created empty when missing, through the link
        QCOMPARE(problem, QString());
    } else {
        QVERIFY(!read);
        QVERIFY(bytes.isEmpty());
        QCOMPARE(QFileInfo::exists(target), !dangling);
        QCOMPARE(problem, QStringLiteral("是其他用户在共享文件夹中放置的链接，未读取，发送框为空"));
    }
}

void TstLogFile::startTextIsReadOrMadeEmpty_data()
{
    QTest::addColumn<bool>("present");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("missing: made empty") << false << QByteArray();
    QTest::newRow("GBK text") << true << toGbk(u"你好\r\n第二行");
    QTest::newRow("empty file") << true << QByteArray();
}

void TstLogFile::startTextIsReadOrMadeEmpty()
{
    QFETCH(bool, present);
    QFETCH(QByteArray, bytes);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("初始默认文本.txt"));
    if (present)
        QVERIFY(writeFile(path, bytes));
    QByteArray read = "stale";
    QString problem;
    QVERIFY(LogFile::readStartText(path, &read, &problem));
    QCOMPARE(read, bytes);
    QCOMPARE(problem, QString());
    QCOMPARE(readAll(path), bytes);
    QVERIFY(QFileInfo(path).isFile());
}

void TstLogFile::exportIsWholeOrGoesToTheFallback_data()
{
    QTest::addColumn<int>("failures");   // of the body, from its first call on; 99: every one
    QTest::newRow("written") << 0;
    QTest::newRow("torn in LOG.txt, whole in the fallback") << 1;
    QTest::newRow("nowhere") << 99;
}

void TstLogFile::exportIsWholeOrGoesToTheFallback()
{
    QFETCH(int, failures);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(QStringLiteral("LOG.txt")), "earlier\r\n"));
    int calls = 0;
    const LogFile::ExportResult result =
        LogFile::appendExport(dir.path(), [&](int fd, QString *reason) {
            const bool fails = calls++ < failures;
            const QByteArray body = fails ? "tor" : "body\r\n";
            if (::write(fd, body.constData(), size_t(body.size())) != body.size())
                return false;
            if (fails)
                *reason = QStringLiteral("disk full");
            return !fails;
        });
    const QByteArray exported = toGbk(u"导出数据\r\nbody\r\n\r\n");
    const QStringList fallbacks =
        QDir(LogFile::fallbackDirectory()).entryList({QStringLiteral("LOG-*.txt")}, QDir::Files);
    QCOMPARE(result.written, failures < 99);
    QCOMPARE(result.fallback, failures > 0);
    QCOMPARE(readAll(dir.filePath(QStringLiteral("LOG.txt"))),
        failures == 0 ? "earlier\r\n" + exported : QByteArray("earlier\r\n"));
    if (failures == 0) {
        QCOMPARE(result.path, dir.filePath(QStringLiteral("LOG.txt")));
        QVERIFY(fallbacks.isEmpty());
        return;
    }
    QCOMPARE(result.reason, QStringLiteral("disk full"));
    if (failures == 1) {
        QCOMPARE(fallbacks.size(), 1);
        QCOMPARE(result.path, QDir(LogFile::fallbackDirectory()).filePath(fallbacks.first()));
        QCOMPARE(readAll(result.path), exported);
        QCOMPARE(QFileInfo(result.path).permissions() & (QFile::ReadOther | QFile::WriteOther),
            QFile::Permissions());
    } else {
        QVERIFY(fallbacks.isEmpty());   // a torn fallback is removed again
    }
}

void TstLogFile::recordAfterEachChange_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QByteArray>("record");   // after "a\r\nbb\r\nccc\r\n"
    QTest::newRow("append") << QStringLiteral("append") << QByteArray("a\r\nbb\r\nccc\r\nd\r\n");
    QTest::newRow("rewrite from the second line")
        << QStringLiteral("rewrite") << QByteArray("a\r\nB\r\n");
    QTest::newRow("replace the second line")
        << QStringLiteral("replace") << QByteArray("a\r\nBBBB\r\nccc\r\n");
    QTest::newRow("clear, then append") << QStringLiteral("clear") << QByteArray("d\r\n");
}

void TstLogFile::recordAfterEachChange()
{
    QFETCH(QString, change);
    QFETCH(QByteArray, record);
    QTemporaryDir dir;
    LogJournal journal(dir.path());
    journal.append("a\r\nbb\r\nccc\r\n");
    if (change == QStringLiteral("append")) {
        journal.append("d\r\n");
    } else if (change == QStringLiteral("rewrite")) {
        journal.rewriteFrom(3, "B\r\n");
    } else if (change == QStringLiteral("replace")) {
        journal.replace(3, 7, "BBBB\r\n");
    } else {
        journal.clear();
        journal.append("d\r\n");
    }
    QCOMPARE(journal.size(), record.size());
    QCOMPARE(journal.read(0, journal.size()), record);
    QCOMPARE(journal.read(1, 4), record.mid(1, 3));
    QByteArray onDisk;
    for (const QString &path : journal.paths())
        onDisk += readAll(path);
    QCOMPARE(onDisk, record);
    QVERIFY(journal.exportTo(dir.path()).written);
    QCOMPARE(
        readAll(dir.filePath(QStringLiteral("LOG.txt"))), toGbk(u"导出数据\r\n") + record + "\r\n");
    journal.remove();
    QVERIFY(QDir(dir.path()).entryList({QStringLiteral("*.journal")}, QDir::Files).isEmpty());
}

void TstLogFile::longReplaceMovesInSteps()
{
    // 3 MiB of lines behind the replaced ones: moved a chunk a step, the old files as they were
    // until the new piece holds all of it.
    QTemporaryDir dir;
    LogJournal journal(dir.path());
    QByteArray record;
    for (int i = 0; record.size() < 3 * 1024 * 1024; ++i)
        record += QByteArray::number(i).rightJustified(98, '0') + "\r\n";
    journal.append(record);
    const auto onDisk = [&journal] {
        QByteArray bytes;
        for (const QString &path : journal.paths())
            bytes += readAll(path);
        return bytes;
    };
    for (const qint64 at :
        {qint64(200), qint64(100)}) {   // the second move starts before the first
        const QByteArray before = record;
        journal.replace(at, at + 100, "X\r\n");
        record.replace(at, 100, "X\r\n");
        QCOMPARE(journal.size(), record.size());
        QCOMPARE(onDisk(), before);
        journal.append("new\r\n");
        record += "new\r\n";
        QTRY_COMPARE(onDisk(), record);
        QCOMPARE(journal.paths().size(), 2);   // the first piece cut at the move, the new one
    }
    QCOMPARE(journal.read(0, journal.size()), record);
}

void TstLogFile::removedPieceIsCopiedBack()
{
    QTemporaryDir dir;
    LogJournal journal(dir.path());
    journal.append("first\r\n");
    const QString removed = journal.paths().value(0);
    QVERIFY(QFile::remove(removed));
    journal.append("second\r\n");   // into the unlinked file, until its copy takes over
    QTRY_VERIFY_WITH_TIMEOUT(journal.paths().value(0) != removed, 5000);
    const QString copy = journal.paths().value(0);
    QVERIFY2(copy.startsWith(LogFile::fallbackDirectory() + u'/'), qPrintable(copy));
    QCOMPARE(readAll(copy), QByteArray("first\r\nsecond\r\n"));
    journal.append("third\r\n");
    QCOMPARE(readAll(copy), QByteArray("first\r\nsecond\r\nthird\r\n"));
}

void TstLogFile::editedLinesReplaceTheirBytes_data()
{
    // The box shows "a", "bb", "ccc" and the empty line after: the record "a\r\nbb\r\nccc\r\n".
    QTest::addColumn<int>("dropped");   // oldest lines that left the box first
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("linesAfter");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<qint64>("from");
    QTest::addColumn<qint64>("to");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QList<qint64>>("starts");
    QTest::newRow("a line edited")
        << 0 << 1 << 2 << QStringList {QStringLiteral("XbbX")} << qint64(3) << qint64(7)
        << QByteArray("XbbX\r\n") << QList<qint64> {0, 3, 9, 14};
    QTest::newRow("a line split") << 0 << 1 << 2
                                  << QStringList {QStringLiteral("b"), QStringLiteral("b")}
                                  << qint64(3) << qint64(7) << QByteArray("b\r\nb\r\n")
                                  << QList<qint64> {0, 3, 6, 9, 14};
    QTest::newRow("two lines joined")
        << 0 << 1 << 1 << QStringList {QStringLiteral("bbccc")} << qint64(3) << qint64(12)
        << QByteArray("bbccc\r\n") << QList<qint64> {0, 3, 10};
    QTest::newRow("typed after the last entry")
        << 0 << 3 << 0 << QStringList {QStringLiteral("note")} << qint64(12) << qint64(12)
        << QByteArray("note") << QList<qint64> {0, 3, 7, 12};
    QTest::newRow("GBK, and a break typed inside a line")
        << 0 << 0 << 3 << QStringList {QStringLiteral("你\n好")} << qint64(0) << qint64(3)
        << toGbk(u"你\r\n好\r\n") << QList<qint64> {0, 8, 12, 17};
    QTest::newRow("after the oldest lines left")
        << 2 << 0 << 1 << QStringList {QStringLiteral("C")} << qint64(7) << qint64(12)
        << QByteArray("C\r\n") << QList<qint64> {7, 10};
}

void TstLogFile::editedLinesReplaceTheirBytes()
{
    QFETCH(int, dropped);
    QFETCH(int, first);
    QFETCH(int, linesAfter);
    QFETCH(QStringList, lines);
    QFETCH(qint64, from);
    QFETCH(qint64, to);
    QFETCH(QByteArray, bytes);
    QFETCH(QList<qint64>, starts);
    RecordLines record;
    record.appended(0, "a\r\n");
    record.appended(3, "bb\r\nccc\r\n");
    QCOMPARE(record.count(), size_t(4));
    record.dropFirst(size_t(dropped));
    const RecordLines::Edit edit = record.replace(size_t(first), size_t(linesAfter), lines, 12);
    QCOMPARE(edit.from, from);
    QCOMPARE(edit.to, to);
    QCOMPARE(edit.bytes, bytes);
    QList<qint64> after;
    for (size_t i = 0; i < record.count(); ++i)
        after << record.start(i);
    QCOMPARE(after, starts);
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

void TstLogFile::pieceNamesReadBack_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QByteArray>("run");
    QTest::addColumn<int>("number");
    QTest::addColumn<qint64>("start");
    QTest::newRow("first piece") << QStringLiteral("LOG.txt.42-00ff.1.0.journal") << true
                                 << QByteArray("42-00ff") << 1 << qint64(0);
    QTest::newRow("past 4 GiB") << QStringLiteral("LOG.txt.42-00ff.12.5000000000.journal") << true
                                << QByteArray("42-00ff") << 12 << qint64(5000000000);
    QTest::newRow("no token") << QStringLiteral("LOG.txt.42.1.0.journal") << false << QByteArray()
                              << 0 << qint64(0);
    QTest::newRow("no piece number")
        << QStringLiteral("LOG.txt.42-00ff.0.journal") << false << QByteArray() << 0 << qint64(0);
    QTest::newRow("negative start") << QStringLiteral("LOG.txt.42-00ff.1.-5.journal") << false
                                    << QByteArray() << 0 << qint64(0);
    QTest::newRow("pid not a number")
        << QStringLiteral("LOG.txt.x-00ff.1.0.journal") << false << QByteArray() << 0 << qint64(0);
    QTest::newRow("other file") << QStringLiteral("LOG.txt") << false << QByteArray() << 0
                                << qint64(0);
}

void TstLogFile::pieceNamesReadBack()
{
    QFETCH(QString, name);
    QFETCH(bool, valid);
    QFETCH(QByteArray, run);
    QFETCH(int, number);
    QFETCH(qint64, start);
    const auto piece = JournalNames::parse(name, QString());
    QCOMPARE(piece.has_value(), valid);
    QVERIFY(!JournalNames::parse(QStringLiteral("0123456789ab.") + name, QString()));
    if (!valid)
        return;
    QCOMPARE(piece->run, run);
    QCOMPARE(piece->number, number);
    QCOMPARE(piece->start, start);

    // The name each folder gives the same piece reads back with that folder's prefix.
    QTemporaryDir dir;
    const QString fallback = LogFile::fallbackDirectory();
    for (const QString &folder : {dir.path(), fallback}) {
        const QString prefix = JournalNames::prefix(folder, dir.path());
        QCOMPARE(prefix.isEmpty(), folder == dir.path());
        const QString path = JournalNames::piecePath(folder, dir.path(), run, number, start);
        QCOMPARE(QFileInfo(path).absolutePath(), QDir(folder).absolutePath());
        const auto back = JournalNames::parse(QFileInfo(path).fileName(), prefix);
        QVERIFY(back);
        QCOMPARE(back->run, run);
        QCOMPARE(back->number, number);
        QCOMPARE(back->start, start);
    }
}

void TstLogFile::recoveryJoinsPiecesByTheirStarts_data()
{
    // Pieces as "<number>:<start>:<bytes>", "f" in front for the fallback folder.
    QTest::addColumn<QStringList>("pieces");
    QTest::addColumn<QByteArray>("exported");
    QTest::newRow("one piece") << QStringList {QStringLiteral("1:0:a\r\n")} << QByteArray("a\r\n");
    QTest::newRow("continued in the fallback folder") << QStringList {QStringLiteral("1:0:a\r\n"),
        QStringLiteral("f2:3:b\r\n")} << QByteArray("a\r\nb\r\n");
    QTest::newRow("a later piece starts inside an earlier one")
        << QStringList {QStringLiteral("1:0:a\r\nold\r\n"), QStringLiteral("2:3:new\r\n")}
        << QByteArray("a\r\nnew\r\n");
    QTest::newRow("numbers past 9 in order") << QStringList {QStringLiteral("10:3:b\r\n"),
        QStringLiteral("9:0:a\r\n")} << QByteArray("a\r\nb\r\n");
}

void TstLogFile::recoveryJoinsPiecesByTheirStarts()
{
    QFETCH(QStringList, pieces);
    QFETCH(QByteArray, exported);
    QTemporaryDir dir;
    const QByteArray run = QByteArray::number(deadPid()) + "-0123456789abcdef";
    for (const QString &piece : pieces) {
        const bool fallback = piece.startsWith(u'f');
        const QStringList parts = piece.mid(fallback ? 1 : 0).split(u':');
        const QString folder = fallback ? LogFile::fallbackDirectory() : dir.path();
        QVERIFY(writeFile(JournalNames::piecePath(
                              folder, dir.path(), run, parts[0].toInt(), parts[1].toLongLong()),
            parts[2].toLatin1()));
    }
    const QList<LogFile::ExportResult> results = LogJournal::recoverOrphans(dir.path());
    QCOMPARE(results.size(), 1);
    QVERIFY(results.first().written);
    QCOMPARE(readAll(dir.filePath(QStringLiteral("LOG.txt"))),
        toGbk(u"导出数据\r\n") + exported + "\r\n");
    QVERIFY(QDir(dir.path()).entryList({QStringLiteral("*.journal")}, QDir::Files).isEmpty());
    QVERIFY(QDir(LogFile::fallbackDirectory())
                .entryList({QStringLiteral("*.journal")}, QDir::Files)
                .isEmpty());
}

void TstLogFile::deadRunsAreExportedOldestFirst()
{
    // The run whose name sorts first wrote last.
    QTemporaryDir dir;
    const QByteArray pid = QByteArray::number(deadPid());
    const QDateTime now = QDateTime::currentDateTime();
    for (const auto &[token, age] : {std::pair {"aaaa", 10}, std::pair {"bbbb", 3600}}) {
        QFile piece(JournalNames::piecePath(dir.path(), dir.path(), pid + '-' + token, 1, 0));
        QVERIFY(piece.open(QIODevice::WriteOnly));
        piece.write(QByteArray(token) + "\r\n");
        QVERIFY(piece.flush());
        QVERIFY(piece.setFileTime(now.addSecs(-age), QFileDevice::FileModificationTime));
    }
    QCOMPARE(LogJournal::recoverOrphans(dir.path()).size(), 2);
    const QByteArray heading = toGbk(u"导出数据\r\n");
    QCOMPARE(readAll(dir.filePath(QStringLiteral("LOG.txt"))),
        heading + "bbbb\r\n\r\n" + heading + "aaaa\r\n\r\n");
}

void TstLogFile::liveJournalIsNotRecovered()
{
    QTemporaryDir dir;
    LogJournal journal(dir.path());
    journal.append("live\r\n");
    QVERIFY(LogJournal::recoverOrphans(dir.path()).isEmpty());
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("LOG.txt"))));
    QCOMPARE(readAll(journal.paths().value(0)), QByteArray("live\r\n"));
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

void TstLogFile::livenessIsTheJournalsLock_data()
{
    QTest::addColumn<bool>("livePid");   // a running process has the pid in the journal's name
    QTest::addColumn<bool>("locked");   // a program holds the journal's lock
    QTest::addColumn<bool>("exported");
    QTest::newRow("pid taken by another program, no lock") << true << false << true;
    QTest::newRow("pid gone, lock held") << false << true << false;
    QTest::newRow("pid gone, no lock") << false << false << true;
}

void TstLogFile::livenessIsTheJournalsLock()
{
    QFETCH(bool, livePid);
    QFETCH(bool, locked);
    QFETCH(bool, exported);
    QTemporaryDir dir;
    QProcess other;   // a program that has the dead run's pid by now
    other.start(QStringLiteral("sleep"), {QStringLiteral("30")});
    QVERIFY(other.waitForStarted());
    const qint64 pid = livePid ? other.processId() : deadPid();
    const QString path =
        dir.filePath(QStringLiteral("LOG.txt.%1-0123456789abcdef.1.0.journal").arg(pid));
    QFile journal(path);
    QVERIFY(journal.open(QIODevice::WriteOnly));
    journal.write("the run's record\r\n");
    journal.flush();
    if (locked)
        QCOMPARE(::flock(journal.handle(), LOCK_EX | LOCK_NB), 0);
    LogJournal::recoverOrphans(dir.path());
    QCOMPARE(readAll(dir.filePath("LOG.txt")).contains("the run's record"), exported);
    QCOMPARE(QFileInfo::exists(path), !exported);
    other.kill();
    other.waitForFinished();
}

QTEST_GUILESS_MAIN(TstLogFile)
#include "tst_logfile.moc"
