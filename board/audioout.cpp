#include "audioout.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#ifdef ORV_HAVE_ALSA
#include <alsa/asoundlib.h>
#endif

namespace {

#ifdef ORV_HAVE_ALSA
void ignoreAlsaError(const char *, int, const char *, int, const char *, ...) { }
#endif

// Sound samples the player holds at most; a device that falls this far behind skips the rest.
constexpr qsizetype kMaxQueuedSamples = qsizetype(30) * kSampleRate;

}   // namespace

// Plays samples on a thread of its own, since an ALSA write waits for the device. Stop and
// pause take effect within one period of about 46 ms. Silence is written from one period of
// zeros, however long it lasts.
class AlsaPlayer
{
public:
    ~AlsaPlayer()
    {
        {
            std::lock_guard lock(m_lock);
            m_quit = true;
        }
        m_wake.notify_all();
        if (m_thread.joinable())
            m_thread.join();
#ifdef ORV_HAVE_ALSA
        if (m_pcm)
            snd_pcm_close(m_pcm);
#endif
    }

    bool open(QString *error)
    {
#ifdef ORV_HAVE_ALSA
        snd_lib_error_set_handler(ignoreAlsaError);   // no device is normal here: stay quiet
        // Non-blocking open: a device held by another program must not hold the board up.
        int rc = snd_pcm_open(&m_pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
        if (rc == 0)
            rc = snd_pcm_nonblock(m_pcm, 0);
        if (rc == 0)
            rc = snd_pcm_set_params(m_pcm, SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED, 1,
                kSampleRate, 1, 200000);
        if (rc < 0) {
            *error = QString::fromLocal8Bit(snd_strerror(rc));
            if (m_pcm)
                snd_pcm_close(m_pcm);
            m_pcm = nullptr;
            return false;
        }
        m_thread = std::thread([this] { run(); });
        return true;
#else
        *error = QStringLiteral("built without ALSA");
        return false;
#endif
    }

    // Drops what is queued (and what the device holds).
    void clear()
    {
        std::lock_guard lock(m_lock);
        m_queue.clear();
        m_queuedSamples = 0;
        m_paused = false;
        m_drop = true;
        m_wake.notify_all();
    }

    void appendSound(const Pcm &samples)
    {
        std::lock_guard lock(m_lock);
        if (m_queuedSamples + samples.size() > kMaxQueuedSamples)
            return;   // the device lags far behind the chip: this stretch is not heard
        m_queue.push_back({samples, 0, 0});
        m_queuedSamples += samples.size();
        m_wake.notify_all();
    }

    void appendSilence(qint64 samples)
    {
        std::lock_guard lock(m_lock);
        m_queue.push_back({{}, samples, 0});
        m_wake.notify_all();
    }

    void setPaused(bool paused)
    {
        std::lock_guard lock(m_lock);
        m_paused = paused;
        m_wake.notify_all();
    }

private:
    struct Stretch
    {
        Pcm samples;
        qint64 silentSamples = 0;
        qsizetype position = 0;   // samples of it already written
    };

    void run()
    {
#ifdef ORV_HAVE_ALSA
        constexpr qsizetype kPeriod = 1024;
        static const Pcm zeros(kPeriod, 0);
        std::unique_lock lock(m_lock);
        for (;;) {
            m_wake.wait(
                lock, [this] { return m_quit || m_drop || (!m_paused && !m_queue.empty()); });
            if (m_quit)
                return;
            if (m_drop) {
                m_drop = false;
                lock.unlock();
                snd_pcm_drop(m_pcm);
                snd_pcm_prepare(m_pcm);
                lock.lock();
                continue;
            }
            Stretch &front = m_queue.front();
            Pcm chunk;
            qsizetype count = 0;
            if (front.silentSamples > 0) {
                count = qsizetype(qMin<qint64>(kPeriod, front.silentSamples));
                front.silentSamples -= count;
                chunk = zeros;
            } else {
                count = qMin(kPeriod, front.samples.size() - front.position);
                chunk = front.samples.mid(front.position, count);
                front.position += count;
                m_queuedSamples -= count;
            }
            if (front.silentSamples == 0 && front.position >= front.samples.size())
                m_queue.pop_front();
            lock.unlock();
            if (count > 0) {
                const snd_pcm_sframes_t written =
                    snd_pcm_writei(m_pcm, chunk.constData(), snd_pcm_uframes_t(count));
                if (written < 0)
                    snd_pcm_recover(m_pcm, int(written), 1);
            }
            lock.lock();
        }
#endif
    }

#ifdef ORV_HAVE_ALSA
    snd_pcm_t *m_pcm = nullptr;
#endif
    std::thread m_thread;
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<Stretch> m_queue;   // under m_lock, oldest first
    qsizetype m_queuedSamples = 0;   // sound samples in m_queue not yet written
    bool m_paused = false;
    bool m_drop = false;
    bool m_quit = false;
};

SpeechOutput::SpeechOutput(QObject *parent)
    : QObject(parent)
{ }

SpeechOutput::~SpeechOutput() = default;

bool SpeechOutput::enablePlayback()
{
    auto player = std::make_unique<AlsaPlayer>();
    if (!player->open(&m_error))
        return false;
    m_player = std::move(player);
    return true;
}

bool SpeechOutput::writeWav(const QString &path, quint32 maxDataBytes)
{
    auto wav = std::make_unique<WavWriter>(maxDataBytes);
    if (!wav->open(path)) {
        m_error = wav->errorString();
        return false;
    }
    m_wav = std::move(wav);
    m_wavPath = path;
    return true;
}

void SpeechOutput::begin()
{
    if (m_player)
        m_player->clear();
}

void SpeechOutput::appendSound(const Pcm &samples)
{
    if (m_wav && !m_wav->append(samples))
        wavFailed();
    if (m_player)
        m_player->appendSound(samples);
}

void SpeechOutput::appendSilence(qint64 samples)
{
    if (m_wav && !m_wav->appendSilence(samples))
        wavFailed();
    if (m_player)
        m_player->appendSilence(samples);
}

void SpeechOutput::wavFailed()
{
    m_error = m_wav->isFull()
        ? QStringLiteral("%1 has reached the 4 GiB limit of a WAV file; the rest of the speech "
                         "is not written")
              .arg(m_wavPath)
        : QStringLiteral("cannot write %1 (%2); the rest of the speech is not written")
              .arg(m_wavPath, m_wav->errorString());
    m_wav.reset();   // the file stays as it is, valid up to here
    emit warning(m_error);
}

void SpeechOutput::pause()
{
    if (m_player)
        m_player->setPaused(true);
}

void SpeechOutput::resume()
{
    if (m_player)
        m_player->setPaused(false);
}

void SpeechOutput::stop()
{
    if (m_player)
        m_player->clear();
}
