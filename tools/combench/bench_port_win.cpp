// The benchmark's port on Windows: a COM port through the standard serial calls.
#include <windows.h>

#include "bench_port.h"
#include "raw_line.h"

namespace combench {

namespace {

class WinPort : public BenchPort {
public:
    explicit WinPort(HANDLE h) : h_(h) {}
    ~WinPort() override { CloseHandle(h_); }

    bool WriteAll(const uint8_t* data, size_t length) override
    {
        while (length > 0) {
            DWORD written = 0;
            const DWORD piece = static_cast<DWORD>(length > 65536 ? 65536 : length);
            if (!WriteFile(h_, data, piece, &written, nullptr) || written == 0) return false;
            data += written;
            length -= written;
        }
        return true;
    }

    long ReadSome(uint8_t* buffer, size_t capacity, unsigned timeoutMs) override
    {
        // Interval and multiplier MAXDWORD with a constant: return at once with what is
        // queued, else wait up to the constant for the first byte.
        if (timeoutMs != timeoutMs_) {
            COMMTIMEOUTS t = {};
            t.ReadIntervalTimeout = MAXDWORD;
            t.ReadTotalTimeoutMultiplier = MAXDWORD;
            t.ReadTotalTimeoutConstant = timeoutMs;
            t.WriteTotalTimeoutConstant = kWriteTimeoutMs;
            if (!SetCommTimeouts(h_, &t)) return -1;
            timeoutMs_ = timeoutMs;
        }
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(capacity > 65536 ? 65536 : capacity);
        if (!ReadFile(h_, buffer, want, &got, nullptr)) return -1;
        return static_cast<long>(got);
    }

    bool Counters(pta::LinkCounters* out) override
    {
        DWORD returned = 0;
        return DeviceIoControl(h_, pta::IOCTL_LINK_QUERY_COUNTERS, nullptr, 0, out, sizeof *out, &returned,
                               nullptr) &&
               returned >= sizeof *out;
    }

    static constexpr DWORD kWriteTimeoutMs = 20000;

private:
    HANDLE h_;
    unsigned timeoutMs_ = 0;
};

}  // namespace

BenchPort* OpenBenchPort(const std::string& name, unsigned baud, std::string& error)
{
    const std::string path = "\\\\.\\" + name;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = "CreateFile failed (" + std::to_string(GetLastError()) + ")";
        return nullptr;
    }
    bool ok = SetRawLine(h, baud);
    COMMTIMEOUTS t = {};
    t.ReadIntervalTimeout = MAXDWORD;
    t.ReadTotalTimeoutMultiplier = MAXDWORD;
    t.ReadTotalTimeoutConstant = 1000;
    t.WriteTotalTimeoutConstant = WinPort::kWriteTimeoutMs;
    ok = ok && SetCommTimeouts(h, &t);
    if (!ok) {
        error = "setting up the port failed (" + std::to_string(GetLastError()) + ")";
        CloseHandle(h);
        return nullptr;
    }
    return new WinPort(h);
}

double NowMs()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

}  // namespace combench
