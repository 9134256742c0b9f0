#include "linkfaults.h"

namespace {

// " (what the system said)", or nothing when it said nothing.
QString systemSaid(const LinkFault &fault)
{
    return fault.systemError.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(fault.systemError);
}

// "the USB board" with its path, where known.
QString usbBoard(const LinkFault &fault)
{
    return fault.device.isEmpty() ? QStringLiteral("the USB board")
                                  : QStringLiteral("the USB board %1").arg(fault.device);
}

}   // namespace

QString linkFaultMessage(const LinkFault &fault)
{
    using Kind = LinkFault::Kind;
    switch (fault.kind) {
    case Kind::SerialGone:
        return QStringLiteral("%1: the device is gone%2; the port is closed")
            .arg(fault.device, systemSaid(fault));
    case Kind::SerialWriteFailed:
        return QStringLiteral("%1: a write failed%2; the port is closed")
            .arg(fault.device, systemSaid(fault));
    case Kind::SerialStalled:
        return QStringLiteral("%1: writing stalled with %2 bytes not sent; the port is closed")
            .arg(fault.device)
            .arg(fault.bytes);
    case Kind::SerialReopened:
        return QStringLiteral("%1: the device is back and the port open again").arg(fault.device);
    case Kind::UsbLost:
        return QStringLiteral("%1 is lost%2").arg(usbBoard(fault), systemSaid(fault));
    case Kind::UsbShortWrite:
        return QStringLiteral("%1 took only %2 of the %3 bytes of a report; the link is closed")
            .arg(usbBoard(fault))
            .arg(fault.bytes)
            .arg(fault.total);
    case Kind::UsbAckTimeout:
        return QStringLiteral("%1 did not acknowledge a report with 0x5E in time; the frame is "
                              "dropped")
            .arg(usbBoard(fault));
    case Kind::UsbNoPermission:
        return QStringLiteral("no permission to open %1; install the udev rule 70-orv4120.rules "
                              "and plug the board in again")
            .arg(usbBoard(fault));
    case Kind::UsbNotFound:
        return QStringLiteral("the USB board is not found; the frames waiting for it are dropped");
    case Kind::UsbNotConnected:
        return QStringLiteral("no USB board is connected; the frame is not sent");
    case Kind::UsbEmptyFrame:
        return QStringLiteral("a frame without bytes is not sent");
    case Kind::UsbShortReports:
        return QStringLiteral("the output reports of %1 hold %2 bytes, fewer than %3; the frame "
                              "is not sent")
            .arg(usbBoard(fault))
            .arg(fault.bytes)
            .arg(fault.total);
    }
    return {};
}
