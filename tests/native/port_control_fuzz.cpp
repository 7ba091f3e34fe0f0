// Fuzz target over the port's entry points: the input is a script of creates, closes,
// reads, writes, device control codes with arbitrary buffers and lengths, reports,
// cancellations, clock steps and device stops. Every buffer is exactly as long as the
// lengths the port is told, so a read or write past them is caught by AddressSanitizer;
// each pended request must be completed exactly once, and none answered at once again.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "port_fake_host.h"

using namespace bench;

namespace {

class Script {
public:
    Script(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool More() const { return at_ < size_; }
    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    uint32_t Length(uint32_t limit)
    {
        const uint32_t raw = static_cast<uint32_t>(Byte()) | static_cast<uint32_t>(Byte()) << 8;
        return raw % (limit + 1);
    }
    void Fill(uint8_t* out, size_t n)
    {
        for (size_t i = 0; i < n; ++i) out[i] = Byte();
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

const uint32_t kCodes[] = {
    IOCTL_SERIAL_SET_BAUD_RATE,   IOCTL_SERIAL_SET_LINE_CONTROL, IOCTL_SERIAL_SET_TIMEOUTS,
    IOCTL_SERIAL_SET_DTR,         IOCTL_SERIAL_CLR_DTR,          IOCTL_SERIAL_SET_RTS,
    IOCTL_SERIAL_CLR_RTS,         IOCTL_SERIAL_GET_WAIT_MASK,    IOCTL_SERIAL_SET_WAIT_MASK,
    IOCTL_SERIAL_WAIT_ON_MASK,    IOCTL_SERIAL_PURGE,            IOCTL_SERIAL_GET_BAUD_RATE,
    IOCTL_SERIAL_GET_LINE_CONTROL, IOCTL_SERIAL_GET_CHARS,       IOCTL_SERIAL_SET_CHARS,
    IOCTL_SERIAL_GET_HANDFLOW,    IOCTL_SERIAL_SET_HANDFLOW,     IOCTL_SERIAL_GET_MODEMSTATUS,
    IOCTL_SERIAL_GET_COMMSTATUS,  IOCTL_SERIAL_GET_STATS,        IOCTL_SERIAL_CLEAR_STATS,
    IOCTL_LINK_PROBE,             IOCTL_LINK_SET_NOTIFY_EVENT,   IOCTL_LINK_SET_SPARE_EVENT,
    IOCTL_LINK_START,             IOCTL_LINK_GET_NOTIFICATIONS,  IOCTL_LINK_REPORT,
    IOCTL_LINK_FETCH_TX,          IOCTL_LINK_PUT_RX,             IOCTL_LINK_REFRESH_NAMES,
    IOCTL_LINK_FORCE_CLOSE,
};
constexpr uint32_t kCodeCount = sizeof kCodes / sizeof kCodes[0];

void Check(bool ok, const char* what)
{
    if (ok) return;
    std::fprintf(stderr, "port fuzz: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Script script(data, size);
    FakeHost host;
    std::vector<std::unique_ptr<uint8_t[]>> buffers;
    std::set<IoRequest*> pended, answered;
    uintptr_t lastRequest = 0;
    int renamesEnded = 0;
    {
        SerialPort port(host, 5);
        port.DeviceStart();
        auto record = [&](IoRequest* r, const IoResult& result) {
            (result.status == kStatusPending ? pended : answered).insert(r);
        };
        auto buffer = [&](size_t n) -> uint8_t* {
            if (n == 0) return nullptr;
            buffers.emplace_back(new uint8_t[n]);
            return buffers.back().get();
        };

        while (script.More()) {
            IoRequest* request = Req(++lastRequest);
            IoHandle* handle = Handle(script.Byte() % 4);
            switch (script.Byte() % 12) {
            case 0:
            case 1:
            case 2: {
                const uint8_t pick = script.Byte();
                const uint32_t code = pick < 3 * kCodeCount ? kCodes[pick % kCodeCount]
                                                            : 0x001B0000u | script.Byte() << 2;
                const uint32_t in = script.Length(64), out = script.Length(4200);
                uint8_t* b = buffer(in > out ? in : out);
                if (b) script.Fill(b, in);
                // Event handles the fake shell resolves, now and then.
                if (b && in >= 8 && pick % 2) {
                    const uint64_t h = pick % 4 == 1 ? FakeHost::kNotifyHandle : FakeHost::kSpareHandle;
                    std::memcpy(b, &h, 8);
                }
                record(request, port.DeviceControl(handle, request, code, b, in, out));
                break;
            }
            case 3: {
                const uint32_t n = script.Length(9000);
                record(request, port.Read(handle, request, buffer(n), n));
                break;
            }
            case 4: {
                const uint32_t n = script.Length(9000);
                uint8_t* b = buffer(n);
                if (b) script.Fill(b, n);
                record(request, port.Write(handle, request, b, n));
                break;
            }
            case 5: record(request, port.Create(handle, request, script.Byte() == 0)); break;
            case 6: record(request, port.Close(handle, request)); break;
            case 7: host.Advance(port, script.Byte() * 50); break;
            case 8: port.Cancel(Req(lastRequest - 1 - script.Byte() % 8)); break;
            case 9: port.Cleanup(handle); break;
            case 10: {
                const uint32_t in = script.Length(64), out = script.Length(64);
                uint8_t* b = buffer(in > out ? in : out);
                if (b) script.Fill(b, in);
                port.InternalDeviceControl(0x001B0000u | (script.Byte() % 8) << 2, b, in, out);
                break;
            }
            default: {
                const uint8_t pick = script.Byte() % 8;
                if (pick == 0) {
                    port.DeviceStop();
                    port.DeviceStart();
                } else if (pick == 1 && host.refreshNames > renamesEnded) {
                    // The shell has replaced the names the port asked it to refresh.
                    port.EndRename(5, static_cast<uint32_t>(host.refreshNames - renamesEnded));
                    renamesEnded = host.refreshNames;
                }
                break;
            }
            }
            Check(host.problems == 0, host.lastProblem.c_str());
        }
        port.DeviceStop();
        for (IoRequest* r : pended) Check(host.completed.count(r) == 1, "pended request never completed");
        for (IoRequest* r : answered) Check(host.completed.count(r) == 0, "answered request completed again");
    }
    Check(host.liveBlocks == 0, "memory left allocated");
    return 0;
}
