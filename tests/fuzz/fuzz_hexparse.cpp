// libFuzzer target: arbitrary bytes, read as UTF-8 and as Latin-1, through the hex editor.
#include "hexparsecheck.h"

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *chars = reinterpret_cast<const char *>(data);
    const qsizetype length = qsizetype(size);
    for (const QString &text :
        {QString::fromUtf8(chars, length), QString::fromLatin1(chars, length)}) {
        const QString fault = checkHexParse(text);
        if (!fault.isEmpty()) {
            std::fprintf(stderr, "hex editor: %s\n", qPrintable(fault));
            __builtin_trap();
        }
    }
    return 0;
}
