// The COM port database of the Ports class: which COM numbers are taken. On Windows it is
// reached through msports; under Wine, whose msports cannot serve it, the same bitmap is
// kept where Windows keeps it, the ComDB value under the COM Name Arbiter key. Everything
// that claims, frees or counts COM numbers goes through this class.
#pragma once

#include <windows.h>

#include <stdint.h>

#include <vector>

#include "com_db_core.h"

namespace pta {

// Where the bitmap lives when the program keeps it itself.
constexpr const char* kComNameArbiterKey = "SYSTEM\\CurrentControlSet\\Control\\COM Name Arbiter";
constexpr const char* kComDbValue = "ComDB";

// Every call returns a Win32 error code, ERROR_SUCCESS on success.
class ComPortDb {
public:
    ComPortDb() = default;
    ~ComPortDb() { Close(); }
    ComPortDb(const ComPortDb&) = delete;
    ComPortDb& operator=(const ComPortDb&) = delete;

    // Opens the database; one that has never been written starts with 256 free numbers.
    // A stored bitmap that cannot be used fails with ERROR_INVALID_DATA and is left as it is.
    LONG Open();
    // Closes it; closing a closed database does nothing.
    void Close();
    bool IsOpen() const { return msportsDb_ != nullptr || key_ != nullptr; }

    // Its size in COM numbers (bits) and in bytes.
    LONG SizeInPorts(DWORD* ports);
    LONG SizeInBytes(DWORD* bytes);
    // The bitmap of numbers in use (bit (n - 1) % 8 of byte (n - 1) / 8 is COMn).
    LONG Usage(ComDbBitmap* bitmap);
    // Enlarges it to `ports` numbers: a multiple of 1024, larger than now, at most 4096.
    LONG Resize(DWORD ports);
    // Claims COMn; ERROR_SHARING_VIOLATION when taken unless `force` (then `forced` says so).
    LONG Claim(DWORD comNumber, bool force = false, bool* forced = nullptr);
    // Frees COMn.
    LONG Release(DWORD comNumber);

private:
    // The bitmap kept in the registry: read and written whole, under a named mutex shared
    // by every process of the system.
    LONG ReadBitmap(ComDbBitmap* bitmap);
    LONG WriteBitmap(const ComDbBitmap& bitmap);
    // Runs a change on the stored bitmap under the mutex, writing it back if it changed.
    template <typename Change>
    LONG Update(Change change);

    HANDLE msportsDb_ = nullptr;  // the msports handle
    HKEY key_ = nullptr;          // or the COM Name Arbiter key
    HANDLE mutex_ = nullptr;
};

}  // namespace pta
