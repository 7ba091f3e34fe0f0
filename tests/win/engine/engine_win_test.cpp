// Port workers against the real drivers and a device server on loopback: an application
// opens the virtual COM ports while the workers carry them over TCP.
//
//   slot 0  COM5  "COM"         echoing server
//   slot 1  COM6  "Encryption"  echoing server
//   slot 2  COM7  "Raw"         echoing server
//   slot 3  COM8  "COM"         a server that refuses every connection
//   slot 4  COM9  "COM"         a server that keeps what it receives (its log has it)
//
// The application side uses overlapped I/O with bounded waits, so a request that never
// completes fails the test instead of hanging it.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common_control.h"
#include "driver_fixture.h"
#include "port_worker.h"
#include "raw_line.h"
#include "receive_scanner.h"

using namespace pta;

namespace {

constexpr DWORD kWaitMs = 10000;

struct SlotSetup {
    uint32_t slot;
    DWORD comNumber;
    uint32_t protocol;
    const char* portVariable;
};
const SlotSetup kSlots[] = {
    {0, 5, ProtocolCom, "PORTARA_SERVER_PORT"},
    {1, 6, ProtocolEncryption, "PORTARA_SERVER_PORT"},
    {2, 7, ProtocolRaw, "PORTARA_SERVER_PORT"},
    {3, 8, ProtocolCom, "PORTARA_REFUSING_PORT"},
    {4, 9, ProtocolCom, "PORTARA_SINK_PORT"},
};
constexpr size_t kSlotCount = sizeof kSlots / sizeof kSlots[0];

std::string RunFile(const char* name)
{
    const char* dir = std::getenv("PORTARA_RUN_DIR");
    return std::string(dir ? dir : ".") + "\\" + name;
}

std::vector<std::string> ServerLog(const char* file = "server.log")
{
    std::vector<std::string> lines;
    std::ifstream in(RunFile(file));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// A command for the echoing server (see run_engine_test.sh); returns once it was taken.
bool ServerCommand(const std::string& command)
{
    {
        std::ofstream out(RunFile("command.tmp"));
        out << command << "\n";
    }
    if (!MoveFileA(RunFile("command.tmp").c_str(), RunFile("command").c_str())) return false;
    return WaitFor([] { return GetFileAttributesA(RunFile("command").c_str()) == INVALID_FILE_ATTRIBUTES; },
                   5000);
}

// The server's log lines of the connection that came after `mark` lines: its id first.
std::vector<std::string> ConnectionLines(size_t mark, const char* file = "server.log")
{
    const std::vector<std::string> lines = ServerLog(file);
    std::string id;
    std::vector<std::string> out;
    for (size_t i = mark; i < lines.size(); ++i) {
        std::istringstream words(lines[i]);
        std::string verb, lineId;
        words >> verb >> lineId;
        if (id.empty() && verb == "connect") id = lineId;
        if (!id.empty() && lineId == id) out.push_back(lines[i]);
    }
    return out;
}

size_t Count(const std::vector<std::string>& lines, const std::string& part)
{
    size_t n = 0;
    for (const std::string& l : lines) n += l.find(part) != std::string::npos;
    return n;
}

// Messages the server received with this name.
size_t Received(const std::vector<std::string>& lines, const std::string& name)
{
    size_t n = 0;
    for (const std::string& l : lines) n += l.rfind("msg ", 0) == 0 && l.find(" " + name + " ") != std::string::npos;
    return n;
}

void SetDword(HKEY key, const char* name, DWORD value)
{
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

// Everything the tests share: the drivers, the configured slots and their workers.
class Engine : public testing::Environment {
public:
    static Engine* instance;
    CCommonControl store;
    std::unique_ptr<PortWorker> workers[kSlotCount];
    CRITICAL_SECTION lock;
    std::vector<std::pair<uint32_t, LinkReport>> reports;

    void SetUp() override
    {
        InitializeCriticalSection(&lock);
        WSADATA wsa;
        ASSERT_EQ(0, WSAStartup(MAKEWORD(1, 1), &wsa));
        InstallDrivers();
        for (const SlotSetup& s : kSlots) {
            ConfigureSlot(static_cast<int>(s.slot), s.comNumber);
            HKEY key;
            ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, SlotSubkey(s.slot).c_str(), 0,
                                                   KEY_ALL_ACCESS, &key));
            const char* port = std::getenv(s.portVariable);
            ASSERT_NE(port, nullptr) << s.portVariable;
            SetDword(key, IpAddressValue, 0x7F000001);
            SetDword(key, TcpPortValue, static_cast<DWORD>(std::atoi(port)));
            SetDword(key, EncryptionValue, s.protocol);
            RegCloseKey(key);
        }
        AskBus(true, kSlotCount);
        for (const SlotSetup& s : kSlots) {
            const std::string device = "ptaser2" + std::to_string(s.slot + 1);
            ASSERT_TRUE(WaitFor([&] { return Reaches(device); }, 40000)) << device;
        }
        for (const SlotSetup& s : kSlots) {
            workers[s.slot].reset(new PortWorker(s.slot, store));
            ASSERT_TRUE(workers[s.slot]->Running()) << "slot " << s.slot;
            workers[s.slot]->SetReportObserver([this](uint32_t slot, const LinkReport& r) {
                EnterCriticalSection(&lock);
                reports.push_back({slot, r});
                LeaveCriticalSection(&lock);
            });
        }
    }
    void TearDown() override
    {
        for (auto& w : workers) {
            if (w) {
                EXPECT_TRUE(w->Stop(true));
            }
            w.reset();
        }
        WSACleanup();
    }

    // Reports of a slot from index `from` on, as "kind failed status" text; modem status
    // reports only when asked for.
    std::vector<std::string> Reports(uint32_t slot, size_t from = 0, bool modemStatus = false)
    {
        std::vector<std::string> out;
        EnterCriticalSection(&lock);
        for (size_t i = from; i < reports.size(); ++i) {
            if (reports[i].first != slot) continue;
            if (!modemStatus && reports[i].second.Kind == REPORT_MODEM_STATUS) continue;
            char b[48];
            const LinkReport& r = reports[i].second;
            snprintf(b, sizeof b, "%u %u %X", r.Kind, r.Failed, r.Status);
            out.push_back(b);
        }
        LeaveCriticalSection(&lock);
        return out;
    }
    size_t ReportMark()
    {
        EnterCriticalSection(&lock);
        const size_t n = reports.size();
        LeaveCriticalSection(&lock);
        return n;
    }
};
Engine* Engine::instance = nullptr;

PortWorker& Worker(uint32_t slot) { return *Engine::instance->workers[slot]; }

// A serial application's handle on COMn, overlapped so that every wait is bounded.
class App {
public:
    explicit App(DWORD comNumber)
    {
        const std::string name = "\\\\.\\COM" + std::to_string(comNumber);
        h_ = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OVERLAPPED, nullptr);
    }
    ~App()
    {
        if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    }
    bool Valid() const { return h_ != INVALID_HANDLE_VALUE; }
    HANDLE Handle() const { return h_; }

    bool Configure(DWORD baud)
    {
        if (!SetRawLine(h_, baud)) return false;
        // A read returns what is there after 50 ms of quiet, or when it is full.
        COMMTIMEOUTS t = {};
        t.ReadIntervalTimeout = 50;
        t.ReadTotalTimeoutConstant = 200;
        return SetCommTimeouts(h_, &t) != FALSE;
    }
    // Writes and reads may run on two threads at once: each has an event of its own.
    bool Write(const std::string& data)
    {
        Event event;
        OVERLAPPED o = {};
        o.hEvent = event.h;
        DWORD done = 0;
        if (!WriteFile(h_, data.data(), static_cast<DWORD>(data.size()), &done, &o)) {
            if (GetLastError() != ERROR_IO_PENDING) return false;
            if (WaitForSingleObject(event.h, kWaitMs) != WAIT_OBJECT_0) {
                CancelIo(h_);
                return false;
            }
            if (!GetOverlappedResult(h_, &o, &done, FALSE)) return false;
        }
        return done == data.size();
    }
    // Reads until `length` bytes came or `ms` passed.
    std::string Read(size_t length, DWORD ms = kWaitMs)
    {
        Event event;
        std::string got;
        std::vector<char> buffer(65536);
        const ULONGLONG end = GetTickCount64() + ms;
        while (got.size() < length && GetTickCount64() < end) {
            OVERLAPPED o = {};
            o.hEvent = event.h;
            DWORD done = 0;
            const DWORD want = static_cast<DWORD>(std::min(buffer.size(), length - got.size()));
            if (!ReadFile(h_, buffer.data(), want, &done, &o)) {
                if (GetLastError() != ERROR_IO_PENDING) break;
                if (WaitForSingleObject(event.h, kWaitMs) != WAIT_OBJECT_0) {
                    CancelIo(h_);
                    break;
                }
                if (!GetOverlappedResult(h_, &o, &done, FALSE)) break;
            }
            got.append(buffer.data(), done);
        }
        return got;
    }

private:
    struct Event {
        HANDLE h = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        ~Event() { CloseHandle(h); }
    };
    HANDLE h_ = INVALID_HANDLE_VALUE;
};

std::string Pattern(size_t length, unsigned seed)
{
    // Bytes 0x7F and 0xFE never meet here, so no in-band message can appear.
    std::string data(length, '\0');
    for (size_t i = 0; i < length; ++i) data[i] = static_cast<char>(((i * 13 + seed) % 0x7E));
    return data;
}

// Opens COMn and waits until its worker has the port in use.
std::unique_ptr<App> OpenPort(uint32_t slot, DWORD comNumber)
{
    std::unique_ptr<App> app(new App(comNumber));
    EXPECT_TRUE(app->Valid()) << GetLastError();
    EXPECT_TRUE(WaitFor([&] { return Worker(slot).IsInUse(); }, kWaitMs)) << "COM" << comNumber;
    return app;
}

void ClosePort(std::unique_ptr<App>& app, uint32_t slot)
{
    app.reset();
    EXPECT_TRUE(WaitFor([&] { return !Worker(slot).IsInUse() && !Worker(slot).Core().Connected(); }, kWaitMs));
}

}  // namespace

TEST(Engine, OpenConnectsAndAnnouncesTheSettingsInOrder)
{
    const size_t mark = ServerLog().size();
    const size_t reports = Engine::instance->ReportMark();
    auto app = OpenPort(0, 5);
    ASSERT_TRUE(app->Configure(115200));
    ASSERT_TRUE(WaitFor([&] { return Count(ConnectionLines(mark), "MSG_BAUD 0a") > 0; }, kWaitMs));
    const auto lines = ConnectionLines(mark);
    std::vector<std::string> settings;
    for (const std::string& l : lines) {
        if (l.rfind("msg ", 0) == 0 && l.find("MSG_ALIVE") == std::string::npos)
            settings.push_back(l.substr(l.find("MSG_")));
    }
    // The worker's settings at connect, then the application's open and its settings.
    ASSERT_GE(settings.size(), 3u);
    EXPECT_EQ(settings[0].substr(0, 8), "MSG_BAUD");
    EXPECT_EQ(settings[1].substr(0, 16), "MSG_LINE_CONTROL");
    EXPECT_EQ(settings[2].substr(0, 17), "MSG_MODEM_CONTROL");
    EXPECT_EQ(Engine::instance->Reports(0, reports)[0], "1 0 0");
    const worker::PortStatus s = Worker(0).Status();
    EXPECT_EQ(s.value[worker::IND_ACT], worker::kLedOn);
    EXPECT_EQ(s.value[worker::IND_CON], worker::kLedOn);
    ClosePort(app, 0);
    EXPECT_EQ(Worker(0).Status().value[worker::IND_CON], worker::kLedOff);
}

TEST(Engine, ServerModemStatusReachesTheApplicationAndTheIndicators)
{
    auto app = OpenPort(0, 5);
    DWORD status = 0;
    EXPECT_TRUE(WaitFor([&] { return GetCommModemStatus(app->Handle(), &status) && (status & MS_CTS_ON); }, kWaitMs));
    EXPECT_EQ(status & (MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON), static_cast<DWORD>(MS_CTS_ON | MS_DSR_ON));
    const worker::PortStatus s = Worker(0).Status();
    EXPECT_EQ(s.value[worker::IND_CTS], worker::kLedOn);
    EXPECT_EQ(s.value[worker::IND_DSR], worker::kLedOn);
    EXPECT_EQ(s.value[worker::IND_DCD], worker::kLedOff);

    ASSERT_TRUE(ServerCommand("modem 0x80"));
    EXPECT_TRUE(WaitFor([&] { return GetCommModemStatus(app->Handle(), &status) && (status & MS_RLSD_ON); }, kWaitMs));
    EXPECT_EQ(Worker(0).Status().value[worker::IND_DCD], worker::kLedOn);
    EXPECT_EQ(Worker(0).Status().value[worker::IND_CTS], worker::kLedOff);
    ASSERT_TRUE(ServerCommand("modem 0x30"));
    ClosePort(app, 0);
}

TEST(Engine, BytesTravelBothWaysByteExact)
{
    struct Case {
        uint32_t slot;
        DWORD com;
        size_t length;
    } cases[] = {
        {0, 5, 1}, {0, 5, 5}, {1, 6, 5}, {2, 7, 5}, {0, 5, 4096}, {1, 6, 20000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "COM" << c.com << " " << c.length << " bytes");
        auto app = OpenPort(c.slot, c.com);
        ASSERT_TRUE(app->Configure(115200));
        const std::string data = Pattern(c.length, static_cast<unsigned>(c.length));
        ASSERT_TRUE(app->Write(data));
        const std::string back = app->Read(data.size());
        EXPECT_EQ(back.size(), data.size());
        EXPECT_TRUE(back == data);
        ClosePort(app, c.slot);
    }
}

// A megabyte through the echo, written and read at once; prints the throughput.
TEST(Engine, AMegabyteEchoesByteExact)
{
    for (const SlotSetup& s : {kSlots[0], kSlots[1]}) {
        SCOPED_TRACE(s.comNumber);
        auto app = OpenPort(s.slot, s.comNumber);
        ASSERT_TRUE(app->Configure(921600));
        const std::string data = Pattern(1 << 20, 3);
        struct Writer {
            App* app;
            const std::string* data;
            bool ok = true;
        } writer{app.get(), &data};
        const ULONGLONG start = GetTickCount64();
        HANDLE thread = CreateThread(
            nullptr, 0,
            [](LPVOID p) -> DWORD {
                auto& w = *static_cast<Writer*>(p);
                for (size_t at = 0; at < w.data->size() && w.ok; at += 4096)
                    w.ok = w.app->Write(w.data->substr(at, 4096));
                return 0;
            },
            &writer, 0, nullptr);
        ASSERT_NE(thread, nullptr);
        const std::string back = app->Read(data.size(), 120000);
        const ULONGLONG ms = GetTickCount64() - start;
        EXPECT_EQ(WaitForSingleObject(thread, kWaitMs), WAIT_OBJECT_0);
        CloseHandle(thread);
        EXPECT_TRUE(writer.ok);
        ASSERT_EQ(back.size(), data.size());
        EXPECT_TRUE(back == data);
        printf("[ figure ] COM%lu %s: 1 MiB echoed in %llu ms (%.2f MB/s)\n", s.comNumber,
               ProtocolText(s.protocol), ms, ms ? (1 << 20) / 1000.0 / ms : 0.0);
        ClosePort(app, s.slot);
    }
}

// An application that writes the moment its open returns, before the worker has even
// seen the port opened: every byte still goes out, in order. Writes are 64 KiB each, on
// a thread of their own while the echo is read back; a few opens in a row, with and
// without setting the port up first.
TEST(Engine, WritesRightAfterTheOpenAllArrive)
{
    struct Case {
        bool configure;
        size_t length;
    } cases[] = {{false, 256 * 1024}, {true, 1 << 20}, {false, 256 * 1024}, {true, 1 << 20}};
    unsigned seed = 7;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.configure ? "configured, " : "as opened, ") << c.length << " bytes");
        std::unique_ptr<App> app(new App(5));
        ASSERT_TRUE(app->Valid()) << GetLastError();
        if (c.configure) {
            ASSERT_TRUE(app->Configure(921600));
        }
        const std::string data = Pattern(c.length, seed++);
        struct Writer {
            App* app;
            const std::string* data;
            bool ok = true;
        } writer{app.get(), &data};
        HANDLE thread = CreateThread(
            nullptr, 0,
            [](LPVOID p) -> DWORD {
                auto& w = *static_cast<Writer*>(p);
                for (size_t at = 0; at < w.data->size() && w.ok; at += 65536)
                    w.ok = w.app->Write(w.data->substr(at, 65536));
                return 0;
            },
            &writer, 0, nullptr);
        ASSERT_NE(thread, nullptr);
        const std::string back = app->Read(data.size(), 60000);
        EXPECT_EQ(WaitForSingleObject(thread, kWaitMs), WAIT_OBJECT_0);
        CloseHandle(thread);
        EXPECT_TRUE(writer.ok);
        EXPECT_EQ(back.size(), data.size());
        if (back != data) {
            size_t at = 0;
            while (at < back.size() && at < data.size() && back[at] == data[at]) ++at;
            ADD_FAILURE() << "the echo differs from byte " << at << " on";
        }
        ClosePort(app, 0);
    }
}

// The bytes the sink server received on the connection after `mark` log lines.
std::string SinkData(size_t mark)
{
    std::string data;
    for (const std::string& line : ConnectionLines(mark, "sink.log")) {
        if (line.rfind("data ", 0) != 0) continue;
        const std::string hex = line.substr(line.rfind(' ') + 1);
        for (size_t i = 0; i + 1 < hex.size(); i += 2) data += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return data;
}

// At 9600 baud an application writes and closes the port the moment its write completes:
// every byte still reaches the server, and the connection ends in order.
TEST(Engine, AWriteFollowedAtOnceByACloseArrivesWhole)
{
    unsigned seed = 11;
    for (size_t length : {4096u, 65536u, 4096u}) {
        SCOPED_TRACE(length);
        const size_t mark = ServerLog("sink.log").size();
        auto app = OpenPort(4, 9);
        ASSERT_TRUE(app->Configure(9600));
        const std::string data = Pattern(length, seed++);
        ASSERT_TRUE(app->Write(data));
        ClosePort(app, 4);
        EXPECT_TRUE(WaitFor([&] { return Count(ConnectionLines(mark, "sink.log"), "close ") > 0; }, kWaitMs));
        const std::string got = SinkData(mark);
        EXPECT_EQ(got.size(), data.size());
        EXPECT_TRUE(got == data);
        // The engine ended the connection, in order: the server read its end.
        EXPECT_EQ(Count(ConnectionLines(mark, "sink.log"), " peer"), 1u);
        EXPECT_EQ(Worker(4).Core().DroppedTxBytes(), 0u);
        EXPECT_NE(Worker(4).Status().value[worker::IND_ERR], worker::kLedTxDropped);
    }
}

// A device server inside the test: it takes one connection, sends MSG_ALIVE every 500 ms
// and reads only while told to, keeping the data it reads (messages taken out). Its
// receive buffer is small, so a server that does not read is full soon.
class HoldingServer : private protocol::ReceiveSink {
public:
    HoldingServer()
    {
        InitializeCriticalSection(&lock_);
        listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        int small = 2048;
        setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&small), sizeof small);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int length = sizeof a;
        bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        listen(listener_, 1);
        getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &length);
        port_ = ntohs(a.sin_port);
        thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
    }
    ~HoldingServer()
    {
        stop_ = true;
        WaitForSingleObject(thread_, kWaitMs);
        CloseHandle(thread_);
        closesocket(listener_);
        DeleteCriticalSection(&lock_);
    }
    uint16_t Port() const { return port_; }
    void Read(bool on) { reading_ = on; }
    std::string Received()
    {
        EnterCriticalSection(&lock_);
        std::string copy = received_;
        LeaveCriticalSection(&lock_);
        return copy;
    }

private:
    static DWORD WINAPI Run(LPVOID self)
    {
        static_cast<HoldingServer*>(self)->Serve();
        return 0;
    }
    void Serve()
    {
        SOCKET c = INVALID_SOCKET;
        ULONGLONG nextAlive = 0;
        while (!stop_) {
            fd_set r;
            FD_ZERO(&r);
            FD_SET(c == INVALID_SOCKET ? listener_ : c, &r);
            timeval tv = {0, 10000};
            const bool ready = select(0, &r, nullptr, nullptr, &tv) > 0;
            if (c == INVALID_SOCKET) {
                if (ready) c = accept(listener_, nullptr, nullptr);
                continue;
            }
            if (GetTickCount64() >= nextAlive) {
                static const char alive[] = {0x7F, static_cast<char>(0xFE), 0x41, 0x00, static_cast<char>(0xF7)};
                send(c, alive, sizeof alive, 0);
                nextAlive = GetTickCount64() + 500;
            }
            if (ready && reading_) {
                char buffer[4096];
                const int n = recv(c, buffer, sizeof buffer, 0);
                if (n <= 0) break;
                EnterCriticalSection(&lock_);
                scanner_.Receive(reinterpret_cast<const uint8_t*>(buffer), static_cast<size_t>(n), *this);
                LeaveCriticalSection(&lock_);
            }
        }
        if (c != INVALID_SOCKET) closesocket(c);
    }
    void Deliver(const uint8_t* data, size_t length) override
    {
        received_.append(reinterpret_cast<const char*>(data), length);
    }
    void OnMessage(const protocol::ReceivedMessage&) override {}

    SOCKET listener_;
    uint16_t port_ = 0;
    HANDLE thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> reading_{false};
    CRITICAL_SECTION lock_;
    protocol::LinkKeys keys_;
    protocol::ReceiveScanner scanner_{protocol::LinkSide::DeviceServer, keys_};
    std::string received_;
};

// Points a slot at another TCP port for as long as it lives (the worker reads the port at
// each connect).
class SlotPort {
public:
    SlotPort(uint32_t slot, DWORD port, DWORD restore) : slot_(slot), restore_(restore) { Set(port); }
    ~SlotPort() { Set(restore_); }

private:
    void Set(DWORD port)
    {
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SlotSubkey(slot_).c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
            return;
        SetDword(key, TcpPortValue, port);
        RegCloseKey(key);
    }
    uint32_t slot_;
    DWORD restore_;
};

// An application write left to run while the test looks on.
class PendingWrite {
public:
    PendingWrite(HANDLE port, const std::string& data) : data_(data)
    {
        overlapped_.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (WriteFile(port, data_.data(), static_cast<DWORD>(data_.size()), nullptr, &overlapped_) ||
            GetLastError() == ERROR_IO_PENDING)
            started_ = true;
        port_ = port;
    }
    ~PendingWrite()
    {
        if (started_ && !Finished(0)) {
            CancelIo(port_);
            Finished(kWaitMs);
        }
        CloseHandle(overlapped_.hEvent);
    }
    bool Started() const { return started_; }
    // Whether it ended within `ms`; `written` then tells how much it wrote.
    bool Finished(DWORD ms)
    {
        if (WaitForSingleObject(overlapped_.hEvent, ms) != WAIT_OBJECT_0) return false;
        GetOverlappedResult(port_, &overlapped_, &written_, FALSE);
        return true;
    }
    DWORD Written() const { return written_; }

private:
    std::string data_;
    OVERLAPPED overlapped_ = {};
    HANDLE port_ = INVALID_HANDLE_VALUE;
    bool started_ = false;
    DWORD written_ = 0;
};

DWORD SinkPort() { return static_cast<DWORD>(std::atoi(std::getenv("PORTARA_SINK_PORT"))); }

// A server that keeps sending keep-alives but does not read (a serial device held off by
// flow control): the application's write waits, the link stays up, and once the server
// reads again every byte arrives.
TEST(Engine, AServerThatStopsReadingHoldsTheDataBackWithoutLosingTheLink)
{
    HoldingServer server;
    SlotPort pointed(4, server.Port(), SinkPort());
    const size_t reports = Engine::instance->ReportMark();
    auto app = OpenPort(4, 9);
    ASSERT_TRUE(app->Configure(9600));
    const std::string data = Pattern(65536, 23);
    PendingWrite write(app->Handle(), data);
    ASSERT_TRUE(write.Started());
    // Past AliveRxTimer (7000 ms).
    Sleep(9000);
    EXPECT_FALSE(Worker(4).Core().IsLinkLost());
    EXPECT_FALSE(write.Finished(0));
    // Settings are still answered at once meanwhile.
    const ULONGLONG before = GetTickCount64();
    EXPECT_TRUE(SetRawLine(app->Handle(), 19200));
    EXPECT_LT(GetTickCount64() - before, 1000u);
    server.Read(true);
    // A bound on a hang, not a speed: a loaded machine may take a while to move 64 KiB.
    ASSERT_TRUE(write.Finished(4 * kWaitMs));
    EXPECT_EQ(write.Written(), data.size());
    EXPECT_TRUE(WaitFor([&] { return server.Received().size() >= data.size(); }, kWaitMs));
    EXPECT_TRUE(server.Received() == data);
    EXPECT_EQ(Engine::instance->Reports(4, reports), std::vector<std::string>{"1 0 0"});
    ClosePort(app, 4);
}

// The application gives up on its write (it cancels it) and closes: the close is answered
// well inside the driver's handshake, and the bytes that could not leave are counted and
// shown.
TEST(Engine, ACloseWhileTheServerDoesNotReadIsAnsweredInTime)
{
    HoldingServer server;
    SlotPort pointed(4, server.Port(), SinkPort());
    const uint64_t droppedBefore = Worker(4).Core().DroppedTxBytes();
    auto app = OpenPort(4, 9);
    ASSERT_TRUE(app->Configure(9600));
    {
        PendingWrite write(app->Handle(), Pattern(65536, 29));
        ASSERT_TRUE(write.Started());
        Sleep(1500);
        EXPECT_FALSE(write.Finished(0));
    }  // cancelled
    const ULONGLONG start = GetTickCount64();
    ClosePort(app, 4);
    const ULONGLONG took = GetTickCount64() - start;
    printf("[ figure ] close with a server that does not read answered in %llu ms\n", took);
    EXPECT_LT(took, 8000u);
    EXPECT_GT(Worker(4).Core().DroppedTxBytes(), droppedBefore);
    EXPECT_EQ(Worker(4).Status().value[worker::IND_ERR], worker::kLedTxDropped);
}

TEST(Engine, KeepAliveLeavesWhenNothingElseIs)
{
    const size_t mark = ServerLog().size();
    auto app = OpenPort(0, 5);
    Sleep(5600);  // AliveTxTimer 2500: two keep-alives without traffic
    EXPECT_EQ(Received(ConnectionLines(mark), "MSG_ALIVE"), 2u);
    ClosePort(app, 0);
}

TEST(Engine, RawSendsNoSettingsButKeepAlives)
{
    const size_t mark = ServerLog().size();
    auto app = OpenPort(2, 7);
    ASSERT_TRUE(app->Configure(115200));
    ASSERT_TRUE(app->Write("raw"));
    EXPECT_EQ(app->Read(3), "raw");
    Sleep(2800);
    const auto lines = ConnectionLines(mark);
    EXPECT_EQ(Received(lines, "MSG_BAUD") + Received(lines, "MSG_LINE_CONTROL") + Received(lines, "MSG_MODEM_CONTROL"), 0u);
    EXPECT_EQ(Received(lines, "MSG_ALIVE"), 1u);
    ClosePort(app, 2);
}

TEST(Engine, EncryptionWorksOnTheFirstOpen)
{
    const size_t mark = ServerLog().size();
    const size_t reports = Engine::instance->ReportMark();
    auto app = OpenPort(1, 6);
    EXPECT_EQ(Engine::instance->Reports(1, reports)[0], "1 0 0");
    EXPECT_EQ(Count(ConnectionLines(mark), "key "), 1u);
    EXPECT_EQ(Worker(1).Core().KeyState(), 2);
    ASSERT_TRUE(app->Configure(9600));
    ASSERT_TRUE(app->Write("secret"));
    EXPECT_EQ(app->Read(6), "secret");
    ClosePort(app, 1);
}

TEST(Engine, UnreachableServerFailsTheOpen)
{
    const size_t reports = Engine::instance->ReportMark();
    App app(8);
    EXPECT_TRUE(WaitFor([&] { return !Engine::instance->Reports(3, reports).empty(); }, kWaitMs));
    EXPECT_EQ(Engine::instance->Reports(3, reports)[0], "1 1 C0000022");
    Sleep(300);
    EXPECT_FALSE(Worker(3).IsInUse());
    EXPECT_FALSE(Worker(3).Core().Connected());
    EXPECT_EQ(Worker(3).Status().value[worker::IND_CON], worker::kLedOff);
}

TEST(Engine, SilentServerLinkIsLostAndComesBack)
{
    const size_t reports = Engine::instance->ReportMark();
    auto app = OpenPort(0, 5);
    ASSERT_TRUE(app->Configure(115200));
    ASSERT_TRUE(app->Write("before"));
    EXPECT_EQ(app->Read(6), "before");

    // Silent past AliveRxTimer (7000 ms) and a few reconnection attempts.
    ASSERT_TRUE(ServerCommand("refuse on"));
    ASSERT_TRUE(ServerCommand("silent 10000"));
    EXPECT_TRUE(WaitFor([] { return Worker(0).Core().IsLinkLost(); }, 12000));
    EXPECT_EQ(Worker(0).Status().value[worker::IND_ERR], worker::kLedLinkLost);
    EXPECT_EQ(Worker(0).Status().value[worker::IND_CON], worker::kLedOn);
    Sleep(2500);
    ASSERT_TRUE(ServerCommand("refuse off"));
    ASSERT_TRUE(ServerCommand("silent off"));
    EXPECT_TRUE(WaitFor([] { return !Worker(0).Core().IsLinkLost(); }, 12000));

    const auto seen = Engine::instance->Reports(0, reports);
    ASSERT_GE(seen.size(), 5u);
    EXPECT_EQ(seen[0], "1 0 0");
    EXPECT_EQ(seen[1], "4 10053 0");
    // At least two failed attempts a second apart, then success and link up.
    EXPECT_GE(Count(seen, "1 1 C0000022"), 2u);
    EXPECT_EQ(seen[seen.size() - 2], "1 0 0");
    EXPECT_EQ(seen.back(), "5 0 0");
    EXPECT_EQ(Worker(0).Status().value[worker::IND_ERR], worker::kLedOff);

    ASSERT_TRUE(app->Write("after"));
    EXPECT_EQ(app->Read(5), "after");
    ClosePort(app, 0);
}

TEST(Engine, PortInUseIsNotStoppedButCanBeForcedClosed)
{
    auto app = OpenPort(0, 5);
    EXPECT_FALSE(Worker(0).Stop(false));
    EXPECT_TRUE(Worker(0).Running());
    ASSERT_TRUE(app->Configure(115200));
    ASSERT_TRUE(app->Write("still"));
    EXPECT_EQ(app->Read(5), "still");

    const size_t reports = Engine::instance->ReportMark();
    EXPECT_TRUE(Worker(0).ForceClose());
    EXPECT_FALSE(Worker(0).IsInUse());
    EXPECT_FALSE(Worker(0).Core().Connected());
    EXPECT_EQ(Engine::instance->Reports(0, reports), std::vector<std::string>{"2 0 0"});
    EXPECT_EQ(Worker(0).Status().value[worker::IND_ACT], worker::kLedOff);
    EXPECT_FALSE(Worker(0).ForceClose());
    app.reset();

    // The port opens again afterwards.
    app = OpenPort(0, 5);
    ASSERT_TRUE(app->Configure(115200));
    ASSERT_TRUE(app->Write("again"));
    EXPECT_EQ(app->Read(5), "again");
    ClosePort(app, 0);
}

// Figures, not checks: one-byte echo round trips, and the processor time the process
// spends while ports are closed, and while one is open without traffic.
TEST(Engine, Figures)
{
    auto cpuMs = [] {
        FILETIME created, exited, kernel, user;
        GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
        auto ms = [](const FILETIME& f) { return ((static_cast<ULONGLONG>(f.dwHighDateTime) << 32) | f.dwLowDateTime) / 10000; };
        return ms(kernel) + ms(user);
    };
    ULONGLONG before = cpuMs();
    Sleep(3000);
    printf("[ figure ] all ports closed: %llu ms processor time in 3 s\n", cpuMs() - before);

    auto app = OpenPort(0, 5);
    ASSERT_TRUE(app->Configure(115200));
    Sleep(500);
    before = cpuMs();
    Sleep(3000);
    printf("[ figure ] one port open, no traffic: %llu ms processor time in 3 s\n", cpuMs() - before);

    std::vector<double> rounds;
    LARGE_INTEGER f, a, b;
    QueryPerformanceFrequency(&f);
    for (int i = 0; i < 200; ++i) {
        QueryPerformanceCounter(&a);
        if (!app->Write("x") || app->Read(1, 2000) != "x") break;
        QueryPerformanceCounter(&b);
        rounds.push_back((b.QuadPart - a.QuadPart) * 1000.0 / f.QuadPart);
    }
    ASSERT_EQ(rounds.size(), 200u);
    std::sort(rounds.begin(), rounds.end());
    printf("[ figure ] one-byte echo round trip: median %.2f ms, 90%% %.2f ms\n", rounds[100], rounds[180]);
    ClosePort(app, 0);
}

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    Engine::instance = new Engine;
    testing::AddGlobalTestEnvironment(Engine::instance);
    return RUN_ALL_TESTS();
}
