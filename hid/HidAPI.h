#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

// The HID calls the USB link makes. The program uses hidapi (hidraw backend); the tests and the
// virtual board put their own implementation in its place, so the link code above this seam is
// the same everywhere.

// One present HID interface, in enumeration order.
struct HidDeviceInfo
{
    QByteArray path;
    quint16 vendorId = 0;
    quint16 productId = 0;
    QString manufacturer;
    QString product;
};

// An open device; owned by the HidApi that opened it until close(). The type is never defined:
// each implementation casts its own handle to and from it, so several implementations can be
// linked into one program.
struct HidDevice;

class HidApi
{
public:
    virtual ~HidApi() = default;
    // Every present HID interface, in enumeration order.
    virtual QList<HidDeviceInfo> enumerate() = 0;
    // Opens a device by path; nullptr when it cannot be opened (see lastError()).
    virtual HidDevice *open(const QByteArray &path) = 0;
    virtual void close(HidDevice *device) = 0;
    // Vendor and product ids read from the open device; false when they cannot be read.
    virtual bool attributes(HidDevice *device, quint16 *vendorId, quint16 *productId) = 0;
    // Input and output report lengths including the report id byte; false when unknown.
    virtual bool reportLengths(HidDevice *device, int *inputBytes, int *outputBytes) = 0;
    // Writes one output report (byte 0 is the report id); bytes written or -1.
    virtual int write(HidDevice *device, const QByteArray &report) = 0;
    // Reads one input report into buffer, waiting at most timeoutMs (0: never waits); byte 0 is
    // the report id (0 for a device without numbered reports), the payload follows.
    // Bytes read, 0 when none is waiting, -1 on failure (device gone).
    virtual int read(HidDevice *device, QByteArray *buffer, int maxBytes, int timeoutMs) = 0;
    // Why the last call failed, in words for the work log ("Permission denied", ...).
    virtual QString lastError() const = 0;
    // True when the last open() failed because the user may not open the device (EACCES).
    virtual bool lastOpenDenied() const { return false; }
};

// hidapi on this system.
HidApi &systemHidApi();
