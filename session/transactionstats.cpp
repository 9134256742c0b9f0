#include "transactionstats.h"

#include "framedecoder.h"

#include <QStringList>

#include <bit>
#include <cmath>

int LogHistogram::bucketOf(qint64 micros)
{
    if (micros < kSubBuckets)
        return int(qMax<qint64>(micros, 0));
    const int power = 63 - std::countl_zero(quint64(micros));   // 4 and up
    const int sub = int(micros >> (power - 4)) - kSubBuckets;
    return kSubBuckets + (power - 4) * kSubBuckets + sub;
}

qint64 LogHistogram::bucketMiddle(int bucket)
{
    if (bucket < kSubBuckets)
        return bucket;
    const int k = bucket - kSubBuckets;
    const int shift = k / kSubBuckets;
    const qint64 low = qint64(kSubBuckets + k % kSubBuckets) << shift;
    return low + ((qint64(1) << shift) >> 1);
}

void LogHistogram::add(qint64 micros)
{
    micros = qMax<qint64>(micros, 0);
    ++m_counts[size_t(bucketOf(micros))];
    if (m_count == 0 || micros < m_min)
        m_min = micros;
    if (m_count == 0 || micros > m_max)
        m_max = micros;
    ++m_count;
}

void LogHistogram::merge(const LogHistogram &other)
{
    if (other.m_count == 0)
        return;
    for (size_t i = 0; i < m_counts.size(); ++i)
        m_counts[i] += other.m_counts[i];
    m_min = m_count ? qMin(m_min, other.m_min) : other.m_min;
    m_max = m_count ? qMax(m_max, other.m_max) : other.m_max;
    m_count += other.m_count;
}

qint64 LogHistogram::percentile(double p) const
{
    if (m_count == 0)
        return -1;
    if (p <= 0.0)
        return m_min;
    if (p >= 1.0)
        return m_max;
    const quint64 rank = qMax<quint64>(1, quint64(std::ceil(p * double(m_count))));
    quint64 seen = 0;
    for (size_t i = 0; i < m_counts.size(); ++i) {
        seen += m_counts[i];
        if (seen >= rank)
            return qBound(m_min, bucketMiddle(int(i)), m_max);
    }
    return m_max;
}

void TransactionStats::merge(const TransactionStats &other)
{
    for (auto it = other.framesByCommand.cbegin(); it != other.framesByCommand.cend(); ++it)
        framesByCommand[it.key()] += it.value();
    for (auto it = other.answersByCode.cbegin(); it != other.answersByCode.cend(); ++it)
        answersByCode[it.key()] += it.value();
    frames += other.frames;
    errorAnswers += other.errorAnswers;
    unanswered += other.unanswered;
    notWritten += other.notWritten;
    missingFollowUps += other.missingFollowUps;
    earlyAnswers += other.earlyAnswers;
    unsolicited += other.unsolicited;
    reportAcks += other.reportAcks;
    latency.merge(other.latency);
    speech.merge(other.speech);
}

QString formatDuration(qint64 micros)
{
    if (micros < 0)
        return {};
    if (micros < 1000000)
        return QString::number(double(micros) / 1000.0, 'f', micros < 10000 ? 2 : 1)
            + QStringLiteral(" ms");
    return QString::number(double(micros) / 1e6, 'f', 3) + QStringLiteral(" s");
}

namespace {

QString percentiles(const QString &title, const LogHistogram &h, Wording wording)
{
    const bool english = wording == Wording::English;
    if (h.count() == 0)
        return title + (english ? QStringLiteral(": none") : QStringLiteral("：无"));
    return title
        + (english ? QStringLiteral(": min %1, median %2, 95% %3, max %4 (%5)")
                   : QStringLiteral("：最小 %1，中位 %2，95% %3，最大 %4（%5 个）"))
              .arg(formatDuration(h.min()), formatDuration(h.percentile(0.5)),
                  formatDuration(h.percentile(0.95)), formatDuration(h.max()))
              .arg(h.count());
}

}   // namespace

QString summaryText(const TransactionStats &stats, Wording wording)
{
    const bool english = wording == Wording::English;
    QStringList byCommand;
    for (auto it = stats.framesByCommand.cbegin(); it != stats.framesByCommand.cend(); ++it) {
        const QString name = it.key() < 0
            ? (english ? QStringLiteral("invalid") : QStringLiteral("无效帧"))
            : commandName(it.key()).isEmpty()
            ? QStringLiteral("0x%1").arg(it.key(), 2, 16, QLatin1Char('0')).toUpper()
            : commandName(it.key(), wording);
        byCommand << QStringLiteral("%1 %2").arg(name).arg(it.value());
    }
    QStringList byCode;
    for (auto it = stats.answersByCode.cbegin(); it != stats.answersByCode.cend(); ++it)
        byCode << QStringLiteral("%1 ×%2")
                      .arg(QString::number(it.key(), 16).toUpper().rightJustified(2, u'0'))
                      .arg(it.value());
    QStringList lines;
    if (english) {
        lines << QStringLiteral("Frames %1: %2")
                     .arg(stats.frames)
                     .arg(byCommand.join(QStringLiteral(", ")));
        lines << QStringLiteral("Answers: %1")
                     .arg(byCode.isEmpty() ? QStringLiteral("none")
                                           : byCode.join(QStringLiteral(", ")));
    } else {
        lines << QStringLiteral("帧 %1：%2")
                     .arg(stats.frames)
                     .arg(byCommand.join(QStringLiteral("，")));
        lines << QStringLiteral("应答：%1")
                     .arg(byCode.isEmpty() ? QStringLiteral("无")
                                           : byCode.join(QStringLiteral("，")));
    }
    lines << (english ? QStringLiteral("Refused (45) %1, no answer %2, not sent %3, follow-up "
                                       "missing %4, with no frame waiting %5, before the frame "
                                       "ended %6")
                      : QStringLiteral("接收失败(45) %1，无应答 %2，未发出 %3，缺后续应答 %4，"
                                       "无帧等待的应答 %5，早于帧发完的应答 %6"))
                 .arg(stats.errorAnswers)
                 .arg(stats.unanswered)
                 .arg(stats.notWritten)
                 .arg(stats.missingFollowUps)
                 .arg(stats.unsolicited)
                 .arg(stats.earlyAnswers);
    lines << percentiles(
        english ? QStringLiteral("Latency") : QStringLiteral("应答延迟"), stats.latency, wording);
    lines << percentiles(
        english ? QStringLiteral("Speech") : QStringLiteral("播音时长"), stats.speech, wording);
    return lines.join(u'\n') + u'\n';
}
