#pragma once

#include <QList>
#include <QMap>
#include <QString>

#include <functional>
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
};

// A name under /dev/serial/by-id: udev names an adapter there by its vendor, model and serial
// number, and only root can make one.
bool isByIdName(const QString &path);

// Where a device that went away is now, when it is provably the same adapter: found by its
// serial number (with the same ids) at any node; its /dev/serial/by-id name there again; or,
// for a USB adapter without a serial number, the same node again with the same ids and
// description. Empty otherwise: a device with no identity of its own (a pseudo-terminal, a
// built-in port, a bare path) is never taken for the one that went, whatever now has its path.
// lostPath is the path the port was opened by, adapter what was listed for it then, present
// the devices listed now, lostPathExists whether lostPath is there now.
QString returningDevicePath(const QString &lostPath, const std::optional<SerialDevice> &adapter,
    const QList<SerialDevice> &present, bool lostPathExists);

// Maps the port numbers COM1 ... COM20 (kComPorts) to devices. On Windows COMn is the system's
// COMn. Elsewhere an explicit mapping wins; otherwise COMn is the n-th present serial device, USB
// adapters (ttyUSB*, ttyACM*) first, then the others, each group in name order.
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
    // The device COMn stands for in a list taken from presentDevices() (a --com mapping too, when
    // its path leads to a listed device); none when it is not listed.
    std::optional<SerialDevice> deviceFor(int number, const QList<SerialDevice> &devices) const;
    // The listed device a path leads to: the path itself, or where its links lead.
    static std::optional<SerialDevice> deviceAt(
        const QString &path, const QList<SerialDevice> &devices);

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
    // For tests: the system's device list comes from source at each listing.
    void setPresentDeviceSourceForTest(std::function<QList<SerialDevice>()> source);

    static bool isUsbName(const QString &name);

private:
    QMap<int, QString> m_overrides;
    QMap<int, QString> m_origins;
    std::function<QList<SerialDevice>()> m_testDevices;
    bool m_useTestDevices = false;
    mutable int m_listings = 0;
};

// The port numbers COM1 ... COM20: the window's port list and what --com and --port take.
inline constexpr int kComPorts = 20;

// n of a port name "COMn" (any case) with n from 1 to kComPorts; none for anything else.
std::optional<int> comNumber(const QString &name);

// Parses "COMn=PATH" as given to --com; false when it is not of that form or n is not 1-20.
bool parseComMapping(const QString &text, int *number, QString *path);
