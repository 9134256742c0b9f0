#include "mscomm.h"

#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <unistd.h>
#endif

MSComm::MSComm(const PortResolver *resolver, QObject *parent)
    : QObject(parent)
    , m_resolver(resolver)
    , m_decoder("windows-936")
{
    connect(&m_port, &QSerialPort::readyRead, this, &MSComm::onReadyRead);
    connect(&m_port, &QSerialPort::errorOccurred, this, &MSComm::onError);
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

static MSComm::OpenError classify(const QString &path, QSerialPort::SerialPortError error)
{
    if (path.isEmpty() || !QFileInfo::exists(path))
        return MSComm::OpenError::NoSuchDevice;
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return MSComm::OpenError::NoSuchDevice;
    case QSerialPort::PermissionError: {
#ifdef Q_OS_UNIX
        // Qt reports both a busy port and a refused one as a permission error.
        const QByteArray native = QFile::encodeName(path);
        if (::access(native.constData(), R_OK | W_OK) != 0 && errno == EACCES)
            return MSComm::OpenError::NoPermission;
#endif
        return MSComm::OpenError::InUse;
    }
    default:
        return MSComm::OpenError::Other;
    }
}

bool MSComm::setPortOpen(bool open)
{
    if (!open) {
        if (m_port.isOpen())
            m_port.close();
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
    m_port.setBaudRate(m_baudRate);
    m_port.setParity(m_parity);
    m_port.setDataBits(m_dataBits);
    m_port.setStopBits(m_stopBits);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    if (!m_port.open(QIODevice::ReadWrite)) {
        m_openError = classify(path, m_port.error());
        m_errorString = path + QStringLiteral("：") + openErrorText(m_openError)
            + QStringLiteral(" (") + m_port.errorString() + u')';
        m_port.clearError();
        return false;
    }
    m_decoder.resetState();
    return true;
}

void MSComm::Output(const QByteArray &bytes)
{
    if (m_port.isOpen())
        m_port.write(bytes);   // queued; QSerialPort writes it from the event loop
}

QString MSComm::Input()
{
    if (!m_port.isOpen())
        return {};
    return m_decoder.decode(m_port.readAll());
}

qint64 MSComm::bytesWaiting() const
{
    return m_port.isOpen() ? m_port.bytesAvailable() : 0;
}

void MSComm::onReadyRead()
{
    m_commEvent = kEventReceive;
    emit OnComm();
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
    case QSerialPort::DeviceNotFoundError: {
        const QString reason =
            m_port.portName() + QStringLiteral("：串口设备已断开 (") + m_port.errorString() + u')';
        m_port.clearError();
        m_port.close();
        m_commEvent = kEventDeviceLost;
        emit OnComm();
        emit failed(reason);
        return;
    }
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
