// The work log over a long run: the memory of the process after 10,000 and 1,000,000 log lines,
// the cost of one entry (the two lines of a 30-byte frame, journal on) appended to a record of 10,
// 100,000 and 1,000,000 lines, and of an operator's edit of the newest and of the oldest line the
// box holds, once the record has 1,000,000 lines.
#include "logfile.h"
#include "logshape.h"
#include "worklog.h"

#include <QApplication>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextCursor>

#include <benchmark/benchmark.h>

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

void BM_LogAppend(benchmark::State &state)
{
    Log log;
    log.fill(int(state.range(0)));
    const QString entry = sentFrameEntry(QByteArray(30, '\x5A'), 29, QString());
    for (auto _ : state)
        log.log.append(entry);
    state.counters["record_MB"] = double(log.journal.size()) / (1024.0 * 1024.0);
}

// range(1): 0 edits the newest line, 1 the oldest line the box still holds.
void BM_OperatorEdit(benchmark::State &state)
{
    Log log;
    log.fill(int(state.range(0)));
    QTextDocument *document = log.box.document();
    for (auto _ : state) {
        const QTextBlock line = state.range(1) ? document->firstBlock() : document->lastBlock();
        QTextCursor typing(line);
        typing.insertText(QStringLiteral("x"));
        log.log.settleEdit();
    }
}

}   // namespace

// Memory first, while the process is fresh.
BENCHMARK(BM_ResidentAfterLines)->Arg(10000)->Arg(1000000)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_LogAppend)
    ->Arg(10)
    ->Arg(100000)
    ->Arg(1000000)
    ->Iterations(2000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OperatorEdit)
    ->Args({1000000, 0})
    ->Args({1000000, 1})
    ->Iterations(20)
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
