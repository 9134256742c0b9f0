#include "session.h"

#include "codepage.h"
#include "frame.h"
#include "logshape.h"
#include "logsink.h"
#include "textbytes.h"
#include "transactions.h"

namespace {

// Longest wait for the power-up answer of a board that has just started.
constexpr int kPowerUpWaitMs = 1000;

}   // namespace

struct Session::Attached
{
    Link *link = nullptr;
    AnswerRule rule = AnswerRule::SerialCharacters;
    QString name;
    std::unique_ptr<AnswerReader> reader;
    // The no-answer bound of a serial link: the last frame written waits for any byte.
    QTimer answerBound;
    LinkTime lastSend = 0;
    LinkTime lastArrival = 0;
};

Session::Session(QObject *parent)
    : QObject(parent)
{
    m_transactions = newTransactions();
}

Session::~Session() = default;

void Session::attachLink(Link *link, AnswerRule rule, const QString &name)
{
    auto attached = std::make_shared<Attached>();
    attached->link = link;
    attached->rule = rule;
    attached->name = name;
    attached->reader = std::make_unique<AnswerReader>(link, rule);
    attached->reader->setInterpreting(m_interpretSerial || rule == AnswerRule::UsbReports);
    Attached *a = attached.get();
    AnswerReader *reader = a->reader.get();
    // The transactions hear of each answer before the log and the front ends do.
    m_transactions->addLink(reader, name);
    connect(link, &Link::received, reader, &AnswerReader::receive);
    connect(reader, &AnswerReader::bytesArrived, this,
        [this, a](const QByteArray &bytes, LinkTime arrival) {
            a->lastArrival = arrival;
            emit bytesReceived(a->link, bytes, arrival);
        });
    connect(reader, &AnswerReader::answerRead, this,
        [this, link](const AnswerEvent &answer) { emit answerArrived(link, answer); });
    connect(reader, &AnswerReader::reportAcknowledged, this, &Session::reportAccepted);
    connect(reader, &AnswerReader::readLogged, this,
        [this, a](const QList<AnswerEvent> &answers) { logAnswers(*a, answers); });

    a->answerBound.setSingleShot(true);
    connect(&a->answerBound, &QTimer::timeout, this, [this, a] {
        if (a->lastArrival < a->lastSend && m_interpretSerial)
            emit noAnswer(a->link);
    });
    connect(link, &Link::frameWritten, this, [this, a](const FrameWritten &written) {
        emit frameWritten(a->link, written);
        if (a->rule != AnswerRule::SerialCharacters || !m_interpretSerial)
            return;
        const qint64 untilDueMs = qMax<qint64>(0, (written.lastByteDue - linkNow()) / 1000);
        a->answerBound.start(int(untilDueMs) + m_answerBoundMs);
    });
    connect(link, &Link::framesDropped, this,
        [this, link](const QList<QByteArray> &frames, qint64 bytesNotSent) {
            if (frames.isEmpty())
                return;
            append(droppedFramesEntry(frames.size(), bytesNotSent));
            emit framesDropped(link, frames, bytesNotSent);
        });
    connect(link, &Link::notice, this, [this](const LinkFault &fault) {
        if (!m_sink)
            return;
        if (keepsCaret(fault))
            m_sink->appendKeepingCaret(linkFaultEntry(fault));
        else
            m_sink->append(linkFaultEntry(fault));
    });
    connect(link, &Link::failed, this,
        [this](const LinkFault &fault) { append(linkFaultEntry(fault)); });
    m_links.append(std::move(attached));
    if (!m_current)
        m_current = link;
}

Session::Attached *Session::attachedOf(const Link *link) const
{
    for (const auto &attached : m_links) {
        if (attached->link == link)
            return attached.get();
    }
    return nullptr;
}

void Session::setCurrentLink(Link *link)
{
    m_current = link;
}

void Session::resetLink()
{
    if (m_current)
        m_current->reset();
}

int Session::maxTextBytes() const
{
    return m_current ? m_current->maxTextBytes() : kSerialMaxTextBytes;
}

std::optional<QString> Session::cannotCarry(Command command, const Link *link) const
{
    const Attached *attached = attachedOf(link ? link : m_current);
    if (!attached)
        return std::nullopt;
    return ::cannotCarry(command, attached->rule);
}

void Session::restartTransactions()
{
    m_transactions = newTransactions();
    emit transactionsRestarted();
}

std::unique_ptr<TransactionModel> Session::newTransactions()
{
    auto model = std::make_unique<TransactionModel>(linkNow);
    model->setBound(m_answerBoundMs);
    if (m_transactions)
        model->setStoreEncoding(m_transactions->storeEncoding());
    for (const auto &attached : std::as_const(m_links))
        model->addLink(attached->reader.get(), attached->name);
    model->follow(this);
    return model;
}

void Session::setAnswerBound(int milliseconds)
{
    m_answerBoundMs = milliseconds;
    m_transactions->setBound(milliseconds);
}

void Session::cancelNoAnswer()
{
    for (const auto &attached : std::as_const(m_links))
        attached->answerBound.stop();
}

void Session::setInterpretSerialAnswers(bool on)
{
    m_interpretSerial = on;
    for (const auto &attached : std::as_const(m_links)) {
        if (attached->rule == AnswerRule::SerialCharacters)
            attached->reader->setInterpreting(on);
    }
    if (!on)
        answersLogged();   // nothing waits to be logged any more
}

QString Session::codeTablePath() const
{
    return m_tablePath.isEmpty() ? CodeTable::locate() : m_tablePath;
}

CodeTable::Load Session::codeTable() const
{
    return m_tables.load(codeTablePath());
}

TextFrame Session::textFrame(
    QStringView selection, Command command, quint8 parameter, int encodingIndex) const
{
    TextFrame result;
    std::optional<CodeTable> table;
    if (needsCodeTable(encodingIndex)) {
        CodeTable::Load load = codeTable();
        result.table = load.status;
        result.tableError = load.errorString;
        table = std::move(load.table);
    }
    const FrameText text =
        frameText(selection, encodingIndex, maxTextBytes(), table ? &*table : nullptr);
    result.keepChars = text.keepChars;
    result.byteCount = text.textByteCount;
    result.cut = text.cut;
    if (!text.bytes.isEmpty())
        result.frame = parameterFrame(command, parameter, text.bytes);
    return result;
}

QList<TextFrame> Session::textPieces(
    QStringView text, Command command, quint8 parameter, int encodingIndex) const
{
    QList<TextFrame> pieces;
    int from = 0;
    while (from < text.size()) {
        TextFrame piece = textFrame(text.sliced(from), command, parameter, encodingIndex);
        piece.from = from;
        const bool framed = !piece.frame.isEmpty() && piece.keepChars > 0
            && piece.table == CodeTable::LoadStatus::Loaded;
        if (!framed)
            piece.frame.clear();
        pieces.append(std::move(piece));
        if (!framed)
            break;
        from += pieces.last().keepChars;
    }
    return pieces;
}

void Session::send(const QByteArray &frame)
{
    append(sentFrameEntry(frame, int(frame.size()) - 1, m_hexPrefix));
    if (!m_current)
        return;
    if (Attached *attached = attachedOf(m_current))
        attached->lastSend = linkNow();
    emit frameSent(frame, m_current, linkNow());
    m_current->send(frame);
}

void Session::log(const QString &line)
{
    append(line + kCrLf);
}

void Session::readArrivedAnswers()
{
    const auto links = m_links;   // the log's receivers may attach links
    for (const auto &attached : links)
        attached->reader->readNow();
}

void Session::whenAnswersLogged(QObject *context, std::function<void()> go)
{
    m_afterLog.append({context, std::move(go)});
    answersLogged();
}

void Session::answersLogged()
{
    for (const auto &attached : std::as_const(m_links)) {
        if (attached->reader->hasUnlogged())
            return;
    }
    const auto waiting = std::exchange(m_afterLog, {});
    for (const auto &[context, go] : waiting) {
        if (context)
            go();
    }
}

void Session::whenReady(bool justPoweredUp, QObject *context, std::function<void()> go)
{
    if (!justPoweredUp) {
        go();
        return;
    }
    // Shared by the answer and the time-out: whichever comes first goes, once.
    auto pending = std::make_shared<std::function<void()>>(std::move(go));
    auto fire = [pending] {
        if (auto call = std::exchange(*pending, nullptr))
            call();
    };
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = connect(this, &Session::answerArrived, context,
        [this, fire, context, connection](Link *, const AnswerEvent &answer) {
            if (answer.code != Answer::Initialised)
                return;
            disconnect(*connection);
            // After its log line, which a serial read gives after the answer pause.
            whenAnswersLogged(context, fire);
        });
    QTimer::singleShot(kPowerUpWaitMs, context, fire);
}

void Session::append(const QString &entry)
{
    if (m_sink)
        m_sink->append(entry);
}

void Session::logAnswers(const Attached &attached, const QList<AnswerEvent> &answers)
{
    if (attached.rule == AnswerRule::UsbReports) {
        for (const AnswerEvent &answer : answers) {
            append(usbAnswerEntry(usbAnswerLabel(answer.code).value_or(QString())));
            emit usbAnswerRead(answer.code);
        }
        return;
    }
    for (const AnswerEvent &answer : answers) {
        if (answer.code == Answer::VersionText) {
            append(versionAnswerEntry(m_hexPrefix, fromGbk(answer.text)));
            continue;
        }
        append(serialAnswerEntry(m_hexPrefix, serialAnswerLabel(answer.code).value_or(QString())));
        if (answer.code == Answer::Idle)
            emit idleAnswerRead();
    }
    answersLogged();
}
