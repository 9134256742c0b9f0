#include "continuousreplay.h"

#include "codes.h"
#include "frame.h"
#include "replay.h"

// How much longer than the no-answer bound the chip has for the state query after a reconnect,
// so that the replay's end is what the front end says last.
static constexpr int kResumeMarginMs = 200;

ContinuousReplay::ContinuousReplay(Session *session, Link *serial, Link *usb, QObject *parent)
    : QObject(parent)
    , m_session(session)
    , m_serial(serial)
    , m_usb(usb)
{
    m_clock.setObjectName(QStringLiteral("Timer1"));
    m_clock.setParent(this);   // found by name among the front end's children
    m_clock.setInterval(1000);
    connect(&m_clock, &QTimer::timeout, this, &ContinuousReplay::tick);
    m_ackBound.setSingleShot(true);
    connect(&m_ackBound, &QTimer::timeout, this, [this] { endWith(End::NoReceipt); });
    m_resumeBound.setSingleShot(true);
    connect(&m_resumeBound, &QTimer::timeout, this, [this] {
        // The replay's end tells of the query's silence too: the session's no-answer note, due
        // at about the same time, would take its place.
        m_session->cancelNoAnswer();
        endWith(End::SilentAfterReconnect);
    });

    connect(session, &Session::bytesReceived, this, [this](Link *link) {
        if (link == m_serial)
            m_resumeBound.stop();   // the chip answered; its 0x4F goes on
    });
    connect(session, &Session::idleAnswerRead, this, &ContinuousReplay::idleAnswer);
    connect(session, &Session::reportAccepted, this, &ContinuousReplay::reportAccepted);
    connect(session, &Session::usbAnswerRead, this, &ContinuousReplay::usbAnswer);
    connect(session, &Session::frameWritten, this, [this](Link *link) {
        if (link == m_usb)
            usbFrameWritten();
    });
}

bool ContinuousReplay::overUsb() const
{
    return m_usb && m_session->currentLink() == m_usb;
}

bool ContinuousReplay::start(const QString &seconds)
{
    if (!seconds.isEmpty()) {
        const std::optional<double> ticks = replayTicks(seconds);
        if (!ticks)
            return false;
        m_ticks = *ticks;
        m_clock.start();
    }
    if (m_ticks <= 0)
        return false;
    m_run = true;
    m_next = -1;
    emit runStarted();
    if (m_synthesize)
        m_synthesize();
    // after the synthesis, which ends the replay on entry as every sender does
    if (overUsb())
        armUntilWritten(true);
    else
        m_playing = true;
    return true;
}

void ContinuousReplay::stop()
{
    m_playing = false;
    m_armed = false;
    m_ackBound.stop();
    m_resumeBound.stop();
}

void ContinuousReplay::stopAll()
{
    m_clock.stop();
    stop();
}

// A bound ended the replay: the run ends now rather than at the clock's next tick.
void ContinuousReplay::endWith(End why)
{
    stop();
    m_run = false;
    emit runEnded(why);
}

void ContinuousReplay::tick()
{
    m_ticks -= 1;
    if (m_ticks <= 0) {
        stop();
        m_clock.stop();
    }
    // The replay has ended (its time is up, or a sender or the end of the text ended it).
    if (m_run && !m_playing && !m_armed) {
        m_run = false;
        emit runEnded(End::Over);
    }
}

void ContinuousReplay::idleAnswer()
{
    if (!m_playing)
        return;
    if (m_synthesize)
        m_synthesize();
    if (m_ticks > 0.0)
        m_playing = true;
}

void ContinuousReplay::serialReconnected()
{
    if (!m_playing || m_session->currentLink() != m_serial)
        return;
    const QByteArray query = commandFrame(Command::StatusQuery);
    m_session->send(query);
    m_resumeBound.start(
        int(m_serial->wireTime(query.size()) / 1000) + m_session->answerBound() + kResumeMarginMs);
}

void ContinuousReplay::armUntilWritten(bool goesOn)
{
    m_armed = true;
    m_goesOn = goesOn;
}

void ContinuousReplay::usbFrameWritten()
{
    if (!m_armed)
        return;
    m_armed = false;
    m_playing = m_goesOn;
    m_receiptRead = false;
    if (m_playing)
        m_ackBound.start(m_ackTimeout ? m_ackTimeout() : 1000);
}

void ContinuousReplay::reportAccepted()
{
    if (m_playing && m_receiptRead)
        nextPiece();
}

void ContinuousReplay::usbAnswer(quint8 code)
{
    if (!m_playing)
        return;
    if (code == Answer::Received || isUsbReceipt(code)) {
        m_receiptRead = true;
        m_ackBound.stop();   // the chip speaks as long as the piece needs
    } else if (code == Answer::Idle && m_receiptRead) {
        nextPiece();
    }
}

void ContinuousReplay::nextPiece()
{
    m_receiptRead = false;
    if (m_next < 0) {   // the walk begins after the piece the synthesis sent
        m_walk = m_rest ? m_rest() : Rest();
        m_pieces = m_session->textPieces(
            m_walk.text, Command::Synthesize, quint8(m_walk.encodingIndex), m_walk.encodingIndex);
        m_next = 0;
    }
    stop();   // as any sender does
    if (m_next >= m_pieces.size())
        return;   // the end of the text
    const TextFrame piece = m_pieces.at(m_next++);
    if (piece.frame.isEmpty()) {
        emit pieceUnframed(piece);
        return;
    }
    m_session->send(piece.frame);
    emit pieceSent(m_walk.at + piece.from, piece, m_walk.text.mid(piece.from, piece.keepChars),
        m_walk.text.mid(piece.from + piece.keepChars));
    armUntilWritten(m_next < m_pieces.size());
}
