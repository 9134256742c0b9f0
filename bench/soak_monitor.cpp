// A measurement of orv4120 monitor (not a Google Benchmark): both lines at 115200 baud, full
// duty, for a minute. The microcontroller's line carries synthesis frames back to back, each
// numbered in its text; the chip's line carries the 0x41 of each frame at once and 0x4E bytes
// in every pause (answers no frame waits for: the hardest case, an event each). Prints the
// monitor's CPU share and the delay from a frame's last byte (and from its 0x41) being
// written to the pseudo-terminal to the monitor's event for it on standard output.
// The bytes go out in steps of 5 ms (57 bytes a line), so --max-gap is 20 ms.
//
//   build/bin/soak_monitor [--seconds 60]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int kBytesPerSecond = 115200 / 10;

// A pseudo-terminal whose far end the monitor opens. Writes never block: what the line does not
// take yet waits here, so the writer stays free to read the monitor's output at any time.
struct Line
{
    Line()
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        ::grantpt(master);
        ::unlockpt(master);
        slave = QString::fromLocal8Bit(::ptsname(master));
        keeper = ::open(::ptsname(master), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios raw {};
        ::tcgetattr(keeper, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(keeper, TCSANOW, &raw);
    }
    ~Line()
    {
        ::close(keeper);
        ::close(master);
    }
    void write(const QByteArray &bytes)
    {
        queue += bytes;
        while (!queue.isEmpty()) {
            const ssize_t n = ::write(master, queue.constData(), size_t(queue.size()));
            if (n <= 0)
                break;
            queue.remove(0, n);
        }
        longestQueue = qMax(longestQueue, queue.size());
    }
    int master = -1;
    int keeper = -1;
    QString slave;
    QByteArray queue;
    qsizetype longestQueue = 0;
};

double cpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> f = stat.readAll().split(')').value(1).trimmed().split(' ');
    // fields 14 and 15 of the whole line (utime, stime) are 11 and 12 after the name
    return (f.value(11).toDouble() + f.value(12).toDouble()) / double(::sysconf(_SC_CLK_TCK));
}

QString percentiles(QList<double> v)
{
    if (v.isEmpty())
        return QStringLiteral("none");
    std::sort(v.begin(), v.end());
    auto at = [&v](double p) { return v.at(qMin(v.size() - 1, qsizetype(p * double(v.size())))); };
    return QStringLiteral("median %1 ms, 99th percentile %2 ms, max %3 ms (%4 events)")
        .arg(at(0.5), 0, 'f', 2)
        .arg(at(0.99), 0, 'f', 2)
        .arg(v.last(), 0, 'f', 2)
        .arg(v.size());
}

QByteArray frameNumbered(int n)
{
    // GBK digits are ASCII: a synthesis frame of 100 bytes in all.
    QByteArray text = "frame " + QByteArray::number(n).rightJustified(8, '0') + ' ';
    text += QByteArray(95 - text.size(), 'x');
    QByteArray frame = QByteArray::fromHex("fd0000") + char(0x01) + char(0x01) + text;
    frame[1] = char((frame.size() - 3) >> 8);
    frame[2] = char((frame.size() - 3) & 0xFF);
    return frame;
}

}   // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    int seconds = 60;
    const QStringList args = app.arguments();
    if (const qsizetype i = args.indexOf(QStringLiteral("--seconds")); i > 0)
        seconds = args.value(i + 1).toInt();
    Line frames;
    Line answers;
    QProcess monitor;
    monitor.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    monitor.start(QCoreApplication::applicationDirPath() + QStringLiteral("/orv4120"),
        {"monitor", "--frames", frames.slave, "--answers", answers.slave, "--baud", "115200",
            "--json", "--max-gap", "20"});   // the writer's 5 ms steps are no fault
    QByteArray pending;
    QList<qint64> frameWritten;   // ns of the clock, by frame number
    QList<qint64> ackWritten;
    QList<double> frameDelay;
    QList<double> answerDelay;
    QList<double> latencies;   // as the monitor measured them: 0x41 after the frame's last byte
    qint64 firstAnswers = 0;
    QHash<qint64, int> frameOf;   // the monitor's frame id: the frame's number
    bool listening = false;
    bool measuring = true;   // not the frame cut off when the monitor stops
    QElapsedTimer clock;
    clock.start();
    QObject::connect(&monitor, &QProcess::readyReadStandardOutput, [&] {
        pending += monitor.readAllStandardOutput();
        const qint64 now = clock.nsecsElapsed();
        qsizetype begin = 0;
        qsizetype end;
        // The lines are taken off once at the end: removing each from the front would cost
        // quadratic time and let the pipe, and then the monitor, fall behind.
        auto takeOff = qScopeGuard([&] { pending.remove(0, begin); });
        while ((end = pending.indexOf('\n', begin)) >= 0) {
            const QByteArray line = pending.mid(begin, end - begin);
            begin = end + 1;
            if (line.contains("\"listening\"")) {
                listening = true;
                continue;
            }
            if (!measuring)
                continue;
            if (line.contains("\"event\":\"frame\"")) {
                const QJsonObject e = QJsonDocument::fromJson(line).object();
                const QString text = e.value(QStringLiteral("frame"))
                                         .toObject()
                                         .value(QStringLiteral("text"))
                                         .toString();
                const int n = text.mid(6, 8).toInt();
                frameOf.insert(e.value(QStringLiteral("id")).toInteger(), n);
                if (n < frameWritten.size())
                    frameDelay << double(now - frameWritten.at(n)) / 1e6;
            } else if (line.contains("\"latency_ms\"")) {
                const QJsonObject e = QJsonDocument::fromJson(line).object();
                const int n = frameOf.value(e.value(QStringLiteral("id")).toInteger(), -1);
                if (n >= 0 && n < ackWritten.size())
                    answerDelay << double(now - ackWritten.at(n)) / 1e6;
                latencies << e.value(QStringLiteral("latency_ms")).toDouble();
                ++firstAnswers;
            }
        }
    });
    while (!listening && clock.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    if (!listening) {
        std::fprintf(stderr, "soak_monitor: the monitor did not start\n");
        return 1;
    }

    const double cpuBefore = cpuSeconds(monitor.processId());
    const qint64 start = clock.nsecsElapsed();
    qint64 sentBytes = 0;
    QByteArray next = frameNumbered(0);
    qsizetype nextAt = 0;
    QTimer pace;
    // Every 5 ms the bytes the line would have carried since the start go out.
    QObject::connect(&pace, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        const qint64 due = (now - start) * kBytesPerSecond / 1000000000;
        QByteArray out;
        QByteArray chip;
        while (sentBytes < due) {
            out += next.at(nextAt++);
            ++sentBytes;
            if (nextAt == next.size()) {
                frames.write(out);
                frameWritten << clock.nsecsElapsed();
                answers.write("A");
                ackWritten << clock.nsecsElapsed();
                out.clear();
                next = frameNumbered(int(frameWritten.size()));
                nextAt = 0;
            } else {
                chip += qEnvironmentVariableIsSet("NO_FILL") ? QByteArray() : QByteArray("N");
            }
        }
        frames.write(out);
        answers.write(chip);
        if (now - start > qint64(seconds) * 1000000000)
            QCoreApplication::quit();
    });
    pace.start(5);
    app.exec();
    pace.stop();
    measuring = false;
    const double cpu = cpuSeconds(monitor.processId()) - cpuBefore;
    const double wall = double(clock.nsecsElapsed() - start) / 1e9;
    monitor.terminate();
    monitor.waitForFinished(10000);
    std::printf("%d s, %lld bytes a line (%.0f B/s), %lld frames\n", seconds,
        static_cast<long long>(sentBytes), double(sentBytes) / wall,
        static_cast<long long>(frameWritten.size()));
    std::printf(
        "monitor CPU: %.2f s in %.1f s = %.1f %% of a core\n", cpu, wall, 100.0 * cpu / wall);
    std::printf("frame's last byte -> its event: %s\n", qPrintable(percentiles(frameDelay)));
    std::printf("0x41 -> its event: %s; %lld of %lld 0x41 paired with their frame\n",
        qPrintable(percentiles(answerDelay)), static_cast<long long>(firstAnswers),
        static_cast<long long>(ackWritten.size()));
    std::printf("bytes waiting for the line at most: %lld (frames), %lld (answers)\n",
        static_cast<long long>(frames.longestQueue), static_cast<long long>(answers.longestQueue));
    std::printf("latency the monitor measured (0x41 written right after the frame): %s\n",
        qPrintable(percentiles(latencies)));
    return 0;
}
