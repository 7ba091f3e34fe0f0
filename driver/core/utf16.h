// UTF-16 text as the kernel keeps it: wchar_t on Windows, char16_t elsewhere.
#pragma once

#include <stdint.h>

namespace pta {

#if defined(_WIN32)
typedef wchar_t Utf16Char;
#define PTA_U16(text) L##text
#else
typedef char16_t Utf16Char;
#define PTA_U16(text) u##text
#endif

static_assert(sizeof(Utf16Char) == 2, "UTF-16 code units are 2 bytes");

// Units before the terminator, looking at no more than maxUnits units.
inline uint32_t BoundedLength(const Utf16Char* text, uint32_t maxUnits)
{
    uint32_t n = 0;
    if (text == nullptr) return 0;
    while (n < maxUnits && text[n] != 0) ++n;
    return n;
}

}  // namespace pta
