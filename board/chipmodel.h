#pragma once

#include "chiptext.h"
#include "speech.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

#include <memory>
#include <optional>

// The ORV4120 as its host sees it: frames in, single answer bytes out, speech for as long as
// it lasts. Each frame is taken up acceptDelay() after it arrived (frames wait their turn), and
// its speech is handed out a stretch at a time shortly before it is due, so an utterance of any
// length costs little memory. Lives on one thread (timers and the renderer run there); never
// blocks on I/O, but rendering a sentence takes CPU time, so it belongs on a worker thread
// beside a window.
class ChipModel : public QObject
{
    Q_OBJECT
public:
    enum class State { Idle, Playing, Paused, Standby };
    Q_ENUM(State)

    // Largest length field: a frame of 4096 bytes.
    static constexpr int kMaxLengthField = 4093;
    // The cache: 16 segments of 256 bytes; a text longer than one segment runs on into the
    // following ones, and a text that would run past the last segment is refused.
    static constexpr int kCacheSegments = 16;
    static constexpr int kCacheSegmentBytes = 256;
    // Silence mid-frame after which the partial frame is dropped.
    static constexpr int kDefaultFrameTimeoutMs = 200;
    // Gap between the 0x41 of a version query and the version text.
    static constexpr int kVersionGapMs = 20;
    // Time from a frame's arrival to its answer, as on the board.
    static constexpr int kDefaultAcceptDelayMs = 4;
    // Pause between the rounds of a repeated cache play.
    static constexpr int kCacheRepeatGapMs = 300;
    // Sound time rendered ahead of the sound being played.
    static constexpr int kLeadMs = 1000;
    // Frames waiting for their turn; those beyond are refused with one 0x45.
    static constexpr int kMaxWaitingFrames = 1024;

    explicit ChipModel(std::unique_ptr<SpeechRenderer> renderer, QObject *parent = nullptr);

    // The version text after "S" (at most 32 characters).
    static QByteArray versionText();

    State state() const { return m_state; }
    void setFrameTimeout(int ms) { m_frameTimer.setInterval(ms); }
    // 0 takes every frame up at once, inside receiveBytes() or receiveFrame().
    void setAcceptDelay(int ms) { m_acceptTimer.setInterval(ms); }
    int acceptDelay() const { return m_acceptTimer.interval(); }
    // Playing time per second of speech: 1 as spoken, 0.01 a hundred times faster, 0 ends every
    // utterance as it starts (nothing is rendered).
    void setSpeechScale(double scale) { m_speechScale = qMax(scale, 0.0); }
    double speechScale() const { return m_speechScale; }

    // Answers 0x4A (initialisation finished) once, delayMs after the call.
    void powerUp(int delayMs = 0);

    // Bytes as they arrive on the serial line, in any pieces.
    void receiveBytes(const QByteArray &bytes);
    // One whole frame, as the USB board hands it over.
    void receiveFrame(const QByteArray &frame);
    // A frame the USB board could not take whole: answered 0x45 in its turn, without
    // frameAccepted().
    void refuseFrame();

signals:
    // Answer bytes for the host, in order: one code, or "S" and the version text.
    void answered(const QByteArray &bytes);
    // A frame from receiveFrame() is taken up; emitted before any of its answers.
    void frameAccepted(const QByteArray &frame, ChipModel::State before);
    // Speech output: an utterance starts (what is left of the one before goes), its next
    // stretch of sound or of silence (a count of samples) is due, it holds, goes on, or is cut
    // off. An utterance that runs to its end ends with its last stretch.
    void speechStarted();
    void speechSound(const Pcm &samples);
    void speechSilence(qint64 samples);
    void speechPaused();
    void speechResumed();
    void speechStopped();

private:
    // A frame, or std::nullopt for bytes refused with 0x45.
    using Arrival = std::optional<QByteArray>;

    void scanBuffer();
    void frameTimedOut();
    void arrive(Arrival arrival, bool announce);
    void acceptNext();
    void executeFrame(const QByteArray &frame);
    void answer(quint8 code);
    void setState(State state);
    void startSpeech(SpeechStream stream);
    void cutSpeech();   // stops an utterance without the idle answer
    void feedSpeech();
    double playedMs() const;   // playing time of the utterance so far, pauses left out
    double dueMs() const;   // playing time at which everything handed out so far has played
    void storeInCache(int segment, const QByteArray &text);
    QByteArray cachedText() const;

    std::unique_ptr<SpeechRenderer> m_renderer;
    State m_state = State::Idle;
    VoiceSettings m_settings;
    QByteArray m_buffer;   // serial bytes not yet part of a whole frame
    bool m_inGarbage = false;   // inside a run of bytes already answered with 0x45
    QTimer m_frameTimer;   // children, so they move with the chip to its thread
    QTimer m_acceptTimer;
    QTimer m_playTimer;
    struct Waiting
    {
        Arrival arrival;
        bool announce = false;   // emits frameAccepted()
    };
    QList<Waiting> m_waiting;   // frames waiting for the accept delay, oldest first
    double m_speechScale = 1.0;
    SpeechStream m_stream;
    qint64 m_handedOutSamples = 0;   // sound and silence of the utterance handed out so far
    QElapsedTimer m_clock;   // runs while the chip plays
    qint64 m_playedBeforeNs = 0;   // playing time before the last pause
    QList<QByteArray> m_cache;   // one entry per segment, empty when unused
};
