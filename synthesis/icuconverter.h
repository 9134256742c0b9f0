#pragma once

#include <unicode/ucnv.h>

#include <memory>

// An ICU converter that closes itself.
struct IcuConverterCloser
{
    void operator()(UConverter *converter) const { ucnv_close(converter); }
};
using IcuConverter = std::unique_ptr<UConverter, IcuConverterCloser>;

// The converter for a code page ("windows-936"); empty when ICU does not know it.
inline IcuConverter openIcuConverter(const char *name)
{
    UErrorCode status = U_ZERO_ERROR;
    IcuConverter converter(ucnv_open(name, &status));
    if (U_FAILURE(status))
        return {};
    return converter;
}
