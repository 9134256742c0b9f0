#pragma once

#include <QString>

// Which of its output reports the board's USB side acknowledges with 0x5E. Real boards differ.
enum class UsbAcks {
    Full,   // each 0xFC report, nothing else
    All,   // every report, the closing and the short one included, as soon as it is taken
    // each 0xFC report at once; a closing or short report once the chip can take the next text:
    // when the speech its frame started has ended (or was cut off), at once for any other frame
    Ready,
};

// What a front end's --virtual options set on the built-in virtual board. Plain values only, so
// a front end fills them in without linking the board; the defaults suit the window's board.
struct VirtualBoardOptions
{
    bool playback = true;   // play on the default sound output when there is one (scale 1 only)
    int acceptDelayMs = 4;   // frame in to its 0x41 or 0xAA..0xAC
    double speechScale = 1.0;   // playing time per second of speech; 0 ends at once
    // The serial line's speed: bytes reach the chip no faster than this (8N1, 10 bits a byte),
    // as on a real line; 0 hands them over at once.
    int baud = 9600;
    UsbAcks usbAcks = UsbAcks::Ready;
};

// Largest accept delay and speech scale the command lines take.
inline constexpr int kMaxAcceptDelayMs = 10000;
inline constexpr double kMaxSpeechScale = 100.0;

// Sets options->acceptDelayMs from a command-line value (whole milliseconds, 0 to
// kMaxAcceptDelayMs); otherwise returns why not, naming option.
QString setAcceptDelay(VirtualBoardOptions *options, const QString &option, const QString &value);
// Sets options->speechScale from a command-line value (a decimal number, 0 to kMaxSpeechScale);
// otherwise returns why not, naming option.
QString setSpeechScale(VirtualBoardOptions *options, const QString &option, const QString &value);
// Sets options->usbAcks from "full", "all" or "ready"; otherwise returns why not, naming option.
QString setUsbAcks(VirtualBoardOptions *options, const QString &option, const QString &value);
