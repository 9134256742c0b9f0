#pragma once

#include "speech.h"

#include <QFile>
#include <QString>

#include <optional>

// A mono 16-bit PCM WAV file at kSampleRate that is valid after every append: the header's
// sizes are rewritten each time, so a board that is killed leaves a playable file.
class WavWriter
{
public:
    // The RIFF size field (36 + data bytes) is 32 bits: a file holds at most this much sound.
    static constexpr quint32 kMaxDataBytes = (0xFFFFFFFFu - 36) & ~1u;

    explicit WavWriter(quint32 maxDataBytes = kMaxDataBytes)
        : m_maxDataBytes(maxDataBytes & ~1u)
    { }

    // Creates (truncates) the file; false with errorString() when it cannot be written.
    bool open(const QString &path);
    bool isOpen() const { return m_file.isOpen(); }
    // Append samples, or silence without holding it in memory. False when not all of it went
    // in: the file is full (what fits is written, the header stays valid) or a write failed.
    bool append(const Pcm &pcm);
    bool appendSilence(qint64 samples);
    bool isFull() const { return m_dataBytes >= m_maxDataBytes; }
    QString errorString() const { return m_file.errorString(); }

private:
    bool writeHeader();
    quint32 m_maxDataBytes;
    QFile m_file;
    quint32 m_dataBytes = 0;
};

// Samples of a WAV file as WavWriter writes it; none when the file is not one.
std::optional<Pcm> readWav(const QString &path);
