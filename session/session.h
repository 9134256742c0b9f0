#pragma once

#include "answerreader.h"
#include "codes.h"
#include "codetable.h"
#include "codetablecache.h"
#include "link.h"
#include "transactions.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringView>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class LogSink;

// A synthesis or cache-store frame built from a selection of the send box.
struct TextFrame
{
    int from = 0;   // where the piece starts in the text it was cut from
    int keepChars = 0;   // the selection is cut to this many widget characters
    int byteCount = 0;   // text bytes of the kept part
    bool cut = false;   // the selection was longer than one frame carries
    CodeTable::LoadStatus table = CodeTable::LoadStatus::Loaded;   // for encodings 2-4
    QString tableError;   // why the table could not be used
    QByteArray frame;   // empty: nothing to send
};

// The conversation with the chip, below any window, and all a front end needs of it: frames
// built from text through the one text pipeline, logged through a sink and handed to the current
// link; answers from every attached link read once by that link's AnswerReader into log entries
// and into the transaction model the session owns. The window and the command line are front
// ends on it: they wire controls or options to it and present what it reports.
class Session : public QObject
{
    Q_OBJECT
public:
    static constexpr int kDefaultAnswerBoundMs = 1000;

    explicit Session(QObject *parent = nullptr);
    ~Session() override;

    void setLogSink(LogSink *sink) { m_sink = sink; }

    // Answers from every attached link reach the log and the transactions; frames go to the
    // current one only (the first attached, until another is made current). name is what the
    // transaction rows call the link.
    void attachLink(Link *link, AnswerRule rule, const QString &name = {});
    void setCurrentLink(Link *link);
    Link *currentLink() const { return m_current; }
    // Drops what the current link still queues.
    void resetLink();
    // Text bytes one frame may carry over the current link.
    int maxTextBytes() const;
    // Why link (default: the current one) cannot carry command; nothing when it can.
    std::optional<QString> cannotCarry(Command command, const Link *link = nullptr) const;

    // Every frame sent and answer read on the attached links, paired.
    TransactionModel &transactions() { return *m_transactions; }
    const TransactionModel &transactions() const { return *m_transactions; }
    // Starts the transactions afresh: the old model is dropped with its rows and counts.
    void restartTransactions();
    // A model of its own on the same frames and answers, from now on (a test run's report).
    std::unique_ptr<TransactionModel> newTransactions();

    // How long after its last byte was due a frame may wait for its first answer: the
    // transactions' bound, and the bound of noAnswer.
    void setAnswerBound(int milliseconds);
    int answerBound() const { return m_answerBoundMs; }
    // Forgets the frames that wait for noAnswer: their silence is told another way.
    void cancelNoAnswer();

    // "" or "0x", put before every byte of a sent-frame entry and every serial answer label.
    void setHexPrefix(const QString &prefix) { m_hexPrefix = prefix; }
    QString hexPrefix() const { return m_hexPrefix; }
    // Whether serial answers are read into the log at all.
    void setInterpretSerialAnswers(bool on);
    bool interpretsSerialAnswers() const { return m_interpretSerial; }

    // The code table file for BIG5 and UTF-16; empty: beside the program, else the package's
    // data folder. It is read again only when the file changed.
    void setCodeTablePath(const QString &path) { m_tablePath = path; }
    QString codeTablePath() const;
    CodeTable::Load codeTable() const;

    // The frame a selection of the send box makes: cut to fit the current link, encoded, and
    // put behind command and parameter (the encoding for synthesis, the segment for cache store).
    TextFrame textFrame(
        QStringView selection, Command command, quint8 parameter, int encodingIndex) const;
    // The frames a long text makes, one after the other, each cut to fit the current link;
    // from says where each starts in text. A piece that cannot be framed (the code table cannot
    // be used, or nothing fits) ends the list: its frame is empty and the rest is left out.
    QList<TextFrame> textPieces(
        QStringView text, Command command, quint8 parameter, int encodingIndex) const;

    // Logs the frame (every byte) and hands it to the current link.
    void send(const QByteArray &frame);
    // Appends a line of the session's own to the log (CR LF added).
    void log(const QString &line);
    // Reads the serial bytes that arrived so far into the log now rather than after the answer
    // pause, with the lines that pause would give them; for a front end that knows from the
    // answers that the one it waits for is in. Bytes arriving later start a read of their own.
    // Nothing is read while interpretation is off. Safe to call from bytesReceived.
    void readArrivedAnswers();
    // Calls go once the serial bytes that arrived so far are in the log (at once when none
    // wait, or interpretation is off); context bounds its life.
    void whenAnswersLogged(QObject *context, std::function<void()> go);
    // Calls go once a board is ready for frames: at once unless it has just powered up; then
    // after its 0x4A is in the log, or a second at most, so that 0x4A does not end the speech of
    // a first frame as a restart would.
    void whenReady(bool justPoweredUp, QObject *context, std::function<void()> go);

signals:
    // A frame was logged and handed to link at the given time.
    void frameSent(const QByteArray &frame, Link *link, LinkTime at);
    void frameWritten(Link *link, const FrameWritten &written);
    // Frames logged as sent that link dropped before they left whole.
    void framesDropped(Link *link, const QList<QByteArray> &frames, qint64 bytesNotSent);
    // Raw bytes from a link, as they arrived.
    void bytesReceived(Link *link, const QByteArray &bytes, LinkTime arrival);
    // An answer of the chip, as the link's reader read it.
    void answerArrived(Link *link, const AnswerEvent &answer);
    // The serial idle answer 0x4F was read into the log.
    void idleAnswerRead();
    // The USB board's 0x5E that no report of the link waited for: its status, ready for more.
    void reportAccepted();
    // A USB answer with a work-log line was read (any code but 0x5E).
    void usbAnswerRead(quint8 code);
    // A serial frame got no answer at all (no byte) within the answer bound after its last byte
    // was due, while serial answers are interpreted.
    void noAnswer(Link *link);
    // restartTransactions() replaced the model.
    void transactionsRestarted();

private:
    struct Attached;
    Attached *attachedOf(const Link *link) const;
    void logAnswers(const Attached &attached, const QList<AnswerEvent> &answers);
    void answersLogged();
    void append(const QString &entry);

    LogSink *m_sink = nullptr;
    QList<std::shared_ptr<Attached>> m_links;
    Link *m_current = nullptr;
    std::unique_ptr<TransactionModel> m_transactions;
    int m_answerBoundMs = kDefaultAnswerBoundMs;
    QString m_hexPrefix;
    bool m_interpretSerial = true;
    QString m_tablePath;
    mutable CodeTableCache m_tables;
    QList<std::pair<QPointer<QObject>, std::function<void()>>> m_afterLog;
};
