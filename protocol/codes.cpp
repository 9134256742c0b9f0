#include "codes.h"

std::optional<QString> serialAnswerLabel(quint8 code)
{
    switch (code) {
    case Answer::Received:
        return QStringLiteral("41  接收成功");
    case Answer::ReceiveFailed:
        return QStringLiteral("45  接收失败");
    case Answer::Initialised:
        return QStringLiteral("4A  初始化成功回传");
    case Answer::Playing:
        return QStringLiteral("4E  芯片正在播音");
    case Answer::Idle:
        return QStringLiteral("4F  芯片空闲");
    default:
        return std::nullopt;
    }
}

std::optional<QString> usbAnswerLabel(quint8 code)
{
    switch (code) {
    case Answer::Received:
        return QStringLiteral("<-0x41  接收成功");
    case Answer::ReceiveFailed:
        return QStringLiteral("<-0x45  接收失败");
    case Answer::Initialised:
        return QStringLiteral("<-0x4A  初始化成功回传");
    case Answer::Playing:
        return QStringLiteral("<-0x4E  芯片正在播音");
    case Answer::Idle:
        return QStringLiteral("<-0x4F  芯片空闲");
    case Answer::ReceivedWasIdle:
        return QStringLiteral("<-0xAA接收成功，芯片原状态空闲");
    case Answer::ReceivedWasPaused:
        return QStringLiteral("<-0xAB接收成功，芯片原状态暂停");
    case Answer::ReceivedWasPlaying:
        return QStringLiteral("<-0xAC接收成功，芯片原状态播音");
    case Answer::HardwarePlaying:
        return QStringLiteral("<-硬件查询，4120处于播音状态");
    default:
        return std::nullopt;
    }
}
