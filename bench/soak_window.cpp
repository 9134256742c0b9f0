// Measures the window over a run, not per call: what the links cost while idle (serial only, then
// with the USB board found), how soon the board's 0x5E releases the next report, and, during an
// internal test over USB with the timing view shown, the longest stall of the window's event loop
// and the memory at the first minute and at the end.
//
//     build/bin/soak_window [--minutes N]      (default 30; the internal test runs that long)
#include "Form1.h"
#include "HidAPI.h"
#include "hidlink.h"
#include "operatormessages.h"
#include "virtualhidapi.h"
#include "virtualserialboard.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QToolButton>

#include <ctime>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace {

qint64 nowUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

// Context switches (wake-ups) of the threads whose name starts with prefix; all when empty.
qint64 wakeUps(const QString &prefix = {})
{
    qint64 total = 0;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(task + QStringLiteral("/comm")));
        if (!prefix.isEmpty()
            && (!comm.open(QIODevice::ReadOnly)
                || !QString::fromUtf8(comm.readAll()).startsWith(prefix)))
            continue;
        QFile status(tasks.filePath(task + QStringLiteral("/status")));
        if (!status.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("voluntary_ctxt_switches")
                || line.startsWith("nonvoluntary_ctxt_switches"))
                total += line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
        }
    }
    return total;
}

// CPU time of the threads whose name starts with prefix, in microseconds.
qint64 threadCpuUs(const QString &prefix)
{
    qint64 ticks = 0;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(task + QStringLiteral("/comm")));
        if (!comm.open(QIODevice::ReadOnly)
            || !QString::fromUtf8(comm.readAll()).startsWith(prefix))
            continue;
        QFile stat(tasks.filePath(task + QStringLiteral("/stat")));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        ticks += fields.value(11).toLongLong() + fields.value(12).toLongLong();   // utime, stime
    }
    return ticks * 1000000 / sysconf(_SC_CLK_TCK);
}

qint64 cpuUs()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return qint64(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000 + usage.ru_utime.tv_usec
        + usage.ru_stime.tv_usec;
}

// Heap in use and heap held free by the allocator, in KB: whether growth is data or fragmentation.
QString heapKb()
{
    const struct mallinfo2 info = mallinfo2();
    return QStringLiteral("heap in use %1 KB, free in heap %2 KB, mapped blocks %3 KB")
        .arg(info.uordblks / 1024)
        .arg(info.fordblks / 1024)
        .arg(info.hblkhd / 1024);
}

// A "Name:   123 kB" line of /proc/self/status, in KB.
qint64 statusKb(const QByteArray &name)
{
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(name + ':'))
            return line.mid(name.size() + 1).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

qint64 rssKb()
{
    return statusKb("VmRSS");
}

// Resident memory of the program's own (anonymous) pages and of mapped files (code, fonts).
QString rssParts()
{
    return QStringLiteral("anonymous %1 KB, files %2 KB")
        .arg(statusKb("RssAnon"))
        .arg(statusKb("RssFile"));
}

void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The virtual board behind the seam, with the time of every 0x5E read and every report written.
class TimedHid final : public HidApi
{
public:
    explicit TimedHid(HidApi &inner)
        : m_inner(inner)
    { }
    QList<HidDeviceInfo> enumerate() override { return m_inner.enumerate(); }
    HidDevice *open(const QByteArray &path) override { return m_inner.open(path); }
    void close(HidDevice *device) override { m_inner.close(device); }
    bool attributes(HidDevice *d, quint16 *v, quint16 *p) override
    {
        return m_inner.attributes(d, v, p);
    }
    bool reportLengths(HidDevice *d, int *in, int *out) override
    {
        return m_inner.reportLengths(d, in, out);
    }
    // A report the reader thread writes is one a 0x5E released: its delay runs from that read.
    int write(HidDevice *device, const QByteArray &report) override
    {
        const int written = m_inner.write(device, report);
        QMutexLocker locker(&m_lock);
        if (QThread::currentThread() == m_reader && m_ackAt > 0)
            m_releases.append(nowUs() - m_ackAt);
        m_ackAt = 0;
        return written;
    }
    int read(HidDevice *device, QByteArray *buffer, int maxBytes, int timeoutMs) override
    {
        const int got = m_inner.read(device, buffer, maxBytes, timeoutMs);
        if (got >= 2 && quint8(buffer->at(1)) == 0x5E) {
            QMutexLocker locker(&m_lock);
            m_ackAt = nowUs();
            m_reader = QThread::currentThread();
        }
        return got;
    }
    QString lastError() const override { return m_inner.lastError(); }

    QList<qint64> releases()
    {
        QMutexLocker locker(&m_lock);
        return m_releases;
    }

private:
    HidApi &m_inner;
    QMutex m_lock;
    qint64 m_ackAt = 0;
    QThread *m_reader = nullptr;
    QList<qint64> m_releases;   // µs from a 0x5E read to the next full report written
};

void idleFigures(const char *what, const QString &threads)
{
    const qint64 wake0 = threads.isEmpty() ? 0 : wakeUps(threads);
    const qint64 all0 = wakeUps();
    const qint64 cpu0 = cpuUs();
    const qint64 link0 = threads.isEmpty() ? 0 : threadCpuUs(threads);
    const qint64 t0 = nowUs();
    runFor(10000);
    const double seconds = (nowUs() - t0) / 1e6;
    if (threads.isEmpty())
        std::printf("%-26s link threads: none; process: %5.1f wake-ups/s, %.3f %% of a core\n",
            what, (wakeUps() - all0) / seconds, 100.0 * (cpuUs() - cpu0) / (seconds * 1e6));
    else
        std::printf("%-26s link threads: %5.1f wake-ups/s, %.3f %% of a core; process: %5.1f "
                    "wake-ups/s, %.3f %% of a core\n",
            what, (wakeUps(threads) - wake0) / seconds,
            100.0 * (threadCpuUs(threads) - link0) / (seconds * 1e6), (wakeUps() - all0) / seconds,
            100.0 * (cpuUs() - cpu0) / (seconds * 1e6));
}

// Times every event the window's thread handles and keeps the slowest, to name what stalls it.
class TimedApplication : public QApplication
{
public:
    using QApplication::QApplication;
    bool notify(QObject *receiver, QEvent *event) override
    {
        // Only the window's thread, outermost events only; the virtual boards run in their own.
        if (!m_measuring || QThread::currentThread() != thread())
            return QApplication::notify(receiver, event);
        if (m_depth++ > 0) {
            const bool handled = QApplication::notify(receiver, event);
            --m_depth;
            return handled;
        }
        const qint64 start = threadCpuNowUs();
        const int type = int(event->type());
        const bool handled = QApplication::notify(receiver, event);
        const qint64 took = threadCpuNowUs() - start;
        --m_depth;
        m_longestCpuUs = std::max(m_longestCpuUs, took);
        if (took > 16000) {
            ++m_over16;
            if (m_slow.size() < 50) {
                const QObject *parent = receiver->parent();
                m_slow.append(
                    QStringLiteral("%1 ms CPU at %6 s: event %2 to %3 %4 (in %5)")
                        .arg(took / 1000.0, 0, 'f', 1)
                        .arg(type)
                        .arg(QString::fromLatin1(receiver->metaObject()->className()),
                            receiver->objectName(),
                            parent ? QString::fromLatin1(parent->metaObject()->className())
                                   : QString())
                        .arg(m_clock.elapsed() / 1000));
            }
        }
        return handled;
    }
    bool m_measuring = false;   // only the run counts, not the window's first drawing
    QStringList m_slow;
    qint64 m_longestCpuUs = 0;
    qint64 m_over16 = 0;

private:
    static qint64 threadCpuNowUs()
    {
        timespec now {};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return qint64(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
    }

    int m_depth = 0;
    QElapsedTimer m_clock = [] {
        QElapsedTimer clock;
        clock.start();
        return clock;
    }();
};

}   // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TimedApplication app(argc, argv);
    int minutes = 30;
    const QStringList args = app.arguments();
    const qsizetype at = args.indexOf(QStringLiteral("--minutes"));
    if (at >= 0 && at + 1 < args.size())
        minutes = qMax(1, args.at(at + 1).toInt());

    BoardOptions options;
    options.playback = false;
    VirtualBoardRunner serialBoard(options);
    if (!serialBoard.start()) {
        std::fprintf(stderr, "no virtual board: %s\n", qPrintable(serialBoard.errorString()));
        return 1;
    }
    VirtualHidApi usbBoard(options);
    TimedHid hid(usbBoard);
    QTemporaryDir dir;
    Form1Options windowOptions;
    windowOptions.workDir = dir.path();
    windowOptions.internal = true;
    windowOptions.hid = &hid;
    windowOptions.ports.setOverride(1, serialBoard.slavePath());
    RecordedMessages messages;
    Form1 window(std::move(windowOptions), &messages);
    window.show();
    runFor(1000);   // the board's first answer, the window settled

    idleFigures("idle, serial link only", QString());
    window.findChild<QRadioButton *>(QStringLiteral("Option4"))->click();
    if (!window.usbLink()->hidFound()) {
        std::fprintf(stderr, "the virtual USB board was not found\n");
        return 1;
    }
    runFor(500);
    idleFigures("idle, USB board found", QStringLiteral("USB reader"));

    window.findChild<QToolButton *>(QStringLiteral("TimingToggle"))->click();
    window.findChild<QPushButton *>(QStringLiteral("Command14"))->click();
    QElapsedTimer run;
    run.start();
    qint64 longestGapUs = 0;
    qint64 gaps16 = 0;
    qint64 last = nowUs();
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = nowUs();
        const qint64 gap = now - last - 1000;   // beyond the tick's own millisecond
        longestGapUs = std::max(longestGapUs, gap);
        gaps16 += gap > 16000;
        last = now;
    });
    runFor(2000);   // the timing view's first drawing is not part of a run
    last = nowUs();
    tick.start(1);
    app.m_measuring = true;
    runFor(58 * 1000);
    const qint64 rssFirstMinute = rssKb();
    std::printf("internal test over USB, RSS after 1 minute: %lld KB (%s; %s)\n", rssFirstMinute,
        qPrintable(rssParts()), qPrintable(heapKb()));
    std::fflush(stdout);
    const auto *log = window.findChild<QPlainTextEdit *>(QStringLiteral("Text4"));
    const auto *timing = window.findChild<QTableView *>(QStringLiteral("TimingTable"))->model();
    for (int minute = 1; minute < minutes; ++minute) {
        runFor(60 * 1000);
        std::printf("  minute %d: RSS %lld KB (%s; %s); log box %d lines, timing table %d rows\n",
            minute + 1, rssKb(), qPrintable(rssParts()), qPrintable(heapKb()), log->blockCount(),
            timing->rowCount());
        std::fflush(stdout);
    }
    const qint64 rssEnd = rssKb();
    tick.stop();
    QList<qint64> releases = hid.releases();
    std::sort(releases.begin(), releases.end());
    std::printf("internal test over USB, RSS after %d minutes: %lld KB (%+.1f %%; %s; %s)\n",
        minutes, rssEnd, 100.0 * (rssEnd - rssFirstMinute) / rssFirstMinute, qPrintable(rssParts()),
        qPrintable(heapKb()));
    std::printf("window event loop: longest stall %.1f ms, stalls over 16 ms: %lld (wall time, "
                "other threads included)\n",
        longestGapUs / 1000.0, gaps16);
    std::printf("window thread's own work: longest event %.1f ms CPU, events over 16 ms: %lld\n",
        app.m_longestCpuUs / 1000.0, app.m_over16);
    if (!releases.isEmpty())
        std::printf("0x5E to the next report: median %.3f ms, 99th %.3f ms, max %.3f ms (%lld "
                    "reports)\n",
            releases.at(releases.size() / 2) / 1000.0,
            releases.at(releases.size() * 99 / 100) / 1000.0, releases.last() / 1000.0,
            qint64(releases.size()));
    std::printf(
        "work log lines: %lld\n", qint64(window.workLogText().count(QStringLiteral("\r\n"))));
    for (const QString &slow : app.m_slow)
        std::printf("  slow: %s\n", qPrintable(slow));
    window.close();
    return 0;
}
