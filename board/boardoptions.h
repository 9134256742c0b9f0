#pragma once

#include "chipmodel.h"
#include "speech.h"

#include <QString>

#include <functional>
#include <memory>

// Which of its output reports the board's USB side acknowledges with 0x5E. Real boards differ.
enum class UsbAcks {
    Full,   // each 0xFC report, nothing else
    All,   // every report, the closing and the short one included, as soon as it is taken
    // each 0xFC report at once; a closing or short report once the chip can take the next text:
    // when the speech its frame started has ended (or was cut off), at once for any other frame
    Ready,
};

// How a virtual board is set up; the defaults suit the window's --virtual board.
struct BoardOptions
{
    QString wavPath;   // speech also goes to this WAV file when not empty
    bool playback = true;   // play on the default sound output when there is one (scale 1 only)
    int powerUpDelayMs = 300;   // time from start to the 0x4A answer
    int frameTimeoutMs = ChipModel::kDefaultFrameTimeoutMs;
    int acceptDelayMs = ChipModel::kDefaultAcceptDelayMs;   // frame in to its 0x41 or 0xAA..0xAC
    double speechScale = 1.0;   // see ChipModel::setSpeechScale()
    // The serial line's speed: bytes reach the chip no faster than this (8N1, 10 bits a byte),
    // as on a real line; 0 hands them over at once.
    int baud = 9600;
    UsbAcks usbAcks = UsbAcks::Ready;
    // Makes the speech renderer; empty means espeak-ng.
    std::function<std::unique_ptr<SpeechRenderer>()> renderer;
};

// Largest accept delay and speech scale the command lines take.
inline constexpr int kMaxAcceptDelayMs = 10000;
inline constexpr double kMaxSpeechScale = 100.0;

// Sets options->acceptDelayMs from a command-line value (whole milliseconds, 0 to
// kMaxAcceptDelayMs); otherwise returns why not, naming option.
QString setAcceptDelay(BoardOptions *options, const QString &option, const QString &value);
// Sets options->speechScale from a command-line value (a decimal number, 0 to kMaxSpeechScale);
// otherwise returns why not, naming option.
QString setSpeechScale(BoardOptions *options, const QString &option, const QString &value);

// Sets options->usbAcks from "full", "all" or "ready"; otherwise returns why not, naming option.
QString setUsbAcks(BoardOptions *options, const QString &option, const QString &value);

// A chip with its speech output attached, as options say, owned by parent. Sound or WAV
// trouble does not stop the chip: it is put into *warning, and trouble met later (a WAV file
// that fills up) goes to qWarning() once.
ChipModel *createChip(const BoardOptions &options, QObject *parent, QString *warning);
