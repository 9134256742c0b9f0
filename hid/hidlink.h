#pragma once

#include "HidAPI.h"
#include "hidreports.h"
#include "link.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>

class HidReader;
struct HidTransfer;

// The USB HID link to the chip board. A reader thread blocks in hidapi (with a time-out) for the
// board's input reports and hands each one to the link's thread in arrival order; it also carries
// the report queue, so the board's 0x5E releases the next report at once. At most one full
// report at a time waits for its 0x5E; frames sent meanwhile are queued and go out whole, in
// order. While nothing arrives the link costs nothing but the reader's time-out wake-ups.
class HidLink : public Link
{
    Q_OBJECT
public:
    // The board's USB ids.
    static constexpr quint16 kVendorId = 0x0FFF;
    static constexpr quint16 kProductId = 0x0002;
    // How long a full report waits for the board's 0x5E before the rest of its frame is dropped.
    static constexpr int kAckTimeoutMs = 1000;
    // Longest time the reader blocks in one read; it then looks whether it is to stop.
    static constexpr int kReadTimeoutMs = 200;

    explicit HidLink(HidApi &api, QObject *parent = nullptr);
    ~HidLink() override;

    // FindTheHid: opens the first present device with the board's ids (a write and a read
    // handle), closes the ones of an earlier search and starts reading. Emits boardMissing()
    // when none is found.
    bool find();
    // The board was found by the last search and has not failed since.
    bool hidFound() const { return m_found; }
    // The last search found the board.
    bool hidLinked() const { return m_linked; }
    // Report lengths in use, report id included: the device's own or 33 when it tells none.
    int inputReportBytes() const { return m_inputBytes; }
    int outputReportBytes() const { return m_outputBytes; }
    // Path of the device in use; empty while none is found.
    QByteArray devicePath() const { return m_path; }
    // A frame is in transfer or waiting in the queue.
    bool isSending() const;

    void setAckTimeout(int milliseconds);
    int ackTimeout() const { return m_ackTimeoutMs; }

    // Link
    bool isOpen() const override { return m_found; }
    QString errorString() const override { return m_error; }
    int maxTextBytes() const override;
    qint64 wireTime(qint64) const override { return 0; }
    // Searches for the board first while none is found; logs "操作失败请先联接" when it is absent.
    void send(const QByteArray &frame) override;
    void reset() override;

signals:
    // A search found no board: the window shows "USB连接失败".
    void boardMissing();

private:
    friend struct HidTransfer;
    void deviceLost(const QString &reason, QList<QByteArray> unsent);
    void stopReading();

    HidApi &m_api;
    std::shared_ptr<HidTransfer> m_transfer;   // shared with the reader thread
    QList<HidReader *> m_readers;   // the current one last; earlier ones are finishing
    QByteArray m_path;
    QString m_error;
    bool m_found = false;
    bool m_linked = false;
    int m_inputBytes = kHidReportBytes;
    int m_outputBytes = kHidReportBytes;
    int m_ackTimeoutMs = kAckTimeoutMs;
};
