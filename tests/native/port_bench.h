// A port on the test bench: a started port on the fake shell, with helpers for the
// application's and the control program's requests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <cstring>
#include <vector>

#include "port_fake_host.h"

namespace bench {

// A started port with helpers for both ends.
class PortBench : public ::testing::Test {
protected:
    static constexpr uint32_t kCom = 5;

    PortBench() : port(host, kCom) { port.DeviceStart(); }

    void TearDown() override
    {
        port.DeviceStop();
        EXPECT_EQ(host.problems, 0) << host.lastProblem;
        // Only undrained notifications may still hold memory once the device stopped.
        EXPECT_EQ(host.liveBlocks, static_cast<int>(port.Channel().notifyQueue.Count()));
    }

    // A fresh port with nothing pending and nobody attached, on the same host.
    void Restart()
    {
        port.~SerialPort();
        new (&port) SerialPort(host, kCom);
        port.DeviceStart();
        host.completions.clear();
        host.completed.clear();
    }

    IoResult Ioctl(IoHandle* handle, uint32_t code, const void* in, uint32_t inLength,
                   uint32_t outLength, IoRequest* request = nullptr)
    {
        buffer.assign(std::max<size_t>(std::max(inLength, outLength), 1), 0);
        if (in) std::memcpy(buffer.data(), in, inLength);
        return port.DeviceControl(handle, request ? request : Req(9999), code, buffer.data(),
                                  inLength, outLength);
    }
    template <typename T>
    IoResult Set(uint32_t code, const T& value, IoHandle* handle = Handle(2))
    {
        return Ioctl(handle, code, &value, sizeof value, 0);
    }
    template <typename T>
    T Get(uint32_t code, IoHandle* handle = Handle(2))
    {
        const IoResult r = Ioctl(handle, code, nullptr, 0, sizeof(T));
        EXPECT_EQ(r.status, kStatusSuccess);
        EXPECT_EQ(r.information, sizeof(T));
        T value;
        std::memcpy(&value, buffer.data(), sizeof value);
        return value;
    }

    // The control program: opens its handle, registers both events, starts.
    void AttachControl(IoHandle* control = Handle(1))
    {
        ASSERT_EQ(port.Create(control, Req(100), false).status, kStatusSuccess);
        const uint64_t notify = FakeHost::kNotifyHandle, spare = FakeHost::kSpareHandle;
        ASSERT_EQ(Set(IOCTL_LINK_SET_NOTIFY_EVENT, notify, control).status, kStatusSuccess);
        ASSERT_EQ(Set(IOCTL_LINK_SET_SPARE_EVENT, spare, control).status, kStatusSuccess);
        ASSERT_EQ(Ioctl(control, IOCTL_LINK_START, nullptr, 0, 0).status, kStatusSuccess);
    }

    IoResult Report(uint32_t kind, uint32_t failed = 0, uint32_t status = 0)
    {
        const LinkReport report = {kind, failed, status};
        return Set(IOCTL_LINK_REPORT, report, Handle(1));
    }

    // An application open answered by the control program.
    void OpenApplication(IoHandle* app = Handle(2), IoRequest* create = Req(200))
    {
        ASSERT_EQ(port.Create(app, create, false).status, kStatusPending);
        Report(REPORT_OPEN_RESULT, 0, 0);
        const Completion* c = host.Find(create);
        ASSERT_NE(c, nullptr);
        ASSERT_EQ(c->status, kStatusSuccess);
        ASSERT_EQ(port.State(), PORT_OPEN);
    }

    // Attached, an application holds the port, notifications drained.
    void OpenPort()
    {
        AttachControl();
        OpenApplication();
        Drain();
    }

    std::vector<LinkNotification> Drain(uint32_t size = kNotificationBufferSize)
    {
        std::vector<LinkNotification> out;
        for (;;) {
            const IoResult r = Ioctl(Handle(1), IOCTL_LINK_GET_NOTIFICATIONS, nullptr, 0, size);
            EXPECT_EQ(r.status, kStatusSuccess);
            if (r.information == 0) break;
            for (uint32_t at = 0; at < r.information; at += sizeof(LinkNotification)) {
                LinkNotification n;
                std::memcpy(&n, buffer.data() + at, sizeof n);
                out.push_back(n);
            }
        }
        return out;
    }

    IoResult PutRx(uint32_t length, uint8_t first = 0)
    {
        std::vector<uint8_t> data(length);
        for (uint32_t i = 0; i < length; ++i) data[i] = static_cast<uint8_t>(first + i);
        return Ioctl(Handle(1), IOCTL_LINK_PUT_RX, data.data(), length, 0);
    }

    IoResult Fetch(uint32_t size) { return Ioctl(Handle(1), IOCTL_LINK_FETCH_TX, nullptr, 0, size); }

    IoResult Write(uint32_t length, IoRequest* request, IoHandle* app = Handle(2))
    {
        written.assign(length, 0);
        for (uint32_t i = 0; i < length; ++i) written[i] = static_cast<uint8_t>(i * 7);
        return port.Write(app, request, written.data(), length);
    }

    IoResult SetTimeouts(uint32_t interval, uint32_t multiplier, uint32_t constant)
    {
        const SerialTimeouts t = {interval, multiplier, constant, 0, 0};
        return Set(IOCTL_SERIAL_SET_TIMEOUTS, t);
    }

    FakeHost host;
    SerialPort port;
    std::vector<uint8_t> buffer;
    std::vector<uint8_t> written;
    uint8_t readBuffer[9000];
};

typedef std::vector<std::pair<uint32_t, uint32_t>> Notes;

inline Notes AsPairs(const std::vector<LinkNotification>& records)
{
    Notes out;
    for (const LinkNotification& n : records) out.push_back({n.Code, n.Value});
    return out;
}

}  // namespace bench
