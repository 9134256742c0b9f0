#include "hidlink.h"

#include "codes.h"
#include "frame.h"
#include "logshape.h"

#include <QDeadlineTimer>
#include <QMetaObject>
#include <QMutex>
#include <QMutexLocker>
#include <QThread>

#include <atomic>
#include <deque>

namespace {

qint64 totalBytes(const QList<QByteArray> &frames)
{
    qint64 bytes = 0;
    for (const QByteArray &frame : frames)
        bytes += frame.size();
    return bytes;
}

}   // namespace

// The report queue, shared by the link's thread (send) and the reader thread (the board's 0x5E
// releases the next report). Every member is used under lock; events for the link are posted
// under it too, so the link sees them in the order they happened on either thread.
struct HidTransfer
{
    struct Frame
    {
        QByteArray bytes;
        QList<HidOutputReport> reports;
        qsizetype firstReport = 0;   // reports before it were written through an earlier search
    };

    HidTransfer(HidApi &api, HidDevice *write, int outputBytes, int ackTimeoutMs, HidLink *link)
        : api(api)
        , write(write)
        , outputBytes(outputBytes)
        , ackTimeoutMs(ackTimeoutMs)
        , link(link)
    { }

    template <typename Event> void post(Event event)
    {
        if (link)
            QMetaObject::invokeMethod(
                link, [link = link, event] { event(link); }, Qt::QueuedConnection);
    }

    void notice(LinkFault::Kind kind)
    {
        post([kind](HidLink *l) {
            emit l->notice({kind, QString::fromLocal8Bit(l->devicePath())});
        });
    }

    // Frame bytes of the frame in transfer that its reports not yet written carry. Only full
    // reports of 31 bytes come before the last one.
    qint64 currentBytesNotSent() const
    {
        if (!inTransfer)
            return 0;
        const qint64 sent = qint64(next) * kHidFullReportFrameBytes;
        return qMax(qint64(0), current.bytes.size() - sent);
    }

    void dropped(const QList<QByteArray> &frames, qint64 bytesNotSent)
    {
        if (frames.isEmpty())
            return;
        post([frames, bytesNotSent](HidLink *l) { emit l->framesDropped(frames, bytesNotSent); });
    }

    // Writes reports until a full one waits for its 0x5E or none is left.
    void writeUntilAck()
    {
        while (!ended && !waitingAck) {
            if (!inTransfer) {
                if (frames.empty())
                    return;
                current = std::move(frames.front());
                frames.pop_front();
                next = current.firstReport;
                inTransfer = true;
            }
            const HidOutputReport &report = current.reports.at(next);
            QByteArray bytes = report.bytes;
            bytes.append(QByteArray(outputBytes - bytes.size(), '\0'));   // the device's length
            // A 0x5E read from here on may acknowledge this report; one read before cannot.
            ackAfterRead = readsSeen.load();
            const int written = api.write(write, bytes);
            if (written != bytes.size()) {
                fail(written < 0 ? LinkFault {LinkFault::Kind::UsbLost, {}, api.lastError()}
                                 : LinkFault {LinkFault::Kind::UsbShortWrite, {}, {}, written,
                                     bytes.size()});
                return;
            }
            ++next;
            if (next == current.reports.size()) {
                inTransfer = false;
                const LinkTime now = linkNow();
                const FrameWritten done {current.bytes.size(), now, now};
                post([done](HidLink *l) { emit l->frameWritten(done); });
            }
            if (report.awaitsAck) {
                waitingAck = true;
                ackDeadline = QDeadlineTimer(ackTimeoutMs);
            }
        }
    }

    // The device is gone: nothing more is written. The rest of the frame in transfer is lost;
    // the frames not yet begun go back to the link, which searches once more for them.
    void fail(const LinkFault &fault)
    {
        if (ended)
            return;
        ended = true;
        const QByteArray cut = inTransfer ? current.bytes : QByteArray();
        const qint64 cutNotSent = currentBytesNotSent();
        QList<QByteArray> unsent;
        for (const Frame &frame : frames)
            unsent << frame.bytes;
        frames.clear();
        inTransfer = waitingAck = false;
        post([fault, cut, cutNotSent, unsent](
                 HidLink *l) { l->deviceLost(fault, cut, cutNotSent, unsent); });
    }

    // sequence: the reader's count of reports read, this one included.
    void onReport(const QByteArray &report, LinkTime arrival, quint64 sequence)
    {
        const bool accepted = report.size() >= 2 && quint8(report.at(1)) == Answer::ReportAccepted;
        if (accepted && waitingAck && sequence > ackAfterRead) {
            waitingAck = false;   // the acknowledgement waited for: the link's own
            writeUntilAck();
            return;
        }
        post([report, arrival](HidLink *l) { emit l->received(report, arrival); });
    }

    void checkAckDeadline()
    {
        if (!waitingAck || !ackDeadline.hasExpired())
            return;
        notice(LinkFault::Kind::UsbAckTimeout);
        dropped({current.bytes}, currentBytesNotSent());
        inTransfer = waitingAck = false;
        writeUntilAck();
    }

    int readTimeout() const
    {
        if (!waitingAck)
            return HidLink::kReadTimeoutMs;
        return int(qBound(qint64(0), ackDeadline.remainingTime(), qint64(HidLink::kReadTimeoutMs)));
    }

    QMutex lock;
    HidApi &api;
    HidDevice *write;   // closed by the link once the transfer has ended
    const int outputBytes;
    int ackTimeoutMs;
    HidLink *link;   // null once the link has let go of this transfer
    std::deque<Frame> frames;   // not yet begun
    Frame current;
    qsizetype next = 0;   // the next report of current to write
    bool inTransfer = false;
    bool waitingAck = false;   // a full report waits for its 0x5E
    bool ended = false;
    // Reports the reader has read so far; counted as each read returns, before the lock is taken.
    std::atomic<quint64> readsSeen = 0;
    quint64 ackAfterRead = 0;   // readsSeen just before the waiting full report was written
    QDeadlineTimer ackDeadline;
};

// Blocks in hidapi for input reports and hands them to the transfer. Owns its read handle.
class HidReader : public QThread
{
public:
    HidReader(std::shared_ptr<HidTransfer> transfer, HidDevice *read, int inputBytes)
        : m_transfer(std::move(transfer))
        , m_read(read)
        , m_inputBytes(inputBytes)
    {
        setObjectName(QStringLiteral("USB reader"));
    }
    void requestStop() { m_stop = true; }

protected:
    void run() override
    {
        HidTransfer &t = *m_transfer;
        while (!m_stop) {
            int timeout;
            {
                QMutexLocker locker(&t.lock);
                timeout = t.readTimeout();
            }
            QByteArray report;
            const int got = t.api.read(m_read, &report, m_inputBytes, timeout);
            const LinkTime arrival = linkNow();
            const quint64 sequence = got > 0 ? ++t.readsSeen : 0;
            if (m_stop)
                break;
            QMutexLocker locker(&t.lock);
            if (got < 0) {
                t.fail({LinkFault::Kind::UsbLost, {}, t.api.lastError()});
                break;
            }
            if (got > 0)
                t.onReport(report, arrival, sequence);
            t.checkAckDeadline();
        }
        t.api.close(m_read);
    }

private:
    std::shared_ptr<HidTransfer> m_transfer;
    HidDevice *m_read;
    const int m_inputBytes;
    std::atomic_bool m_stop = false;
};

HidLink::HidLink(HidApi &api, QObject *parent)
    : Link(parent)
    , m_api(api)
{ }

HidLink::~HidLink()
{
    stopReading();
    for (HidReader *reader : std::as_const(m_readers)) {
        reader->wait();   // at most one read time-out
        delete reader;
    }
}

int HidLink::maxTextBytes() const
{
    return kUsbMaxTextBytes;
}

void HidLink::setAckTimeout(int milliseconds)
{
    m_ackTimeoutMs = milliseconds;
    if (m_transfer) {
        QMutexLocker locker(&m_transfer->lock);
        m_transfer->ackTimeoutMs = milliseconds;
    }
}

bool HidLink::isSending() const
{
    if (!m_transfer)
        return false;
    QMutexLocker locker(&m_transfer->lock);
    return m_transfer->waitingAck || m_transfer->inTransfer || !m_transfer->frames.empty();
}

void HidLink::stopReading()
{
    if (m_transfer) {
        QMutexLocker locker(&m_transfer->lock);
        m_transfer->ended = true;
        m_transfer->link = nullptr;
        if (m_transfer->write)
            m_api.close(m_transfer->write);
        m_transfer->write = nullptr;
    }
    m_transfer.reset();
    for (HidReader *reader : std::as_const(m_readers))
        reader->requestStop();   // it closes its read handle when its read returns
}

bool HidLink::find()
{
    HidDevice *write = nullptr;
    HidDevice *read = nullptr;
    QByteArray path;
    QByteArray denied;   // a board that may not be opened
    for (const HidDeviceInfo &info : m_api.enumerate()) {
        const bool listedAsBoard = info.vendorId == kVendorId && info.productId == kProductId;
        HidDevice *device = m_api.open(info.path);
        if (!device) {
            if (denied.isEmpty() && listedAsBoard && m_api.lastOpenDenied())
                denied = info.path;
            continue;   // cannot be opened: not a match
        }
        quint16 vendorId = 0;
        quint16 productId = 0;
        if (!m_api.attributes(device, &vendorId, &productId) || vendorId != kVendorId
            || productId != kProductId) {
            m_api.close(device);
            continue;
        }
        read = m_api.open(info.path);
        if (!read) {
            if (denied.isEmpty() && m_api.lastOpenDenied())
                denied = info.path;
            m_api.close(device);
            continue;
        }
        write = device;
        path = info.path;
        break;
    }

    // The device in use was found again: its handles and reader stay, so no report is lost
    // between two readers and the transfer goes on untouched.
    if (write && m_found && path == m_path && m_transfer) {
        QMutexLocker locker(&m_transfer->lock);
        if (!m_transfer->ended) {
            m_api.close(write);
            m_api.close(read);
            return true;
        }
    }

    // The handles of an earlier search are replaced; a frame in transfer goes on with the new
    // ones from its next report (the board has taken the ones before).
    std::deque<HidTransfer::Frame> carried;
    if (m_transfer) {
        QMutexLocker locker(&m_transfer->lock);
        HidTransfer &old = *m_transfer;
        if (old.inTransfer) {
            HidTransfer::Frame rest {old.current.bytes, old.current.reports, old.next};
            carried.push_back(std::move(rest));
        }
        for (HidTransfer::Frame &frame : old.frames)
            carried.push_back(std::move(frame));
        old.frames.clear();
        old.inTransfer = old.waitingAck = false;
    }
    stopReading();

    m_path = path;
    m_found = m_linked = write != nullptr;
    m_inputBytes = m_outputBytes = kHidReportBytes;
    if (!m_found) {
        if (!denied.isEmpty())
            emit notice({LinkFault::Kind::UsbNoPermission, QString::fromLocal8Bit(denied)});
        if (!carried.empty()) {
            QList<QByteArray> frames;
            qint64 notSent = 0;
            for (const HidTransfer::Frame &frame : carried) {
                frames << frame.bytes;
                notSent += qMax(qint64(0),
                    frame.bytes.size() - qint64(frame.firstReport) * kHidFullReportFrameBytes);
            }
            emit notice({LinkFault::Kind::UsbNotFound});
            emit framesDropped(frames, notSent);
        }
        emit boardMissing();
        return false;
    }
    int inputBytes = 0;
    int outputBytes = 0;
    if (m_api.reportLengths(write, &inputBytes, &outputBytes)) {
        if (inputBytes > 0)
            m_inputBytes = inputBytes;
        if (outputBytes > 0)
            m_outputBytes = outputBytes;
    }
    m_transfer = std::make_shared<HidTransfer>(m_api, write, m_outputBytes, m_ackTimeoutMs, this);
    auto *reader = new HidReader(m_transfer, read, qMax(m_inputBytes, kHidReportBytes));
    connect(reader, &QThread::finished, this, [this, reader] {
        m_readers.removeOne(reader);
        reader->deleteLater();
    });
    m_readers.append(reader);
    reader->start();
    emit openChanged(true);
    if (!carried.empty()) {
        QMutexLocker locker(&m_transfer->lock);
        m_transfer->frames = std::move(carried);
        m_transfer->writeUntilAck();
    }
    return true;
}

void HidLink::send(const QByteArray &frame)
{
    QList<HidOutputReport> reports = hidReports(frame);
    if (reports.isEmpty()) {
        emit notice({LinkFault::Kind::UsbEmptyFrame, QString::fromLocal8Bit(m_path)});
        return;
    }
    // A board that was lost, or never found, is searched for once per frame.
    if (!m_found && !find()) {
        emit notice({LinkFault::Kind::UsbNotConnected});
        return;
    }
    if (m_outputBytes < kHidReportBytes) {
        // shorter reports would cut off frame bytes
        emit notice({LinkFault::Kind::UsbShortReports, QString::fromLocal8Bit(m_path), {},
            m_outputBytes, kHidReportBytes});
        return;
    }
    QMutexLocker locker(&m_transfer->lock);
    m_transfer->frames.push_back({frame, std::move(reports)});
    m_transfer->writeUntilAck();
}

void HidLink::reset()
{
    if (!m_transfer)
        return;
    QList<QByteArray> dropped;
    {
        QMutexLocker locker(&m_transfer->lock);
        for (const HidTransfer::Frame &frame : m_transfer->frames)
            dropped << frame.bytes;
        m_transfer->frames.clear();
    }
    if (!dropped.isEmpty())
        emit framesDropped(dropped, totalBytes(dropped));
}

void HidLink::deviceLost(
    LinkFault fault, const QByteArray &cut, qint64 cutBytesNotSent, const QList<QByteArray> &unsent)
{
    m_found = false;   // the next frame searches again
    fault.device = QString::fromLocal8Bit(m_path);
    m_error = linkFaultLine(fault);
    QList<QByteArray> waiting = unsent;
    if (m_transfer) {
        // frames sent after the transfer had ended, before this was told
        QMutexLocker locker(&m_transfer->lock);
        for (const HidTransfer::Frame &frame : m_transfer->frames)
            waiting << frame.bytes;
        m_transfer->frames.clear();
    }
    stopReading();
    m_path.clear();
    emit openChanged(false);
    emit failed(fault);
    QList<QByteArray> dropped;
    qint64 notSent = 0;
    if (!cut.isEmpty()) {
        dropped << cut;
        notSent += cutBytesNotSent;
    }
    // The frames not yet begun go to a board found again at once (the same one, re-enumerated);
    // one search serves them all.
    if (!waiting.isEmpty()) {
        if (find()) {
            QMutexLocker locker(&m_transfer->lock);
            for (const QByteArray &frame : waiting)
                m_transfer->frames.push_back({frame, hidReports(frame)});
            m_transfer->writeUntilAck();
        } else {
            emit notice({LinkFault::Kind::UsbNotConnected});
            dropped += waiting;
            notSent += totalBytes(waiting);
        }
    }
    if (!dropped.isEmpty())
        emit framesDropped(dropped, notSent);
}
