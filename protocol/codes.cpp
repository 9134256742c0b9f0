#include "codes.h"

namespace {

// Every answer code the program knows, with its work-log texts. The two columns are not built from
// one another: the USB texts of 0xAA-0xAD carry no blanks, 0xAD names no code, and the serial
// side knows none of them.
struct AnswerText
{
    quint8 code;
    const char16_t *serial;   // null: the serial side ignores the code
    const char16_t *usb;   // null: the USB side logs nothing
};

constexpr AnswerText kAnswers[] = {
    {Answer::Received, u"41  接收成功", u"<-0x41  接收成功"},
    {Answer::ReceiveFailed, u"45  接收失败", u"<-0x45  接收失败"},
    {Answer::Initialised, u"4A  初始化成功回传", u"<-0x4A  初始化成功回传"},
    {Answer::Playing, u"4E  芯片正在播音", u"<-0x4E  芯片正在播音"},
    {Answer::Idle, u"4F  芯片空闲", u"<-0x4F  芯片空闲"},
    {Answer::ReceivedWasIdle, nullptr, u"<-0xAA接收成功，芯片原状态空闲"},
    {Answer::ReceivedWasPaused, nullptr, u"<-0xAB接收成功，芯片原状态暂停"},
    {Answer::ReceivedWasPlaying, nullptr, u"<-0xAC接收成功，芯片原状态播音"},
    {Answer::HardwarePlaying, nullptr, u"<-硬件查询，4120处于播音状态"},
};

const AnswerText *find(quint8 code)
{
    for (const AnswerText &answer : kAnswers) {
        if (answer.code == code)
            return &answer;
    }
    return nullptr;
}

std::optional<QString> text(const char16_t *label)
{
    if (!label)
        return std::nullopt;
    return QString::fromUtf16(label);
}

}   // namespace

std::optional<QString> serialAnswerLabel(quint8 code)
{
    const AnswerText *answer = find(code);
    return answer ? text(answer->serial) : std::nullopt;
}

std::optional<QString> usbAnswerLabel(quint8 code)
{
    const AnswerText *answer = find(code);
    return answer ? text(answer->usb) : std::nullopt;
}

bool isUsbReceipt(quint8 code)
{
    return code == Answer::ReceivedWasIdle || code == Answer::ReceivedWasPaused
        || code == Answer::ReceivedWasPlaying;
}
