#include "chipmodel.h"

#include "codes.h"
#include "frame.h"

#include <cmath>
#include <limits>

namespace {

// Stretches handed out in one turn of the event loop, so frames are taken up in between even
// when the speech falls behind its time.
constexpr int kStretchesPerTurn = 64;

quint8 byteAt(const QByteArray &bytes, qsizetype index)
{
    return quint8(bytes.at(index));
}

int lengthFieldOf(const QByteArray &bytes)
{
    return byteAt(bytes, 1) << 8 | byteAt(bytes, 2);
}

}   // namespace

ChipModel::ChipModel(std::unique_ptr<SpeechRenderer> renderer, QObject *parent)
    : QObject(parent)
    , m_renderer(std::move(renderer))
    , m_frameTimer(this)
    , m_acceptTimer(this)
    , m_playTimer(this)
    , m_cache(kCacheSegments)
{
    m_frameTimer.setSingleShot(true);
    m_frameTimer.setInterval(kDefaultFrameTimeoutMs);
    connect(&m_frameTimer, &QTimer::timeout, this, &ChipModel::frameTimedOut);
    m_acceptTimer.setSingleShot(true);
    m_acceptTimer.setTimerType(Qt::PreciseTimer);
    m_acceptTimer.setInterval(kDefaultAcceptDelayMs);
    connect(&m_acceptTimer, &QTimer::timeout, this, &ChipModel::acceptNext);
    m_playTimer.setSingleShot(true);
    m_playTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_playTimer, &QTimer::timeout, this, &ChipModel::feedSpeech);
}

QByteArray ChipModel::versionText()
{
    return QByteArrayLiteral("ORV4120 virtual board 1.0");
}

void ChipModel::powerUp(int delayMs)
{
    QTimer::singleShot(delayMs, this, [this] { answer(Answer::Initialised); });
}

void ChipModel::receiveBytes(const QByteArray &bytes)
{
    m_buffer += bytes;
    scanBuffer();
}

void ChipModel::scanBuffer()
{
    while (!m_buffer.isEmpty()) {
        if (byteAt(m_buffer, 0) != kFrameHead) {
            // Bytes outside a frame: one 0x45 for the whole run.
            const qsizetype head = m_buffer.indexOf(char(kFrameHead));
            if (!m_inGarbage)
                arrive(std::nullopt, false);
            m_inGarbage = true;
            m_buffer.remove(0, head < 0 ? m_buffer.size() : head);
            continue;
        }
        if (m_buffer.size() < 3)
            break;
        const int length = lengthFieldOf(m_buffer);
        if (length < 1 || length > kMaxLengthField) {
            // No frame starts here; look for the next header in what follows.
            arrive(std::nullopt, false);
            m_inGarbage = true;
            m_buffer.remove(0, 1);
            continue;
        }
        if (m_buffer.size() < 3 + length)
            break;
        const QByteArray frame = m_buffer.left(3 + length);
        m_buffer.remove(0, 3 + length);
        m_inGarbage = false;
        arrive(frame, false);
    }
    if (m_buffer.isEmpty())
        m_frameTimer.stop();
    else
        m_frameTimer.start();   // a frame has begun; it must go on within the time-out
}

void ChipModel::frameTimedOut()
{
    // A frame cut off: its bytes are dropped whole, whatever they contain.
    m_buffer.clear();
    m_inGarbage = false;
    arrive(std::nullopt, false);
}

void ChipModel::receiveFrame(const QByteArray &frame)
{
    arrive(frame, true);
}

void ChipModel::refuseFrame()
{
    arrive(std::nullopt, false);
}

void ChipModel::arrive(Arrival arrival, bool announce)
{
    if (m_acceptTimer.interval() == 0 && m_waiting.isEmpty()) {
        m_waiting.append({std::move(arrival), announce});
        acceptNext();
        return;
    }
    if (m_waiting.size() >= kMaxWaitingFrames) {
        // The host sends faster than the chip takes frames up: the overflow is one refusal.
        if (m_waiting.last().arrival)
            m_waiting.append({std::nullopt, false});
        return;
    }
    m_waiting.append({std::move(arrival), announce});
    if (!m_acceptTimer.isActive())
        m_acceptTimer.start();
}

void ChipModel::acceptNext()
{
    if (m_waiting.isEmpty())
        return;
    const Waiting next = m_waiting.takeFirst();
    if (!m_waiting.isEmpty())
        m_acceptTimer.start();   // the next one's turn comes a delay later
    if (next.announce)
        emit frameAccepted(*next.arrival, m_state);
    const QByteArray &frame = next.arrival.value_or(QByteArray());
    if (frame.size() < 4 || byteAt(frame, 0) != kFrameHead || lengthFieldOf(frame) > kMaxLengthField
        || lengthFieldOf(frame) != frame.size() - 3) {
        answer(Answer::ReceiveFailed);
        return;
    }
    executeFrame(frame);
}

void ChipModel::executeFrame(const QByteArray &frame)
{
    const quint8 command = byteAt(frame, 3);
    const QByteArray body = frame.mid(4);   // parameter and data
    const bool bare = body.isEmpty();

    if (m_state == State::Standby && command != quint8(Command::WakeUp)
        && command != quint8(Command::StatusQuery)) {
        // Asleep: only wake-up and the status query reach the chip.
        answer(Answer::ReceiveFailed);
        return;
    }

    switch (Command(command)) {
    case Command::Synthesize: {
        const std::optional<QString> text =
            bare ? std::nullopt : decodeChipText(byteAt(body, 0), body.mid(1));
        if (!text) {
            answer(Answer::ReceiveFailed);
            return;
        }
        answer(Answer::Received);
        startSpeech(SpeechStream(parseChipText(*text, &m_settings)));
        return;
    }
    case Command::Stop:
        if (!bare)
            break;
        answer(Answer::Received);
        if (m_state == State::Playing || m_state == State::Paused) {
            cutSpeech();
            answer(Answer::Idle);
        }
        return;
    case Command::Pause:
        if (!bare)
            break;
        answer(Answer::Received);
        if (m_state == State::Playing) {
            m_playedBeforeNs += m_clock.nsecsElapsed();
            m_clock.invalidate();
            m_playTimer.stop();
            setState(State::Paused);
            emit speechPaused();
        }
        return;
    case Command::Resume:
        if (!bare)
            break;
        answer(Answer::Received);
        if (m_state == State::Paused) {
            setState(State::Playing);
            emit speechResumed();
            m_clock.start();
            feedSpeech();
        }
        return;
    case Command::StatusQuery:
        if (!bare)
            break;
        answer(Answer::Received);
        answer(
            m_state == State::Playing || m_state == State::Paused ? Answer::Playing : Answer::Idle);
        return;
    case Command::Standby:
        if (!bare)
            break;
        answer(Answer::Received);
        cutSpeech();
        setState(State::Standby);
        return;
    case Command::WakeUp:
        if (!bare)
            break;
        answer(Answer::Received);
        if (m_state == State::Standby)
            setState(State::Idle);
        return;
    case Command::CacheStore: {
        if (bare || byteAt(body, 0) >= kCacheSegments
            || byteAt(body, 0) * kCacheSegmentBytes + body.size() - 1
                > kCacheSegments * kCacheSegmentBytes)
            break;
        storeInCache(byteAt(body, 0), body.mid(1));
        answer(Answer::Received);
        return;
    }
    case Command::CachePlay: {
        if (body.size() != 1)
            break;
        const int repeats = byteAt(body, 0) >> 4;
        const QByteArray cached = cachedText();
        const std::optional<QString> text = decodeChipText(byteAt(body, 0) & 0x0F, cached);
        if (repeats == 0 || !text || cached.isEmpty())
            break;
        answer(Answer::Received);
        // Each round starts with the settings the round before left.
        QList<SpeechPiece> pieces;
        for (int i = 0; i < repeats; ++i) {
            if (i > 0)
                pieces.append({SpeechPiece::Kind::Silence, {}, m_settings, kCacheRepeatGapMs});
            pieces += parseChipText(*text, &m_settings);
        }
        startSpeech(SpeechStream(pieces));
        return;
    }
    case Command::VersionQuery:
        if (!bare)
            break;
        answer(Answer::Received);
        QTimer::singleShot(kVersionGapMs, this,
            [this] { emit answered(char(Answer::VersionText) + versionText()); });
        return;
    }
    // Unknown command, or a known one with a wrong parameter or length.
    answer(Answer::ReceiveFailed);
}

void ChipModel::answer(quint8 code)
{
    emit answered(QByteArray(1, char(code)));
}

void ChipModel::setState(State state)
{
    m_state = state;
}

void ChipModel::startSpeech(SpeechStream stream)
{
    // A new text replaces the one playing, without an idle answer for the old one.
    cutSpeech();
    if (m_speechScale == 0.0) {
        answer(Answer::Idle);   // ends as it starts
        return;
    }
    m_stream = std::move(stream);
    m_handedOutSamples = 0;
    m_playedBeforeNs = 0;
    m_clock.start();
    setState(State::Playing);
    emit speechStarted();
    feedSpeech();
}

void ChipModel::cutSpeech()
{
    if (m_state != State::Playing && m_state != State::Paused)
        return;
    m_playTimer.stop();
    m_clock.invalidate();
    m_stream = {};
    setState(State::Idle);
    emit speechStopped();
}

double ChipModel::playedMs() const
{
    return double(m_playedBeforeNs + (m_clock.isValid() ? m_clock.nsecsElapsed() : 0)) / 1e6;
}

double ChipModel::dueMs() const
{
    return double(m_handedOutSamples) * 1000.0 / kSampleRate * m_speechScale;
}

// Hands out the stretches due within the lead, then waits for the next one's turn, or for the
// end of the last, which is the 0x4F.
void ChipModel::feedSpeech()
{
    const double leadMs = kLeadMs * m_speechScale;
    for (int i = 0; i < kStretchesPerTurn && !m_stream.atEnd() && dueMs() - playedMs() < leadMs;
         ++i) {
        const SpeechStream::Stretch stretch = m_stream.next(*m_renderer);
        m_handedOutSamples += stretch.length();
        if (stretch.silentSamples > 0)
            emit speechSilence(stretch.silentSamples);
        else if (!stretch.samples.isEmpty())
            emit speechSound(stretch.samples);
    }
    const double now = playedMs();
    if (m_stream.atEnd() && now >= dueMs()) {
        m_clock.invalidate();
        m_stream = {};
        setState(State::Idle);
        answer(Answer::Idle);
        return;
    }
    const double waitMs = m_stream.atEnd() ? dueMs() - now : dueMs() - leadMs - now;
    m_playTimer.start(int(qBound(0.0, std::ceil(waitMs), double(std::numeric_limits<int>::max()))));
}

void ChipModel::storeInCache(int segment, const QByteArray &text)
{
    const int segments =
        qMax<int>(1, int((text.size() + kCacheSegmentBytes - 1) / kCacheSegmentBytes));
    for (int i = 0; i < segments; ++i)
        m_cache[segment + i] = text.mid(qsizetype(i) * kCacheSegmentBytes, kCacheSegmentBytes);
}

QByteArray ChipModel::cachedText() const
{
    QByteArray text;
    for (const QByteArray &segment : m_cache)
        text += segment;
    return text;
}
