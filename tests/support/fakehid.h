#pragma once

#include "HidAPI.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QString>
#include <QWaitCondition>

// A HidApi with devices made up by the test. A device with the board's ids behaves as the board:
// it keeps every output report and, unless silent, acknowledges them with 0x5E as its Acks say.
// Safe to read on one thread while another writes; read() waits up to its time-out.
class FakeHidApi final : public HidApi
{
public:
    // Which reports the board acknowledges with 0x5E.
    enum class Acks {
        Full,   // each 0xFC report, nothing else
        All,   // every report, at once
        Ready,   // each 0xFC report at once; a closing or short one once the chip is ready
    };

    struct Device
    {
        QByteArray path;
        quint16 vendorId = 0;
        quint16 productId = 0;
        bool openDenied = false;   // open() fails with EACCES
        bool silent = false;   // never acknowledges
        Acks acks = Acks::All;
        // Plays the chip: a frame closed is answered 0xAA, and its speech ends at once (0x4F,
        // then the held 0x5E of a Ready board).
        bool speaks = false;
        int heldAcks = 0;   // Ready: closing and short reports not yet acknowledged
        // Ready: the chip gets ready just as the next report comes, so the held 0x5E goes out
        // right before that report's own.
        bool readyOnNextReport = false;
        bool holdFullAcks = false;   // 0xFC reports wait for releaseFullAck()
        int heldFullAcks = 0;
        int inputBytes = 0;   // declared report lengths; 0: unknown
        int outputBytes = 0;
        bool present = true;
        bool writesFail = false;
        QList<QByteArray> written;   // output reports in write order
        QList<QByteArray> pending;   // input reports waiting to be read
    };

    // Adds a device at the end of the enumeration order; returns its path. Set a device up
    // through device() before a link opens it; afterwards use the calls below.
    QByteArray addDevice(quint16 vendorId, quint16 productId, const QByteArray &path = {});
    QByteArray addBoard(const QByteArray &path = {}) { return addDevice(0x0FFF, 0x0002, path); }
    Device &device(const QByteArray &path) { return m_devices[m_index.value(path)]; }
    // Takes the device away: it leaves the enumeration and its handles fail.
    void unplug(const QByteArray &path);
    void setSilent(const QByteArray &path, bool silent);
    void setAcks(const QByteArray &path, Acks acks);
    // A Ready board's chip can take the next text: the held acknowledgements go out.
    void chipReady(const QByteArray &path);
    // With holdFullAcks: acknowledges the oldest 0xFC report not yet acknowledged.
    void releaseFullAck(const QByteArray &path);
    // From now on every write to the device fails, as on a board that hangs up mid-transfer.
    void failWrites(const QByteArray &path);
    // Queues an input report: report id 0, then the bytes given, padded to 33 bytes unless raw.
    void queueInput(const QByteArray &path, const QByteArray &payload, bool raw = false);
    void queueAnswer(const QByteArray &path, quint8 code)
    {
        queueInput(path, QByteArray(1, char(code)));
    }
    QList<QByteArray> written(const QByteArray &path);

    int opens(const QByteArray &path);
    int openHandles(const QByteArray &path);
    int openHandles();
    int enumerations();

    QList<HidDeviceInfo> enumerate() override;
    HidDevice *open(const QByteArray &path) override;
    void close(HidDevice *device) override;
    bool attributes(HidDevice *device, quint16 *vendorId, quint16 *productId) override;
    bool reportLengths(HidDevice *device, int *inputBytes, int *outputBytes) override;
    int write(HidDevice *device, const QByteArray &report) override;
    int read(HidDevice *device, QByteArray *buffer, int maxBytes, int timeoutMs) override;
    QString lastError() const override;
    bool lastOpenDenied() const override;

private:
    Device *deviceOf(HidDevice *handle);
    void queueLocked(Device &device, const QByteArray &payload, bool raw);

    mutable QMutex m_lock;
    QWaitCondition m_changed;
    QList<Device> m_devices;
    QHash<QByteArray, int> m_index;
    QHash<quintptr, QByteArray> m_handles;   // open handle -> device path
    QHash<QByteArray, int> m_opens;
    quintptr m_nextHandle = 1;
    int m_enumerations = 0;
    QString m_error;
    bool m_denied = false;
};
