#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

// Command codes of the chip's command frame (byte 3).
enum class Command : quint8 {
    Synthesize = 0x01,
    Stop = 0x02,
    Pause = 0x03,
    Resume = 0x04,
    StatusQuery = 0x21,
    Standby = 0x22,
    CacheStore = 0x31,
    CachePlay = 0x32,
    VersionQuery = 0x58,
    WakeUp = 0xFF,
};

// Text encodings: the synthesis parameter byte and the list order of the encoding box.
enum class Encoding : quint8 {
    Gb2312 = 0,
    Gbk = 1,
    Big5 = 2,
    Utf16Le = 3,
    Utf16Be = 4,
};
inline constexpr int kEncodingCount = 5;

// Single answer bytes of the chip and of its USB board.
namespace Answer {
inline constexpr quint8 Received = 0x41;   // "A"
inline constexpr quint8 ReceiveFailed = 0x45;   // "E"
inline constexpr quint8 Initialised = 0x4A;   // "J"
inline constexpr quint8 Playing = 0x4E;   // "N"
inline constexpr quint8 Idle = 0x4F;   // "O"
inline constexpr quint8 VersionText = 0x53;   // "S", leads the version text
inline constexpr quint8 ReportAccepted = 0x5E;   // USB board ready for the next report
inline constexpr quint8 ReceivedWasIdle = 0xAA;
inline constexpr quint8 ReceivedWasPaused = 0xAB;
inline constexpr quint8 ReceivedWasPlaying = 0xAC;
inline constexpr quint8 HardwarePlaying = 0xAD;
}   // namespace Answer

// Markers in byte 1 of a USB output report.
namespace UsbMarker {
inline constexpr quint8 More = 0xFC;   // 31 frame bytes, more follow
inline constexpr quint8 Closing = 0xBC;   // byte 2 counts the frame bytes it carries
}   // namespace UsbMarker

// Label of a serial answer character ("41  接收成功"); none for characters the serial side ignores.
// The version answer "S" has its own line shape and is not covered here.
std::optional<QString> serialAnswerLabel(quint8 code);

// Work-log line of a USB answer code ("<-0x41  接收成功"); none for 0x5E and unknown codes.
std::optional<QString> usbAnswerLabel(quint8 code);

// The USB board's receipt of a frame, naming the chip's state before it: 0xAA-0xAC.
bool isUsbReceipt(quint8 code);
