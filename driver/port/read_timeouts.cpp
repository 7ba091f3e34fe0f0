#include "read_timeouts.h"

namespace pta {
namespace port {

bool TimeoutsValid(const SerialTimeouts& t)
{
    return !(t.ReadIntervalTimeout == MAXULONG32 && t.ReadTotalTimeoutMultiplier == MAXULONG32 &&
             t.ReadTotalTimeoutConstant == MAXULONG32);
}

ReadParams ComputeReadParams(const SerialTimeouts& t)
{
    const uint32_t interval = t.ReadIntervalTimeout;
    const uint32_t m = t.ReadTotalTimeoutMultiplier;
    const uint32_t c = t.ReadTotalTimeoutConstant;
    ReadParams p = {false, false, 0, 0, 0};

    if (interval != 0 && interval != MAXULONG32) {
        p.intervalMode = true;
        p.dueTime = interval >= kLongIntervalMs ? kOneSecondDue : kNextTickDue;
    }
    if (interval == MAXULONG32) {
        if ((c == 0 && m == 0) || c == MAXULONG32) {
            p.readImmediate = true;
            return p;
        }
        p.multiplier = m == MAXULONG32 ? 0 : m;
        p.constant = c;
        return p;
    }
    if (m != 0 || c != 0) {
        p.multiplier = m;
        p.constant = c;
    } else if (!p.intervalMode) {
        p.readImmediate = true;
    }
    return p;
}

namespace {

int64_t TotalDueTime(uint32_t length, uint32_t multiplier, uint32_t constant)
{
    constexpr uint64_t kMaxMs = static_cast<uint64_t>(INT64_MAX) / kTicksPerMs;
    const uint64_t product = static_cast<uint64_t>(length) * multiplier;  // < 2^64
    uint64_t ms = product + constant;
    if (ms < product || ms > kMaxMs) ms = kMaxMs;
    return -static_cast<int64_t>(ms) * kTicksPerMs;
}

}  // namespace

int64_t ReadDueTime(const ReadParams& p, uint32_t length)
{
    if (p.intervalMode) return p.dueTime;
    return TotalDueTime(length, p.multiplier, p.constant);
}

int64_t WriteDueTime(const SerialTimeouts& t, uint32_t length)
{
    if (t.WriteTotalTimeoutMultiplier == 0 && t.WriteTotalTimeoutConstant == 0) return 0;
    return TotalDueTime(length, t.WriteTotalTimeoutMultiplier, t.WriteTotalTimeoutConstant);
}

}  // namespace port
}  // namespace pta
