// The hardware-id list of a port device: the bus child's multi-sz list with the serial
// port id of the 16550 family appended, as the Ports class expects it.
#pragma once

#include "utf16.h"

namespace pta {

// Longest list scanned for its end; a list without one within this bound is refused.
constexpr uint32_t kMaxMultiSzUnits = 0x8000;

// "*PNP0502" for a port of a multiport device, "*PNP0501" otherwise.
const Utf16Char* SerialPortHardwareId(uint32_t multiportDevice);

// Units of the list with `id` appended, both final terminators included; 0 when `list`
// has no end within kMaxMultiSzUnits. A null or empty list makes `id` the only entry.
uint32_t AppendedMultiSzUnits(const Utf16Char* list, const Utf16Char* id);

// Writes the list with `id` appended into out; false (out untouched) when capacity is
// short of AppendedMultiSzUnits or the list has no end.
bool AppendToMultiSz(Utf16Char* out, uint32_t capacity, const Utf16Char* list,
                     const Utf16Char* id);

}  // namespace pta
