// The COM port database as Windows keeps it: a bitmap of the COM numbers in use, bit
// (n - 1) % 8 of byte (n - 1) / 8 standing for COMn. These rules need no operating system:
// they check a stored bitmap, and claim, release and enlarge it.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

namespace pta {

// The sizes the database may have, in COM numbers: it starts with 256 and grows in steps
// of 1024 up to 4096.
constexpr uint32_t kComDbMinPorts = 256;
constexpr uint32_t kComDbResizeStep = 1024;
constexpr uint32_t kComDbMaxPorts = 4096;

// Outcomes, with the values of the Win32 error codes that the database calls return.
enum class ComDbResult : int32_t {
    Ok = 0,                  // ERROR_SUCCESS
    SharingViolation = 32,   // ERROR_SHARING_VIOLATION: the number is taken
    BadLength = 24,          // ERROR_BAD_LENGTH: not larger than now, or above the maximum
    InvalidParameter = 87,   // ERROR_INVALID_PARAMETER: number out of range, size not a step
    InvalidData = 13,        // ERROR_INVALID_DATA: the stored bitmap cannot be used
};

using ComDbBitmap = std::vector<uint8_t>;

// A stored bitmap is usable when it holds at least one byte and at most the maximum.
bool ComDbBitmapUsable(size_t bytes);

// The size in COM numbers and in bytes.
inline uint32_t ComDbPorts(const ComDbBitmap& bitmap) { return static_cast<uint32_t>(bitmap.size()) * 8; }
inline uint32_t ComDbBytes(const ComDbBitmap& bitmap) { return static_cast<uint32_t>(bitmap.size()); }

// COMn is claimed; false for a number outside the database.
bool ComDbInUse(const ComDbBitmap& bitmap, uint32_t comNumber);

// Claims COMn. A number in use is refused unless `force`; `forced` then tells whether
// the claim took a number already in use.
ComDbResult ComDbClaim(ComDbBitmap& bitmap, uint32_t comNumber, bool force, bool* forced);
// Frees COMn (freeing a free number succeeds).
ComDbResult ComDbRelease(ComDbBitmap& bitmap, uint32_t comNumber);
// Enlarges the database to `ports` numbers, keeping every claim; the new numbers are free.
ComDbResult ComDbResize(ComDbBitmap& bitmap, uint32_t ports);

}  // namespace pta
