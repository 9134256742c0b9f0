#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// orv4120 decode [FILE|-] [ANSWERS-FILE]: what a capture holds, read from text: hexadecimal
// dumps, the window's LOG.txt, or a logic analyser's CSV export of a decoded UART. Frames are
// decoded as the chip reads them, answers labelled as the window logs them; with times, frames
// are paired with their answers as in a soak report. arguments are those after "decode".
int runDecodeCommand(const QList<QByteArray> &arguments);

QString decodeCommandHelp();
