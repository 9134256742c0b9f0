#include "wavfile.h"

#include <QtEndian>

namespace {

constexpr int kHeaderBytes = 44;
// Zeros written at a time for silence.
constexpr qsizetype kSilenceBlockBytes = 64 * 1024;

void putLe32(QByteArray *out, quint32 value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    out->append(bytes, 4);
}

void putLe16(QByteArray *out, quint16 value)
{
    char bytes[2];
    qToLittleEndian(value, bytes);
    out->append(bytes, 2);
}

}   // namespace

bool WavWriter::open(const QString &path)
{
    m_file.close();
    m_file.setFileName(path);
    m_dataBytes = 0;
    if (!m_file.open(QIODevice::ReadWrite | QIODevice::Truncate))
        return false;
    return writeHeader();
}

bool WavWriter::writeHeader()
{
    QByteArray header;
    header += "RIFF";
    putLe32(&header, 36 + m_dataBytes);
    header += "WAVEfmt ";
    putLe32(&header, 16);
    putLe16(&header, 1);   // PCM
    putLe16(&header, 1);   // mono
    putLe32(&header, kSampleRate);
    putLe32(&header, kSampleRate * 2);
    putLe16(&header, 2);
    putLe16(&header, 16);
    header += "data";
    putLe32(&header, m_dataBytes);
    return m_file.seek(0) && m_file.write(header) == kHeaderBytes && m_file.seek(m_file.size())
        && m_file.flush();
}

bool WavWriter::append(const Pcm &pcm)
{
    if (!m_file.isOpen())
        return false;
    const quint64 room = m_maxDataBytes - m_dataBytes;
    const qsizetype count = qsizetype(qMin<quint64>(quint64(pcm.size()), room / 2));
    QByteArray data(count * 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < count; ++i)
        qToLittleEndian(pcm.at(i), data.data() + 2 * i);
    if (m_file.write(data) != data.size())
        return false;
    m_dataBytes += quint32(data.size());
    return writeHeader() && count == pcm.size();
}

bool WavWriter::appendSilence(qint64 samples)
{
    if (!m_file.isOpen())
        return false;
    static const QByteArray zeros(kSilenceBlockBytes, '\0');
    const quint64 room = m_maxDataBytes - m_dataBytes;
    const quint64 bytes = qMin<quint64>(quint64(qMax<qint64>(samples, 0)) * 2, room);
    for (quint64 left = bytes; left > 0;) {
        const qint64 block = qint64(qMin<quint64>(left, kSilenceBlockBytes));
        if (m_file.write(zeros.constData(), block) != block)
            return false;
        m_dataBytes += quint32(block);
        left -= quint64(block);
    }
    return writeHeader() && bytes == quint64(qMax<qint64>(samples, 0)) * 2;
}

std::optional<Pcm> readWav(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (bytes.size() < kHeaderBytes || !bytes.startsWith("RIFF") || bytes.mid(8, 8) != "WAVEfmt "
        || bytes.mid(36, 4) != "data")
        return std::nullopt;
    const quint32 dataBytes = qFromLittleEndian<quint32>(bytes.constData() + 40);
    if (dataBytes > quint32(bytes.size() - kHeaderBytes))
        return std::nullopt;
    Pcm pcm(dataBytes / 2);
    for (qsizetype i = 0; i < pcm.size(); ++i)
        pcm[i] = qFromLittleEndian<qint16>(bytes.constData() + kHeaderBytes + 2 * i);
    return pcm;
}
