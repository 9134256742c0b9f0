#pragma once

#include "HidAPI.h"
#include "boardoptions.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QString>
#include <QWaitCondition>

class QThread;
class UsbBoard;

// The virtual board behind the HID seam: one device, vendor 0x0FFF product 0x0002, path
// "virtual:orv4120", 33-byte input and output reports. The board and its chip run on a thread
// of their own; write() hands the report over and returns at once, read() takes the oldest
// input report waiting on its handle, waiting for one as timeoutMs says. As on hidraw, every open
// handle gets its own copy of each input report that comes while it is open, so two readers
// never take reports from each other.
//
//     VirtualHidApi hid(options);        // the first open() powers the board up: 0x4A follows
//     HidLink link(hid, ...);            // used wherever systemHidApi() would be
//
// Every call may come from any thread, so a reader thread can block in read() while another
// thread writes, opens and closes; closing a handle wakes a read() blocked on it, which then
// returns -1. Close the handles and let their readers return before destroying the object; the
// destructor stops the board's thread.
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
    // timeoutMs: 0 never waits, -1 waits until a report comes or the handle is closed.
    int read(HidDevice *device, QByteArray *buffer, int maxBytes, int timeoutMs) override;
    QString lastError() const override;

private:
    bool isOurs(HidDevice *device);   // under m_lock

    // Every open() gives a handle of its own, as a real device does, so closing one leaves the
    // others usable. A handle is a serial number that is never reused, so a reader woken after
    // its handle was closed cannot mistake a newer handle for its own.
    quintptr m_lastHandle = 0;
    QThread *m_thread = nullptr;
    UsbBoard *m_board = nullptr;
    mutable QMutex m_lock;   // guards m_lastHandle and everything below
    QWaitCondition m_changed;   // a report came or a handle was closed
    // The input reports waiting on each open handle, filled on the board's thread.
    QHash<quintptr, QList<QByteArray>> m_inputReports;
    QString m_lastError;
};
