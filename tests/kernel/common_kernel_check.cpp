// Compile-time checks: the shared headers build as kernel code and agree with the DDK.
#include <ntddk.h>
#include <ntddser.h>

#include "bus_contract.h"
#include "link_channel.h"
#include "registry_layout.h"

using namespace pta;

static_assert(IOCTL_LINK_PROBE ==
                  CTL_CODE(FILE_DEVICE_SERIAL_PORT, 100, METHOD_BUFFERED, FILE_ANY_ACCESS),
              "link codes use the serial device type");
static_assert(kFileDeviceSerialPort == FILE_DEVICE_SERIAL_PORT, "serial device type");
static_assert(sizeof(Guid) == sizeof(GUID), "Guid has the GUID layout");

// The bus query interface begins with the standard INTERFACE header.
static_assert(offsetof(PtaBusInterface, Size) == offsetof(INTERFACE, Size), "Size");
static_assert(offsetof(PtaBusInterface, Version) == offsetof(INTERFACE, Version), "Version");
static_assert(offsetof(PtaBusInterface, Context) == offsetof(INTERFACE, Context), "Context");
static_assert(offsetof(PtaBusInterface, InterfaceReference) ==
                  offsetof(INTERFACE, InterfaceReference), "InterfaceReference");
static_assert(offsetof(PtaBusInterface, InterfaceDereference) ==
                  offsetof(INTERFACE, InterfaceDereference), "InterfaceDereference");
static_assert(sizeof(BOOLEAN) == sizeof(uint8_t), "GetChildInfo returns a BOOLEAN");

// Wide forms of the shared names, as kernel code uses them.
const wchar_t* const kProductKeyW = PTA_WIDEN(PTA_PRODUCT_KEY);
const wchar_t* const kChildIdW = PTA_WIDEN(PTA_CHILD_HARDWARE_ID);
