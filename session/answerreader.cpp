#include "answerreader.h"

#include "codepage.h"
#include "logshape.h"

namespace {

// Characters a serial read waits for after the first one arrives: a whole version text.
constexpr int kAnswerPauseCharacters = 32;
constexpr int kAnswerPauseMarginMs = 2;
// Bytes kept unread while interpretation is off; later ones are dropped, as by a full buffer.
constexpr qsizetype kMaxUnreadBytes = 1 << 20;

constexpr qint64 kGapUs = qint64(AnswerReader::kVersionGapMs) * 1000;

}   // namespace

std::optional<QString> cannotCarry(Command command, AnswerRule rule)
{
    if (command == Command::VersionQuery && rule == AnswerRule::UsbReports)
        return QStringLiteral("the USB side does not read the chip's version answer");
    return std::nullopt;
}

QString answerLabel(AnswerRule rule, const AnswerEvent &answer)
{
    if (rule == AnswerRule::UsbReports)
        return usbAnswerLabel(answer.code).value_or(QString());
    if (answer.code == Answer::VersionText) {
        // The version entry without the head every serial answer entry has, and without CR LF.
        const QString head = serialAnswerEntry(QString(), QString()).chopped(kCrLf.size());
        return versionAnswerEntry(QString(), fromGbk(answer.text))
            .mid(head.size())
            .chopped(kCrLf.size());
    }
    return serialAnswerLabel(answer.code).value_or(QString());
}

AnswerReader::AnswerReader(Link *link, AnswerRule rule, Clock clock, QObject *parent)
    : QObject(parent)
    , m_link(link)
    , m_rule(rule)
    , m_clock(std::move(clock))
{
    m_gap.setSingleShot(true);
    connect(&m_gap, &QTimer::timeout, this, [this] {
        endQuietText(m_clock());
        if (m_inText)
            m_gap.start(int((kGapUs - (m_clock() - m_lastTextByte)) / 1000) + 1);
    });
    m_pause.setSingleShot(true);
    connect(&m_pause, &QTimer::timeout, this, &AnswerReader::logRead);
}

void AnswerReader::receive(const QByteArray &bytes, LinkTime arrival)
{
    if (m_rule == AnswerRule::UsbReports) {
        emit bytesArrived(bytes, arrival);
        readReport(bytes, arrival);
        return;
    }
    // Kept before they are announced: a receiver may read them into the log at once.
    if (m_unlogged.isEmpty())
        m_readStart = arrival;
    const qsizetype room = kMaxUnreadBytes - m_unlogged.size();
    m_unlogged.append(bytes.left(qMax<qsizetype>(room, 0)));
    emit bytesArrived(bytes, arrival);
    readCodes(bytes, arrival);
    if (!m_interpreting)
        return;   // nothing logged: the bytes wait for a receive event while interpretation is on
    if (m_unlogged.isEmpty() || m_pause.isActive())
        return;   // logged already, or the read already scheduled takes these bytes too
    // Long enough for a whole version text to arrive at the current speed: about 35 ms at 9600.
    const qint64 wait = m_link->wireTime(kAnswerPauseCharacters) / 1000;
    m_pause.start(int(wait) + kAnswerPauseMarginMs);
}

void AnswerReader::readNow()
{
    if (!m_interpreting || m_unlogged.isEmpty())
        return;
    m_pause.stop();
    logRead();
}

void AnswerReader::readCodes(const QByteArray &bytes, LinkTime arrival)
{
    for (const char byte : bytes) {
        if (m_inText && arrival - m_lastTextByte > kGapUs)
            endVersionText();
        if (m_inText) {
            m_text.text += byte;
            m_lastTextByte = arrival;
            if (m_text.text.size() == kVersionTextBytes)
                endVersionText();
            continue;
        }
        const quint8 code = quint8(byte);
        if (code == Answer::VersionText) {
            m_inText = true;
            m_text = {code, arrival, {}};
            m_lastTextByte = arrival;
            emit versionTextBegun(arrival);
            continue;
        }
        if (serialAnswerLabel(code))
            emit answerRead({code, arrival, {}});
    }
    if (m_inText)
        m_gap.start(kVersionGapMs + 1);
}

void AnswerReader::endVersionText()
{
    if (!m_inText)
        return;
    m_inText = false;
    m_gap.stop();
    emit answerRead(std::exchange(m_text, {}));
}

void AnswerReader::endQuietText(LinkTime now)
{
    if (m_inText && now - m_lastTextByte > kGapUs)
        endVersionText();
}

void AnswerReader::readReport(const QByteArray &report, LinkTime arrival)
{
    if (report.size() < 2)
        return;   // no answer byte in it
    const quint8 code = quint8(report.at(1));
    if (code == Answer::ReportAccepted) {
        emit reportAcknowledged(arrival);
        return;
    }
    if (!usbAnswerLabel(code))
        return;
    const AnswerEvent answer {code, arrival, {}};
    emit answerRead(answer);
    emit readLogged({answer});
}

void AnswerReader::logRead()
{
    // Each read is decoded by itself: a stray lead byte at its end does not take the next
    // read's first character with it.
    const QByteArray read = std::exchange(m_unlogged, {});
    const QString text = fromGbk(read);
    QList<AnswerEvent> answers;
    const int n = int(qMin<qsizetype>(text.size(), 2));
    for (int i = 0; i < n; ++i) {
        const char16_t code = text.at(i).unicode();
        if (code == Answer::VersionText)
            answers.append({Answer::VersionText, m_readStart, read});
        else if (code < 0x80 && serialAnswerLabel(quint8(code)))
            answers.append({quint8(code), m_readStart, {}});
    }
    emit readLogged(answers);
}
