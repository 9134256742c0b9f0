#include "session.h"

#include "codepage.h"
#include "frame.h"
#include "logshape.h"
#include "logsink.h"
#include "textbytes.h"

namespace {

// Characters a serial read waits for after the first one arrives: a whole version text.
constexpr int kAnswerPauseCharacters = 32;
constexpr int kAnswerPauseMarginMs = 2;
// Bytes kept unread while interpretation is off; later ones are dropped, as by a full buffer.
constexpr qsizetype kMaxUnreadBytes = 1 << 20;

}   // namespace

struct Session::Attached
{
    Link *link = nullptr;
    AnswerRule rule = AnswerRule::SerialCharacters;
    QByteArray unread;   // serial bytes not yet read
    QTimer pause;
};

Session::Session(QObject *parent)
    : QObject(parent)
{ }

Session::~Session() = default;

void Session::attachLink(Link *link, AnswerRule rule)
{
    auto attached = std::make_shared<Attached>();
    attached->link = link;
    attached->rule = rule;
    attached->pause.setSingleShot(true);
    Attached *a = attached.get();
    connect(&attached->pause, &QTimer::timeout, this, [this, a] { readSerialAnswers(*a); });
    connect(link, &Link::received, this,
        [this, a](const QByteArray &bytes, LinkTime arrival) { onReceived(*a, bytes, arrival); });
    connect(link, &Link::frameWritten, this,
        [this, link](const FrameWritten &written) { emit frameWritten(link, written); });
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

void Session::setCurrentLink(Link *link)
{
    m_current = link;
}

int Session::maxTextBytes() const
{
    return m_current ? m_current->maxTextBytes() : kSerialMaxTextBytes;
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

void Session::send(const QByteArray &frame)
{
    append(sentFrameEntry(frame, int(frame.size()) - 1, m_hexPrefix));
    if (!m_current)
        return;
    emit frameSent(frame, m_current, linkNow());
    m_current->send(frame);
}

void Session::log(const QString &line)
{
    append(line + kCrLf);
}

void Session::readArrivedAnswers()
{
    if (!m_interpretSerial)
        return;
    const auto links = m_links;   // the log's receivers may attach links
    for (const auto &attached : links) {
        if (attached->rule != AnswerRule::SerialCharacters || attached->unread.isEmpty())
            continue;
        attached->pause.stop();
        readSerialAnswers(*attached);
    }
}

void Session::append(const QString &entry)
{
    if (m_sink)
        m_sink->append(entry);
}

void Session::onReceived(Attached &attached, const QByteArray &bytes, LinkTime arrival)
{
    if (attached.rule == AnswerRule::UsbReports) {
        emit bytesReceived(attached.link, bytes, arrival);
        readUsbReport(bytes);
        return;
    }
    // Kept before they are announced: a receiver may read them into the log at once.
    const qsizetype room = kMaxUnreadBytes - attached.unread.size();
    attached.unread.append(bytes.left(qMax<qsizetype>(room, 0)));
    emit bytesReceived(attached.link, bytes, arrival);
    if (!m_interpretSerial)
        return;   // nothing read: the bytes wait for a receive event while interpretation is on
    if (attached.unread.isEmpty() || attached.pause.isActive())
        return;   // read already, or the read already scheduled takes these bytes too
    // Long enough for a whole version text to arrive at the current speed: about 35 ms at 9600.
    const qint64 wait = attached.link->wireTime(kAnswerPauseCharacters) / 1000;
    attached.pause.start(int(wait) + kAnswerPauseMarginMs);
}

void Session::readSerialAnswers(Attached &attached)
{
    // Each read is decoded by itself: a stray lead byte at its end does not take the next
    // read's first character with it.
    const QString text = fromGbk(attached.unread);
    attached.unread.clear();
    const int n = int(qMin<qsizetype>(text.size(), 2));
    for (int i = 0; i < n; ++i) {
        const char16_t code = text.at(i).unicode();
        if (code == Answer::VersionText) {
            append(versionAnswerEntry(m_hexPrefix, text));
            continue;
        }
        if (code >= 0x80)
            continue;
        const std::optional<QString> label = serialAnswerLabel(quint8(code));
        if (!label)
            continue;
        append(serialAnswerEntry(m_hexPrefix, *label));
        if (code == Answer::Idle)
            emit idleAnswerRead();
    }
}

void Session::readUsbReport(const QByteArray &report)
{
    if (report.size() < 2)
        return;   // no answer byte in it
    const quint8 code = quint8(report.at(1));
    if (code == Answer::ReportAccepted) {
        emit reportAccepted();
        return;
    }
    if (const std::optional<QString> label = usbAnswerLabel(code)) {
        append(usbAnswerEntry(*label));
        emit usbAnswerRead(code);
    }
}
