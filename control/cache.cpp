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

std::optional<QByteArray> cacheStoreFrame(int segment, const QByteArray &text)
{
    // No list entry chosen (or a typed value) names no segment: nothing to store into.
    if (segment < 0 || segment >= kCacheSegments)
        return std::nullopt;
    return parameterFrame(Command::CacheStore, quint8(segment), text);
}
