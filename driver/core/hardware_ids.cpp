#include "hardware_ids.h"

namespace pta {

namespace {

constexpr uint32_t kNoEnd = 0xFFFFFFFFu;

// Units taken by the list's entries, each with its terminator, up to (not including) the
// empty string that ends the list; kNoEnd when no end lies within the bound.
uint32_t EntriesUnits(const Utf16Char* list)
{
    if (list == nullptr) return 0;
    uint32_t i = 0;
    while (i < kMaxMultiSzUnits) {
        if (list[i] == 0) return i;  // an empty string: the end of the list
        while (i < kMaxMultiSzUnits && list[i] != 0) ++i;
        ++i;  // the entry's terminator
    }
    return kNoEnd;
}

}  // namespace

const Utf16Char* SerialPortHardwareId(uint32_t multiportDevice)
{
    return multiportDevice != 0 ? PTA_U16("*PNP0502") : PTA_U16("*PNP0501");
}

uint32_t AppendedMultiSzUnits(const Utf16Char* list, const Utf16Char* id)
{
    const uint32_t entries = EntriesUnits(list);
    if (entries == kNoEnd) return 0;
    return entries + BoundedLength(id, kMaxMultiSzUnits) + 2;
}

bool AppendToMultiSz(Utf16Char* out, uint32_t capacity, const Utf16Char* list,
                     const Utf16Char* id)
{
    const uint32_t needed = AppendedMultiSzUnits(list, id);
    if (needed == 0 || out == nullptr || capacity < needed) return false;
    const uint32_t entries = needed - BoundedLength(id, kMaxMultiSzUnits) - 2;
    uint32_t n = 0;
    for (; n < entries; ++n) out[n] = list[n];
    for (uint32_t i = 0; id != nullptr && id[i] != 0 && i < kMaxMultiSzUnits; ++i) out[n++] = id[i];
    out[n++] = 0;
    out[n] = 0;
    return true;
}

}  // namespace pta
