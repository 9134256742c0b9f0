// libFuzzer target: arbitrary bytes as a frame through the decoder.
#include "framedecodecheck.h"

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString fault = checkFrameDecode(bytes);
    if (!fault.isEmpty()) {
        std::fprintf(stderr, "frame decoder: %s\n", qPrintable(fault));
        __builtin_trap();
    }
    return 0;
}
