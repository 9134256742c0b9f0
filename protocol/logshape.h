#pragma once

#include "link.h"

#include <QByteArray>
#include <QString>

// Shapes of the work-log entries. Every entry ends with CR LF; the window shows the line break
// as its own separator and writes CR LF again wherever the log is saved.
inline const QString kCrLf = QStringLiteral("\r\n");

// "发出一帧，字节数 n" CR LF "----> " + one "<prefix>XX " group per byte + CR LF, for bytes
// 0 to frameLast of frame (the count and the range both come from frameLast).
QString sentFrameEntry(const QByteArray &frame, int frameLast, const QString &hexPrefix);

// "<---- 返回：" + prefix + label + CR LF.
QString serialAnswerEntry(const QString &hexPrefix, const QString &label);

// "<---- 返回：" + prefix + "58  软件版本号：" + the whole received text + CR LF.
QString versionAnswerEntry(const QString &hexPrefix, const QString &receivedText);

// A USB label (it carries its own code) + CR LF.
QString usbAnswerEntry(const QString &label);

// "未发送：N 帧，B 字节" + CR LF: frames logged as sent that the link dropped before they left
// whole (N frames, B of their bytes never reached the device). One entry per drop.
QString droppedFramesEntry(qsizetype frames, qint64 bytesNotSent);

// Logged when a USB report finds no board.
inline const QString kUsbMissingEntry = QStringLiteral("操作失败请先联接\r\n");

// The work log's sentence for what a link met, without the line break: "pts/3：串口设备已断开
// (…)", "USB等待应答 0x5E 超时", and so on. Also the link's errorString() after a fault.
QString linkFaultLine(const LinkFault &fault);
// The same + CR LF.
QString linkFaultEntry(const LinkFault &fault);
// A frame refused for want of a board is logged without moving the caret, so the operator's
// place in the log stays; every other line moves it.
bool keepsCaret(const LinkFault &fault);

// The line that opens each export in the log file.
inline const QString kExportHeading = QStringLiteral("导出数据");
