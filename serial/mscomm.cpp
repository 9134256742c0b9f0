#include "mscomm.h"

#include "deviceaccess.h"
#include "frame.h"
#include "logshape.h"

#include <QFileInfo>

#include <cmath>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <sys/stat.h>
#endif

namespace {

// Bytes a serial adapter's own buffer holds; a stalled port is judged by how long this much would
// take to drain at the line speed.
constexpr qint64 kDeviceBufferBytes = 4096;
constexpr int kDrainMarginMs = 1000;
// A lost device is looked for when its folder changes (after this much quiet) and, besides, on a
// timer that starts at the first and backs off to the last; an open that fails waits as long.
constexpr int kArrivalSettleMs = 300;
constexpr int kFirstRetryMs = 1000;
constexpr int kLastRetryMs = 30000;

// The device node a path leads to, as the system made it: a node made anew (the adapter plugged
// in again) differs from the one before, even at the same path.
QByteArray nodeStamp(const QString &path)
{
#ifdef Q_OS_UNIX
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return QByteArray::number(qulonglong(st.st_rdev)) + ':'
        + QByteArray::number(qulonglong(st.st_ino)) + ':'
        + QByteArray::number(qlonglong(st.st_ctim.tv_sec)) + '.'
        + QByteArray::number(qlonglong(st.st_ctim.tv_nsec));
#else
    return path.toUtf8();
#endif
}

}   // namespace

MSComm::MSComm(const PortResolver *resolver, QObject *parent)
    : Link(parent)
    , m_resolver(resolver)
{
    m_drainTimer.setSingleShot(true);
    connect(&m_port, &QSerialPort::readyRead, this, &MSComm::onReadyRead);
    connect(&m_port, &QSerialPort::bytesWritten, this, &MSComm::onBytesWritten);
    connect(&m_port, &QSerialPort::errorOccurred, this, &MSComm::onError);
    connect(&m_drainTimer, &QTimer::timeout, this, [this] {
        fault({LinkFault::Kind::SerialStalled, m_port.portName(), {}, m_port.bytesToWrite()},
            Lost::StillThere);
    });
    m_arrival.setSingleShot(true);
    m_arrival.setInterval(kArrivalSettleMs);
    m_retry.setSingleShot(true);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] {
        noteAbsence();
        m_arrival.start();
    });
    connect(&m_arrival, &QTimer::timeout, this, &MSComm::tryReopen);
    connect(&m_retry, &QTimer::timeout, this, &MSComm::tryReopen);
}

MSComm::~MSComm()
{
    if (m_port.isOpen())
        m_port.close();
}

void MSComm::setCommPort(int number)
{
    stopWatching();
    m_commPort = number;
    m_commPath.clear();
    m_adapter.reset();
    m_adapterKnown = false;
    m_noDevice = false;
}

void MSComm::setCommPort(int number, const QString &path, std::optional<SerialDevice> adapter)
{
    stopWatching();
    m_commPort = number;
    m_commPath = path.isEmpty() ? QString() : path;
    m_adapter = std::move(adapter);
    m_adapterKnown = true;
    m_noDevice = path.isEmpty();
}

void MSComm::setCommPath(const QString &path)
{
    setCommPath(path, std::nullopt);
    m_adapterKnown = false;
}

void MSComm::setCommPath(const QString &path, std::optional<SerialDevice> adapter)
{
    stopWatching();
    m_commPath = path;
    m_adapter = std::move(adapter);
    m_adapterKnown = true;
    m_noDevice = false;
}

QString MSComm::devicePath() const
{
    if (!m_commPath.isEmpty() || m_noDevice)
        return m_commPath;
    return m_resolver ? m_resolver->pathFor(m_commPort) : QString();
}

bool MSComm::setSettings(const QString &settings)
{
    const QStringList parts = settings.split(u',');
    if (parts.size() != 4)
        return false;
    bool ok = false;
    const int baud = parts.at(0).trimmed().toInt(&ok);
    if (!ok || baud <= 0)
        return false;
    const QString parity = parts.at(1).trimmed().toUpper();
    QSerialPort::Parity p;
    if (parity == u"N")
        p = QSerialPort::NoParity;
    else if (parity == u"E")
        p = QSerialPort::EvenParity;
    else if (parity == u"O")
        p = QSerialPort::OddParity;
    else
        return false;
    const int bits = parts.at(2).trimmed().toInt(&ok);
    if (!ok || bits < 5 || bits > 8)
        return false;
    const QString stop = parts.at(3).trimmed();
    QSerialPort::StopBits s;
    if (stop == u"1")
        s = QSerialPort::OneStop;
    else if (stop == u"2")
        s = QSerialPort::TwoStop;
    else if (stop == u"1.5")
        s = QSerialPort::OneAndHalfStop;
    else
        return false;
    m_settings = settings;
    m_baudRate = baud;
    m_parity = p;
    m_dataBits = QSerialPort::DataBits(bits);
    m_stopBits = s;
    if (m_port.isOpen())
        applySettings();
    return true;
}

bool MSComm::applySettings()
{
    // A pseudo-terminal takes the speed without complaint and has no modem lines; neither is a
    // reason to give up the port.
    bool ok = m_port.setBaudRate(m_baudRate);
    ok = m_port.setParity(m_parity) && ok;
    ok = m_port.setDataBits(m_dataBits) && ok;
    ok = m_port.setStopBits(m_stopBits) && ok;
    ok = m_port.setFlowControl(QSerialPort::NoFlowControl) && ok;
    return ok;
}

MSComm::OpenError classifyOpenError(
    bool deviceExists, QSerialPort::SerialPortError error, int accessErrno)
{
    if (!deviceExists)
        return MSComm::OpenError::NoSuchDevice;
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return MSComm::OpenError::NoSuchDevice;
    case QSerialPort::PermissionError:
        return accessErrno == EACCES ? MSComm::OpenError::NoPermission : MSComm::OpenError::InUse;
    default:
        return MSComm::OpenError::Other;
    }
}

bool MSComm::open(const QString &path, qint32 baud)
{
    setCommPath(path);
    if (!setSettings(QStringLiteral("%1,N,8,1").arg(baud))) {
        m_openError = OpenError::Other;
        m_errorString = QStringLiteral("%1: no line speed %2").arg(path).arg(baud);
        return false;
    }
    return setPortOpen(true);
}

bool MSComm::setPortOpen(bool open)
{
    stopWatching();
    if (!open) {
        if (m_port.isOpen()) {
            const Dropped dropped = forgetQueued();
            m_port.close();
            emit openChanged(false);
            reportDropped(dropped);
        }
        return true;
    }
    if (m_port.isOpen())
        return true;
    const QString path = devicePath();
    m_openError = OpenError::None;
    m_errorString.clear();
    if (path.isEmpty()) {
        m_openError = OpenError::NoSuchDevice;
        m_errorString = QStringLiteral("COM%1 没有对应的设备").arg(m_commPort);
        return false;
    }
    m_port.setPortName(path);
    applySettings();
    if (!m_port.open(QIODevice::ReadWrite)) {
        m_openError =
            classifyOpenError(QFileInfo::exists(path), m_port.error(), deviceAccessError(path));
        m_errorString = path + QStringLiteral("：") + openErrorText(m_openError)
            + QStringLiteral(" (") + m_port.errorString() + u')';
        m_port.clearError();
        return false;
    }
    forgetQueued();
    m_openPath = path;
    if (!m_adapterKnown) {
        m_adapter =
            m_resolver ? PortResolver::deviceAt(path, m_resolver->presentDevices()) : std::nullopt;
        m_adapterKnown = true;
    }
    emit openChanged(true);
    return true;
}

int MSComm::maxTextBytes() const
{
    return kSerialMaxTextBytes;
}

int MSComm::bitsPerCharacter() const
{
    const int stop = m_stopBits == QSerialPort::OneStop ? 1 : 2;
    return 1 + int(m_dataBits) + (m_parity == QSerialPort::NoParity ? 0 : 1) + stop;
}

qint64 MSComm::wireTime(qint64 bytes) const
{
    return qint64(std::ceil(double(bytes) * bitsPerCharacter() * 1e6 / qMax(1, m_baudRate)));
}

void MSComm::send(const QByteArray &frame)
{
    if (frame.isEmpty())
        return;
    if (!m_port.isOpen()) {
        reportDropped({{frame}, frame.size()});   // port closed: logged, and said not sent
        return;
    }
    m_waiting.push_back(frame);
    handOver();
}

// A frame goes to the port once the one before has left Qt's buffer for the device's, which keeps
// the line busy meanwhile; frames still waiting here can be dropped whole.
void MSComm::handOver()
{
    while (!m_waiting.empty() && m_port.isOpen() && m_port.bytesToWrite() == 0) {
        const QByteArray frame = m_waiting.front();
        m_waiting.pop_front();
        const LinkTime now = linkNow();
        m_wireFree = qMax(m_wireFree, now) + wireTime(frame.size());
        m_queued.push_back({m_queuedBytes + frame.size(), frame, m_wireFree});
        for (const QByteArray &piece : serialPieces(frame))
            Output(piece);
    }
}

void MSComm::Output(const QByteArray &bytes)
{
    if (!m_port.isOpen() || bytes.isEmpty())
        return;
    const qint64 written = m_port.write(bytes);
    if (written != bytes.size()) {
        fault({LinkFault::Kind::SerialWriteFailed, m_port.portName(), m_port.errorString()},
            Lost::StillThere);
        return;
    }
    m_queuedBytes += written;
    if (!m_drainTimer.isActive())
        armDrainTimer();
}

void MSComm::armDrainTimer()
{
    // Each step the device takes restarts the bound; it only runs out when nothing moves.
    const qint64 pending = qMin(m_port.bytesToWrite(), kDeviceBufferBytes);
    m_drainTimer.start(int(2 * wireTime(pending) / 1000) + kDrainMarginMs);
}

void MSComm::onBytesWritten(qint64 bytes)
{
    m_writtenBytes += bytes;
    const LinkTime now = linkNow();
    while (!m_queued.empty() && m_queued.front().end <= m_writtenBytes) {
        const QueuedFrame frame = m_queued.front();
        m_queued.pop_front();
        emit frameWritten({frame.frame.size(), now, qMax(now, frame.due)});
    }
    if (m_port.bytesToWrite() == 0)
        m_drainTimer.stop();
    else
        armDrainTimer();
    handOver();
}

void MSComm::reset()
{
    Dropped dropped;
    for (const QByteArray &frame : m_waiting) {
        dropped.frames << frame;
        dropped.bytes += frame.size();
    }
    m_waiting.clear();
    reportDropped(dropped);
}

MSComm::Dropped MSComm::forgetQueued()
{
    Dropped dropped;
    // A frame handed to the port may have reached the device in part; its rest is not sent.
    // What left Qt's buffer reached the device, whether or not bytesWritten has said so yet
    // (it says so only once the device can take more).
    const qint64 reached = m_queuedBytes - (m_port.isOpen() ? m_port.bytesToWrite() : 0);
    for (const QueuedFrame &queued : m_queued) {
        const qint64 start = queued.end - queued.frame.size();
        dropped.frames << queued.frame;
        dropped.bytes += queued.end - qBound(start, reached, queued.end);
    }
    for (const QByteArray &frame : m_waiting) {
        dropped.frames << frame;
        dropped.bytes += frame.size();
    }
    m_waiting.clear();
    m_drainTimer.stop();
    m_queued.clear();
    m_queuedBytes = m_writtenBytes = 0;
    m_wireFree = 0;
    return dropped;
}

void MSComm::reportDropped(const Dropped &dropped)
{
    if (!dropped.frames.isEmpty())
        emit framesDropped(dropped.frames, dropped.bytes);
}

void MSComm::onReadyRead()
{
    const QByteArray bytes = m_port.readAll();
    if (bytes.isEmpty())
        return;
    emit received(bytes, linkNow());
}

// A stalled or failed write is a lost device as much as a hang-up is: the port closes, the
// frames not yet with the device are reported dropped, and the device is watched for.
void MSComm::fault(const LinkFault &what, Lost lost)
{
    if (!m_port.isOpen())
        return;   // reported already: the port closed with the first fault
    m_errorString = linkFaultLine(what);
    m_port.clearError();
    const Dropped dropped = forgetQueued();
    m_port.close();
    watchForReturn(lost);
    emit openChanged(false);
    emit failed(what);
    reportDropped(dropped);
}

// The device went away: it is opened again by itself only when it comes back provably the same
// adapter (returningDevicePath()). A device without an identity is not watched for at all: a
// pseudo-terminal's number, or a bare path, may go to another program's terminal next, and
// opening that would change its settings and write into it.
void MSComm::watchForReturn(Lost lost)
{
    m_lostPath = m_openPath;
    m_lostAdapter = m_adapter;
    if (!isByIdName(m_lostPath)
        && !(m_lostAdapter
            && (!m_lostAdapter->serialNumber.isEmpty() || !m_lostAdapter->vidPid.isEmpty())))
        return;   // the operator picks the port again
    m_watching = true;
    m_seenGone = lost == Lost::Gone;
    m_faultNode = m_seenGone ? QByteArray() : nodeStamp(m_openPath);
    m_retryMs = kFirstRetryMs;
    m_nextAttempt = 0;
    QStringList folders {QFileInfo(m_lostPath).absolutePath()};
    if (m_lostPath.startsWith(QLatin1String("/dev/")))
        folders << QStringLiteral("/dev");
    for (const QString &folder : folders) {
        if (QFileInfo(folder).isDir())
            m_watcher.addPath(folder);
    }
    m_retry.start(m_retryMs);
}

void MSComm::stopWatching()
{
    m_watching = false;
    m_arrival.stop();
    m_retry.stop();
    if (!m_watcher.directories().isEmpty())
        m_watcher.removePaths(m_watcher.directories());
}

QString MSComm::returningPath() const
{
    const QString path = returningDevicePath(m_lostPath, m_lostAdapter,
        m_lostAdapter && m_resolver ? m_resolver->presentDevices() : QList<SerialDevice>(),
        QFileInfo::exists(m_lostPath));
    return QFileInfo::exists(path) ? path : QString();
}

void MSComm::noteAbsence()
{
    if (m_watching && !m_seenGone && returningPath().isEmpty())
        m_seenGone = true;
}

void MSComm::tryReopen()
{
    if (!m_watching || m_port.isOpen())
        return;
    const LinkTime now = linkNow();
    if (now < m_nextAttempt) {
        m_retry.start(int((m_nextAttempt - now) / 1000) + 1);
        return;
    }
    const QString path = returningPath();
    const auto later = [this, now] {
        m_nextAttempt = now + qint64(m_retryMs) * 1000;
        m_retry.start(m_retryMs);
        m_retryMs = qMin(m_retryMs * 2, kLastRetryMs);
    };
    if (path.isEmpty())
        m_seenGone = true;
    if (path.isEmpty() || (!m_seenGone && nodeStamp(path) == m_faultNode)) {
        later();   // not back yet, or after a write fault still the node that failed
        return;
    }
    m_port.setPortName(path);
    applySettings();
    if (!m_port.open(QIODevice::ReadWrite)) {
        m_port.clearError();
        later();   // there but busy or refused: no tight loop
        return;
    }
    stopWatching();
    forgetQueued();
    m_errorString.clear();
    m_openPath = path;
    m_commPath = path;
    m_adapter = m_lostAdapter;
    m_adapterKnown = true;
    emit openChanged(true);
    emit notice({LinkFault::Kind::SerialReopened, path});
    emit reconnected();
}

void MSComm::onError(QSerialPort::SerialPortError error)
{
    if (!m_port.isOpen())
        return;   // a failed open: setPortOpen() reports it
    switch (error) {
    case QSerialPort::NoError:
    case QSerialPort::UnsupportedOperationError:   // a pty has no modem lines
    case QSerialPort::TimeoutError:
        return;
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:   // a read on a readable port found nothing: the line hung up
    case QSerialPort::DeviceNotFoundError:
        fault({LinkFault::Kind::SerialGone, m_port.portName(), m_port.errorString()}, Lost::Gone);
        return;
    case QSerialPort::WriteError:
        fault({LinkFault::Kind::SerialWriteFailed, m_port.portName(), m_port.errorString()},
            Lost::StillThere);
        return;
    default:
        // A parity or framing fault on one character is no reason to close the port.
        m_port.clearError();
        return;
    }
}

QString openErrorText(MSComm::OpenError error)
{
    switch (error) {
    case MSComm::OpenError::NoSuchDevice:
        return QStringLiteral("没有这个串口设备");
    case MSComm::OpenError::InUse:
        return QStringLiteral("串口已被其它程序占用");
    case MSComm::OpenError::NoPermission:
        return QStringLiteral("没有权限打开串口（请把用户加入 dialout 组后重新登录）");
    case MSComm::OpenError::Other:
        return QStringLiteral("串口无法打开");
    case MSComm::OpenError::None:
        break;
    }
    return {};
}
