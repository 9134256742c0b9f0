#pragma once

#include "speech.h"

#include <QObject>
#include <QString>

#include <memory>

class WavWriter;
class AlsaPlayer;

// Where the chip's speech goes: the default sound output (when asked for and present) and a
// WAV file (when named). Connect it to a ChipModel's speech signals. A missing or failing sound
// device only turns playback off; the chip's timing never depends on it.
class SpeechOutput : public QObject
{
    Q_OBJECT
public:
    explicit SpeechOutput(QObject *parent = nullptr);
    ~SpeechOutput() override;

    // Opens the default ALSA output; false (and playback stays off) when there is none.
    bool enablePlayback();
    bool playbackEnabled() const;
    // Every utterance, whole, is appended to this file; false with errorString() on failure.
    bool writeWav(const QString &path);
    QString errorString() const { return m_error; }

public slots:
    void play(const Pcm &pcm);
    void pause();
    void resume();
    void stop();

private:
    std::unique_ptr<WavWriter> m_wav;
    std::unique_ptr<AlsaPlayer> m_player;
    QString m_error;
};
