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
// the report queue, so the board's 0x5E releases the next report at once. Frames sent meanwhile
// are queued and go out whole, in order. While nothing arrives the link costs nothing but the
// reader's time-out wake-ups.
//
// Acknowledgements. The board answers 0x5E for every full (0xFC) report it takes. Whether it also
// answers a closing or a short report, at once or only once the chip can take the next text,
// differs from board to board, so only a full report owes one: it is the only report that waits,
// and the report after it goes out when its 0x5E is read (or the wait times out). The link keeps
// the 0x5E it waited for to itself; every other 0x5E is the board's status and goes on through
// received() like any answer (the session reads it as "ready for the next text").
//
// A late 0x5E for a closing report (sent once the chip has ended speaking) can cross the next
// frame's first full report. The reader numbers each report as its read returns, and the writer
// notes that number just before it writes a full report: a 0x5E read before that write began is
// status, never its acknowledgement. A 0x5E read after the write began is taken as the
// acknowledgement; if it was the crossing late one, still no report goes out before the board
// took the one before it, because a board that sends late 0x5Es acknowledges each full report as
// soon as it takes it. Its own 0x5E is then taken for the next full report, and the one left
// after the frame's last full report reaches received() as status.
//
// A second search that finds the device in use keeps its handles and its reader, so no report
// falls between the reader of the old handle and that of the new one. A frame that cannot leave
// whole (0x5E time-out, reset(), a lost device with no board found again) is reported through
// framesDropped() after the link's own line for the work log.
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
    // handle), closes the ones of an earlier search and starts reading; a device already in use
    // keeps the handles it has. Emits boardMissing() when none is found.
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
    // Drops the frames not yet begun; a frame in transfer goes on to its closing report, since a
    // board keeps the reports it took and would join them to the next frame.
    void reset() override;

signals:
    // A search found no board: the window shows "USB连接失败".
    void boardMissing();

private:
    friend struct HidTransfer;
    void deviceLost(LinkFault fault, const QByteArray &cut, qint64 cutBytesNotSent,
        const QList<QByteArray> &unsent);
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
