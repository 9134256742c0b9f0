#pragma once

#include "session.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

class Link;

// Continuous replay: the front end's synthesis played again and again for a number of seconds,
// counted by a clock of one-second ticks (the window's Timer1).
//
// Over the serial link every idle answer 0x4F of the chip plays the synthesis once more while
// seconds are left. Over USB the replay walks on through the rest of the text after the piece the
// synthesis sent, in the pieces the session cuts it into when the walk begins (an edit of the
// text meanwhile does not change them): a piece goes on only once its transfer has ended and the
// board's receipt (0xAA-0xAC) has come within the link's acknowledgement bound; then the board's
// 0x5E that no report waited for, or the chip's 0x4F, whichever comes first, sends the next
// piece. Boards differ: one answers the closing report only once the chip is ready, one at once,
// one never. A 0x5E or 0x4F read before the receipt (of the piece before, or of a board that
// answers the closing report at once) starts nothing: the chip has only begun to speak the piece.
//
// After the serial device came back, the replay does not play its piece again at once (only the
// adapter may have gone; the chip may still be speaking, or may have ended while its 0x4F was
// lost): it asks the chip's state. An idle chip answers 0x4F, a speaking one its piece's 0x4F
// later; a chip that answers nothing in time ends the replay.
//
// Every sender of the front end but a few ends the replay by calling stop().
class ContinuousReplay : public QObject
{
    Q_OBJECT
public:
    // How a run of the replay ended.
    enum class End {
        Over,   // its time was up, or a sender or the end of the text ended it
        NoReceipt,   // a USB piece got no receipt within the acknowledgement bound
        SilentAfterReconnect,   // the chip did not answer the state query after a reconnect
    };
    Q_ENUM(End)
    // The rest of the front end's text after the part last sent, where it starts there, and the
    // encoding to send it in.
    struct Rest
    {
        QString text;
        int at = 0;
        int encodingIndex = 1;
    };

    // serial and usb are links of session; the clock is a child named "Timer1".
    ContinuousReplay(Session *session, Link *serial, Link *usb, QObject *parent = nullptr);

    // The front end's synthesis of its selection (all of the text when nothing is selected).
    void setSynthesis(std::function<void()> synthesize) { m_synthesize = std::move(synthesize); }
    void setRestOfText(std::function<Rest()> rest) { m_rest = std::move(rest); }
    void setAckTimeout(std::function<int()> milliseconds)
    {
        m_ackTimeout = std::move(milliseconds);
    }

    // Starts with the seconds typed (empty: the seconds left from before). False, and nothing
    // started, when no seconds are left or the text is not a count.
    bool start(const QString &seconds);
    // Ends the replay; its clock runs on and ends the run at its next tick.
    void stop();
    // Ends the replay and its clock.
    void stopAll();
    // The clock's tick: one second less.
    void tick();
    // The serial device came back and is open again.
    void serialReconnected();

    // The window's ContinuousPlay: the next answer goes on with the replay.
    bool isPlaying() const { return m_playing; }
    // The window's ContinuousPlayTicks: the seconds left.
    double ticksLeft() const { return m_ticks; }
    QTimer *clock() { return &m_clock; }

signals:
    // A run of the replay began (before its first piece) or ended.
    void runStarted();
    void runEnded(ContinuousReplay::End how);
    // A piece of the walk over USB was sent: the text sent, from at in the front end's text, and
    // the rest after it.
    void pieceSent(int at, const TextFrame &piece, const QString &sent, const QString &left);
    // A piece could not be framed (the code table cannot be used); the replay has ended.
    void pieceUnframed(const TextFrame &piece);

private:
    void endWith(End why);
    void armUntilWritten(bool goesOn);
    void usbFrameWritten();
    void usbAnswer(quint8 code);
    void reportAccepted();
    void idleAnswer();
    void nextPiece();
    bool overUsb() const;

    Session *m_session;
    Link *m_serial;
    Link *m_usb;
    std::function<void()> m_synthesize;
    std::function<Rest()> m_rest;
    std::function<int()> m_ackTimeout;
    QTimer m_clock;
    QTimer m_ackBound;   // a USB piece's receipt is due before it runs out
    QTimer m_resumeBound;   // the chip answers the state query after a reconnect before it runs out
    bool m_playing = false;
    double m_ticks = 0;
    bool m_run = false;   // a run is in progress (until the clock sees it has ended)
    // Over USB the replay goes on only once the piece has been written.
    bool m_armed = false;
    bool m_goesOn = false;
    bool m_receiptRead = false;   // the board's receipt of the USB piece in play
    // The USB walk: the pieces of the rest of the text, cut when the walk began.
    Rest m_walk;
    QList<TextFrame> m_pieces;
    qsizetype m_next = -1;   // the next piece; -1: the walk has not begun
};
