// The work log over a long run: the memory of the process after 10,000 and 1,000,000 log lines,
// and after 4096-byte frames only (each a 12,000-character hex line) until the box is full and
// as many again; the cost of one entry (the two lines of a 30-byte frame, journal on) appended
// to a record of 10, 100,000 and 1,000,000 lines, and of an operator's edit of the newest and of
// the oldest line the box holds, once the record has 1,000,000 lines.
#include "Form1.h"
#include "logjournal.h"
#include "logshape.h"
#include "operatormessages.h"
#include "worklog.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextCursor>

#include <benchmark/benchmark.h>

#include <limits>
#include <memory>

namespace {

// A window-sized log box with its journal in a folder of its own.
struct Log
{
    Log()
    {
        box.setUndoRedoEnabled(false);
        box.resize(700, 300);
        box.show();
        QCoreApplication::processEvents();
    }

    // Answer lines as the serial link logs them, up to 1,000 to an append to fill quickly.
    void fill(int lines)
    {
        const int perAppend = qMin(lines, 1000);
        QString block;
        for (int i = 0; i < perAppend; ++i)
            block += QStringLiteral("<---- 返回：41  接收成功 %1\r\n").arg(i);
        for (int done = 0; done < lines; done += perAppend)
            log.append(block);
        QCoreApplication::processEvents();
    }

    QTemporaryDir dir;
    QPlainTextEdit box;
    LogJournal journal {dir.path()};
    WorkLog log {&box, &journal};
};

double residentMegabytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toDouble() * 4096.0 / (1024.0 * 1024.0) : 0;
}

void BM_ResidentAfterLines(benchmark::State &state)
{
    for (auto _ : state) {
        Log log;
        log.fill(int(state.range(0)));
        state.counters["RSS_MB"] = residentMegabytes();
        state.counters["box_lines"] = log.box.document()->blockCount();
    }
}

// range(0): frames logged; 0 fills the box until its first lines leave, and as many again.
void BM_ResidentAfterLongFrames(benchmark::State &state)
{
    for (auto _ : state) {
        Log log;
        const QString entry = sentFrameEntry(QByteArray(4096, '\x5A'), 4095, QString());
        QTextDocument *document = log.box.document();
        qint64 frames = 0;
        qint64 limit = state.range(0) > 0 ? state.range(0) : std::numeric_limits<qint64>::max();
        while (frames < limit) {
            const int before = document->characterCount();
            log.log.append(entry);
            ++frames;
            if (state.range(0) == 0 && document->characterCount() <= before
                && limit == std::numeric_limits<qint64>::max())
                limit = 2 * frames;   // full: lines leave the top
        }
        QCoreApplication::processEvents();
        state.counters["RSS_MB"] = residentMegabytes();
        state.counters["frames"] = double(frames);
        state.counters["box_lines"] = document->blockCount();
        state.counters["box_Mchars"] = document->characterCount() / 1e6;
    }
}

void BM_LogAppend(benchmark::State &state)
{
    Log log;
    log.fill(int(state.range(0)));
    const QString entry = sentFrameEntry(QByteArray(30, '\x5A'), 29, QString());
    for (auto _ : state)
        log.log.append(entry);
    state.counters["record_MB"] = double(log.journal.size()) / (1024.0 * 1024.0);
}

// range(0): answer lines logged, or 0 for 4096-byte frames until the box is full;
// range(1): 0 edits the newest line, 1 the oldest line the box still holds.
void BM_OperatorEdit(benchmark::State &state)
{
    Log log;
    if (state.range(0) > 0) {
        log.fill(int(state.range(0)));
    } else {
        const QString entry = sentFrameEntry(QByteArray(4096, '\x5A'), 4095, QString());
        int before = -1;
        while (log.box.document()->characterCount() > before) {
            before = log.box.document()->characterCount();
            log.log.append(entry);
        }
        QCoreApplication::processEvents();
    }
    QTextDocument *document = log.box.document();
    qint64 longestStep = 0;
    for (auto _ : state) {
        const QTextBlock line = state.range(1) ? document->firstBlock() : document->lastBlock();
        QTextCursor typing(line);
        typing.insertText(QStringLiteral("x"));
        const QStringList before = log.journal.paths();
        log.log.settleEdit();
        // The rest of a long edit moves in timer steps: each is an event of the window's thread.
        state.PauseTiming();
        for (int quiet = 0; quiet < 50 && log.journal.paths() == before; ++quiet) {
            QElapsedTimer step;
            step.start();
            QCoreApplication::processEvents();
            longestStep = qMax(longestStep, step.nsecsElapsed());
        }
        state.ResumeTiming();
    }
    state.counters["longest_step_ms"] = double(longestStep) / 1e6;
}

// The window's start with a start-up text of range(0) KiB of ASCII, in lines of range(1)
// characters (0: one line): construction, first show, and the events that follow. A line's
// layout grows with the square of its length: one line of 128 KiB takes 1.5 s, of 1 MiB 77 s.
void BM_StartUpWithText(benchmark::State &state)
{
    QTemporaryDir dir;
    QByteArray text;
    const qint64 size = state.range(0) * 1024;
    const qint64 line = state.range(1);
    while (text.size() < size)
        text += line > 0 && text.size() % (line + 2) == line ? QByteArray("\r\n") : QByteArray("A");
    text.truncate(size);
    QFile file(dir.filePath(QStringLiteral("初始默认文本.txt")));
    file.open(QIODevice::WriteOnly);
    file.write(text);
    file.close();
    for (auto _ : state) {
        Form1Options options;
        options.workDir = dir.path();
        for (int n = 1; n <= 20; ++n)
            options.ports.setOverride(n, dir.filePath(QStringLiteral("absent")));
        options.ports.setPresentDevicesForTest({});
        RecordedMessages messages;
        Form1 window(std::move(options), &messages);
        window.show();
        QCoreApplication::processEvents();
        state.counters["box_chars"] = double(
            window.findChild<QPlainTextEdit *>(QStringLiteral("Text3"))->toPlainText().size());
    }
}

}   // namespace

// Memory first, while the process is fresh.
BENCHMARK(BM_ResidentAfterLines)->Arg(10000)->Arg(1000000)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_ResidentAfterLongFrames)->Arg(0)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_LogAppend)
    ->Arg(10)
    ->Arg(100000)
    ->Arg(1000000)
    ->Iterations(2000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OperatorEdit)
    ->Args({1000000, 0})
    ->Args({1000000, 1})
    ->Args({0, 0})
    ->Args({0, 1})
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond);

// The start-up text at its size limit, as one line (the slowest to lay out) and in lines.
BENCHMARK(BM_StartUpWithText)
    ->Args({64, 0})
    ->Args({64, 80})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
