#pragma once

#include "chiptext.h"

#include <QList>
#include <QString>
#include <QtGlobal>

// Mono 16-bit samples at kSampleRate.
using Pcm = QList<qint16>;
inline constexpr int kSampleRate = 22050;

// Playing time of pcm in milliseconds, rounded up.
qint64 durationMs(const Pcm &pcm);

// Turns speech in one setting into samples. The chip model owns one and calls it on its own
// thread.
class SpeechRenderer
{
public:
    virtual ~SpeechRenderer() = default;
    virtual Pcm speak(const QString &words, const VoiceSettings &settings) = 0;
};

// The espeak-ng library with its Mandarin voice. The library is one per process: every
// instance shares it under one lock.
class EspeakRenderer : public SpeechRenderer
{
public:
    Pcm speak(const QString &words, const VoiceSettings &settings) override;
    // The espeak voice name of a chip voice ([m3], [m51] .. [m55]).
    static QByteArray voiceName(int chipVoice);
};

// The short generated tone standing for a prompt sound, at the given volume 0..10.
Pcm promptTone(const QString &name, int volume);

// Silence of the given length.
Pcm silence(int ms);

// Everything the pieces play, in order.
Pcm renderPieces(SpeechRenderer &renderer, const QList<SpeechPiece> &pieces);
