#pragma once

#include "speech.h"
#include "wavfile.h"

#include <QObject>
#include <QString>

#include <memory>

class AlsaPlayer;

// Where the chip's speech goes: the default sound output (when asked for and present) and a
// WAV file (when named). Connect it to a ChipModel's speech signals; it takes the speech a
// stretch at a time and holds silence as a count. A missing or failing sound device only turns
// playback off; the chip's timing never depends on it.
class SpeechOutput : public QObject
{
    Q_OBJECT
public:
    explicit SpeechOutput(QObject *parent = nullptr);
    ~SpeechOutput() override;

    // Opens the default ALSA output; false (and playback stays off) when there is none.
    bool enablePlayback();
    // Every utterance is appended to this file, up to maxDataBytes of sound (the format's limit
    // by default); false with errorString() when it cannot be created.
    bool writeWav(const QString &path, quint32 maxDataBytes = WavWriter::kMaxDataBytes);
    QString errorString() const { return m_error; }

public slots:
    // A new utterance: what the sound output still holds of the one before is dropped.
    void begin();
    void appendSound(const Pcm &samples);
    void appendSilence(qint64 samples);
    void pause();
    void resume();
    void stop();

signals:
    // The WAV file is full or cannot be written any more: said once, and nothing more is written.
    void warning(const QString &text);

private:
    void wavFailed();

    std::unique_ptr<WavWriter> m_wav;
    QString m_wavPath;
    std::unique_ptr<AlsaPlayer> m_player;
    QString m_error;
};
