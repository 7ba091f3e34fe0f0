// Base definitions for the headers shared by the driver, the Windows programs and the
// native tests. Freestanding: fixed-width integers only, nothing that needs a runtime.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Widens a narrow string literal, for kernel code that needs the UTF-16 form of a name.
#define PTA_WIDEN2(x) L##x
#define PTA_WIDEN(x) PTA_WIDEN2(x)

namespace pta {

// The Windows CTL_CODE layout: device type, access, function and transfer method.
constexpr uint32_t CtlCode(uint32_t deviceType, uint32_t function, uint32_t method, uint32_t access)
{
    return (deviceType << 16) | (access << 14) | (function << 2) | method;
}

constexpr uint32_t kMethodBuffered = 0;
constexpr uint32_t kFileAnyAccess = 0;

// A GUID with the Windows layout, usable where <guiddef.h> is not.
struct Guid {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
static_assert(sizeof(Guid) == 16, "Guid layout");

constexpr bool SameGuid(const Guid& a, const Guid& b)
{
    return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
           a.Data4[0] == b.Data4[0] && a.Data4[1] == b.Data4[1] && a.Data4[2] == b.Data4[2] &&
           a.Data4[3] == b.Data4[3] && a.Data4[4] == b.Data4[4] && a.Data4[5] == b.Data4[5] &&
           a.Data4[6] == b.Data4[6] && a.Data4[7] == b.Data4[7];
}

// The COM port device interface class (GUID_DEVINTERFACE_COMPORT), which mingw-w64's
// headers lack.
constexpr Guid ComPortInterfaceGuid = {
    0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};

}  // namespace pta

#ifdef _WIN32
// Windows code (kernel and user mode) passes our GUIDs where a GUID is expected.
#include <guiddef.h>
namespace pta {
inline const GUID& AsGuid(const Guid& g) { return *reinterpret_cast<const GUID*>(&g); }
}  // namespace pta
#endif
