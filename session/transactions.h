#pragma once

#include "answerreader.h"
#include "link.h"
#include "transactionstats.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>
#include <optional>

class Session;

// Pairs every frame handed to a link with the answers that follow it.
//
// The answers come from each link's AnswerReader (answerreader.h says how bytes become answers),
// stamped with the link's arrival times; the frames from the session that sends them. A session
// owns one for its links (Session::transactions()); the capture tools make their own and feed it
// by hand.
//
// Each link keeps its own queue, and answers pair first in, first out, by what they answer:
// - The first answer of a frame goes to the oldest frame still waiting for one: serial 0x41
//   (taken) or 0x45 (refused); USB the board's receipt 0xAA/0xAB/0xAC, or 0x45 when the board
//   refuses the frame itself. Over USB the chip's own 0x41 or 0x45 follows the receipt and goes
//   to the oldest frame that has a receipt and no chip answer yet.
// - The latency runs from the frame's last byte on the wire (FrameWritten::lastByteDue) to the
//   first answer. An answer before that counts from the hand-over to the device (or, before
//   even that, from the hand-over to the link) and is flagged; a latency is never negative.
// - Taken frames then wait for more by their command:
//   status query: the next 0x4E or 0x4F is the state it asked for, not the end of a speech
//   (over USB a 0xAD before it is noted with it); version query: the version text, where the
//   link reads it (cannotCarry());
//   synthesis and cache play: they speak until 0x4F. One frame speaks at a time: a newer
//   one taken while another speaks replaces it, and the older ends without 0x4F;
//   stop: when a frame speaks, the 0x4F that follows ends that speech (as stopped);
//   standby: the speech that was going ends at once, without 0x4F;
//   pause, resume, wake-up and the rest: nothing more.
// - A 0x4F that no status query waits for ends the speech going on; 0x4A (power-up) ends it
//   too, as the chip restarted. Answers that nothing waits for (0x4A, a stray 0x4F, a 0x4E or
//   0x41 after every frame was answered) are unsolicited: counted and shown as rows of their own.
// - A frame the link does not report written within the bound after it was due (each frame's
//   bound starts no earlier than the one before it left) was not sent; a frame without a first
//   answer within the bound after its last byte left got no answer; an answer announced by the
//   first (USB chip answer, state, version text, 0x4F after a stop) that does not come within
//   the bound after it is missing. A frame the link reports dropped was not sent, at once. Each
//   ends the frame's wait; a later answer finds a newer frame or none.
// - The speech time runs from the first answer to the 0x4F; pauses count. Only speeches that
//   end with a 0x4F of their own enter the speech percentiles.
class TransactionModel : public QObject
{
    Q_OBJECT
public:
    using Clock = LinkClock;

    static constexpr int kDefaultBoundMs = 1000;
    static constexpr qsizetype kRecentRows = 10000;

    // Problems of a frame, as bits.
    enum Problem : quint32 {
        NotWritten = 1,
        NoAnswer = 2,
        MissingFollowUp = 4,
        ErrorAnswer = 8,
        EarlyAnswer = 16,
        Unsolicited = 32,
        Unfinished = 64,   // still waiting when the run ended; no fault of its own
    };

    enum class SpeechEnd { None, Idle, Stopped, Replaced, Standby, Restarted, Unfinished };

    using AnswerEvent = ::AnswerEvent;

    struct Transaction
    {
        quint64 id = 0;
        Link *link = nullptr;
        QByteArray frame;   // empty for an unsolicited answer
        LinkTime sentAt = 0;
        bool written = false;
        FrameWritten writtenAt;
        QList<AnswerEvent> answers;
        int firstAnswer = -1;   // index into answers
        bool taken = false;   // the chip took the frame (serial 0x41; USB receipt and 0x41)
        SpeechEnd speechEnd = SpeechEnd::None;
        LinkTime speechEndAt = -1;
        quint32 problems = 0;

        int command() const;
        // Microseconds from the last byte to the first answer; -1 without one.
        qint64 latency() const;
        // Microseconds from the first answer to the end of speech; -1 when it did not speak.
        qint64 speechTime() const;
        // What a status query was told: the chip plays (0x4E) rather than idles (0x4F).
        bool reportedPlaying() const;
        // The version text a version query got (the bytes after "S"); none when none came.
        std::optional<QByteArray> versionText() const;

        // What the transaction waits for.
        enum class Phase { Receipt, ChipAnswer, State, Version, Speaking, Stopping, Done };
        Phase phase = Phase::Receipt;
        Phase missed = Phase::Done;   // the follow-up that did not come, if any
        LinkTime deadline = 0;   // of the current wait
        LinkTime dueBy = 0;   // written by then, else not sent
    };

    explicit TransactionModel(Clock clock = linkNow, QObject *parent = nullptr);
    ~TransactionModel() override;

    // How long a frame may wait for its first answer after its last byte left, and any later
    // answer after the one that announces it.
    void setBound(int milliseconds) { m_boundUs = qint64(milliseconds) * 1000; }
    // Encoding in which cache-store text is shown (the chip's frame does not say).
    void setStoreEncoding(int encoding) { m_storeEncoding = encoding; }
    int storeEncoding() const { return m_storeEncoding; }

    // Pairs the answers reader reads with the frames of its link; name is what the rows call
    // the link.
    void addLink(AnswerReader *reader, const QString &name);
    // Listens to the frames the session hands to its links.
    void follow(Session *session);

    void frameSent(const QByteArray &frame, Link *link, LinkTime at);
    void frameWritten(Link *link, const FrameWritten &written);
    // Each dropped frame is the oldest one of link with the same bytes that was neither written
    // nor already found not sent; it was not sent.
    void framesDropped(Link *link, const QList<QByteArray> &frames);
    // Ends the waits that have run out; its own timer calls it, tests call it after moving
    // their clock.
    void checkDeadlines();
    // Ends every open transaction as it stands (a version text being read ends where it is,
    // speech unfinished, waits without answer).
    void finish();

    // The transaction last handed to link, while it is open; null otherwise.
    const Transaction *lastSent(Link *link) const;
    const TransactionStats &stats() const { return m_stats; }
    // The newest rows, at most kRecentRows, oldest first.
    const std::deque<TransactionRow> &recentRows() const { return m_recent; }
    // Every row also goes here as it is made (the soak report streams them to disk).
    void setRowSink(std::function<void(const TransactionRow &)> sink) { m_sink = std::move(sink); }
    // The row of a transaction as it stands.
    TransactionRow row(const Transaction &t) const;

signals:
    // An answer was read; paired is null when no frame waited for it.
    void answerRead(Link *link, const TransactionModel::AnswerEvent &answer,
        const TransactionModel::Transaction *paired);
    // A transaction was sent, written, answered or ended.
    void transactionChanged(const TransactionModel::Transaction &t);
    void rowAdded(const TransactionRow &row);

private:
    struct LinkState;
    LinkState *stateOf(Link *link);
    void versionTextBegun(LinkState &s);
    void onAnswer(LinkState &s, const AnswerEvent &answer);
    Transaction *oldest(LinkState &s, Transaction::Phase phase, int command = -1);
    void take(LinkState &s, Transaction &t, LinkTime at);
    void endSpeech(LinkState &s, SpeechEnd how, LinkTime at);
    void setPhase(Transaction &t, Transaction::Phase phase, LinkTime from);
    void unsolicited(LinkState &s, const AnswerEvent &answer);
    void settle(LinkState &s);
    void addRow(const TransactionRow &row);
    void armTimer();
    static bool waitsForAnswer(const LinkState &s, const Transaction &t);
    qint64 wallMs(LinkTime t) const;

    Clock m_clock;
    qint64 m_boundUs = qint64(kDefaultBoundMs) * 1000;
    int m_storeEncoding = 1;
    quint64 m_nextId = 1;
    QList<std::shared_ptr<LinkState>> m_links;
    TransactionStats m_stats;
    std::deque<TransactionRow> m_recent;
    std::function<void(const TransactionRow &)> m_sink;
    QTimer m_timer;
    LinkTime m_clockBase = 0;
    qint64 m_wallBase = 0;
};
