#pragma once

#include "HidAPI.h"
#include "hidreports.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

// The USB HID link to the chip board. Lives on the window's thread and never blocks: reports go
// out from send() and from poll(), the board's answers are read by poll() with a zero time-out.
// At most one full report at a time waits for the board's 0x5E; frames sent meanwhile are queued
// and go out whole, in order.
class HidLink : public QObject
{
    Q_OBJECT
public:
    // The board's USB ids.
    static constexpr quint16 kVendorId = 0x0FFF;
    static constexpr quint16 kProductId = 0x0002;
    // How long a full report waits for the board's 0x5E before the rest of its frame is dropped.
    static constexpr int kAckTimeoutMs = 1000;
    // Input reports handled by one poll(); the rest wait for the next tick.
    static constexpr int kMaxReportsPerPoll = 64;

    explicit HidLink(HidApi &api, QObject *parent = nullptr);
    ~HidLink() override;

    // FindTheHid: opens the first present device with the board's ids (a write and a read
    // handle) and closes the ones of an earlier search. Emits boardMissing() when none is found.
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

    // Sends bytes 0 to frameLast of frame in reports; queued behind a frame still in transfer.
    // Searches for the board first while none is found.
    void send(const QByteArray &frame, int frameLast);
    // A frame is in transfer or waiting in the queue.
    bool isSending() const { return m_waitingAck || !m_current.isEmpty() || !m_frames.isEmpty(); }

    // Timer2's tick: handles every waiting input report. Does nothing while no board is found.
    void poll();

    void setAckTimeout(int milliseconds) { m_ackTimer.setInterval(milliseconds); }
    int ackTimeout() const { return m_ackTimer.interval(); }

signals:
    // The answer byte (index 1) of an input report, every one in arrival order, 0x5E included.
    void answerReceived(quint8 code);
    // A work-log entry (ends with CR LF) for the window to append.
    void logEntry(const QString &entry);
    // A search found no board: the window shows "USB连接失败".
    void boardMissing();

private:
    void writeReports();
    void endFrame(const QString &reason);
    void deviceLost(const QString &reason);
    void ackTimedOut();
    void closeHandles();

    HidApi &m_api;
    HidDevice *m_write = nullptr;
    HidDevice *m_read = nullptr;
    QByteArray m_path;
    bool m_found = false;
    bool m_linked = false;
    int m_inputBytes = kHidReportBytes;
    int m_outputBytes = kHidReportBytes;

    QList<QList<HidOutputReport>> m_frames;   // queued behind the frame in transfer
    QList<HidOutputReport> m_current;   // reports of the frame in transfer not yet written
    bool m_waitingAck = false;
    bool m_writing = false;
    QTimer m_ackTimer;
};
