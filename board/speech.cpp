#include "speech.h"

#include <espeak-ng/speak_lib.h>

#include <QtMath>

#include <mutex>

namespace {

std::mutex g_espeakLock;
bool g_espeakReady = false;
bool g_espeakFailed = false;
Pcm *g_espeakTarget = nullptr;   // samples of the synthesis in progress, under g_espeakLock

int collectSamples(short *samples, int count, espeak_EVENT *)
{
    if (samples && g_espeakTarget)
        g_espeakTarget->append(QList<qint16>(samples, samples + count));
    return 0;   // go on
}

// Chip scale 0..10 (5 normal) to espeak words per minute: 80 at 0, 175 at 5, 450 at 10.
int espeakRate(int rate)
{
    return rate <= 5 ? 80 + rate * 19 : 175 + (rate - 5) * 55;
}

}   // namespace

QByteArray EspeakRenderer::voiceName(int chipVoice)
{
    switch (chipVoice) {
    case 51:
        return "cmn+m3";
    case 52:
        return "cmn+f2";
    case 53:
        return "cmn+f4";
    case 54:
        return "cmn+m7";
    case 55:
        return "cmn+f5";
    default:
        return "cmn";
    }
}

Pcm EspeakRenderer::speak(const QString &words, const VoiceSettings &settings)
{
    std::lock_guard lock(g_espeakLock);
    if (!g_espeakReady && !g_espeakFailed) {
        const int rate = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, 0);
        g_espeakFailed = rate != kSampleRate;
        g_espeakReady = !g_espeakFailed;
        if (g_espeakReady)
            espeak_SetSynthCallback(collectSamples);
    }
    Pcm pcm;
    if (!g_espeakReady) {
        // No speech data on this system: a quiet stand-in of about the speech's length.
        return silence(int(words.size()) * 200);
    }
    if (espeak_SetVoiceByName(voiceName(settings.voice).constData()) != EE_OK)
        espeak_SetVoiceByName("cmn");
    espeak_SetParameter(espeakRATE, espeakRate(settings.rate), 0);
    espeak_SetParameter(espeakVOLUME, settings.volume * 20, 0);
    espeak_SetParameter(espeakPITCH, settings.intonation * 10, 0);
    espeak_SetParameter(espeakWORDGAP, settings.style == 0 ? 15 : 0, 0);
    espeak_SetParameter(
        espeakPUNCTUATION, settings.readPunctuation ? espeakPUNCT_ALL : espeakPUNCT_NONE, 0);
    const QByteArray utf8 = words.toUtf8();
    g_espeakTarget = &pcm;
    espeak_Synth(utf8.constData(), size_t(utf8.size()) + 1, 0, POS_CHARACTER, 0, espeakCHARS_UTF8,
        nullptr, nullptr);
    espeak_Synchronize();
    g_espeakTarget = nullptr;
    return pcm;
}

Pcm silence(int ms)
{
    return Pcm(qsizetype(qint64(qMax(ms, 0)) * kSampleRate / 1000), 0);
}

Pcm promptTone(const QString &name, int volume)
{
    // The name picks a family (chord, beep, ring, alarm, ...) and a pitch within it.
    int family = 0;
    int number = 0;
    if (name.startsWith(u"msg")) {
        number = name.at(3).unicode() - 'a';
    } else if (name.size() == 6) {
        family = 8;
        number = name.at(5).unicode() - 'a';
    } else {
        family = name.at(5).digitValue();
        number = name.mid(6).toInt();
    }
    static constexpr int kLengthMs[] = {600, 300, 800, 800, 250, 500, 400, 200, 400};
    const int lengthMs = kLengthMs[qBound(0, family, 8)];
    const double base = 440.0 * qPow(2.0, (number % 12) / 12.0);
    const double amplitude = 12000.0 * volume / 10.0;
    Pcm pcm(qsizetype(lengthMs) * kSampleRate / 1000);
    for (qsizetype i = 0; i < pcm.size(); ++i) {
        const double t = double(i) / kSampleRate;
        const double fade = 1.0 - double(i) / pcm.size();
        double wave = 0.0;
        switch (family) {
        case 0:   // chord: root and fifth, fading
            wave = 0.6 * qSin(2 * M_PI * base * t) + 0.4 * qSin(2 * M_PI * base * 1.5 * t);
            break;
        case 2:   // ring: two tones alternating every 100 ms
            wave = qSin(2 * M_PI * (int(t * 10) % 2 ? base * 1.25 : base) * t);
            break;
        case 3:   // alarm: rising sweep
            wave = qSin(2 * M_PI * (base + 600.0 * t) * t);
            break;
        default:
            wave = qSin(2 * M_PI * base * t);
            break;
        }
        pcm[i] = qint16(amplitude * fade * wave);
    }
    return pcm;
}

QStringList sentencesOf(const QString &words)
{
    static const QString kStops = QStringLiteral("。！？；!?;\n");
    static const QString kBreaks = QStringLiteral("，、, ");
    QStringList sentences;
    const auto keep = [&](QString sentence) {
        if (!sentence.trimmed().isEmpty())
            sentences << sentence;
    };
    qsizetype start = 0;
    for (qsizetype i = 0; i < words.size(); ++i) {
        if (kStops.contains(words.at(i))) {
            keep(words.mid(start, i + 1 - start));
            start = i + 1;
        } else if (i + 1 - start >= kMaxSentenceCharacters) {
            // No stop in sight: cut after the last comma or blank of the second half, else
            // here, but never inside a surrogate pair.
            qsizetype cut = i + 1;
            for (qsizetype j = i; j > start + kMaxSentenceCharacters / 2; --j) {
                if (kBreaks.contains(words.at(j))) {
                    cut = j + 1;
                    break;
                }
            }
            if (words.at(cut - 1).isHighSurrogate())
                --cut;
            keep(words.mid(start, cut - start));
            start = cut;
            i = cut - 1;
        }
    }
    keep(words.mid(start));
    return sentences;
}

SpeechStream::SpeechStream(const QList<SpeechPiece> &pieces)
{
    for (const SpeechPiece &piece : pieces) {
        if (piece.kind != SpeechPiece::Kind::Speech) {
            m_pieces << piece;
            continue;
        }
        for (const QString &sentence : sentencesOf(piece.text))
            m_pieces.append({SpeechPiece::Kind::Speech, sentence, piece.settings, 0});
    }
}

SpeechStream::Stretch SpeechStream::next(SpeechRenderer &renderer)
{
    if (atEnd())
        return {};
    const SpeechPiece &piece = m_pieces.at(m_index++);
    switch (piece.kind) {
    case SpeechPiece::Kind::Speech:
        return {renderer.speak(piece.text, piece.settings)};
    case SpeechPiece::Kind::PromptSound:
        return {promptTone(piece.text, piece.settings.volume)};
    case SpeechPiece::Kind::Silence:
        break;
    }
    return {{}, qint64(qMax(piece.silenceMs, 0)) * kSampleRate / 1000};
}
