#pragma once

#include "chipmodel.h"
#include "speech.h"
#include "virtualoptions.h"

#include <QString>

#include <functional>
#include <memory>

// How a virtual board is set up: the front ends' options and what only the board's own program
// and the tests set.
struct BoardOptions : VirtualBoardOptions
{
    QString wavPath;   // speech also goes to this WAV file when not empty
    int powerUpDelayMs = 300;   // time from start to the 0x4A answer
    int frameTimeoutMs = ChipModel::kDefaultFrameTimeoutMs;
    // Makes the speech renderer; empty means espeak-ng.
    std::function<std::unique_ptr<SpeechRenderer>()> renderer;
};

// A chip with its speech output attached, as options say, owned by parent. Sound or WAV
// trouble does not stop the chip: it is put into *warning, and trouble met later (a WAV file
// that fills up) goes to qWarning() once.
ChipModel *createChip(const BoardOptions &options, QObject *parent, QString *warning);
