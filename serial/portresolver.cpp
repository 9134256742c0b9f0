#include "portresolver.h"

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
    m_testDevices = devices;
    m_useTestDevices = true;
}

QList<SerialDevice> PortResolver::presentDevices() const
{
    ++m_listings;
    QList<SerialDevice> devices;
    if (m_useTestDevices) {
        devices = m_testDevices;
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
    if (m_overrides.contains(number))
        return std::nullopt;
    const QString path = pathFor(number, devices);
    for (const SerialDevice &device : devices) {
        if (!path.isEmpty() && device.path == path)
            return device;
    }
    return std::nullopt;
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

bool parseComMapping(const QString &text, int *number, QString *path)
{
    static const QRegularExpression shape(
        QStringLiteral("^COM(\\d{1,2})=(.+)$"), QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = shape.match(text);
    if (!match.hasMatch())
        return false;
    const int n = match.captured(1).toInt();
    if (n < 1 || n > 20)
        return false;
    *number = n;
    *path = match.captured(2);
    return true;
}
