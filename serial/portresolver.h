#pragma once

#include <QList>
#include <QMap>
#include <QString>

#include <optional>

// A serial device present on this machine.
struct SerialDevice
{
    QString path;   // /dev/ttyUSB0
    QString name;   // ttyUSB0
    QString description;   // what the system calls it, may be empty
    QString vidPid;   // "0403:6001" for USB adapters, else empty
    bool usb = false;
    QString serialNumber;   // the adapter's own serial number, when it has one

    // The same adapter: by its serial number where it has one, else by path and ids.
    bool sameAdapter(const SerialDevice &other) const
    {
        if (!serialNumber.isEmpty() || !other.serialNumber.isEmpty())
            return serialNumber == other.serialNumber && vidPid == other.vidPid;
        return path == other.path && vidPid == other.vidPid;
    }
};

// Maps the port numbers COM1 ... COM20 to devices. On Windows COMn is the system's COMn. Elsewhere
// an explicit mapping wins; otherwise COMn is the n-th present serial device, USB adapters
// (ttyUSB*, ttyACM*) first, then the others, each group in name order.
class PortResolver
{
public:
    // A mapping given on the command line (--com COMn=PATH); origin names where it came from in
    // the operator's description of the port.
    void setOverride(
        int number, const QString &path, const QString &origin = QStringLiteral("--com"));
    QMap<int, QString> overrides() const { return m_overrides; }

    // The present serial devices, in the order that numbers them. Each call lists the system's
    // devices afresh; listings() counts the calls.
    QList<SerialDevice> presentDevices() const;
    int listings() const { return m_listings; }
    // The device COMn stands for in a list taken from presentDevices(); none when there is none
    // or COMn is mapped by --com.
    std::optional<SerialDevice> deviceFor(int number, const QList<SerialDevice> &devices) const;

    // The device path COMn stands for; empty when there is none.
    QString pathFor(int number) const;
    // The same, for a device list already taken from presentDevices().
    QString pathFor(int number, const QList<SerialDevice> &devices) const;

    // One line for the operator: "COM1 → /dev/ttyUSB0 (FT232R USB UART, 0403:6001)".
    QString describe(int number) const;
    // noDevice names a COMn that stands for no present device.
    QString describe(int number, const QList<SerialDevice> &devices,
        const QString &noDevice = QStringLiteral("无此设备")) const;

    // For tests: replaces the system's device list.
    void setPresentDevicesForTest(const QList<SerialDevice> &devices);

    static bool isUsbName(const QString &name);

private:
    QMap<int, QString> m_overrides;
    QMap<int, QString> m_origins;
    QList<SerialDevice> m_testDevices;
    bool m_useTestDevices = false;
    mutable int m_listings = 0;
};

// Parses "COMn=PATH" as given to --com; false when it is not of that form or n is not 1-20.
bool parseComMapping(const QString &text, int *number, QString *path);
