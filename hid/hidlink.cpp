#include "hidlink.h"

#include "codes.h"
#include "logshape.h"

namespace {

QString reportsNotSent(int count)
{
    return QStringLiteral("：本帧其余 %1 个报告未发送").arg(count);
}

}   // namespace

HidLink::HidLink(HidApi &api, QObject *parent)
    : QObject(parent)
    , m_api(api)
{
    m_ackTimer.setSingleShot(true);
    m_ackTimer.setInterval(kAckTimeoutMs);
    connect(&m_ackTimer, &QTimer::timeout, this, &HidLink::ackTimedOut);
}

HidLink::~HidLink()
{
    closeHandles();
}

bool HidLink::find()
{
    HidDevice *write = nullptr;
    HidDevice *read = nullptr;
    QByteArray path;
    bool denied = false;
    for (const HidDeviceInfo &info : m_api.enumerate()) {
        const bool listedAsBoard = info.vendorId == kVendorId && info.productId == kProductId;
        HidDevice *device = m_api.open(info.path);
        if (!device) {
            denied = denied || (listedAsBoard && m_api.lastOpenDenied());
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
            denied = denied || m_api.lastOpenDenied();
            m_api.close(device);
            continue;
        }
        write = device;
        path = info.path;
        break;
    }

    closeHandles();   // handles of an earlier search: nothing uses them once replaced
    m_write = write;
    m_read = read;
    m_path = path;
    m_found = m_linked = write != nullptr;
    m_inputBytes = m_outputBytes = kHidReportBytes;
    if (!m_found) {
        if (denied)
            emit logEntry(QStringLiteral("USB设备无访问权限：请把 70-orv4120.rules 装入 "
                                         "/etc/udev/rules.d 或 /lib/udev/rules.d，然后重新插入设备")
                + kCrLf);
        emit boardMissing();
        return false;
    }
    int inputBytes = 0;
    int outputBytes = 0;
    if (m_api.reportLengths(m_write, &inputBytes, &outputBytes)) {
        if (inputBytes > 0)
            m_inputBytes = inputBytes;
        if (outputBytes > 0)
            m_outputBytes = outputBytes;
    }
    return true;
}

void HidLink::send(const QByteArray &frame, int frameLast)
{
    QList<HidOutputReport> reports = hidReports(frame, frameLast);
    if (reports.isEmpty()) {
        emit logEntry(QStringLiteral("USB：帧中没有要发送的字节，未发送") + kCrLf);
        return;
    }
    m_frames.append(std::move(reports));
    writeReports();
}

// Writes reports until one waits for its 0x5E or none is left. Signals emitted from here may
// start another send; the loop below picks that frame up in its turn.
void HidLink::writeReports()
{
    if (m_writing)
        return;
    m_writing = true;
    while (!m_waitingAck) {
        if (m_current.isEmpty()) {
            if (m_frames.isEmpty())
                break;
            m_current = m_frames.takeFirst();
            // A board that was lost, or never found, is searched for once per frame.
            if (!m_found && !find()) {
                m_current.clear();
                emit logEntry(kUsbMissingEntry);
                continue;
            }
            if (m_outputBytes < kHidReportBytes) {
                // shorter reports would cut off frame bytes
                m_current.clear();
                emit logEntry(
                    QStringLiteral("USB设备输出报告长度为 %1 字节，不足 %2 字节：本帧未发送")
                        .arg(m_outputBytes)
                        .arg(kHidReportBytes)
                    + kCrLf);
                continue;
            }
        }
        if (!m_found) {   // a search during the transfer found no board
            endFrame(QStringLiteral("USB设备未找到") + reportsNotSent(int(m_current.size())));
            continue;
        }
        const HidOutputReport report = m_current.takeFirst();
        QByteArray bytes = report.bytes;
        bytes.append(QByteArray(m_outputBytes - bytes.size(), '\0'));   // the device's length
        const int written = m_api.write(m_write, bytes);
        if (written != bytes.size()) {
            m_current.prepend(report);   // counted among the reports not sent
            deviceLost(written < 0
                    ? m_api.lastError()
                    : QStringLiteral("只写入 %1 / %2 字节").arg(written).arg(bytes.size()));
            continue;
        }
        if (report.awaitsAck) {
            m_waitingAck = true;
            m_ackTimer.start();
        }
    }
    m_writing = false;
}

void HidLink::poll()
{
    for (int i = 0; i < kMaxReportsPerPoll && m_found; ++i) {
        QByteArray report;
        const int got = m_api.read(m_read, &report, qMax(m_inputBytes, kHidReportBytes), 0);
        if (got == 0)
            return;
        if (got < 0) {
            deviceLost(m_api.lastError());
            return;
        }
        if (report.size() < 2)
            continue;   // no answer byte in it
        const quint8 code = quint8(report.at(1));
        if (code == Answer::ReportAccepted && m_waitingAck) {
            m_waitingAck = false;
            m_ackTimer.stop();
            writeReports();
        }
        emit answerReceived(code);
    }
}

void HidLink::endFrame(const QString &reason)
{
    m_current.clear();
    m_waitingAck = false;
    m_ackTimer.stop();
    emit logEntry(reason + kCrLf);
}

void HidLink::deviceLost(const QString &reason)
{
    if (!m_found)
        return;
    m_found = false;   // the next frame searches again
    closeHandles();
    QString entry = QStringLiteral("USB设备连接中断（%1）").arg(reason);
    if (m_waitingAck || !m_current.isEmpty())
        entry += reportsNotSent(int(m_current.size()));
    endFrame(entry);
    writeReports();
}

void HidLink::ackTimedOut()
{
    if (!m_waitingAck)
        return;
    endFrame(QStringLiteral("USB等待应答 0x5E 超时") + reportsNotSent(int(m_current.size())));
    writeReports();
}

void HidLink::closeHandles()
{
    if (m_read)
        m_api.close(m_read);
    if (m_write)
        m_api.close(m_write);
    m_read = m_write = nullptr;
    m_path.clear();
}
