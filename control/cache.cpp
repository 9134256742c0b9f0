#include "cache.h"

#include "frame.h"

quint8 cachePlayParameter(int repeatCount, int encodingIndex)
{
    // A count outside 1-15 keeps only its low four bits (no replay list entry gives 0).
    return quint8((repeatCount & 0x0F) * 16 + (encodingIndex & 0x0F));
}

QByteArray cachePlayFrame(int repeatCount, int encodingIndex)
{
    return parameterFrame(Command::CachePlay, cachePlayParameter(repeatCount, encodingIndex));
}
