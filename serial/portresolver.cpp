#include "portresolver.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPortInfo>

#include <algorithm>

bool PortResolver::isUsbName(const QString &name)
{
    return name.startsWith(QLatin1String("ttyUSB")) || name.startsWith(QLatin1String("ttyACM"));
}

void PortResolver::setOverride(int number, const QString &path, const QString &origin)
{
    m_overrides.insert(number, path);
    m_origins.insert(number, origin);
}

void PortResolver::setPresentDevicesForTest(const QList<SerialDevice> &devices)
{
    setPresentDeviceSourceForTest([devices] { return devices; });
}

void PortResolver::setPresentDeviceSourceForTest(std::function<QList<SerialDevice>()> source)
{
    m_testDevices = std::move(source);
    m_useTestDevices = true;
}

QList<SerialDevice> PortResolver::presentDevices() const
{
    ++m_listings;
    QList<SerialDevice> devices;
    if (m_useTestDevices) {
        devices = m_testDevices();
    } else {
        for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
            SerialDevice device;
            device.path = info.systemLocation();
            device.name = info.portName();
            device.description = info.description();
            if (info.hasVendorIdentifier() && info.hasProductIdentifier())
                device.vidPid = QStringLiteral("%1:%2")
                                    .arg(info.vendorIdentifier(), 4, 16, QLatin1Char('0'))
                                    .arg(info.productIdentifier(), 4, 16, QLatin1Char('0'));
            device.usb = isUsbName(device.name) || !device.vidPid.isEmpty();
            device.serialNumber = info.serialNumber();
            devices << device;
        }
    }
#ifndef Q_OS_WIN
    std::stable_sort(
        devices.begin(), devices.end(), [](const SerialDevice &a, const SerialDevice &b) {
            if (a.usb != b.usb)
                return a.usb;
            // ttyS10 after ttyS9: shorter names first within the same stem
            if (a.name.size() != b.name.size() && a.name.left(4) == b.name.left(4))
                return a.name.size() < b.name.size();
            return a.name < b.name;
        });
#endif
    return devices;
}

QString PortResolver::pathFor(int number) const
{
    if (m_overrides.contains(number))
        return m_overrides.value(number);
    return pathFor(number, presentDevices());
}

QString PortResolver::pathFor(int number, const QList<SerialDevice> &devices) const
{
    if (m_overrides.contains(number))
        return m_overrides.value(number);
#ifdef Q_OS_WIN
    Q_UNUSED(devices);
    return QStringLiteral("COM%1").arg(number);
#else
    if (number >= 1 && number <= devices.size())
        return devices.at(number - 1).path;
    return {};
#endif
}

std::optional<SerialDevice> PortResolver::deviceFor(
    int number, const QList<SerialDevice> &devices) const
{
    return deviceAt(pathFor(number, devices), devices);
}

std::optional<SerialDevice> PortResolver::deviceAt(
    const QString &path, const QList<SerialDevice> &devices)
{
    if (path.isEmpty())
        return std::nullopt;
    for (const SerialDevice &device : devices) {
        if (device.path == path)
            return device;
    }
    const QString node = QFileInfo(path).canonicalFilePath();
    for (const SerialDevice &device : devices) {
        if (!node.isEmpty() && device.path == node)
            return device;
    }
    return std::nullopt;
}

bool isByIdName(const QString &path)
{
    static const QString folder = QStringLiteral("/dev/serial/by-id/");
    if (!path.startsWith(folder))
        return false;
    const QString name = path.mid(folder.size());
    return !name.isEmpty() && !name.contains(u'/') && name != u"." && name != u"..";
}

QString returningDevicePath(const QString &lostPath, const std::optional<SerialDevice> &adapter,
    const QList<SerialDevice> &present, bool lostPathExists)
{
    if (adapter && !adapter->serialNumber.isEmpty()) {
        for (const SerialDevice &device : present) {
            if (device.serialNumber == adapter->serialNumber && device.vidPid == adapter->vidPid)
                return device.path;
        }
        return {};
    }
    if (isByIdName(lostPath))
        return lostPathExists ? lostPath : QString();
    if (adapter && !adapter->vidPid.isEmpty()) {
        for (const SerialDevice &device : present) {
            if (device.path == adapter->path && device.vidPid == adapter->vidPid
                && device.serialNumber.isEmpty() && device.description == adapter->description)
                return device.path;
        }
    }
    return {};
}

QString PortResolver::describe(int number) const
{
    return describe(number, presentDevices());
}

QString PortResolver::describe(
    int number, const QList<SerialDevice> &devices, const QString &noDevice) const
{
    const QString head = QStringLiteral("COM%1").arg(number);
    if (m_overrides.contains(number))
        return head + QStringLiteral(" → ") + m_overrides.value(number) + QStringLiteral(" (")
            + m_origins.value(number) + u')';
    const QString path = pathFor(number, devices);
    if (path.isEmpty())
        return head + QStringLiteral(" → ") + noDevice;
    for (const SerialDevice &device : devices) {
        if (device.path != path)
            continue;
        QStringList details;
        if (!device.description.isEmpty())
            details << device.description;
        if (!device.vidPid.isEmpty())
            details << device.vidPid;
        return head + QStringLiteral(" → ") + path
            + (details.isEmpty()
                    ? QString()
                    : QStringLiteral(" (") + details.join(QStringLiteral(", ")) + u')');
    }
    return head + QStringLiteral(" → ") + path;
}

std::optional<int> comNumber(const QString &name)
{
    static const QRegularExpression shape(
        QStringLiteral("^COM(\\d{1,2})$"), QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = shape.match(name);
    const int n = match.hasMatch() ? match.captured(1).toInt() : 0;
    if (n < 1 || n > kComPorts)
        return std::nullopt;
    return n;
}

bool parseComMapping(const QString &text, int *number, QString *path)
{
    static const QRegularExpression shape(
        QStringLiteral("^COM(\\d{1,2})=(.+)$"), QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = shape.match(text);
    if (!match.hasMatch())
        return false;
    const int n = match.captured(1).toInt();
    if (n < 1 || n > kComPorts)
        return false;
    *number = n;
    *path = match.captured(2);
    return true;
}
