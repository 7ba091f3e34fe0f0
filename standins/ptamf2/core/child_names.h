// The ids, names and registry paths of a child device, as UTF-16 text for the kernel.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "bus_contract.h"
#include "registry_layout.h"

namespace ptamf2 {

// Narrow formats with at most one number conversion each (see FormatName).
#define PTAMF2_MACHINE_ROOT "\\Registry\\Machine\\"
constexpr const char* kProductKeyPath = PTAMF2_MACHINE_ROOT PTA_PRODUCT_KEY;
// The part of a child's key path that always exists; keys below it are created one by one.
constexpr const char* kEnumRootPath = PTAMF2_MACHINE_ROOT "SYSTEM\\CurrentControlSet\\Enum";
constexpr const char* kInstanceKeyFormat =
    PTAMF2_MACHINE_ROOT PTA_CHILD_ENUM_KEY "\\" PTA_CHILD_INSTANCE_FORMAT;
constexpr const char* kComNameFormat = "COM%d";
constexpr const char* kFriendlyNameFormat = PTA_FRIENDLY_NAME_FORMAT;
constexpr const char* kFriendlyNameValue = "FriendlyName";

// Room for any id, name or path above, with its terminators.
constexpr size_t kMaxNameChars = 128;

// Writes fmt with its conversion (%d, or %0<width>d / %0<width>X) applied to value, as
// zero-terminated UTF-16. Returns the characters written without the terminator, or 0
// when out is too small or fmt has a conversion it does not know (out is then "").
size_t FormatName(char16_t* out, size_t cap, const char* fmt, uint32_t value);

// The id types of a Plug and Play id query that a child answers (BUS_QUERY_ID_TYPE).
enum ChildIdType : uint32_t {
    ChildDeviceId = 0,
    ChildHardwareIds = 1,
    ChildCompatibleIds = 2,
    ChildInstanceId = 3,
};

// Builds the child's answer to an id query: the device id and instance id as strings,
// the hardware and compatible ids as multi-strings (the compatible ids are one empty
// string: the list must not be missing). Returns the characters to hand over, all
// terminators included, or 0 for an id type the child does not answer or a small out.
size_t BuildChildId(uint32_t idType, uint32_t slot, char16_t* out, size_t cap);

}  // namespace ptamf2
