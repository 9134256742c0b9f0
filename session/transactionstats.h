#pragma once

#include "framedecoder.h"

#include <QMap>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <array>

// Durations in microseconds, counted in fixed log-scale buckets: exact below 16 µs, then 16
// buckets per power of two (each at most 1/16 wide), up to 2^63 µs. Memory stays the same
// however many values are added, so a run of days keeps its percentiles.
class LogHistogram
{
public:
    void add(qint64 micros);
    void merge(const LogHistogram &other);
    quint64 count() const { return m_count; }
    qint64 min() const { return m_count ? m_min : -1; }
    qint64 max() const { return m_count ? m_max : -1; }
    // The value that a share p (0 to 1) of the values do not exceed, to within its bucket's
    // width; -1 when empty. p = 0 gives the minimum, p = 1 the maximum, exactly.
    qint64 percentile(double p) const;

private:
    static constexpr int kSubBuckets = 16;
    static constexpr int kBuckets = kSubBuckets + (63 - 4) * kSubBuckets;
    static int bucketOf(qint64 micros);
    static qint64 bucketMiddle(int bucket);

    std::array<quint64, kBuckets> m_counts {};
    quint64 m_count = 0;
    qint64 m_min = 0;
    qint64 m_max = 0;
};

// One finished transaction (or one answer that no frame waited for) as the soak report and the
// timing view show it.
struct TransactionRow
{
    quint64 id = 0;
    qint64 wallMs = 0;   // ms since the epoch when the frame was handed to the link
    QString link;
    QString frame;   // frameSummary(); empty for an answer with no frame waiting
    QByteArray frameBytes;   // the frame itself, for a view that words it in another language
    int storeEncoding = 1;   // the encoding in which frame reads a cache-store text
    QString answers;   // "41 +4.1 ms, 4F +2.315 s": codes, times from the frame's last byte
    QStringList answerItems;   // the same, one item per answer
    qint64 latencyUs = -1;   // first answer after the last byte left; -1 without one
    qint64 speechUs = -1;   // first answer to the end of speech; -1 when the frame spoke nothing
    QString speechEnd;   // how the speech ended ("4F", "停止", ...); empty when nothing spoke
    QStringList problems;
};

// Counts over a whole run.
struct TransactionStats
{
    QMap<int, quint64> framesByCommand;   // command byte; -1 for bytes that are no frame
    QMap<int, quint64> answersByCode;
    quint64 frames = 0;
    quint64 errorAnswers = 0;   // 0x45
    quint64 unanswered = 0;   // no first answer within the bound
    quint64 notWritten = 0;   // the link never reported the frame written
    quint64 missingFollowUps = 0;   // an answer the first one announces did not come
    quint64 earlyAnswers = 0;   // answered before the last byte was due on the wire
    quint64 unsolicited = 0;   // answers with no frame waiting
    quint64 reportAcks = 0;   // the USB board's 0x5E (not answers)
    LogHistogram latency;
    LogHistogram speech;   // speeches that ended with 0x4F of their own

    void merge(const TransactionStats &other);
    // Frames with a problem of their own (an answer missing or an error answer).
    quint64 failedFrames() const
    {
        return errorAnswers + unanswered + notWritten + missingFollowUps;
    }
};

// A few lines for the timing view and the end of a soak report.
QString summaryText(const TransactionStats &stats, Wording wording = Wording::Chinese);

// "4.12 ms", "2.315 s": a duration for people.
QString formatDuration(qint64 micros);
