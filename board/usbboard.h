#pragma once

#include "boardoptions.h"
#include "chipmodel.h"

#include <QByteArray>
#include <QObject>

// The USB side of the board: takes 33-byte output reports, puts the frame together and hands it
// to the chip, and turns everything into 33-byte input reports (byte 0 report id 0, byte 1 the
// code).
//
// Output reports: byte 1 0xFC carries 31 frame bytes in bytes 2..32; byte 1 0xBC closes the
// frame with byte 2 = r (0..30) frame bytes from byte 3; any other byte 1 is a frame of at most
// three bytes in bytes 1..3. The board acknowledges each 0xFC report with 0x5E as soon as it has
// taken it; the closing and the short report as BoardOptions::usbAcks says (never, at once, or
// once the chip can take the next text: after the chip's 0x4F of the speech the frame started,
// or when a later frame's speech cuts it off). When the chip takes a frame up (the accept delay
// later) the board answers 0xAA / 0xAB / 0xAC (received; the chip was idle / paused / playing),
// and 0xAD as well for a status query while the chip plays (its busy line); the chip's own
// answers follow. A frame that overflows the board's buffer gets no receipt, only the chip's
// 0x45.
class UsbBoard : public QObject
{
    Q_OBJECT
public:
    static constexpr int kReportBytes = 33;
    // The board buffers one frame of 512 text bytes and its five-byte head.
    static constexpr int kMaxFrameBytes = 517;

    explicit UsbBoard(const BoardOptions &options = {}, QObject *parent = nullptr);

    // Sound or WAV trouble met while setting up; empty when none.
    QString warning() const { return m_warning; }
    ChipModel *chip() const { return m_chip; }

public slots:
    // Powers the chip up (0x4A after BoardOptions::powerUpDelayMs).
    void powerUp();
    void receiveReport(const QByteArray &report);

signals:
    void inputReport(const QByteArray &report);

private:
    void answerReceipt(const QByteArray &frame, ChipModel::State before);
    void chipAnswered(const QByteArray &bytes);
    void answer(const QByteArray &bytes);
    void acknowledge(int reports = 1);
    // Acknowledges a closing or short report as m_acks says; frame is empty when the chip
    // refuses what the report closed.
    void closeFrame(const QByteArray &frame);

    ChipModel *m_chip = nullptr;
    int m_powerUpDelayMs = 0;
    QString m_warning;
    QByteArray m_assembly;   // frame bytes of the 0xFC reports so far
    bool m_overflow = false;
    UsbAcks m_acks = UsbAcks::Ready;
    int m_heldUntaken = 0;   // Ready: speech frames closed, not yet taken up by the chip
    int m_heldSpeaking = 0;   // Ready: speech frames taken up whose speech has not ended
};
