#include "linereport.h"

#include "codepage.h"
#include "output.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>

#include <cstdio>

namespace {

// Bytes from a line are data: control characters are shown as escapes, never sent to the
// terminal as they are.
QString visible(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if (u < 0x20 || (u >= 0x7F && u <= 0x9F))
            out += QStringLiteral("\\x") + QString::number(u, 16).toUpper().rightJustified(2, u'0');
        else
            out += c;
    }
    return out;
}

void writeLine(const QString &line)
{
    const QByteArray bytes = visible(line).toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

QString hexByte(quint8 code)
{
    return QString::number(code, 16).toUpper().rightJustified(2, u'0');
}

}   // namespace

QString hexPreview(const QByteArray &bytes, int limit)
{
    QString text = QString::fromLatin1(bytes.left(limit).toHex(' ').toUpper());
    if (bytes.size() > limit)
        text += QStringLiteral(" …（共 %1 字节）").arg(bytes.size());
    return text;
}

QString serialLabel(quint8 code, const QByteArray &text)
{
    return answerLabel(AnswerRule::SerialCharacters, {code, 0, text});
}

LineReport::LineReport(bool json, Clock clock)
    : m_json(json)
    , m_clock(clock)
{ }

void LineReport::setLiveBase(LinkTime t, qint64 wallMs)
{
    m_liveBase = t;
    m_liveWallMs = wallMs;
}

QString LineReport::timeText(LinkTime at) const
{
    if (at == kNoTime || m_clock == Clock::None)
        return {};
    if (m_clock == Clock::Capture)
        return QString::number(double(at) / 1e6, 'f', 6) + QStringLiteral(" s");
    return QDateTime::fromMSecsSinceEpoch(m_liveWallMs + (at - m_liveBase) / 1000)
        .toString(QStringLiteral("HH:mm:ss.zzz"));
}

void LineReport::emitObject(QJsonObject o, LinkTime at)
{
    if (at != kNoTime && m_clock == Clock::Capture) {
        o.insert(QStringLiteral("t_s"), double(at) / 1e6);
    } else if (at != kNoTime && m_clock == Clock::Live) {
        o.insert(QStringLiteral("t_s"), double(at - m_liveBase) / 1e6);
        o.insert(QStringLiteral("time"),
            QDateTime::fromMSecsSinceEpoch(m_liveWallMs + (at - m_liveBase) / 1000)
                .toString(Qt::ISODateWithMs));
    }
    writeLine(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)));
}

void LineReport::line(LinkTime at, const QString &text)
{
    const QString time = timeText(at);
    writeLine(time.isEmpty() ? text : time + QStringLiteral("  ") + text);
}

void LineReport::frame(quint64 index, qint64 offset, LinkTime at, const QByteArray &bytes,
    const DecodedFrame &decoded, quint64 id)
{
    if (m_json) {
        QJsonObject o {{QStringLiteral("event"), QStringLiteral("frame")},
            {QStringLiteral("index"), double(index)},
            {QStringLiteral("bytes"), QString::fromLatin1(bytes.toHex(' ').toUpper())},
            {QStringLiteral("frame"), frameJson(decoded)}};
        if (offset >= 0)
            o.insert(QStringLiteral("offset"), double(offset));
        if (id)
            o.insert(QStringLiteral("id"), double(id));
        emitObject(o, at);
        return;
    }
    QString head = QStringLiteral("帧 #%1").arg(index);
    if (offset >= 0)
        head += QStringLiteral("（偏移 %1）").arg(offset);
    line(at, head + QStringLiteral("：") + hexPreview(bytes));
    // The summary without its first problem: every problem follows on a line of its own.
    DecodedFrame plain = decoded;
    plain.problems.clear();
    writeLine(QStringLiteral("    ") + frameSummary(plain));
    for (const FrameProblem &p : decoded.problems) {
        const QString where = p.offset >= 0 ? QStringLiteral("字节 %1：").arg(p.offset) : QString();
        writeLine(QStringLiteral("    %1%2%3")
                      .arg(p.severity == ProblemSeverity::Error ? QStringLiteral("错误：")
                                                                : QStringLiteral("警告："),
                          where, p.message));
    }
}

void LineReport::answer(quint8 code, const QByteArray &text, LinkTime at, qint64 offset, quint64 id,
    qint64 latencyUs, bool unsolicited, AnswerRule rule)
{
    const QString label = answerLabel(rule, {code, 0, text});
    const bool usb = rule == AnswerRule::UsbReports;
    if (m_json) {
        QJsonObject o {{QStringLiteral("event"), QStringLiteral("answer")},
            {QStringLiteral("code"), hexByte(code)}, {QStringLiteral("label"), label}};
        if (code == Answer::VersionText)
            o.insert(QStringLiteral("text"), fromGbk(text));
        if (offset >= 0)
            o.insert(QStringLiteral("offset"), double(offset));
        if (id)
            o.insert(QStringLiteral("id"), double(id));
        if (latencyUs >= 0)
            o.insert(QStringLiteral("latency_ms"), double(latencyUs) / 1000.0);
        if (unsolicited)
            o.insert(QStringLiteral("unsolicited"), true);
        emitObject(o, at);
        return;
    }
    QString text2 = usb
        ? (label.isEmpty() ? QStringLiteral("<-0x") + hexByte(code) : label)
        : QStringLiteral("<---- 返回：") + (label.isEmpty() ? hexByte(code) : label);
    if (id)
        text2 += QStringLiteral("（帧 #%1").arg(id)
            + (latencyUs >= 0 ? QStringLiteral("，延迟 ") + formatDuration(latencyUs) : QString())
            + u'）';
    else if (unsolicited)
        text2 += QStringLiteral("（无帧等待）");
    line(at, text2);
}

void LineReport::note(
    const QString &kind, LinkTime at, const QString &message, const QJsonObject &fields)
{
    if (m_json) {
        QJsonObject o = fields;
        o.insert(QStringLiteral("event"), kind);
        o.insert(QStringLiteral("message"), message);
        emitObject(o, at);
        return;
    }
    // Faults stand out from what is only told.
    static const QStringList kTold {QStringLiteral("listening"), QStringLiteral("skipped"),
        QStringLiteral("export"), QStringLiteral("report"), QStringLiteral("faults"),
        QStringLiteral("side"), QStringLiteral("capture_note"), QStringLiteral("rows_left_out")};
    line(at, (kTold.contains(kind) ? QStringLiteral("-- ") : QStringLiteral("!! ")) + message);
}

void LineReport::row(const TransactionRow &r)
{
    if (m_json) {
        writeLine(
            QString::fromUtf8(QJsonDocument(rowEvent(r.link, r)).toJson(QJsonDocument::Compact)));
        return;
    }
    QStringList parts {
        QStringLiteral("#%1").arg(r.id), r.frame.isEmpty() ? QStringLiteral("（无帧）") : r.frame};
    if (!r.answers.isEmpty())
        parts << r.answers;
    if (r.latencyUs >= 0)
        parts << QStringLiteral("延迟 ") + formatDuration(r.latencyUs);
    if (r.speechUs >= 0)
        parts << QStringLiteral("播音 %1（%2）").arg(formatDuration(r.speechUs), r.speechEnd);
    if (!r.problems.isEmpty())
        parts << r.problems.join(QStringLiteral("；"));
    writeLine(parts.join(QStringLiteral(" | ")));
}

void LineReport::summary(const QString &heading, const TransactionStats &stats)
{
    if (m_json) {
        writeLine(QString::fromUtf8(
            QJsonDocument(summaryEvent(heading, stats)).toJson(QJsonDocument::Compact)));
        return;
    }
    for (const QString &text : summaryText(stats).trimmed().split(u'\n'))
        writeLine(text);
}
