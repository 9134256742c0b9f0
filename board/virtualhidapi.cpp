#include "virtualhidapi.h"

#include "usbboard.h"

#include <QDeadlineTimer>
#include <QMetaObject>
#include <QMutexLocker>
#include <QThread>

namespace {

// Input reports kept for a host that does not read; older ones are dropped beyond this.
constexpr qsizetype kMaxWaitingReports = 4096;

}   // namespace

VirtualHidApi::VirtualHidApi(const BoardOptions &options)
{
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("virtual USB board"));
    m_thread->start();
    m_board = new UsbBoard(options);
    m_board->moveToThread(m_thread);
    QObject::connect(m_thread, &QThread::finished, m_board, &QObject::deleteLater);
    QObject::connect(
        m_board, &UsbBoard::inputReport, m_board,
        [this](const QByteArray &report) {
            QMutexLocker locker(&m_lock);
            for (QList<QByteArray> &waiting : m_inputReports) {
                if (waiting.size() >= kMaxWaitingReports)
                    waiting.removeFirst();
                waiting.append(report);
            }
            m_changed.wakeAll();
        },
        Qt::DirectConnection);
}

VirtualHidApi::~VirtualHidApi()
{
    m_thread->quit();
    m_thread->wait();
    delete m_thread;
}

QList<HidDeviceInfo> VirtualHidApi::enumerate()
{
    return {{kPath, kVendorId, kProductId, QStringLiteral("orv4120-demo"),
        QStringLiteral("ORV4120 virtual board")}};
}

HidDevice *VirtualHidApi::open(const QByteArray &path)
{
    QMutexLocker locker(&m_lock);
    if (path != kPath) {
        m_lastError = QStringLiteral("No such device");
        return nullptr;
    }
    if (m_lastHandle == 0)   // the board is plugged in when first opened: 0x4A comes to it
        QMetaObject::invokeMethod(m_board, &UsbBoard::powerUp, Qt::QueuedConnection);
    m_inputReports.insert(++m_lastHandle, {});
    return reinterpret_cast<HidDevice *>(m_lastHandle);
}

void VirtualHidApi::close(HidDevice *device)
{
    QMutexLocker locker(&m_lock);
    if (m_inputReports.remove(reinterpret_cast<quintptr>(device)))
        m_changed.wakeAll();   // a reader blocked on it returns
}

bool VirtualHidApi::isOurs(HidDevice *device)
{
    if (m_inputReports.contains(reinterpret_cast<quintptr>(device)))
        return true;
    m_lastError = QStringLiteral("Device not open");
    return false;
}

QString VirtualHidApi::lastError() const
{
    QMutexLocker locker(&m_lock);
    return m_lastError;
}

bool VirtualHidApi::attributes(HidDevice *device, quint16 *vendorId, quint16 *productId)
{
    QMutexLocker locker(&m_lock);
    if (!isOurs(device))
        return false;
    *vendorId = kVendorId;
    *productId = kProductId;
    return true;
}

bool VirtualHidApi::reportLengths(HidDevice *device, int *inputBytes, int *outputBytes)
{
    QMutexLocker locker(&m_lock);
    if (!isOurs(device))
        return false;
    *inputBytes = UsbBoard::kReportBytes;
    *outputBytes = UsbBoard::kReportBytes;
    return true;
}

int VirtualHidApi::write(HidDevice *device, const QByteArray &report)
{
    QMutexLocker locker(&m_lock);
    if (!isOurs(device))
        return -1;
    if (report.size() < 2 || report.size() > UsbBoard::kReportBytes || report.at(0) != 0) {
        m_lastError = QStringLiteral("Invalid report: %1 bytes, report id %2")
                          .arg(report.size())
                          .arg(report.isEmpty() ? -1 : quint8(report.at(0)));
        return -1;
    }
    // Posted under the lock, so reports written from several threads reach the board in the
    // order their writes returned.
    QMetaObject::invokeMethod(
        m_board, [board = m_board, report] { board->receiveReport(report); }, Qt::QueuedConnection);
    return int(report.size());
}

int VirtualHidApi::read(HidDevice *device, QByteArray *buffer, int maxBytes, int timeoutMs)
{
    QMutexLocker locker(&m_lock);
    if (!isOurs(device))
        return -1;
    const QDeadlineTimer deadline =
        timeoutMs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(timeoutMs);
    const quintptr handle = reinterpret_cast<quintptr>(device);
    while (m_inputReports.value(handle).isEmpty()) {
        if (deadline.hasExpired())
            return 0;
        m_changed.wait(&m_lock, deadline);
        if (!isOurs(device))
            return -1;   // closed while waiting
    }
    *buffer = m_inputReports[handle].takeFirst().left(qMax(maxBytes, 0));
    return int(buffer->size());
}
