#include "audioout.h"

#include "wavfile.h"

#include <condition_variable>
#include <mutex>
#include <thread>

#ifdef ORV_HAVE_ALSA
#include <alsa/asoundlib.h>
#endif

#ifdef ORV_HAVE_ALSA
namespace {
void ignoreAlsaError(const char *, int, const char *, int, const char *, ...) { }
}   // namespace
#endif

// Plays samples on a thread of its own, since an ALSA write waits for the device. Stop and
// pause take effect within one period of about 46 ms.
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

    void play(const Pcm &pcm)
    {
        std::lock_guard lock(m_lock);
        m_samples = pcm;
        m_position = 0;
        m_paused = false;
        m_drop = true;
        m_wake.notify_all();
    }

    void setPaused(bool paused)
    {
        std::lock_guard lock(m_lock);
        m_paused = paused;
        m_wake.notify_all();
    }

    void stop()
    {
        play({});
    }

private:
    void run()
    {
#ifdef ORV_HAVE_ALSA
        constexpr qsizetype kPeriod = 1024;
        std::unique_lock lock(m_lock);
        for (;;) {
            m_wake.wait(lock, [this] {
                return m_quit || m_drop || (!m_paused && m_position < m_samples.size());
            });
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
            const qsizetype count = qMin(kPeriod, m_samples.size() - m_position);
            const Pcm chunk = m_samples.mid(m_position, count);
            m_position += count;
            lock.unlock();
            snd_pcm_sframes_t written = snd_pcm_writei(m_pcm, chunk.constData(), count);
            if (written < 0)
                snd_pcm_recover(m_pcm, int(written), 1);
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
    Pcm m_samples;
    qsizetype m_position = 0;
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

bool SpeechOutput::playbackEnabled() const
{
    return m_player != nullptr;
}

bool SpeechOutput::writeWav(const QString &path)
{
    auto wav = std::make_unique<WavWriter>();
    if (!wav->open(path)) {
        m_error = wav->errorString();
        return false;
    }
    m_wav = std::move(wav);
    return true;
}

void SpeechOutput::play(const Pcm &pcm)
{
    if (m_wav && !m_wav->append(pcm))
        m_error = m_wav->errorString();
    if (m_player)
        m_player->play(pcm);
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
        m_player->stop();
}
