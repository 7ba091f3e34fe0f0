// The fake shell of the port model: records every completion, event signal and
// allocation, and runs the timers on a clock its user advances. Free of any test
// framework, so the stress test and the fuzz target use it too; what it finds wrong is
// counted in `problems`.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "serial_port.h"

namespace bench {

using namespace pta;
using namespace pta::port;

inline IoRequest* Req(uintptr_t n) { return reinterpret_cast<IoRequest*>(0x10000 + n * 16); }
inline IoHandle* Handle(uintptr_t n) { return reinterpret_cast<IoHandle*>(0x20000 + n * 16); }

struct Completion {
    IoRequest* request;
    NtStatus status;
    uint32_t information;
};

class FakeHost : public PortHost {
public:
    static constexpr uint64_t kNotifyHandle = 0x40;
    static constexpr uint64_t kSpareHandle = 0x44;

    void Problem(const char* what)
    {
        ++problems;
        if (lastProblem.empty()) lastProblem = what;
    }

    void* Allocate(size_t bytes) override
    {
        if (failAllocations) return nullptr;
        ++liveBlocks;
        return std::malloc(bytes);
    }
    void Release(void* block) override
    {
        --liveBlocks;
        std::free(block);
    }

    void Complete(IoRequest* request, NtStatus status, uint32_t information) override
    {
        if (!completed.insert(request).second) Problem("request completed twice");
        completions.push_back({request, status, information});
    }

    void StartTimer(PortTimer timer, int64_t dueTime) override
    {
        if (dueTime > 0) Problem("timer due time not relative");
        deadlines[timer] = DeadlineAfter(now, dueTime);
        lastDue[timer] = dueTime;
    }
    void CancelTimer(PortTimer timer) override { deadlines.erase(timer); }
    int64_t Now() override { return now; }

    bool ReferenceEvent(uint64_t handle, EventObject** event) override
    {
        if (handle != kNotifyHandle && handle != kSpareHandle) return false;
        *event = EventFor(handle);
        ++references[*event];
        return true;
    }
    void SignalEvent(EventObject* event) override { ++signals[event]; }
    void DereferenceEvent(EventObject* event) override
    {
        if (references[event] <= 0) Problem("event dereferenced more often than referenced");
        --references[event];
    }
    void ChildHandleClosed() override { ++childHandleClosed; }
    void RefreshNames() override { ++refreshNames; }

    static EventObject* EventFor(uint64_t handle)
    {
        return reinterpret_cast<EventObject*>(static_cast<uintptr_t>(0x30000 + handle));
    }
    int Signals(uint64_t handle) { return signals[EventFor(handle)]; }

    // Advances the clock, delivering every timer expiry on the way in order.
    void Advance(SerialPort& port, int64_t ms) { AdvanceTicks(port, ms * 10000); }

    void AdvanceTicks(SerialPort& port, int64_t ticks)
    {
        const int64_t end = now + ticks;
        for (;;) {
            auto next = deadlines.end();
            for (auto it = deadlines.begin(); it != deadlines.end(); ++it)
                if (it->second <= end && (next == deadlines.end() || it->second < next->second))
                    next = it;
            if (next == deadlines.end()) break;
            now = next->second;
            const PortTimer timer = next->first;
            deadlines.erase(next);
            port.OnTimer(timer);
        }
        now = end;
    }

    const Completion* Find(IoRequest* request) const
    {
        for (const Completion& c : completions)
            if (c.request == request) return &c;
        return nullptr;
    }
    bool Armed(PortTimer timer) const { return deadlines.count(timer) != 0; }

    // The interrupt time an hour after boot: deadlines must not assume a clock near 0.
    static constexpr int64_t kBootOffset = 36000000000;
    int64_t now = kBootOffset;
    std::map<PortTimer, int64_t> deadlines;
    std::map<PortTimer, int64_t> lastDue;
    std::vector<Completion> completions;
    std::set<IoRequest*> completed;
    std::map<EventObject*, int> signals;
    std::map<EventObject*, int> references;
    int liveBlocks = 0;
    int problems = 0;
    std::string lastProblem;
    bool failAllocations = false;
    int childHandleClosed = 0;
    int refreshNames = 0;
};

}  // namespace bench
