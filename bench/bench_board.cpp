// Links tts_board. The chip's frame scan and the speech of the largest text.
#include "chipmodel.h"
#include "frame.h"
#include "speech.h"

#include <QStringEncoder>

#include <benchmark/benchmark.h>

namespace {

class NoSpeech : public SpeechRenderer
{
public:
    Pcm speak(const QString &, const VoiceSettings &) override { return {}; }
};

QByteArray largestText()
{
    QStringEncoder encoder("windows-936");
    return QByteArray(encoder.encode(QStringLiteral("欢迎观看语音合成系统的演示！").repeated(150)))
        .left(4090);
}

void BM_ScanLargestFrameByteByByte(benchmark::State &state)
{
    ChipModel chip(std::make_unique<NoSpeech>());
    const QByteArray frame = synthesisFrame(1, largestText());
    for (auto _ : state) {
        for (char byte : frame)
            chip.receiveBytes(QByteArray(1, byte));
    }
    state.SetBytesProcessed(state.iterations() * frame.size());
}
BENCHMARK(BM_ScanLargestFrameByteByByte);

void BM_SpeakLargestText(benchmark::State &state)
{
    EspeakRenderer renderer;
    VoiceSettings settings;
    QStringDecoder decoder("windows-936");
    const QString text = decoder.decode(largestText());
    for (auto _ : state)
        benchmark::DoNotOptimize(renderer.speak(text, settings));
}
BENCHMARK(BM_SpeakLargestText)->Unit(benchmark::kMillisecond)->Iterations(3);

}   // namespace

BENCHMARK_MAIN();
