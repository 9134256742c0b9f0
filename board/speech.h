#pragma once

#include "chiptext.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// Mono 16-bit samples at kSampleRate.
using Pcm = QList<qint16>;
inline constexpr int kSampleRate = 22050;

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

// Longest stretch of speech rendered at once, in characters: a text is spoken a sentence at a
// time, and a sentence longer than this is cut, so no stretch of sound holds more than about a
// minute even at the slowest rate.
inline constexpr int kMaxSentenceCharacters = 100;

// The words split where the chip's speech pauses anyway (after 。！？；, "!?;" and line breaks),
// each part at most kMaxSentenceCharacters long; parts of white space only are left out.
QStringList sentencesOf(const QString &words);

// One utterance as the chip plays it, handed out one stretch at a time. Speech is rendered a
// sentence at a time when its turn comes and a pause is only a count of silent samples, so the
// memory an utterance takes does not grow with the length of its sound.
class SpeechStream
{
public:
    // The next stretch: sound samples, or silentSamples of silence (then samples is empty).
    struct Stretch
    {
        Pcm samples;
        qint64 silentSamples = 0;
        qint64 length() const { return samples.size() + silentSamples; }
    };

    SpeechStream() = default;
    explicit SpeechStream(const QList<SpeechPiece> &pieces);

    bool atEnd() const { return m_index >= m_pieces.size(); }
    // Renders and returns the next stretch; an empty one at the end.
    Stretch next(SpeechRenderer &renderer);

private:
    QList<SpeechPiece> m_pieces;   // speech already cut into sentences
    qsizetype m_index = 0;   // the next piece
};
