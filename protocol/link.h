#pragma once

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>

// Microseconds on the steady clock. Every link stamps what it hands over and what arrives with
// it, so times taken on different threads can be compared.
using LinkTime = qint64;
LinkTime linkNow();

// A frame has left the program.
struct FrameWritten
{
    qint64 bytes = 0;
    LinkTime handedOver = 0;   // the last byte went to the device (USB: the closing report)
    LinkTime lastByteDue = 0;   // the last byte is on the wire by then, at the line speed
};
Q_DECLARE_METATYPE(FrameWritten)

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
    // A line for the work log (ends with CR LF). keepCaret: appended without moving the caret.
    void notice(const QString &entry, bool keepCaret);
    // The open link failed; reported once per fault, in words for the work log.
    void failed(const QString &reason);
    void openChanged(bool open);
};
