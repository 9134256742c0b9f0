// Links: tts_hid
#include "hidreports.h"

#include <benchmark/benchmark.h>

namespace {

// The largest USB synthesis frame: 16 full reports and the closing one.
void cutLargestFrame(benchmark::State &state)
{
    const QByteArray frame(517, '\x5a');
    for (auto _ : state)
        benchmark::DoNotOptimize(hidReports(frame));
}
BENCHMARK(cutLargestFrame);

}   // namespace

BENCHMARK_MAIN();
