#pragma once

#include <QByteArray>
#include <QtGlobal>


// The chip's cache holds text in 16 segments and speaks it again a chosen number of times.
inline constexpr int kCacheSegments = 16;
inline constexpr int kMaxCacheRepeats = 15;   // the repeat count has four bits

// Cache-play parameter: (repeat count AND 0x0F) in the high nibble, encoding in the low nibble.
quint8 cachePlayParameter(int repeatCount, int encodingIndex);

// Cache-play frame FD 00 02 32 pp; repeatCount is the replay list's index + 1.
QByteArray cachePlayFrame(int repeatCount, int encodingIndex);
