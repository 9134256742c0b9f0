#pragma once

#include "HidAPI.h"
#include "boardoptions.h"

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QSet>
#include <QString>

class QThread;
class UsbBoard;

// The virtual board behind the HID seam: one device, vendor 0x0FFF product 0x0002, path
// "virtual:orv4120", 33-byte input and output reports. The board and its chip run on a thread
// of their own; write() hands the report over and returns at once, read() takes the oldest
// waiting input report and never waits, whatever timeoutMs says.
//
//     VirtualHidApi hid(options);        // powers the board up: 0x4A is the first report
//     HidLink link(hid, ...);            // used wherever systemHidApi() would be
//
// Construct and use it from one thread (the window's); the destructor stops the board's thread.
class VirtualHidApi : public HidApi
{
public:
    static constexpr quint16 kVendorId = 0x0FFF;
    static constexpr quint16 kProductId = 0x0002;
    static inline const QByteArray kPath = QByteArrayLiteral("virtual:orv4120");

    explicit VirtualHidApi(const BoardOptions &options = {});
    ~VirtualHidApi() override;
    VirtualHidApi(const VirtualHidApi &) = delete;
    VirtualHidApi &operator=(const VirtualHidApi &) = delete;

    QList<HidDeviceInfo> enumerate() override;
    HidDevice *open(const QByteArray &path) override;
    void close(HidDevice *device) override;
    bool attributes(HidDevice *device, quint16 *vendorId, quint16 *productId) override;
    bool reportLengths(HidDevice *device, int *inputBytes, int *outputBytes) override;
    int write(HidDevice *device, const QByteArray &report) override;
    int read(HidDevice *device, QByteArray *buffer, int maxBytes, int timeoutMs) override;
    QString lastError() const override { return m_lastError; }

private:
    bool isOurs(HidDevice *device);

    // Every open() gives a handle of its own, as a real device does, so closing one leaves the
    // others usable.
    struct Handle
    {
    };
    QSet<Handle *> m_handles;
    QThread *m_thread = nullptr;
    UsbBoard *m_board = nullptr;
    QMutex m_lock;
    QList<QByteArray> m_inputReports;   // under m_lock; filled on the board's thread
    QString m_lastError;
};
