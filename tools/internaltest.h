#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The internal test: an endless soak script of frames and waits in five phases, each announced
// by a spoken marker ("sound101 1" ... "sound101 5"). It never reads the chip's answers.

// One step of the script.
struct ScriptStep
{
    enum class Kind {
        SendFrame,   // hand frame to the public send operation
        Wait,   // pause for milliseconds
        LoadDemoText,   // load the demonstration text into the send box
        Synthesize,   // run the synthesis command on the send box
        FinalWait,   // pause of finalWaitMilliseconds(MaxTextBytes)
    };
    Kind kind = Kind::Wait;
    QByteArray frame;
    int milliseconds = 0;
};

// The 120 GBK bytes of the long mixed test sentence (its frame's length field is 0x7A).
QString longTestSentence();

// Synthesis frames of the script: parameter 0x01 (GBK) whatever the window's encoding.
QByteArray longTextFrame();
QByteArray welcomeFrame();
QByteArray polyphoneFrame();
// Marker N (1 to 5): FD 00 0C 01 01 "sound101 N".
QByteArray phaseMarkerFrame(int phase);

// Pause at the end of a pass: 500000 ms over serial (4091), 70000 ms over USB (512), else none.
int finalWaitMilliseconds(int maxTextBytes);

// One pass of the script, phases 1 to 5: 83 frames and 8 syntheses.
QList<ScriptStep> internalTestScript();
