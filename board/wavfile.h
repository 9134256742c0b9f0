#pragma once

#include "speech.h"

#include <QFile>
#include <QString>

// A mono 16-bit PCM WAV file at kSampleRate that is valid after every append: the header's
// sizes are rewritten each time, so a board that is killed leaves a playable file.
class WavWriter
{
public:
    // Creates (truncates) the file; false with errorString() when it cannot be written.
    bool open(const QString &path);
    bool isOpen() const { return m_file.isOpen(); }
    bool append(const Pcm &pcm);
    QString errorString() const { return m_file.errorString(); }

private:
    bool writeHeader();
    QFile m_file;
    quint32 m_dataBytes = 0;
};

// Samples of a WAV file as WavWriter writes it; none when the file is not one.
std::optional<Pcm> readWav(const QString &path);
