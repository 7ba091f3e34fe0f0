// Read and write time-outs: how long a read that finds the receive ring empty waits, derived from
// the port's time-out settings.
#pragma once

#include "serial_defs.h"

namespace pta {
namespace port {

// Timer due times are in 100-nanosecond units; negative means relative.
constexpr int64_t kTicksPerMs = 10000;
// An interval time-out this long or longer waits a full second; shorter ones wait for
// the next clock tick only.
constexpr uint32_t kLongIntervalMs = 20000;
constexpr int64_t kOneSecondDue = -10000000;
constexpr int64_t kNextTickDue = -1;

struct ReadParams {
    bool readImmediate;  // an empty ring answers at once with no data
    bool intervalMode;   // dueTime is fixed, whatever the read's length
    uint32_t multiplier;
    uint32_t constant;
    int64_t dueTime;     // used in interval mode
};

// The three read values all MAXULONG are not a valid setting.
bool TimeoutsValid(const SerialTimeouts& timeouts);

ReadParams ComputeReadParams(const SerialTimeouts& timeouts);

// The relative due time of a waiting read of `length` bytes. Saturates rather than
// wrapping when length × multiplier + constant milliseconds do not fit.
int64_t ReadDueTime(const ReadParams& params, uint32_t length);

// The relative due time of a write's total time-out, length × multiplier + constant
// milliseconds, saturating like ReadDueTime; 0 when both are 0 (no time-out).
int64_t WriteDueTime(const SerialTimeouts& timeouts, uint32_t length);

}  // namespace port
}  // namespace pta
