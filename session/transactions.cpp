#include "transactions.h"

#include "codepage.h"
#include "codes.h"
#include "frame.h"
#include "framedecoder.h"
#include "logshape.h"
#include "session.h"

#include <QDateTime>

#include <algorithm>
#include <limits>

using Phase = TransactionModel::Transaction::Phase;

struct TransactionModel::LinkState
{
    Link *link = nullptr;
    AnswerReader *reader = nullptr;
    AnswerRule rule = AnswerRule::SerialCharacters;
    QString name;
    std::deque<std::unique_ptr<Transaction>> open;   // in the order they were sent
    Transaction *speaking = nullptr;   // one of open
    LinkTime lastDue = 0;   // the frames handed over so far are on the wire by then
    quint64 lastSentId = 0;
    // A version text being read, and the frame it answers (0: none).
    bool inText = false;
    quint64 textOwner = 0;
};

namespace {

constexpr LinkTime kNever = std::numeric_limits<LinkTime>::max();

QString hexCode(quint8 code)
{
    return QString::number(code, 16).toUpper().rightJustified(2, u'0');
}

QString signedDuration(qint64 micros)
{
    return micros < 0 ? u'-' + formatDuration(-micros) : u'+' + formatDuration(micros);
}

}   // namespace

// The transaction waits for an answer with a deadline (a version text being read does not).
bool TransactionModel::waitsForAnswer(const LinkState &s, const Transaction &t)
{
    switch (t.phase) {
    case Phase::Receipt:
        return t.written;
    case Phase::ChipAnswer:
    case Phase::State:
    case Phase::Stopping:
        return true;
    case Phase::Version:
        return !(s.inText && s.textOwner == t.id);
    case Phase::Speaking:
    case Phase::Done:
        break;
    }
    return false;
}

int TransactionModel::Transaction::command() const
{
    if (frame.size() < 4 || quint8(frame.at(0)) != kFrameHead)
        return -1;
    return quint8(frame.at(3));
}

qint64 TransactionModel::Transaction::latency() const
{
    if (firstAnswer < 0)
        return -1;
    const LinkTime at = answers.at(firstAnswer).arrival;
    if (written && at >= writtenAt.lastByteDue)
        return at - writtenAt.lastByteDue;
    if (written && at >= writtenAt.handedOver)
        return at - writtenAt.handedOver;
    return qMax<qint64>(0, at - sentAt);
}

qint64 TransactionModel::Transaction::speechTime() const
{
    if (speechEndAt < 0 || firstAnswer < 0)
        return -1;
    return qMax<qint64>(0, speechEndAt - answers.at(firstAnswer).arrival);
}

bool TransactionModel::Transaction::reportedPlaying() const
{
    return std::any_of(answers.cbegin(), answers.cend(),
        [](const AnswerEvent &a) { return a.code == Answer::Playing; });
}

std::optional<QByteArray> TransactionModel::Transaction::versionText() const
{
    for (const AnswerEvent &a : answers) {
        if (a.code == Answer::VersionText)
            return a.text;
    }
    return std::nullopt;
}

TransactionModel::TransactionModel(Clock clock, QObject *parent)
    : QObject(parent)
    , m_clock(std::move(clock))
    , m_clockBase(m_clock())
    , m_wallBase(QDateTime::currentMSecsSinceEpoch())
{
    m_timer.setObjectName(QStringLiteral("TransactionDeadlines"));
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &TransactionModel::checkDeadlines);
}

TransactionModel::~TransactionModel() = default;

void TransactionModel::addLink(AnswerReader *reader, const QString &name)
{
    auto state = std::make_shared<LinkState>();
    state->link = reader->link();
    state->reader = reader;
    state->rule = reader->rule();
    state->name = name;
    m_links.append(state);
    LinkState *s = state.get();
    connect(reader, &AnswerReader::versionTextBegun, this, [this, s] { versionTextBegun(*s); });
    connect(reader, &AnswerReader::answerRead, this, [this, s](const AnswerEvent &answer) {
        onAnswer(*s, answer);
        armTimer();
    });
    connect(reader, &AnswerReader::reportAcknowledged, this, [this] { ++m_stats.reportAcks; });
    connect(reader, &QObject::destroyed, this,
        [this, s] { m_links.removeIf([s](const auto &state) { return state.get() == s; }); });
}

void TransactionModel::follow(Session *session)
{
    connect(session, &Session::frameSent, this, &TransactionModel::frameSent);
    connect(session, &Session::frameWritten, this, &TransactionModel::frameWritten);
    connect(session, &Session::framesDropped, this,
        [this](Link *link, const QList<QByteArray> &frames) { framesDropped(link, frames); });
}

TransactionModel::LinkState *TransactionModel::stateOf(Link *link)
{
    for (const auto &s : std::as_const(m_links)) {
        if (s->link == link)
            return s.get();
    }
    return nullptr;
}

const TransactionModel::Transaction *TransactionModel::lastSent(Link *link) const
{
    for (const auto &s : m_links) {
        if (s->link != link)
            continue;
        for (const auto &t : s->open) {
            if (t->id == s->lastSentId)
                return t.get();
        }
    }
    return nullptr;
}

void TransactionModel::frameSent(const QByteArray &frame, Link *link, LinkTime at)
{
    LinkState *s = stateOf(link);
    if (!s)
        return;
    auto t = std::make_unique<Transaction>();
    t->id = m_nextId++;
    t->link = link;
    t->frame = frame;
    t->sentAt = at;
    s->lastDue = qMax(s->lastDue, at) + link->wireTime(frame.size());
    t->dueBy = s->lastDue + m_boundUs;
    ++m_stats.frames;
    ++m_stats.framesByCommand[t->command()];
    s->lastSentId = t->id;
    s->open.push_back(std::move(t));
    emit transactionChanged(*s->open.back());
    armTimer();
}

void TransactionModel::frameWritten(Link *link, const FrameWritten &written)
{
    LinkState *s = stateOf(link);
    if (!s)
        return;
    // Frames leave in order, but a link may drop one (a board that stops acknowledging): the
    // written frame is the oldest waiting one of its size, and older ones were not sent.
    auto waiting = [](const Transaction &t) { return !t.written && !(t.problems & NotWritten); };
    Transaction *match = nullptr;
    for (const auto &t : s->open) {
        if (waiting(*t) && t->frame.size() == written.bytes) {
            match = t.get();
            break;
        }
    }
    for (const auto &t : s->open) {
        if (match && t.get() == match)
            break;
        if (!waiting(*t))
            continue;
        if (!match) {
            match = t.get();
            break;
        }
        t->problems |= NotWritten;
        if (t->phase == Phase::Receipt)
            t->phase = Phase::Done;
        emit transactionChanged(*t);
    }
    if (!match)
        return;
    match->written = true;
    match->writtenAt = written;
    if (match->firstAnswer >= 0) {
        if (match->answers.at(match->firstAnswer).arrival < written.lastByteDue)
            match->problems |= EarlyAnswer;
    } else if (match->phase == Phase::Receipt) {
        match->deadline = written.lastByteDue + m_boundUs;
    }
    // The next frame's bound starts no earlier than this one left.
    bool after = false;
    for (const auto &t : s->open) {
        if (after && waiting(*t)) {
            t->dueBy =
                qMax(t->dueBy, written.handedOver + link->wireTime(t->frame.size()) + m_boundUs);
            break;
        }
        after = after || t.get() == match;
    }
    emit transactionChanged(*match);
    settle(*s);
    armTimer();
}

void TransactionModel::framesDropped(Link *link, const QList<QByteArray> &frames)
{
    LinkState *s = stateOf(link);
    if (!s)
        return;
    for (const QByteArray &frame : frames) {
        for (const auto &t : s->open) {
            if (t->written || (t->problems & NotWritten) || t->frame != frame)
                continue;
            t->problems |= NotWritten;
            if (t->phase == Phase::Receipt)
                t->phase = Phase::Done;
            emit transactionChanged(*t);
            break;
        }
    }
    settle(*s);
    armTimer();
}

void TransactionModel::versionTextBegun(LinkState &s)
{
    Transaction *owner = oldest(s, Phase::Version);
    s.inText = true;
    s.textOwner = owner ? owner->id : 0;
}

TransactionModel::Transaction *TransactionModel::oldest(LinkState &s, Phase phase, int command)
{
    for (const auto &t : s.open) {
        if (t->phase == phase && (command < 0 || t->command() == command))
            return t.get();
    }
    return nullptr;
}

void TransactionModel::setPhase(Transaction &t, Phase phase, LinkTime from)
{
    t.phase = phase;
    t.deadline = from + m_boundUs;
}

void TransactionModel::onAnswer(LinkState &s, const AnswerEvent &answer)
{
    if (answer.code == Answer::VersionText)
        s.inText = false;
    ++m_stats.answersByCode[answer.code];
    const quint8 code = answer.code;
    const bool usb = s.rule == AnswerRule::UsbReports;
    Transaction *t = nullptr;
    bool first = false;
    if (usb && isUsbReceipt(code)) {
        t = oldest(s, Phase::Receipt);
        first = t;
    } else if (code == Answer::Received || code == Answer::ReceiveFailed) {
        t = usb ? oldest(s, Phase::ChipAnswer) : nullptr;
        if (!t && (!usb || code == Answer::ReceiveFailed)) {
            t = oldest(s, Phase::Receipt);   // over USB: the board refused the frame itself
            first = t;
        }
    } else if (code == Answer::Playing || code == Answer::Idle) {
        t = oldest(s, Phase::State);
        if (!t && code == Answer::Idle)
            t = s.speaking;
    } else if (code == Answer::HardwarePlaying) {
        t = oldest(s, Phase::ChipAnswer, int(Command::StatusQuery));
        if (!t)
            t = oldest(s, Phase::State, int(Command::StatusQuery));
    } else if (code == Answer::VersionText) {
        for (const auto &candidate : s.open) {
            if (candidate->id == s.textOwner && candidate->phase == Phase::Version)
                t = candidate.get();
        }
    }
    if (!t) {
        if (code == Answer::Initialised)
            endSpeech(s, SpeechEnd::Restarted, answer.arrival);
        unsolicited(s, answer);
        settle(s);
        return;
    }

    t->answers.append(answer);
    if (first) {
        t->firstAnswer = int(t->answers.size() - 1);
        if (!t->written || answer.arrival < t->writtenAt.lastByteDue)
            t->problems |= EarlyAnswer;
    }
    if (usb && isUsbReceipt(code)) {
        setPhase(*t, Phase::ChipAnswer, answer.arrival);
    } else if (code == Answer::HardwarePlaying) {
        // noted with the status query; its state answer is still to come
    } else if (code == Answer::ReceiveFailed) {
        t->problems |= ErrorAnswer;
        t->phase = Phase::Done;
    } else if (code == Answer::Received) {
        take(s, *t, answer.arrival);
    } else if (t->phase == Phase::State || t->phase == Phase::Version) {
        t->phase = Phase::Done;
    } else if (t == s.speaking) {
        endSpeech(
            s, t->phase == Phase::Stopping ? SpeechEnd::Stopped : SpeechEnd::Idle, answer.arrival);
    }
    emit answerRead(s.link, answer, t);
    emit transactionChanged(*t);
    settle(s);
}

void TransactionModel::take(LinkState &s, Transaction &t, LinkTime at)
{
    t.taken = true;
    switch (Command(t.command())) {
    case Command::Synthesize:
    case Command::CachePlay:
        if (s.speaking && s.speaking != &t)
            endSpeech(s, SpeechEnd::Replaced, at);
        s.speaking = &t;
        t.phase = Phase::Speaking;
        return;
    case Command::StatusQuery:
        setPhase(t, Phase::State, at);
        return;
    case Command::VersionQuery:
        if (!cannotCarry(Command::VersionQuery, s.rule)) {
            setPhase(t, Phase::Version, at);
            return;
        }
        break;   // the link does not read the version text
    case Command::Stop:
        if (s.speaking)
            setPhase(*s.speaking, Phase::Stopping, at);
        break;
    case Command::Standby:
        endSpeech(s, SpeechEnd::Standby, at);
        break;
    default:
        break;
    }
    t.phase = Phase::Done;
}

void TransactionModel::endSpeech(LinkState &s, SpeechEnd how, LinkTime at)
{
    Transaction *t = std::exchange(s.speaking, nullptr);
    if (!t)
        return;
    t->speechEnd = how;
    t->speechEndAt = at;
    t->phase = Phase::Done;
    if (how == SpeechEnd::Idle)
        m_stats.speech.add(t->speechTime());
    emit transactionChanged(*t);
}

void TransactionModel::unsolicited(LinkState &s, const AnswerEvent &answer)
{
    ++m_stats.unsolicited;
    Transaction t;
    t.id = m_nextId++;
    t.link = s.link;
    t.sentAt = answer.arrival;
    t.answers = {answer};
    t.problems = Unsolicited;
    t.phase = Phase::Done;
    emit answerRead(s.link, answer, nullptr);
    addRow(row(t));
}

void TransactionModel::settle(LinkState &s)
{
    for (auto it = s.open.begin(); it != s.open.end();) {
        Transaction &t = **it;
        if (t.phase != Phase::Done || !(t.written || (t.problems & (NotWritten | Unfinished)))) {
            ++it;
            continue;
        }
        if (t.firstAnswer >= 0)
            m_stats.latency.add(t.latency());
        m_stats.errorAnswers += (t.problems & ErrorAnswer) ? 1 : 0;
        m_stats.unanswered += (t.problems & NoAnswer) ? 1 : 0;
        m_stats.notWritten += (t.problems & NotWritten) ? 1 : 0;
        m_stats.missingFollowUps += (t.problems & MissingFollowUp) ? 1 : 0;
        m_stats.earlyAnswers += (t.problems & EarlyAnswer) ? 1 : 0;
        addRow(row(t));
        if (s.speaking == &t)
            s.speaking = nullptr;
        it = s.open.erase(it);
    }
}

void TransactionModel::checkDeadlines()
{
    const LinkTime now = m_clock();
    for (const auto &state : std::as_const(m_links)) {
        LinkState &s = *state;
        s.reader->endQuietText(now);
        for (const auto &owned : s.open) {
            Transaction &t = *owned;
            if (!t.written && !(t.problems & NotWritten) && now >= t.dueBy) {
                t.problems |= NotWritten;
                if (t.phase == Phase::Receipt)
                    t.phase = Phase::Done;
                emit transactionChanged(t);
            }
            if (!waitsForAnswer(s, t) || now < t.deadline)
                continue;
            if (t.phase == Phase::Receipt) {
                t.problems |= NoAnswer;
            } else {
                t.problems |= MissingFollowUp;
                t.missed = t.phase;
            }
            if (t.phase == Phase::Stopping)
                endSpeech(s, SpeechEnd::Stopped, t.deadline - m_boundUs);
            t.phase = Phase::Done;
            emit transactionChanged(t);
        }
        settle(s);
    }
    armTimer();
}

void TransactionModel::finish()
{
    for (const auto &state : std::as_const(m_links)) {
        LinkState &s = *state;
        if (s.inText)
            s.reader->endVersionText();
        if (s.speaking)
            endSpeech(s, SpeechEnd::Unfinished, m_clock());
        for (const auto &t : s.open) {
            if (t->phase != Phase::Done || !t->written) {
                if (t->phase != Phase::Done || !(t->problems & NotWritten))
                    t->problems |= Unfinished;
                t->phase = Phase::Done;
                emit transactionChanged(*t);
            }
        }
        settle(s);
    }
    m_timer.stop();
}

void TransactionModel::armTimer()
{
    LinkTime next = kNever;
    for (const auto &s : std::as_const(m_links)) {
        for (const auto &t : s->open) {
            if (!t->written && !(t->problems & NotWritten))
                next = qMin(next, t->dueBy);
            if (waitsForAnswer(*s, *t))
                next = qMin(next, t->deadline);
        }
    }
    if (next == kNever) {
        m_timer.stop();
        return;
    }
    const qint64 waitMs = qMax<qint64>(0, (next - m_clock() + 999) / 1000);
    m_timer.start(int(qMin<qint64>(waitMs, std::numeric_limits<int>::max())));
}

qint64 TransactionModel::wallMs(LinkTime t) const
{
    return m_wallBase + (t - m_clockBase) / 1000;
}

void TransactionModel::addRow(const TransactionRow &row)
{
    m_recent.push_back(row);
    if (qsizetype(m_recent.size()) > kRecentRows)
        m_recent.pop_front();
    if (m_sink)
        m_sink(m_recent.back());
    emit rowAdded(m_recent.back());
}

TransactionRow TransactionModel::row(const Transaction &t) const
{
    TransactionRow r;
    r.id = t.id;
    r.wallMs = wallMs(t.sentAt);
    for (const auto &s : m_links) {
        if (s->link == t.link)
            r.link = s->name;
    }
    if (!t.frame.isEmpty())
        r.frame = frameSummary(decodeFrame(t.frame, m_storeEncoding));
    r.frameBytes = t.frame;
    r.storeEncoding = m_storeEncoding;
    const LinkTime reference = t.written ? t.writtenAt.lastByteDue : t.sentAt;
    QStringList answers;
    for (const AnswerEvent &a : t.answers) {
        QString item = hexCode(a.code);
        if (a.code == Answer::VersionText)
            item += QStringLiteral(" \"%1\"").arg(fromGbk(a.text));
        if (!t.frame.isEmpty())
            item += u' ' + signedDuration(a.arrival - reference);
        answers << item;
    }
    r.answers = answers.join(QStringLiteral(", "));
    r.answerItems = answers;
    r.latencyUs = t.latency();
    r.speechUs = t.speechTime();
    switch (t.speechEnd) {
    case SpeechEnd::None:
        break;
    case SpeechEnd::Idle:
        r.speechEnd = QStringLiteral("4F");
        break;
    case SpeechEnd::Stopped:
        r.speechEnd = QStringLiteral("停止");
        break;
    case SpeechEnd::Replaced:
        r.speechEnd = QStringLiteral("被新帧取代");
        break;
    case SpeechEnd::Standby:
        r.speechEnd = QStringLiteral("待机");
        break;
    case SpeechEnd::Restarted:
        r.speechEnd = QStringLiteral("芯片重启");
        break;
    case SpeechEnd::Unfinished:
        r.speechEnd = QStringLiteral("未结束");
        break;
    }
    if (t.problems & NotWritten)
        r.problems << QStringLiteral("未发出");
    if (t.problems & NoAnswer)
        r.problems << QStringLiteral("无应答");
    if (t.problems & ErrorAnswer)
        r.problems << QStringLiteral("接收失败(45)");
    if (t.problems & MissingFollowUp) {
        switch (t.missed) {
        case Phase::ChipAnswer:
            r.problems << QStringLiteral("收据后无芯片应答");
            break;
        case Phase::State:
            r.problems << QStringLiteral("无状态应答");
            break;
        case Phase::Version:
            r.problems << QStringLiteral("无版本文本");
            break;
        default:
            r.problems << QStringLiteral("停止后无 4F");
            break;
        }
    }
    if (t.problems & EarlyAnswer)
        r.problems << QStringLiteral("应答早于帧发完");
    if (t.problems & Unsolicited)
        r.problems << QStringLiteral("无帧等待的应答");
    if (t.problems & Unfinished)
        r.problems << QStringLiteral("结束时仍在等待");
    return r;
}
