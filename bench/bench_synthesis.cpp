// Count, cut, encode and frame the whole demonstration text, once per encoding, at the serial
// limit (goal: each under 100 us); decode a frame (goal: well under 10 us for 30-130 bytes); check
// the demonstration text's characters; load the code table from the file and through the cache.
#include "codepage.h"
#include "codetable.h"
#include "codetablecache.h"
#include "demotexts.h"
#include "frame.h"
#include "framedecoder.h"
#include "textbytes.h"
#include "textcheck.h"

#include <benchmark/benchmark.h>

namespace {

const QString kTablePath = QStringLiteral(GBK_TABLE_PATH);

const CodeTable &table()
{
    static const CodeTable codes = *CodeTable::load(kTablePath).table;
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

// A GB2312 frame of the welcome sentence (33 bytes) with a tag, and a GBK, BIG5 and UTF-16 frame
// of one demonstration line with tags (122-127 bytes).
void BM_DecodeFrame(benchmark::State &state)
{
    const int encoding = int(state.range(0));
    const QString text = encoding == 0 ? QStringLiteral("[v5]欢迎观看语音合成系统的演示")
                                       : QStringLiteral("[m51]我是子轩；[m3][d]")
            + QString(24, u'语') + QStringLiteral("[p500]欢迎光临，请进！[d]");
    const QByteArray frame = synthesisFrame(
        quint8(encoding), frameText(text, encoding, kSerialMaxTextBytes, &table()).bytes);
    decodeFrame(frame);
    state.SetLabel(std::to_string(frame.size()) + " bytes");
    for (auto _ : state) {
        DecodedFrame decoded = decodeFrame(frame);
        benchmark::DoNotOptimize(decoded);
    }
}

void BM_CheckText(benchmark::State &state)
{
    const int encoding = int(state.range(0));
    const QString text = demonstrationText().left(4096);
    checkText(text, encoding, &table());
    for (auto _ : state) {
        TextCheck check = checkText(text, encoding, &table());
        benchmark::DoNotOptimize(check);
    }
}

void BM_TableFromFile(benchmark::State &state)
{
    for (auto _ : state) {
        CodeTable::Load load = CodeTable::load(kTablePath);
        benchmark::DoNotOptimize(load);
    }
}

void BM_TableFromCache(benchmark::State &state)
{
    CodeTableCache cache;
    cache.load(kTablePath);
    for (auto _ : state) {
        CodeTable::Load load = cache.load(kTablePath);
        benchmark::DoNotOptimize(load);
    }
}

}   // namespace

BENCHMARK(BM_SynthesisFrame)->DenseRange(0, 4)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeFrame)->DenseRange(0, 4)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CheckText)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TableFromFile)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TableFromCache)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
