#pragma once

#include <QCoreApplication>
#include <QString>

// Texts the window shows to the operator, worded exactly as the operator sees them in Chinese;
// shown() gives the window's language.
namespace Msg {
inline const QString PortMissing = QString::fromUtf8(
    QT_TRANSLATE_NOOP("Msg", "串口不存在或被占用,若电脑没有串口，请使用USB转串口设备"));
inline const QString UsbMissing = QString::fromUtf8(QT_TRANSLATE_NOOP("Msg", "USB连接失败"));
inline const QString TableMissing = QString::fromUtf8(QT_TRANSLATE_NOOP("Msg",
    "您目前选择的编码是Big5或Unicode（见界面右下角的编码选择）！ "
    "找不到GBKToBig5AndUnicode.dat文件！ "
    "无法解析文件编码！ 请选择GBK编码，再合成！"));
inline const QString TableShort = QString::fromUtf8(QT_TRANSLATE_NOOP("Msg",
    "您目前选择的编码是Big5或Unicode（见界面右下角的编码选择）！ GBKToBig5AndUnicode.dat文件不完整"
    "（应为96264字节）！ 无法解析文件编码！ 请重新生成该文件，或选择GBK编码，再合成！"));
inline const QString TableUnreadable = QString::fromUtf8(QT_TRANSLATE_NOOP("Msg",
    "您目前选择的编码是Big5或Unicode（见界面右下角的编码选择）！ "
    "GBKToBig5AndUnicode.dat文件无法读取（%1）！ "
    "无法解析文件编码！ 请选择GBK编码，再合成！"));
inline const QString HexMismatch =
    QString::fromUtf8(QT_TRANSLATE_NOOP("Msg", "格式不匹配，不是16进制数值"));
inline const QString HexTooLong = QString::fromUtf8(
    QT_TRANSLATE_NOOP("Msg", "16进制数值太多：一帧最多可带65533个数据字节，请分成几帧发送"));
inline const QString ReplayCount =
    QString::fromUtf8(QT_TRANSLATE_NOOP("Msg", "请输入大于等于1的整数"));
inline const QString NoSegment =
    QString::fromUtf8(QT_TRANSLATE_NOOP("Msg", "请在“起始区段”中选择一个区段（0-15）"));
inline const QString NoRepeatCount =
    QString::fromUtf8(QT_TRANSLATE_NOOP("Msg", "请在“重播次数”中选择次数（01-15）"));
inline const QString MaxTextNotice = QString::fromUtf8(QT_TRANSLATE_NOOP("Msg",
    "字节：这是每次发送的最大文本字节长度（不含帧头的5字节）！长文本请在F320中直接测"
    "试！目前F320最多仅能"
    "缓存此字节数！大于此字节数需分包发送，但通讯握手需20ms，大于帧与帧之间的最短间"
    "隔时间8ms，不可测试！"));

// A message above in the window's language; any other text comes back as it is.
inline QString shown(const QString &message)
{
    return QCoreApplication::translate("Msg", message.toUtf8().constData());
}
}   // namespace Msg
