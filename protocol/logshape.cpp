#include "logshape.h"

QString sentFrameEntry(const QByteArray &frame, int frameLast, const QString &hexPrefix)
{
    const int last = qMin(frameLast, int(frame.size()) - 1);
    QString groups;
    groups.reserve((last + 1) * (3 + hexPrefix.size()));
    for (int i = 0; i <= last; ++i) {
        groups += hexPrefix;
        groups += QString::number(quint8(frame.at(i)), 16).toUpper().rightJustified(2, u'0');
        groups += u' ';
    }
    return QStringLiteral("发出一帧，字节数 ") + QString::number(frameLast + 1) + kCrLf
        + QStringLiteral("----> ") + groups + kCrLf;
}

QString serialAnswerEntry(const QString &hexPrefix, const QString &label)
{
    return QStringLiteral("<---- 返回：") + hexPrefix + label + kCrLf;
}

QString versionAnswerEntry(const QString &hexPrefix, const QString &receivedText)
{
    return QStringLiteral("<---- 返回：") + hexPrefix + QStringLiteral("58  软件版本号：")
        + receivedText + kCrLf;
}

QString usbAnswerEntry(const QString &label)
{
    return label + kCrLf;
}

QString droppedFramesEntry(qsizetype frames, qint64 bytesNotSent)
{
    return QStringLiteral("未发送：%1 帧，%2 字节").arg(frames).arg(bytesNotSent) + kCrLf;
}

QString linkFaultLine(const LinkFault &fault)
{
    using Kind = LinkFault::Kind;
    switch (fault.kind) {
    case Kind::SerialGone:
        return fault.device + QStringLiteral("：串口设备已断开 (") + fault.systemError + u')';
    case Kind::SerialWriteFailed:
        return fault.device + QStringLiteral("：串口写入失败 (") + fault.systemError
            + QStringLiteral(")，串口已关闭");
    case Kind::SerialStalled:
        return fault.device
            + QStringLiteral("：串口写出停滞，%1 字节未能发出，串口已关闭").arg(fault.bytes);
    case Kind::SerialReopened:
        return fault.device + QStringLiteral("：串口设备已重新连接，串口已重新打开");
    case Kind::UsbLost:
        return QStringLiteral("USB设备连接中断（%1）").arg(fault.systemError);
    case Kind::UsbShortWrite:
        return QStringLiteral("USB设备连接中断（只写入 %1 / %2 字节）")
            .arg(fault.bytes)
            .arg(fault.total);
    case Kind::UsbAckTimeout:
        return QStringLiteral("USB等待应答 0x5E 超时");
    case Kind::UsbNoPermission:
        return QStringLiteral("USB设备无访问权限：请把 70-orv4120.rules 装入 "
                              "/etc/udev/rules.d 或 /lib/udev/rules.d，然后重新插入设备");
    case Kind::UsbNotFound:
        return QStringLiteral("USB设备未找到");
    case Kind::UsbNotConnected:
        return kUsbMissingEntry.chopped(kCrLf.size());
    case Kind::UsbEmptyFrame:
        return QStringLiteral("USB：帧中没有要发送的字节，未发送");
    case Kind::UsbShortReports:
        return QStringLiteral("USB设备输出报告长度为 %1 字节，不足 %2 字节：本帧未发送")
            .arg(fault.bytes)
            .arg(fault.total);
    }
    return {};
}

QString linkFaultEntry(const LinkFault &fault)
{
    return linkFaultLine(fault) + kCrLf;
}

bool keepsCaret(const LinkFault &fault)
{
    return fault.kind == LinkFault::Kind::UsbNotConnected;
}
