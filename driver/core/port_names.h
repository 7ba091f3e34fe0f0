// The names a port device carries: its own device name, the COM name taken from the
// PortName value, the COM symbolic link and the receive queue's name.
//
// Every builder follows snprintf: it returns the units the whole name needs (terminator
// excluded) and writes the terminated name only when capacity exceeds that; call with
// (nullptr, 0) to measure.
#pragma once

#include "utf16.h"

namespace pta {

// PortName is read as a string of up to 64 units, its terminator included.
constexpr uint32_t kPortNameMaxUnits = 64;

enum class ComNumberScan {
    Found,     // a digit run that fits in 32 bits
    NoDigits,  // no decimal digit at all: COM number 0
    TooLarge,  // a digit run beyond 32 bits: not a usable name
};

struct ComNumberResult {
    ComNumberScan scan;
    uint32_t number;  // 0 unless Found
};

// Skips to the first decimal digit and reads digits to the first non-digit. Reads at most
// `units` units and stops early at a terminator, so the text needs none.
ComNumberResult ScanComNumber(const Utf16Char* text, uint32_t units);

// "\DosDevices\ptaser2" + child index.
uint32_t FormatDeviceName(Utf16Char* out, uint32_t capacity, uint32_t childIndex);
// "COM" + COM number.
uint32_t FormatComName(Utf16Char* out, uint32_t capacity, uint32_t comNumber);
// "\DosDevices\COM" + COM number.
uint32_t FormatComLinkName(Utf16Char* out, uint32_t capacity, uint32_t comNumber);
// The COM name (comNameUnits units, no terminator needed) followed by ".RxQ".
uint32_t FormatRxQueueName(Utf16Char* out, uint32_t capacity, const Utf16Char* comName,
                           uint32_t comNameUnits);

}  // namespace pta
