#pragma once

#include "chiptext.h"
#include "speech.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <memory>

// The ORV4120 as its host sees it: frames in, single answer bytes out, speech for as long as
// it lasts. Lives on one thread (timers and the renderer run there); never blocks on I/O, but
// rendering a long text takes CPU time, so it belongs on a worker thread beside a window.
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

    explicit ChipModel(std::unique_ptr<SpeechRenderer> renderer, QObject *parent = nullptr);

    // The version text after "S" (at most 32 characters).
    static QByteArray versionText();

    State state() const { return m_state; }
    void setFrameTimeout(int ms) { m_frameTimer.setInterval(ms); }

    // Answers 0x4A (initialisation finished) once, delayMs after the call.
    void powerUp(int delayMs = 0);

    // Bytes as they arrive on the serial line, in any pieces.
    void receiveBytes(const QByteArray &bytes);
    // One whole frame, as the USB board hands it over.
    void receiveFrame(const QByteArray &frame);

signals:
    // Answer bytes for the host, in order: one code, or "S" and the version text.
    void answered(const QByteArray &bytes);
    void stateChanged(ChipModel::State state);
    // Speech output: an utterance starts (its whole sound), holds, goes on, or is cut off.
    void speechStarted(const Pcm &pcm);
    void speechPaused();
    void speechResumed();
    void speechStopped();

private:
    void scanBuffer();
    void frameTimedOut();
    void executeFrame(const QByteArray &frame);
    void answer(quint8 code);
    void setState(State state);
    void startSpeech(const QList<SpeechPiece> &pieces);
    void cutSpeech();   // stops an utterance without the idle answer
    void speechFinished();
    void storeInCache(int segment, const QByteArray &text);
    QByteArray cachedText() const;

    std::unique_ptr<SpeechRenderer> m_renderer;
    State m_state = State::Idle;
    VoiceSettings m_settings;
    QByteArray m_buffer;   // serial bytes not yet part of a whole frame
    bool m_inGarbage = false;   // inside a run of bytes already answered with 0x45
    QTimer m_frameTimer;   // children, so they move with the chip to its thread
    QTimer m_playTimer;
    int m_remainingMs = 0;   // playing time left while paused
    QList<QByteArray> m_cache;   // one entry per segment, empty when unused
};
