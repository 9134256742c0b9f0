#include "output.h"

#include "codepage.h"
#include "framedecoder.h"
#include "logshape.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <cstdio>

namespace {

bool isControl(char16_t c)
{
    return (c < 0x20 && c != u'\t') || (c >= 0x7F && c <= 0x9F);
}

void writeLine(FILE *stream, const QString &line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

double milliseconds(qint64 micros)
{
    return double(micros) / 1000.0;
}

QJsonObject percentiles(const LogHistogram &h, double unit)
{
    QJsonObject o;
    o.insert(QStringLiteral("count"), double(h.count()));
    if (h.count() == 0)
        return o;
    o.insert(QStringLiteral("min"), double(h.min()) / unit);
    o.insert(QStringLiteral("median"), double(h.percentile(0.5)) / unit);
    o.insert(QStringLiteral("p95"), double(h.percentile(0.95)) / unit);
    o.insert(QStringLiteral("max"), double(h.max()) / unit);
    return o;
}

}   // namespace

QString escapeControls(const QString &text)
{
    if (std::none_of(text.cbegin(), text.cend(), [](QChar c) { return isControl(c.unicode()); }))
        return text;
    QString escaped;
    escaped.reserve(text.size() + 8);
    for (const QChar c : text) {
        if (isControl(c.unicode()))
            escaped += QStringLiteral("\\x")
                + QString::number(c.unicode(), 16).rightJustified(2, u'0').toUpper();
        else
            escaped += c;
    }
    return escaped;
}

Output::Output(bool json, bool quiet)
    : m_json(json)
    , m_quiet(quiet)
{ }

void Output::logEntry(const QString &board, const QString &entry)
{
    if (m_quiet)
        return;
    QString text = entry;
    if (text.endsWith(kCrLf))
        text.chop(kCrLf.size());
    if (m_json) {
        event({{QStringLiteral("event"), QStringLiteral("log")}, {QStringLiteral("board"), board},
            {QStringLiteral("text"), QString(text).replace(kCrLf, QStringLiteral("\n"))}});
        return;
    }
    for (const QString &part : text.split(kCrLf)) {
        const QString line = escapeControls(part);
        writeLine(stdout, m_severalBoards ? QStringLiteral("[%1] %2").arg(board, line) : line);
    }
}

void Output::result(const QString &line)
{
    if (!m_json)
        writeLine(stdout, escapeControls(line));
}

void Output::event(QJsonObject object)
{
    if (!m_json)
        return;
    object.insert(QStringLiteral("time"), QDateTime::currentDateTime().toString(Qt::ISODateWithMs));
    // The document escapes C0; DEL and C1 (U+009B is a terminal's CSI) are escaped here. They
    // can stand only inside strings, where \u escapes mean the same characters.
    QString line = QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
    for (qsizetype i = line.size() - 1; i >= 0; --i) {
        const char16_t c = line.at(i).unicode();
        if (c >= 0x7F && c <= 0x9F)
            line.replace(i, 1, QStringLiteral("\\u%1").arg(int(c), 4, 16, QLatin1Char('0')));
    }
    writeLine(stdout, line);
}

void Output::error(const QString &message)
{
    m_lastError = message;
    writeLine(stderr, QStringLiteral("orv4120: ") + message);
}

void Output::warning(const QString &message)
{
    writeLine(stderr, QStringLiteral("orv4120: warning: ") + message);
}

void reportEvents(Output &output, const QString &board, Session &session, TransactionModel &model,
    AnswerRule rule, int storeEncoding)
{
    if (!output.json())
        return;
    QObject::connect(&session, &Session::frameSent, &model,
        [&output, &model, board, storeEncoding](const QByteArray &frame, Link *link, LinkTime) {
            const TransactionModel::Transaction *t = model.lastSent(link);
            output.event({
                {QStringLiteral("event"), QStringLiteral("sent")},
                {QStringLiteral("board"), board},
                {QStringLiteral("id"), t ? double(t->id) : -1.0},
                {QStringLiteral("bytes"), QString::fromLatin1(frame.toHex(' '))},
                {QStringLiteral("frame"), frameJson(decodeFrame(frame, storeEncoding))},
            });
        });
    QObject::connect(&model, &TransactionModel::answerRead, &model,
        [&output, board, rule](Link *, const TransactionModel::AnswerEvent &answer,
            const TransactionModel::Transaction *paired) {
            QJsonObject o {
                {QStringLiteral("event"), QStringLiteral("answer")},
                {QStringLiteral("board"), board},
                {QStringLiteral("code"),
                    QString::number(answer.code, 16).toUpper().rightJustified(2, u'0')},
                {QStringLiteral("label"), answerLabel(rule, answer)},
            };
            if (answer.code == 0x53)
                o.insert(QStringLiteral("text"), fromGbk(answer.text));
            if (paired) {
                o.insert(QStringLiteral("id"), double(paired->id));
                if (paired->firstAnswer == paired->answers.size() - 1)
                    o.insert(QStringLiteral("latency_ms"), milliseconds(paired->latency()));
                if (paired->speechEndAt == answer.arrival && paired->speechTime() >= 0)
                    o.insert(QStringLiteral("speech_s"), double(paired->speechTime()) / 1e6);
            } else {
                o.insert(QStringLiteral("unsolicited"), true);
            }
            output.event(o);
        });
}

QJsonObject rowEvent(const QString &board, const TransactionRow &row)
{
    QJsonObject o {
        {QStringLiteral("event"), QStringLiteral("row")},
        {QStringLiteral("board"), board},
        {QStringLiteral("id"), double(row.id)},
        {QStringLiteral("frame"), row.frame},
        {QStringLiteral("answers"), row.answers},
        {QStringLiteral("problems"), QJsonArray::fromStringList(row.problems)},
    };
    if (row.latencyUs >= 0)
        o.insert(QStringLiteral("latency_ms"), milliseconds(row.latencyUs));
    if (row.speechUs >= 0)
        o.insert(QStringLiteral("speech_s"), double(row.speechUs) / 1e6);
    if (!row.speechEnd.isEmpty())
        o.insert(QStringLiteral("speech_end"), row.speechEnd);
    return o;
}

QJsonObject summaryEvent(const QString &board, const TransactionStats &stats)
{
    QJsonObject commands;
    for (auto it = stats.framesByCommand.cbegin(); it != stats.framesByCommand.cend(); ++it)
        commands.insert(it.key() < 0 ? QStringLiteral("invalid")
                                     : QString::number(it.key(), 16).rightJustified(2, u'0'),
            double(it.value()));
    QJsonObject answers;
    for (auto it = stats.answersByCode.cbegin(); it != stats.answersByCode.cend(); ++it)
        answers.insert(QString::number(it.key(), 16).rightJustified(2, u'0'), double(it.value()));
    return {
        {QStringLiteral("event"), QStringLiteral("summary")},
        {QStringLiteral("board"), board},
        {QStringLiteral("frames"), double(stats.frames)},
        {QStringLiteral("frames_by_command"), commands},
        {QStringLiteral("answers_by_code"), answers},
        {QStringLiteral("error_answers"), double(stats.errorAnswers)},
        {QStringLiteral("unanswered"), double(stats.unanswered)},
        {QStringLiteral("not_written"), double(stats.notWritten)},
        {QStringLiteral("missing_follow_ups"), double(stats.missingFollowUps)},
        {QStringLiteral("early_answers"), double(stats.earlyAnswers)},
        {QStringLiteral("unsolicited"), double(stats.unsolicited)},
        {QStringLiteral("latency_ms"), percentiles(stats.latency, 1000.0)},
        {QStringLiteral("speech_s"), percentiles(stats.speech, 1e6)},
    };
}
