// The contract with the multiport bus driver: its control interface and codes, the records
// they carry, the query interface each child answers, and the ids and names that bind.
#pragma once

#include "pta_base.h"

namespace pta {

// Device interface class of the bus's control interface; also the query-interface GUID.
constexpr Guid PtaBusInterfaceGuid = {
    0x34CF3158, 0xA7DA, 0x47CE, {0xBE, 0xE4, 0x5B, 0x18, 0x32, 0x86, 0x00, 0xE4}};

constexpr uint32_t kFileDeviceBus = 0x2A;

constexpr uint32_t BusCode(uint32_t function)
{
    return CtlCode(kFileDeviceBus, function, kMethodBuffered, kFileAnyAccess);
}

constexpr uint32_t IOCTL_BUS_ADD_PORTS = BusCode(0);
constexpr uint32_t IOCTL_BUS_REMOVE_PORTS = BusCode(2);
constexpr uint32_t IOCTL_BUS_ATTACH = BusCode(3);
constexpr uint32_t IOCTL_BUS_DETACH = BusCode(4);

// Input (and output) of IOCTL_BUS_ADD_PORTS.
struct BusAddRequest {
    uint32_t Size;   // always 8
    uint32_t Count;  // ports added; 0 asks the bus to report what is configured
};

// The query interface each child answers (the standard INTERFACE header, then two calls).
typedef void (*PtaInterfaceCall)(void* context);
struct BusChildInfo;
typedef uint8_t (*PtaGetChildInfoCall)(void* context, BusChildInfo* info);

struct PtaBusInterface {
    uint16_t Size;
    uint16_t Version;
    void* Context;
    PtaInterfaceCall InterfaceReference;
    PtaInterfaceCall InterfaceDereference;
    PtaGetChildInfoCall GetChildInfo;
    PtaInterfaceCall ChildHandleClosed;
};

constexpr uint16_t kPtaBusInterfaceSize = 48;
constexpr uint16_t kPtaBusInterfaceVersion = 1;

// Filled by GetChildInfo; the caller zero-fills it. Only Magic and ChildIndex are read.
struct BusChildInfo {
    uint32_t Magic;
    uint8_t Reserved1[36];
    uint32_t ChildIndex;  // PortNumber + 1
    uint8_t Reserved2[20];
};

constexpr uint32_t kBusChildMagic = 0xC01DF00Du;

// Ids, packages and services.
#define PTA_BUS_HARDWARE_ID "root\\ptamf2"
#define PTA_CHILD_HARDWARE_ID "PTAMF2\\*PNP0501"
#define PTA_CHILD_ENUM_KEY "SYSTEM\\CurrentControlSet\\Enum\\PTAMF2\\*PNP0501"
#define PTA_CHILD_INSTANCE_FORMAT "%08X"
#define PTA_DEVICE_PARAMETERS "Device Parameters"
#define PTA_PORT_NAME_VALUE "PortName"
#define PTA_MULTIPORT_VALUE "MultiportDevice"
#define PTA_FRIENDLY_NAME_FORMAT "PORTARA SERIAL PORT (COM%d)"
// An older form of the friendly name, still matched when ports are removed.
#define PTA_FRIENDLY_NAME_FORMAT_OLD "PORTARA SERIAL PORT(COM%d)"

constexpr const char* BusHardwareId = PTA_BUS_HARDWARE_ID;
constexpr const char* ChildHardwareId = PTA_CHILD_HARDWARE_ID;
constexpr const char* ChildEnumKey = PTA_CHILD_ENUM_KEY;
constexpr const char* BusInfName = "ptamf2.inf";
constexpr const char* PortInfName = "ptaser2.inf";
constexpr const char* BusServiceName = "PTAMF2";
constexpr const char* OldBusServiceName = "PTAMF";  // version 1.x, removed at cleanup
constexpr const char* PortServiceName = "ptaser2";

static_assert(sizeof(BusAddRequest) == 8, "BusAddRequest is 8 bytes");
static_assert(offsetof(BusAddRequest, Count) == 4, "BusAddRequest.Count at 4");
static_assert(sizeof(BusChildInfo) == 64, "BusChildInfo is 64 bytes");
static_assert(offsetof(BusChildInfo, ChildIndex) == 40, "BusChildInfo.ChildIndex at 40");
#if defined(_WIN64) || defined(__x86_64__) || defined(__aarch64__)
static_assert(sizeof(PtaBusInterface) == kPtaBusInterfaceSize, "PtaBusInterface is 48 bytes");
static_assert(offsetof(PtaBusInterface, Version) == 2, "PtaBusInterface.Version at 2");
static_assert(offsetof(PtaBusInterface, Context) == 8, "PtaBusInterface.Context at 8");
static_assert(offsetof(PtaBusInterface, InterfaceReference) == 16, "InterfaceReference at 16");
static_assert(offsetof(PtaBusInterface, InterfaceDereference) == 24, "InterfaceDereference at 24");
static_assert(offsetof(PtaBusInterface, GetChildInfo) == 32, "GetChildInfo at 32");
static_assert(offsetof(PtaBusInterface, ChildHandleClosed) == 40, "ChildHandleClosed at 40");
#endif

}  // namespace pta
