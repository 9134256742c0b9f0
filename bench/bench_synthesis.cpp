// Count, cut, encode and frame the whole demonstration text, once per encoding, at the serial
// limit. Goal: each under 100 us.
#include "codetable.h"
#include "demotexts.h"
#include "frame.h"
#include "textbytes.h"

#include <benchmark/benchmark.h>

namespace {

const CodeTable &table()
{
    static const CodeTable codes = *CodeTable::load(QStringLiteral(GBK_TABLE_PATH)).table;
    return codes;
}

void BM_SynthesisFrame(benchmark::State &state)
{
    const int encoding = int(state.range(0));
    const QString text = demonstrationText();
    const CodeTable &codes = table();
    frameText(text, encoding, kSerialMaxTextBytes, &codes);   // builds the GBK map once
    for (auto _ : state) {
        const FrameText part = frameText(text, encoding, kSerialMaxTextBytes, &codes);
        QByteArray frame = synthesisFrame(quint8(encoding), part.bytes);
        benchmark::DoNotOptimize(frame);
    }
}

}   // namespace

BENCHMARK(BM_SynthesisFrame)->DenseRange(0, 4)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
