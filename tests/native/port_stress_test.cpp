// One port driven from three threads at once, as the driver drives it: the application
// (create, reads, writes, waits, purges, cancels, close and cleanup), the control program
// (notifications, answers, puts, fetches, link reports, forced close, detach and
// re-attach) and the clock (timer expiries). Each call goes through the shell's lock.
// Every request the port pended must be completed exactly once, and none it answered at
// once may be completed again. Run it under ThreadSanitizer with port_stress_test_tsan.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <thread>

#include "port_fake_host.h"

using namespace bench;

namespace {

class LockedPort {
public:
    LockedPort() : port_(host_, 5) { port_.DeviceStart(); }

    template <typename F>
    auto Locked(F f)
    {
        std::lock_guard<std::mutex> guard(lock_);
        return f(port_, host_);
    }

    // A request id the shell hands the port, with a buffer that lives as long as the test.
    IoRequest* NewRequest(uint8_t** buffer, size_t size)
    {
        std::lock_guard<std::mutex> guard(lock_);
        IoRequest* request = Req(++lastRequest_);
        buffers_[request].reset(new uint8_t[size]());
        *buffer = buffers_[request].get();
        return request;
    }

    // The shell's record of the outcome of one call.
    void Record(IoRequest* request, const IoResult& result)
    {
        if (result.status == kStatusPending)
            pended_.insert(request);
        else
            answered_.insert(request);
    }

    std::set<IoRequest*> pended_;
    std::set<IoRequest*> answered_;

private:
    std::mutex lock_;
    FakeHost host_;
    SerialPort port_;
    uintptr_t lastRequest_ = 0;
    std::map<IoRequest*, std::unique_ptr<uint8_t[]>> buffers_;
};

// A seeded source of 32-bit values.
struct Rng {
    explicit Rng(unsigned seed) : engine(seed) {}
    uint32_t operator()() { return static_cast<uint32_t>(engine()); }
    std::mt19937 engine;
};

constexpr uint64_t kNotify = FakeHost::kNotifyHandle;
constexpr uint64_t kSpare = FakeHost::kSpareHandle;

IoResult Control(LockedPort& lp, IoHandle* handle, uint32_t code, const void* in, uint32_t inLength,
                 uint32_t outLength)
{
    uint8_t* buffer;
    IoRequest* request = lp.NewRequest(&buffer, std::max(inLength, outLength) + 1);
    if (in) std::memcpy(buffer, in, inLength);
    return lp.Locked([&](SerialPort& port, FakeHost&) {
        const IoResult r = port.DeviceControl(handle, request, code, buffer, inLength, outLength);
        lp.Record(request, r);
        return r;
    });
}

bool Completed(LockedPort& lp, IoRequest* request)
{
    return lp.Locked([&](SerialPort&, FakeHost& host) { return host.completed.count(request) != 0; });
}

void Attach(LockedPort& lp, IoHandle* control)
{
    lp.Locked([&](SerialPort& port, FakeHost&) { return port.Create(control, nullptr, false); });
    Control(lp, control, IOCTL_LINK_SET_NOTIFY_EVENT, &kNotify, 8, 0);
    Control(lp, control, IOCTL_LINK_SET_SPARE_EVENT, &kSpare, 8, 0);
    Control(lp, control, IOCTL_LINK_START, nullptr, 0, 0);
}

void ApplicationThread(LockedPort& lp, std::atomic<bool>& done, unsigned seed)
{
    Rng rng(seed);
    uintptr_t nextHandle = 100;
    std::vector<IoRequest*> outstanding;
    for (int step = 0; step < 10000; ++step) {
        IoHandle* app = Handle(++nextHandle);
        uint8_t* unused;
        IoRequest* create = lp.NewRequest(&unused, 1);
        const IoResult opened = lp.Locked([&](SerialPort& port, FakeHost&) {
            const IoResult r = port.Create(app, create, false);
            lp.Record(create, r);
            return r;
        });
        if (opened.status == kStatusPending)
            while (!Completed(lp, create)) std::this_thread::yield();

        const int uses = static_cast<int>(rng() % 30);
        for (int i = 0; i < uses; ++i, ++step) {
            uint8_t* buffer;
            const uint32_t length = rng() % 9000;
            IoRequest* request = lp.NewRequest(&buffer, length + 4);
            switch (rng() % 8) {
            case 0:
            case 1:
                lp.Locked([&](SerialPort& port, FakeHost&) {
                    const IoResult r = port.Read(app, request, buffer, length);
                    lp.Record(request, r);
                    return r;
                });
                break;
            case 2:
            case 3:
                lp.Locked([&](SerialPort& port, FakeHost&) {
                    const IoResult r = port.Write(app, request, buffer, length);
                    lp.Record(request, r);
                    return r;
                });
                break;
            case 4: {
                const uint32_t mask = rng() % 64;
                Control(lp, app, IOCTL_SERIAL_SET_WAIT_MASK, &mask, 4, 0);
                lp.Locked([&](SerialPort& port, FakeHost&) {
                    const IoResult r = port.DeviceControl(app, request, IOCTL_SERIAL_WAIT_ON_MASK, buffer, 0, 4);
                    lp.Record(request, r);
                    return r;
                });
                break;
            }
            case 5: {
                const uint32_t mask = rng() % 17;
                Control(lp, app, IOCTL_SERIAL_PURGE, &mask, 4, 0);
                break;
            }
            case 6: {
                const SerialTimeouts t = {rng() % 3 ? 0u : MAXULONG32, rng() % 3, rng() % 40, 0, 0};
                Control(lp, app, IOCTL_SERIAL_SET_TIMEOUTS, &t, sizeof t, 0);
                break;
            }
            default:
                if (!outstanding.empty()) {
                    IoRequest* victim = outstanding[rng() % outstanding.size()];
                    lp.Locked([&](SerialPort& port, FakeHost&) { return port.Cancel(victim); });
                }
                break;
            }
            outstanding.push_back(request);
            if (outstanding.size() > 64) outstanding.erase(outstanding.begin());
        }

        IoRequest* close = lp.NewRequest(&unused, 1);
        const IoResult closed = lp.Locked([&](SerialPort& port, FakeHost&) {
            port.Cleanup(app);
            const IoResult r = port.Close(app, close);
            lp.Record(close, r);
            return r;
        });
        if (closed.status == kStatusPending)
            while (!Completed(lp, close)) std::this_thread::yield();
    }
    done = true;
}

void ControlThread(LockedPort& lp, std::atomic<bool>& done, unsigned seed)
{
    Rng rng(seed);
    uintptr_t nextHandle = 1;
    IoHandle* control = Handle(nextHandle);
    Attach(lp, control);
    std::vector<uint8_t> data(9000, 0x5A);
    while (!done) {
        const IoResult notes = Control(lp, control, IOCTL_LINK_GET_NOTIFICATIONS, nullptr, 0, 1024);
        (void)notes;
        switch (rng() % 10) {
        case 0: {
            const LinkReport open = {REPORT_OPEN_RESULT, rng() % 4 == 0 ? 1u : 0u, kOpenFailedStatus};
            Control(lp, control, IOCTL_LINK_REPORT, &open, sizeof open, 0);
            break;
        }
        case 1: {
            const LinkReport closeDone = {REPORT_CLOSE_DONE, 0, 0};
            Control(lp, control, IOCTL_LINK_REPORT, &closeDone, sizeof closeDone, 0);
            break;
        }
        case 2: {
            const LinkReport link = {rng() % 2 ? uint32_t{REPORT_LINK_DOWN} : uint32_t{REPORT_LINK_UP}, 0, 0};
            Control(lp, control, IOCTL_LINK_REPORT, &link, sizeof link, 0);
            const LinkReport modem = {REPORT_MODEM_STATUS, rng() % 256, 0};
            Control(lp, control, IOCTL_LINK_REPORT, &modem, sizeof modem, 0);
            break;
        }
        case 3:
        case 4:
            Control(lp, control, IOCTL_LINK_PUT_RX, data.data(), 1 + rng() % 8999, 0);
            break;
        case 5:
        case 6:
            Control(lp, control, IOCTL_LINK_FETCH_TX, nullptr, 0, rng() % 2 ? 4096 : 1 + rng() % 5000);
            break;
        case 7:
            if (rng() % 20 == 0) Control(lp, control, IOCTL_LINK_FORCE_CLOSE, nullptr, 0, 0);
            break;
        case 8:
            if (rng() % 50 == 0) {
                uint8_t* unused;
                IoRequest* close = lp.NewRequest(&unused, 1);
                lp.Locked([&](SerialPort& port, FakeHost&) { return port.Close(control, close); });
                control = Handle(++nextHandle);
                Attach(lp, control);
            }
            break;
        default:
            std::this_thread::yield();
            break;
        }
    }
}

void ClockThread(LockedPort& lp, std::atomic<bool>& done)
{
    while (!done) {
        lp.Locked([](SerialPort& port, FakeHost& host) {
            host.Advance(port, 5);
            return 0;
        });
        std::this_thread::yield();
    }
}

}  // namespace

TEST(PortStress, EveryRequestCompletedExactlyOnce)
{
    LockedPort lp;
    std::atomic<bool> done(false);
    std::thread clock(ClockThread, std::ref(lp), std::ref(done));
    std::thread control(ControlThread, std::ref(lp), std::ref(done), 7u);
    std::thread application(ApplicationThread, std::ref(lp), std::ref(done), 11u);
    application.join();
    control.join();
    clock.join();

    lp.Locked([&](SerialPort& port, FakeHost& host) {
        port.DeviceStop();
        EXPECT_EQ(host.problems, 0) << host.lastProblem;
        for (IoRequest* r : lp.pended_) EXPECT_EQ(host.completed.count(r), 1u) << "never completed";
        for (IoRequest* r : lp.answered_) EXPECT_EQ(host.completed.count(r), 0u) << "completed twice";
        EXPECT_EQ(host.completed.size(), lp.pended_.size());
        // The run got the port open and moved data both ways.
        EXPECT_GT(lp.pended_.size(), 1000u);
        uint32_t withData = 0, cancelled = 0;
        for (const Completion& c : host.completions) {
            withData += c.status == kStatusSuccess && c.information > 0;
            cancelled += c.status == kStatusCancelled;
        }
        EXPECT_GT(withData, 100u);
        EXPECT_GT(cancelled, 10u);
        std::printf("pended %zu, completed with data %u, cancelled %u\n", lp.pended_.size(), withData, cancelled);
        return 0;
    });
}
