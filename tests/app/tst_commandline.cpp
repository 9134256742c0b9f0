#include "commandline.h"

#include <QtTest>

#include <unistd.h>

class TstCommandLine : public QObject
{
    Q_OBJECT
private slots:
    void options_data();
    void options();
    void workDir_data();
    void workDir();
};

void TstCommandLine::options_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("exitNow");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("com1");
    QTest::addColumn<bool>("internal");
    QTest::addColumn<bool>("virtualBoard");
    QTest::newRow("nothing") << QStringList {} << false << 0 << QString() << false << false;
    QTest::newRow("two mappings") << QStringList {"--com", "COM1=/dev/ttyUSB3", "--com",
        "COM2=/dev/pts/4"} << false
                                  << 0 << "/dev/ttyUSB3" << false << false;
    QTest::newRow("internal and virtual")
        << QStringList {"--internal", "--virtual"} << false << 0 << QString() << true << true;
    QTest::newRow("help") << QStringList {"--help"} << true << 0 << QString() << false << false;
    QTest::newRow("version") << QStringList {"--version"} << true << 0 << QString() << false
                             << false;
    QTest::newRow("COM21") << QStringList {"--com", "COM21=/dev/x"} << true << 2 << QString()
                           << false << false;
    QTest::newRow("unknown option")
        << QStringList {"--fast"} << true << 2 << QString() << false << false;
    QTest::newRow("stray argument")
        << QStringList {"COM1"} << true << 2 << QString() << false << false;
}

void TstCommandLine::options()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, exitNow);
    QFETCH(int, exitCode);
    QFETCH(QString, com1);
    QFETCH(bool, internal);
    QFETCH(bool, virtualBoard);
    const CommandLine line = parseCommandLine(QStringList {"orv4120-demo"} + arguments);
    QCOMPARE(line.exitNow, exitNow);
    QCOMPARE(line.exitCode, exitCode);
    if (exitNow) {
        QVERIFY(!line.output.isEmpty());
        return;
    }
    QCOMPARE(line.options.ports.overrides().value(1), com1);
    QCOMPARE(line.options.internal, internal);
    QCOMPARE(line.virtualBoard, virtualBoard);
}

void TstCommandLine::workDir_data()
{
    QTest::addColumn<QString>("given");   // "@" stands for a fresh temporary folder
    QTest::addColumn<QString>("used");   // empty: the program stops with an error
    QTest::newRow("created when missing") << "@/new/logs"
                                          << "@/new/logs";
    QTest::newRow("home folder") << "~/orv4120-demo"
                                 << "@/orv4120-demo";
    QTest::newRow("a file in the way") << "@/file" << QString();
    QTest::newRow("read-only folder") << "@/locked" << QString();
    // Permissions say root may write here; only a file written tells otherwise.
    QTest::newRow("/proc") << "/proc" << QString();
    QTest::newRow("/proc/self/fd") << "/proc/self/fd" << QString();
    QTest::newRow("/sys/kernel") << "/sys/kernel" << QString();
}

void TstCommandLine::workDir()
{
    QFETCH(QString, given);
    QFETCH(QString, used);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    qputenv("HOME", QFile::encodeName(dir.path()));
    QFile file(dir.filePath("file"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(QDir(dir.path()).mkdir("locked"));
    QVERIFY(QFile::setPermissions(
        dir.filePath("locked"), QFile::ReadOwner | QFile::ExeOwner | QFile::ReadUser));
    if (QTest::currentDataTag() == QLatin1String("read-only folder") && ::geteuid() == 0)
        QSKIP("root may write into any folder");

    given.replace('@', dir.path());
    const CommandLine line = parseCommandLine({"orv4120-demo", "--workdir", given});
    QCOMPARE(line.exitNow, used.isEmpty());
    if (used.isEmpty()) {
        QCOMPARE(line.exitCode, 1);
        QVERIFY2(line.output.contains(given), qPrintable(line.output));
        return;
    }
    used.replace('@', dir.path());
    QCOMPARE(line.options.workDir, used);
    QVERIFY(QFileInfo(used).isDir());
    QCOMPARE(QDir(used).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList());   // the probe is gone
}

QTEST_GUILESS_MAIN(TstCommandLine)
#include "tst_commandline.moc"
