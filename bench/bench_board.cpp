// Links tts_board. The chip's frame scan, the speech of the largest text (whole, and as the chip
// streams it a sentence at a time) and the stretches of the longest utterance the cache holds.
#include "chipmodel.h"
#include "chiptext.h"
#include "frame.h"
#include "speech.h"

#include <QCoreApplication>
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
    chip.setAcceptDelay(0);
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
    qsizetype samples = 0;
    for (auto _ : state)
        samples = renderer.speak(text, settings).size();
    state.counters["speech_s"] = double(samples) / kSampleRate;
    state.counters["largest_MB"] = double(samples) * 2 / 1e6;
}
BENCHMARK(BM_SpeakLargestText)->Unit(benchmark::kMillisecond)->Iterations(3);

// Plays pieces through a stream once per iteration: stretches handed out, their samples, and the
// largest one held at once.
struct Streamed
{
    qint64 stretches = 0;
    qint64 samples = 0;
    qsizetype largest = 0;
};

Streamed streamAll(
    benchmark::State &state, const QList<SpeechPiece> &pieces, SpeechRenderer &renderer)
{
    Streamed streamed;
    for (auto _ : state) {
        SpeechStream stream(pieces);
        while (!stream.atEnd()) {
            const SpeechStream::Stretch stretch = stream.next(renderer);
            ++streamed.stretches;
            streamed.samples += stretch.length();
            streamed.largest = qMax(streamed.largest, stretch.samples.size());
        }
    }
    return streamed;
}

// The largest text at the slowest rate, a stretch at a time: the time of one stretch (a
// sentence) is what the chip spends before the sound starts, and the largest stretch is what
// the speech holds in memory at once.
void BM_StreamLargestTextSlowest(benchmark::State &state)
{
    EspeakRenderer renderer;
    QStringDecoder decoder("windows-936");
    VoiceSettings settings;
    const QList<SpeechPiece> pieces =
        parseChipText(QStringLiteral("[s0]") + decoder.decode(largestText()), &settings);
    const Streamed streamed = streamAll(state, pieces, renderer);
    const qint64 stretches = streamed.stretches;
    const qint64 samples = streamed.samples;
    const qsizetype largest = streamed.largest;
    state.SetItemsProcessed(stretches);
    state.counters["stretches"] = double(stretches) / double(state.iterations());
    state.counters["speech_s"] = double(samples) / kSampleRate / double(state.iterations());
    state.counters["largest_MB"] = double(largest) * 2 / 1e6;
}
BENCHMARK(BM_StreamLargestTextSlowest)->Unit(benchmark::kMillisecond)->Iterations(1);

// 511 pauses of 30 s in the cache played 15 times: 64 hours of silence, never allocated.
void BM_StreamLongestCachePlay(benchmark::State &state)
{
    NoSpeech renderer;
    VoiceSettings settings;
    const QString text = QStringLiteral("[p30000]").repeated(511);
    QList<SpeechPiece> pieces;
    for (int round = 0; round < 15; ++round) {
        if (round > 0)
            pieces.append({SpeechPiece::Kind::Silence, {}, settings, 300});
        pieces += parseChipText(text, &settings);
    }
    const Streamed streamed = streamAll(state, pieces, renderer);
    const qint64 stretches = streamed.stretches;
    const qint64 samples = streamed.samples;
    const qsizetype largest = streamed.largest;
    state.SetItemsProcessed(stretches);
    state.counters["speech_h"] = double(samples) / kSampleRate / 3600 / double(state.iterations());
    state.counters["largest_MB"] = double(largest) * 2 / 1e6;
}
BENCHMARK(BM_StreamLongestCachePlay)->Unit(benchmark::kMillisecond);

}   // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);   // the chip's timers need an event dispatcher
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
