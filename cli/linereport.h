#pragma once

#include "framedecoder.h"
#include "link.h"
#include "transactions.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

// What decode and monitor print: readable lines on standard output, or with --json one object
// per line and event. Times are capture times (seconds from the capture's start) or, live,
// the wall clock; an event without a time (a dump without times) shows none.
class LineReport
{
public:
    enum class Clock { None, Capture, Live };

    LineReport(bool json, Clock clock);

    // Live: link time t is the wall clock time wallMs.
    void setLiveBase(LinkTime t, qint64 wallMs);

    // A frame decoded; id is the transaction's, 0 without one; offset in its input, -1 unknown.
    void frame(quint64 index, qint64 offset, LinkTime at, const QByteArray &bytes,
        const DecodedFrame &decoded, quint64 id = 0);
    // An answer with its label, the frame it answers and that frame's latency when it is the
    // first answer (-1 otherwise).
    void answer(quint8 code, const QByteArray &text, LinkTime at, qint64 offset, quint64 id = 0,
        qint64 latencyUs = -1, bool unsolicited = false,
        AnswerRule rule = AnswerRule::SerialCharacters);
    // Something worth a line of its own: kind names it in JSON ("gap", "cut_frame", ...);
    // fields go into the JSON object as they are.
    void note(
        const QString &kind, LinkTime at, const QString &message, const QJsonObject &fields = {});
    void row(const TransactionRow &row);
    void summary(const QString &heading, const TransactionStats &stats);

    // "12.345678 s" or "14:02:07.123"; empty without a time.
    QString timeText(LinkTime at) const;

    static constexpr LinkTime kNoTime = -1;

private:
    void emitObject(QJsonObject o, LinkTime at);
    void line(LinkTime at, const QString &text);

    bool m_json;
    Clock m_clock;
    LinkTime m_liveBase = 0;
    qint64 m_liveWallMs = 0;
};

// Bytes in upper-case hexadecimal with blanks, cut after limit bytes ("…, 4096 bytes").
QString hexPreview(const QByteArray &bytes, int limit = 48);

// The serial label of an answer byte ("41  接收成功", "58  软件版本号：…"); empty when the chip
// sends no such answer.
QString serialLabel(quint8 code, const QByteArray &text = {});
