// NT status values the driver decides on, for code that cannot include <ntstatus.h>.
#pragma once

#include <stdint.h>

namespace pta {

typedef int32_t NtStatus;

constexpr NtStatus kStatusSuccess = 0;
constexpr NtStatus kStatusPending = 0x00000103;
constexpr NtStatus kStatusDeviceBusy = static_cast<NtStatus>(0x80000011u);
constexpr NtStatus kStatusNoMoreEntries = static_cast<NtStatus>(0x8000001Au);
constexpr NtStatus kStatusInvalidParameter = static_cast<NtStatus>(0xC000000Du);
constexpr NtStatus kStatusBufferTooSmall = static_cast<NtStatus>(0xC0000023u);
constexpr NtStatus kStatusObjectNameCollision = static_cast<NtStatus>(0xC0000035u);
constexpr NtStatus kStatusDeviceNotReady = static_cast<NtStatus>(0xC00000A3u);
constexpr NtStatus kStatusNotSupported = static_cast<NtStatus>(0xC00000BBu);
constexpr NtStatus kStatusDeviceRemoved = static_cast<NtStatus>(0xC00002B6u);

constexpr bool IsSuccess(NtStatus status) { return status >= 0; }

}  // namespace pta
