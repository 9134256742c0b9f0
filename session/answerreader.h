#pragma once

#include "codes.h"
#include "link.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <optional>

// How the answers arriving on a link are read.
enum class AnswerRule {
    // The serial side: every byte is an answer code, except that "S" leads the version text.
    SerialCharacters,
    // The USB side: byte 1 of each input report is the code; 0x5E acknowledges a report and is
    // no answer.
    UsbReports,
};

// One answer of the chip, stamped with the link's arrival time.
struct AnswerEvent
{
    quint8 code = 0;
    LinkTime arrival = 0;
    QByteArray text;   // the version text after "S"; the work log's read: every byte of it
};

// The work-log label of an answer as the link's side logs it ("41  接收成功", "<-0xAA接收成功，
// 芯片原状态空闲", "58  软件版本号：" and the version text); empty for a code the side ignores.
QString answerLabel(AnswerRule rule, const AnswerEvent &answer);

// Why a link read by rule cannot carry command: the USB side does not read the chip's version
// answer. Nothing when it can.
std::optional<QString> cannotCarry(Command command, AnswerRule rule);

// Reads the bytes arriving on one link into answers, once, and gives two views of them.
//
// The answers (answerRead): serial, every byte is a code, except that "S" starts the version
// text, whose bytes are text: the bytes after "S" up to 32 of them, ended early by a quiet gap of
// 20 ms (the chip sends it in one go; 20 ms are about ten characters at 4800 baud). Bytes that
// are no answer code are passed over. USB, byte 1 of each report; 0x5E is reportAcknowledged.
//
// The work log's reads (readLogged): serial bytes are gathered into one read from the first byte
// until a pause long enough for a whole version text at the link's speed (32 characters and
// 2 ms), then decoded as GBK by themselves and only their first two characters are looked up;
// "S" takes the whole read as the version text. USB, each report with a labelled code is a read
// of its own. While interpretation is off, serial bytes wait unread (up to 1 MiB).
//
// The two views differ where the log has always been coarser: a read holding three answers gives
// two log answers and three answers; a version text with more bytes behind it shows them all in
// the log and 32 in the answer. The log keeps its lines; timing and the command line take the
// answers.
class AnswerReader : public QObject
{
    Q_OBJECT
public:
    using Clock = LinkClock;

    static constexpr int kVersionTextBytes = 32;
    static constexpr int kVersionGapMs = 20;

    AnswerReader(Link *link, AnswerRule rule, Clock clock = linkNow, QObject *parent = nullptr);

    Link *link() const { return m_link; }
    AnswerRule rule() const { return m_rule; }

    // Whether serial bytes are read into the log at all; the answers are read regardless.
    void setInterpreting(bool on) { m_interpreting = on; }
    // Bytes as they arrived on the link; USB, one whole report.
    void receive(const QByteArray &bytes, LinkTime arrival);
    // Reads the serial bytes that arrived so far into the log now rather than after the pause;
    // bytes arriving later start a read of their own. Nothing while interpretation is off.
    void readNow();
    // Serial bytes are waiting for the log.
    bool hasUnlogged() const { return m_interpreting && !m_unlogged.isEmpty(); }
    // Ends a version text being read, as a quiet gap would.
    void endVersionText();
    // Ends a version text that has been quiet for the gap at now; its own timer calls it on the
    // reader's clock, a transaction model on its own.
    void endQuietText(LinkTime now);

signals:
    // The bytes, kept for the log before anyone hears of them.
    void bytesArrived(const QByteArray &bytes, LinkTime arrival);
    // "S" arrived: the version text follows, and answerRead gives it whole.
    void versionTextBegun(LinkTime at);
    void answerRead(const AnswerEvent &answer);
    // USB: the board's 0x5E.
    void reportAcknowledged(LinkTime at);
    // A read of the work log with the answers it shows (maybe none).
    void readLogged(const QList<AnswerEvent> &answers);

private:
    void readCodes(const QByteArray &bytes, LinkTime arrival);
    void readReport(const QByteArray &report, LinkTime arrival);
    void logRead();

    Link *m_link;
    AnswerRule m_rule;
    Clock m_clock;
    bool m_interpreting = true;
    // The answers' side: a version text being read.
    bool m_inText = false;
    AnswerEvent m_text;
    LinkTime m_lastTextByte = 0;
    QTimer m_gap;
    // The log's side: serial bytes of the read under way.
    QByteArray m_unlogged;
    LinkTime m_readStart = 0;
    QTimer m_pause;
};
