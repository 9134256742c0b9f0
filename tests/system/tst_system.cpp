#include "deviceaccess.h"
#include "interrupts.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Runs body in a child process that an alarm ends after five seconds; its wait status.
int inChild(const std::function<void()> &body)
{
    const pid_t child = ::fork();
    if (child == 0) {
        ::alarm(5);   // a handler that blocks ends here, by SIGALRM
        body();
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return status;
}

}   // namespace

class TstSystem : public QObject
{
    Q_OBJECT
private slots:
    // These two run in children of a process that has not yet caught anything.
    void burstOfSignalsNeverBlocks();
    void endsByTheFirstSignal_data();
    void endsByTheFirstSignal();
    void signalsReachTheEventLoop();
    void deviceAccess_data();
    void deviceAccess();
};

void TstSystem::signalsReachTheEventLoop()
{
    Interrupts::install();
    QVERIFY(Interrupts::descriptor() >= 0);
    QCOMPARE(Interrupts::first(), 0);
    int calls = 0;
    QObject context;
    Interrupts::onSignal(&context, [&calls] { ++calls; });
    ::raise(SIGHUP);
    ::raise(SIGINT);
    // Readable before the event loop has run, for a wait on input beside it.
    pollfd wait = {Interrupts::descriptor(), POLLIN, 0};
    QCOMPARE(::poll(&wait, 1, 0), 1);
    QTRY_COMPARE(calls, 2);   // one call per signal
    QCOMPARE(Interrupts::first(), SIGHUP);
    QCOMPARE(::poll(&wait, 1, 0), 0);   // each byte taken
    Interrupts::install();   // a second install keeps the pair and what came
    QCOMPARE(Interrupts::first(), SIGHUP);
}

void TstSystem::burstOfSignalsNeverBlocks()
{
    // Nothing reads the pair: a blocking write end would fill up and hang the handler.
    const int status = inChild([] {
        Interrupts::install();
        for (int i = 0; i < 100000; ++i)
            ::raise(SIGTERM);
    });
    QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 0,
        qPrintable(QStringLiteral("status %1").arg(status)));
}

void TstSystem::endsByTheFirstSignal_data()
{
    QTest::addColumn<QList<int>>("raised");
    QTest::addColumn<int>("endedBy");   // 0: returns and exits normally
    QTest::newRow("none came") << QList<int> {} << 0;
    QTest::newRow("SIGTERM") << QList<int> {SIGTERM} << SIGTERM;
    QTest::newRow("SIGINT, then SIGHUP") << QList<int> {SIGINT, SIGHUP} << SIGINT;
}

void TstSystem::endsByTheFirstSignal()
{
    QFETCH(QList<int>, raised);
    QFETCH(int, endedBy);
    const int status = inChild([&raised] {
        Interrupts::install();
        for (int signal : raised)
            ::raise(signal);
        Interrupts::endBySignal();
    });
    if (endedBy == 0) {
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
    } else {
        QVERIFY(WIFSIGNALED(status));
        QCOMPARE(WTERMSIG(status), endedBy);
    }
}

void TstSystem::deviceAccess_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("error");
    QTest::newRow("read and write") << "rw" << 0600 << 0;
    QTest::newRow("read only") << "ro" << 0400 << EACCES;
    QTest::newRow("write only") << "wo" << 0200 << EACCES;
    QTest::newRow("missing") << "" << 0 << ENOENT;
}

void TstSystem::deviceAccess()
{
    QFETCH(QString, name);
    QFETCH(int, mode);
    QFETCH(int, error);
    if (error == EACCES && ::geteuid() == 0)
        QSKIP("root may read and write any file");
    QTemporaryDir dir;
    const QString path = dir.filePath(name.isEmpty() ? QStringLiteral("gone") : name);
    if (!name.isEmpty()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(::chmod(QFile::encodeName(path).constData(), mode_t(mode)) == 0);
    }
    QCOMPARE(deviceAccessError(path), error);
    QCOMPARE(deviceAccessError(QFile::encodeName(path)), error);
}

QTEST_GUILESS_MAIN(TstSystem)
#include "tst_system.moc"
