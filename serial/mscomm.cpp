#include "mscomm.h"

#include "frame.h"

#include <QFileInfo>

#include <cmath>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <unistd.h>
#endif

namespace {

// Bytes a serial adapter's own buffer holds; a stalled port is judged by how long this much would
// take to drain at the line speed.
constexpr qint64 kDeviceBufferBytes = 4096;
constexpr int kDrainMarginMs = 1000;

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
        fault(m_port.portName()
            + QStringLiteral("：串口写出停滞，%1 字节未能发出，串口已关闭")
                  .arg(m_port.bytesToWrite()));
    });
}

MSComm::~MSComm()
{
    if (m_port.isOpen())
        m_port.close();
}

void MSComm::setCommPort(int number)
{
    m_commPort = number;
    m_commPath.clear();
}

void MSComm::setCommPath(const QString &path)
{
    m_commPath = path;
}

QString MSComm::devicePath() const
{
    if (!m_commPath.isEmpty())
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

bool MSComm::setPortOpen(bool open)
{
    if (!open) {
        if (m_port.isOpen()) {
            forgetQueued();
            m_port.close();
            emit openChanged(false);
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
        int accessErrno = 0;
#ifdef Q_OS_UNIX
        if (::access(QFile::encodeName(path).constData(), R_OK | W_OK) != 0)
            accessErrno = errno;
#endif
        m_openError = classifyOpenError(QFileInfo::exists(path), m_port.error(), accessErrno);
        m_errorString = path + QStringLiteral("：") + openErrorText(m_openError)
            + QStringLiteral(" (") + m_port.errorString() + u')';
        m_port.clearError();
        return false;
    }
    forgetQueued();
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
    if (!m_port.isOpen() || frame.isEmpty())
        return;   // port closed: logged, not sent
    const LinkTime now = linkNow();
    m_wireFree = qMax(m_wireFree, now) + wireTime(frame.size());
    m_queued.push_back({m_queuedBytes + frame.size(), frame.size(), m_wireFree});
    for (const QByteArray &piece : serialPieces(frame))
        Output(piece);
}

void MSComm::Output(const QByteArray &bytes)
{
    if (!m_port.isOpen() || bytes.isEmpty())
        return;
    const qint64 written = m_port.write(bytes);
    if (written != bytes.size()) {
        fault(m_port.portName() + QStringLiteral("：串口写入失败 (") + m_port.errorString()
            + QStringLiteral(")，串口已关闭"));
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
        emit frameWritten({frame.bytes, now, qMax(now, frame.due)});
    }
    if (m_port.bytesToWrite() == 0)
        m_drainTimer.stop();
    else
        armDrainTimer();
}

void MSComm::reset()
{
    if (m_port.isOpen())
        m_port.clear(QSerialPort::Output);
    forgetQueued();
}

void MSComm::forgetQueued()
{
    m_drainTimer.stop();
    m_queued.clear();
    m_queuedBytes = m_writtenBytes = 0;
    m_wireFree = 0;
}

void MSComm::onReadyRead()
{
    const QByteArray bytes = m_port.readAll();
    if (bytes.isEmpty())
        return;
    emit received(bytes, linkNow());
    m_commEvent = kEventReceive;
    emit OnComm();
}

void MSComm::fault(const QString &reason)
{
    if (!m_port.isOpen())
        return;   // reported already: the port closed with the first fault
    m_errorString = reason;
    m_port.clearError();
    forgetQueued();
    m_port.close();
    m_commEvent = kEventDeviceLost;
    emit OnComm();
    emit openChanged(false);
    emit failed(reason);
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
        fault(
            m_port.portName() + QStringLiteral("：串口设备已断开 (") + m_port.errorString() + u')');
        return;
    case QSerialPort::WriteError:
        fault(m_port.portName() + QStringLiteral("：串口写入失败 (") + m_port.errorString()
            + QStringLiteral(")，串口已关闭"));
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
