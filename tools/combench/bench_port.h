// The serial port as the benchmark sees it: open at a baud rate with 8N1 and no flow
// control, write everything, read with a time-out, a monotonic clock.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "link_channel.h"

namespace combench {

class BenchPort {
public:
    virtual ~BenchPort() = default;
    // Writes all of `data`; false on an error or when the port stops taking data.
    virtual bool WriteAll(const uint8_t* data, size_t length) = 0;
    // Reads what is there, up to `capacity` bytes, waiting at most `timeoutMs` for the
    // first byte. Returns the count (0 when the time passed), or -1 on an error.
    virtual long ReadSome(uint8_t* buffer, size_t capacity, unsigned timeoutMs) = 0;
    // The port driver's request counters (a virtual port only); false where there are none.
    virtual bool Counters(pta::LinkCounters* out) { (void)out; return false; }
};

// Opens a port by name (COM5 on Windows, /dev/pts/3 on Linux) at `baud`, 8N1; nullptr
// with `error` set when it cannot.
BenchPort* OpenBenchPort(const std::string& name, unsigned baud, std::string& error);

// Milliseconds on a monotonic clock.
double NowMs();

}  // namespace combench
