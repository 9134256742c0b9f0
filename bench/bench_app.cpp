// Cost of one work-log entry as the log grows: the entry of a 30-byte frame (two lines) appended
// to a log of 10 and of 200,000 lines, with and without the repaint that follows it.
#include "logshape.h"
#include "worklog.h"

#include <QApplication>
#include <QPlainTextEdit>

#include <benchmark/benchmark.h>

static QString filledLog(int lines)
{
    QString text;
    text.reserve(lines * 40);
    for (int i = 0; i < lines; ++i)
        text += QStringLiteral("<---- 返回：41  接收成功 %1\n").arg(i);
    return text;
}

static void appendEntry(benchmark::State &state, bool repaint)
{
    QPlainTextEdit box;
    box.setUndoRedoEnabled(false);
    box.resize(700, 300);
    box.setPlainText(filledLog(int(state.range(0))));
    box.show();
    QCoreApplication::processEvents();
    WorkLog log(&box, nullptr);
    const QString entry = sentFrameEntry(QByteArray(30, '\x5A'), 29, QString());
    for (auto _ : state) {
        log.append(entry);
        if (repaint) {
            box.viewport()->repaint();
            QCoreApplication::processEvents();
        }
    }
    state.counters["lines"] = double(box.document()->blockCount());
}

static void BM_LogAppend(benchmark::State &state)
{
    appendEntry(state, false);
}
static void BM_LogAppendAndRepaint(benchmark::State &state)
{
    appendEntry(state, true);
}
BENCHMARK(BM_LogAppend)->Arg(10)->Arg(200000)->Iterations(2000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LogAppendAndRepaint)
    ->Arg(10)
    ->Arg(200000)
    ->Iterations(500)
    ->Unit(benchmark::kMicrosecond);

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
