#pragma once

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>

#include <functional>

// Microseconds on the steady clock. Every link stamps what it hands over and what arrives with
// it, so times taken on different threads can be compared.
using LinkTime = qint64;
LinkTime linkNow();
// Where a link time is read; tests put a hand-moved clock in.
using LinkClock = std::function<LinkTime()>;

// A frame has left the program.
struct FrameWritten
{
    qint64 bytes = 0;
    LinkTime handedOver = 0;   // the last byte went to the device (USB: the closing report)
    LinkTime lastByteDue = 0;   // the last byte is on the wire by then, at the line speed
};
Q_DECLARE_METATYPE(FrameWritten)

// Something a link met on its own (a fault, a frame it will not send, a device back again), as
// data: each front end words it (the work log: linkFaultEntry() in logshape.h).
struct LinkFault
{
    enum class Kind {
        SerialGone,   // the device hung up or vanished; the port is closed
        SerialWriteFailed,   // the device refused a write; the port is closed
        SerialStalled,   // written bytes stopped draining (bytes: not sent); the port is closed
        SerialReopened,   // the lost device is back, provably the same adapter, and open again
        UsbLost,   // a read or write on the board failed; the link is closed
        UsbShortWrite,   // the board took bytes of a report of total bytes; the link is closed
        UsbAckTimeout,   // no 0x5E in time: the frame in transfer is dropped
        UsbNoPermission,   // a board is there but may not be opened
        UsbNotFound,   // no board for the frames that waited for one; they are dropped
        UsbNotConnected,   // a frame came while no board is found; it is not sent
        UsbEmptyFrame,   // a frame without bytes; it is not sent
        UsbShortReports,   // the board's output reports hold bytes, fewer than total
    };
    LinkFault() = default;
    LinkFault(Kind kind, QString device = {}, QString systemError = {}, qint64 bytes = 0,
        qint64 total = 0)
        : kind(kind)
        , device(std::move(device))
        , systemError(std::move(systemError))
        , bytes(bytes)
        , total(total)
    { }

    Kind kind = Kind::SerialGone;
    QString device;   // the device as the link names it; empty where it has none
    QString systemError;   // what the system said, as it said it; empty where it said nothing
    qint64 bytes = 0;
    qint64 total = 0;
};
Q_DECLARE_METATYPE(LinkFault)

// A transport to the chip board: the serial port or the board's USB link. A link carries its own
// rules (how a frame is cut for the device, how much text one frame may carry); callers hand it
// whole frames. Sends never block; everything the link reports arrives on the thread it lives on,
// in the order it happened.
class Link : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    virtual bool isOpen() const = 0;
    // Why the last open failed, or the last fault.
    virtual QString errorString() const = 0;
    // Most text bytes one synthesis or cache-store frame may carry over this link.
    virtual int maxTextBytes() const = 0;
    // Microseconds the given number of bytes take on the wire; 0 where there is no line speed.
    virtual qint64 wireTime(qint64 bytes) const = 0;
    // Queues a frame and returns at once; frames leave whole and in order. A link that is not
    // open drops it (the caller has logged it already).
    virtual void send(const QByteArray &frame) = 0;
    // Drops the frames still queued.
    virtual void reset() = 0;

signals:
    void frameWritten(const FrameWritten &written);
    // Frames handed to the link that will not leave whole (dropped by reset, a time-out or a
    // lost device), in the order they were handed over, and how many of their bytes did not
    // reach the device.
    void framesDropped(const QList<QByteArray> &frames, qint64 bytesNotSent);
    // Bytes as they came from the device (USB: one input report), stamped on arrival.
    void received(const QByteArray &bytes, LinkTime arrival);
    // Something the link met that leaves it as it is (open or not).
    void notice(const LinkFault &fault);
    // The open link failed and is closed; reported once per fault.
    void failed(const LinkFault &fault);
    void openChanged(bool open);
};
