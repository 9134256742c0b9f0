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
