// The port manager against the real drivers and a device server on loopback: start-up and
// its failures, the single-instance guard, starting and stopping workers, the forced
// close, teardown; and the COM port database as the program keeps it under Wine.
//
//   slot 0  COM5   echoing server
//   slot 1  COM6   echoing server
//   slot 9  COM14  configured only by the test that needs a device that never comes up
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "com_db.h"
#include "common_control.h"
#include "driver_fixture.h"
#include "driver_setup.h"
#include "message_box.h"
#include "port_worker.h"

using namespace pta;

namespace {

constexpr DWORD kWaitMs = 30000;  // generous: a busy machine slows the open handshake
const uint32_t kSlots[] = {0, 1};
const DWORD kComNumbers[] = {5, 6};
constexpr uint32_t kDeadSlot = 9;

void SetDword(HKEY root, const char* subkey, const char* name, DWORD value)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, subkey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4));
    RegCloseKey(key);
}

bool GetDword(const char* subkey, const char* name, DWORD* value)
{
    DWORD size = sizeof *value;
    DWORD type = 0;
    return RegGetValueA(HKEY_LOCAL_MACHINE, subkey, name, RRF_RT_ANY, &type, value, &size) == ERROR_SUCCESS &&
           type == REG_DWORD;
}

void DeleteValue(const char* subkey, const char* name)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
    RegDeleteValueA(key, name);
    RegCloseKey(key);
}

// The stored COM port database: its type and bytes.
struct StoredDb {
    DWORD type = REG_NONE;
    std::vector<BYTE> bytes;
    bool present = false;
};

StoredDb ReadStoredDb()
{
    StoredDb db;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kComNameArbiterKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return db;
    DWORD size = 0;
    if (RegQueryValueExA(key, kComDbValue, nullptr, &db.type, nullptr, &size) == ERROR_SUCCESS) {
        db.bytes.resize(size);
        db.present = RegQueryValueExA(key, kComDbValue, nullptr, &db.type, db.bytes.data(), &size) == ERROR_SUCCESS;
        db.bytes.resize(size);
    }
    RegCloseKey(key);
    return db;
}

void WriteStoredDb(DWORD type, const std::vector<BYTE>& bytes)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kComNameArbiterKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &key, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, kComDbValue, 0, type, bytes.data(), static_cast<DWORD>(bytes.size())));
    RegCloseKey(key);
}

void DeleteStoredDb() { DeleteValue(kComNameArbiterKey, kComDbValue); }

// Every message box of a scope, answered with `answer`.
struct Box {
    std::string text;
    std::string caption;
    UINT flags;
};
class Boxes {
public:
    explicit Boxes(int answer = IDOK)
        : hook_([this, answer](const std::string& text, const std::string& caption, UINT flags) {
              shown.push_back({text, caption, flags});
              return answer;
          })
    {
    }
    std::vector<Box> shown;

private:
    ScopedMessageBoxHook hook_;
};

// Another party's registration with the bus (as a run that was not ended leaves behind).
class ForeignAttach {
public:
    ForeignAttach() : bus_(OpenBusInterface()), event_(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}
    ~ForeignAttach()
    {
        if (bus_ != INVALID_HANDLE_VALUE) CloseHandle(bus_);
        CloseHandle(event_);
    }
    bool Attach() { return BusAttachEvent(bus_, event_); }
    bool Detach() { return BusDetachEvent(bus_, event_); }

private:
    HANDLE bus_;
    HANDLE event_;
};

// True when the bus takes a new registration, which is then given back at once.
bool BusFree()
{
    ForeignAttach other;
    if (!other.Attach()) return false;
    other.Detach();
    return true;
}

// A serial application's handle on COMn.
class App {
public:
    explicit App(DWORD comNumber)
    {
        const std::string name = "\\\\.\\COM" + std::to_string(comNumber);
        h_ = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                         nullptr);
    }
    ~App() { Close(); }
    void Close()
    {
        if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
        h_ = INVALID_HANDLE_VALUE;
    }
    bool Valid() const { return h_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE h_;
};

class ManagerEnvironment : public testing::Environment {
public:
    void SetUp() override
    {
        InstallDrivers();
        const char* port = std::getenv("PORTARA_SERVER_PORT");
        ASSERT_NE(port, nullptr);
        for (size_t i = 0; i < 2; ++i) {
            ConfigureSlot(static_cast<int>(kSlots[i]), kComNumbers[i]);
            const std::string key = SlotSubkey(kSlots[i]);
            SetDword(HKEY_LOCAL_MACHINE, key.c_str(), IpAddressValue, 0x7F000001);
            SetDword(HKEY_LOCAL_MACHINE, key.c_str(), TcpPortValue, static_cast<DWORD>(std::atoi(port)));
            SetDword(HKEY_LOCAL_MACHINE, key.c_str(), EncryptionValue, ProtocolCom);
        }
        SetDword(HKEY_LOCAL_MACHINE, ProductKey, ComMapInitedValue, 1);
        AskBus(true, 2);
        for (uint32_t slot : kSlots) {
            const std::string device = "ptaser2" + std::to_string(slot + 1);
            ASSERT_TRUE(WaitFor([&] { return Reaches(device); }, 40000)) << device;
        }
    }
};

// Each test has a port manager of its own, torn down at its end.
class Manager : public testing::Test {
protected:
    void TearDown() override
    {
        if (control) control->TearDown();
        control.reset();
    }
    int Start()
    {
        control.reset(new CCommonControl);
        return control->StartUp();
    }
    std::unique_ptr<CCommonControl> control;
};

std::vector<std::string> Texts(const Boxes& boxes)
{
    std::vector<std::string> texts;
    for (const Box& b : boxes.shown) texts.push_back(b.text);
    return texts;
}

using Strings = std::vector<std::string>;

// ---- The COM port database kept in the registry --------------------------------------

TEST(ComPortDbUnderWine, KeptInTheRegistry) { EXPECT_TRUE(RunningUnderWine()); }

TEST(ComPortDbUnderWine, NeverWrittenStartsWith256FreeNumbers)
{
    DeleteStoredDb();
    ComPortDb db;
    ASSERT_EQ(ERROR_SUCCESS, db.Open());
    DWORD ports = 0, bytes = 0;
    EXPECT_EQ(ERROR_SUCCESS, db.SizeInPorts(&ports));
    EXPECT_EQ(ERROR_SUCCESS, db.SizeInBytes(&bytes));
    EXPECT_EQ(256u, ports);
    EXPECT_EQ(32u, bytes);
    const StoredDb stored = ReadStoredDb();
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), stored.type);
    EXPECT_EQ(std::vector<BYTE>(32, 0), stored.bytes);
}

TEST(ComPortDbUnderWine, ClaimReleaseResizeReachTheStoredBitmap)
{
    DeleteStoredDb();
    ComPortDb db;
    ASSERT_EQ(ERROR_SUCCESS, db.Open());
    EXPECT_EQ(ERROR_SUCCESS, db.Claim(5));
    EXPECT_EQ(ERROR_SUCCESS, db.Claim(10));
    EXPECT_EQ(0x10, ReadStoredDb().bytes[0]);
    EXPECT_EQ(0x02, ReadStoredDb().bytes[1]);

    // A second opener sees the same data at once.
    ComPortDb other;
    ASSERT_EQ(ERROR_SUCCESS, other.Open());
    bool forced = false;
    EXPECT_EQ(ERROR_SHARING_VIOLATION, other.Claim(5, false, &forced));
    EXPECT_EQ(ERROR_SUCCESS, other.Claim(5, true, &forced));
    EXPECT_TRUE(forced);
    EXPECT_EQ(ERROR_INVALID_PARAMETER, other.Claim(300));

    EXPECT_EQ(ERROR_INVALID_PARAMETER, db.Resize(1000));
    EXPECT_EQ(ERROR_BAD_LENGTH, db.Resize(256));
    EXPECT_EQ(ERROR_SUCCESS, db.Resize(1024));
    DWORD ports = 0;
    EXPECT_EQ(ERROR_SUCCESS, other.SizeInPorts(&ports));
    EXPECT_EQ(1024u, ports);
    EXPECT_EQ(ERROR_SUCCESS, other.Claim(1024));
    EXPECT_EQ(ERROR_SUCCESS, db.Release(5));

    ComDbBitmap usage;
    EXPECT_EQ(ERROR_SUCCESS, db.Usage(&usage));
    ASSERT_EQ(128u, usage.size());
    EXPECT_EQ(0x00, usage[0]);
    EXPECT_EQ(0x02, usage[1]);
    EXPECT_EQ(0x80, usage[127]);
    EXPECT_EQ(usage, ReadStoredDb().bytes);
    db.Close();
    EXPECT_FALSE(db.IsOpen());
    EXPECT_EQ(ERROR_INVALID_HANDLE, db.Claim(7));
    DeleteStoredDb();
}

TEST(ComPortDbUnderWine, UnusableStoredValuesFailAndStayAsTheyAre)
{
    struct Case {
        const char* what;
        DWORD type;
        std::vector<BYTE> bytes;
    };
    const Case cases[] = {
        {"text", REG_SZ, {'C', 'O', 'M', 0}},
        {"number", REG_DWORD, {1, 0, 0, 0}},
        {"empty", REG_BINARY, {}},
        {"too large", REG_BINARY, std::vector<BYTE>(513, 0xFF)},
    };
    for (const Case& c : cases) {
        WriteStoredDb(c.type, c.bytes);
        ComPortDb db;
        EXPECT_EQ(ERROR_INVALID_DATA, db.Open()) << c.what;
        EXPECT_FALSE(db.IsOpen()) << c.what;
        const StoredDb stored = ReadStoredDb();
        EXPECT_EQ(c.type, stored.type) << c.what;
        EXPECT_EQ(c.bytes, stored.bytes) << c.what;
    }
    DeleteStoredDb();
}

// ---- Start-up --------------------------------------------------------------------------

TEST_F(Manager, StartUpWithoutComMapInitedRefusesToRun)
{
    DeleteValue(ProductKey, ComMapInitedValue);
    Boxes boxes;
    EXPECT_EQ(0, Start());
    ASSERT_EQ(Strings{"Invalid installation. Unable to run."}, Texts(boxes));
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), boxes.shown[0].flags & MB_ICONMASK);
    EXPECT_EQ(std::string(kAppTitle), boxes.shown[0].caption);
    SetDword(HKEY_LOCAL_MACHINE, ProductKey, ComMapInitedValue, 1);
}

TEST_F(Manager, StartUpEnlargesA256NumberComDatabaseOnce)
{
    std::vector<BYTE> bitmap(32, 0);
    bitmap[0] = 0x04;   // COM3
    bitmap[31] = 0x80;  // COM256
    WriteStoredDb(REG_BINARY, bitmap);
    SetDword(HKEY_LOCAL_MACHINE, ProductKey, ComMapInitedValue, 0);
    Boxes boxes;
    EXPECT_EQ(1, Start());
    EXPECT_EQ(Strings{}, Texts(boxes));
    const StoredDb stored = ReadStoredDb();
    ASSERT_EQ(128u, stored.bytes.size());
    EXPECT_EQ(0x04, stored.bytes[0]);
    EXPECT_EQ(0x80, stored.bytes[31]);
    for (size_t i = 32; i < stored.bytes.size(); ++i) ASSERT_EQ(0, stored.bytes[i]) << i;
    DWORD inited = 0;
    EXPECT_TRUE(GetDword(ProductKey, ComMapInitedValue, &inited));
    EXPECT_EQ(1u, inited);
}

TEST_F(Manager, StartUpWithAnUnusableComDatabaseFailsAndLosesNothing)
{
    WriteStoredDb(REG_SZ, {'x', 0});
    SetDword(HKEY_LOCAL_MACHINE, ProductKey, ComMapInitedValue, 0);
    Boxes boxes;
    EXPECT_EQ(0, Start());
    EXPECT_EQ(Strings{"Failed to init COM DB. Unable to run."}, Texts(boxes));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), ReadStoredDb().type);
    DWORD inited = 99;
    EXPECT_TRUE(GetDword(ProductKey, ComMapInitedValue, &inited));
    EXPECT_EQ(0u, inited);
    DeleteStoredDb();
    SetDword(HKEY_LOCAL_MACHINE, ProductKey, ComMapInitedValue, 1);
}

TEST_F(Manager, HeldBusRegistrationAsksForCleanupAndYesLetsTheNextStartRun)
{
    ForeignAttach earlier;
    ASSERT_TRUE(earlier.Attach());
    {
        Boxes boxes(IDYES);
        EXPECT_EQ(0, Start());
        ASSERT_EQ(Strings{"Previous execution of PortaraCtl was not terminated correctly.\n"
                          "Perform cleanup for next execution?"},
                  Texts(boxes));
        EXPECT_EQ(static_cast<UINT>(MB_YESNO), boxes.shown[0].flags & MB_TYPEMASK);
        EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), boxes.shown[0].flags & MB_ICONMASK);
    }
    control->TearDown();
    Boxes boxes;
    EXPECT_EQ(1, Start());
    EXPECT_EQ(Strings{}, Texts(boxes));
}

TEST_F(Manager, HeldBusRegistrationAndNoLeavesItHeld)
{
    ForeignAttach earlier;
    ASSERT_TRUE(earlier.Attach());
    {
        Boxes boxes(IDNO);
        EXPECT_EQ(0, Start());
        EXPECT_EQ(1u, boxes.shown.size());
    }
    control->TearDown();
    EXPECT_FALSE(BusFree());
    EXPECT_TRUE(earlier.Detach());
}

TEST_F(Manager, ConfiguredSlotWithoutADeviceFailsStartUpAfterWaiting)
{
    ConfigureSlot(static_cast<int>(kDeadSlot), 14);
    Boxes boxes;
    const ULONGLONG begin = GetTickCount64();
    EXPECT_EQ(0, Start());
    const ULONGLONG waited = GetTickCount64() - begin;
    EXPECT_EQ(Strings{"Unable to init Portara ports. Unable to run."}, Texts(boxes));
    // Not a timing check: only that it did wait rather than give up at once.
    EXPECT_GE(waited, 4000u);
    EXPECT_EQ(nullptr, control->Worker(kDeadSlot));
    UnconfigureSlot(static_cast<int>(kDeadSlot));
}

// ---- Workers ---------------------------------------------------------------------------

TEST_F(Manager, StartPortsStartsAWorkerForEachConfiguredSlot)
{
    Boxes boxes;
    ASSERT_EQ(1, Start());
    for (uint32_t slot = 0; slot < kPortSlotCount; ++slot) {
        const bool configured = slot == kSlots[0] || slot == kSlots[1];
        auto* worker = dynamic_cast<PortWorker*>(control->Worker(slot));
        EXPECT_EQ(configured, worker != nullptr) << slot;
        if (worker) {
            EXPECT_TRUE(worker->Running()) << slot;
        }
    }
    EXPECT_EQ(0, control->IsPortInUse(-1));

    // A slot no longer configured loses its worker; configured again, it gets one back.
    UnconfigureSlot(static_cast<int>(kSlots[1]));
    EXPECT_EQ(1, control->StartPorts(1));
    EXPECT_EQ(nullptr, control->Worker(kSlots[1]));
    ConfigureSlot(static_cast<int>(kSlots[1]), kComNumbers[1]);
    const char* port = std::getenv("PORTARA_SERVER_PORT");
    SetDword(HKEY_LOCAL_MACHINE, SlotSubkey(kSlots[1]).c_str(), IpAddressValue, 0x7F000001);
    SetDword(HKEY_LOCAL_MACHINE, SlotSubkey(kSlots[1]).c_str(), TcpPortValue, static_cast<DWORD>(std::atoi(port)));
    EXPECT_EQ(1, control->StartPorts(5));
    EXPECT_NE(nullptr, control->Worker(kSlots[1]));
    EXPECT_EQ(Strings{}, Texts(boxes));
}

TEST_F(Manager, StopPortLeavesAPortInUseAlone)
{
    ASSERT_EQ(1, Start());
    {
        App app(kComNumbers[0]);
        ASSERT_TRUE(app.Valid());
        ASSERT_TRUE(WaitFor([&] { return control->IsPortInUse(kSlots[0]) == 1; }, kWaitMs));
        EXPECT_EQ(1, control->IsPortInUse(-1));
        EXPECT_EQ(0, control->IsPortInUse(kSlots[1]));
        control->StopPort(kSlots[0]);
        EXPECT_NE(nullptr, control->Worker(kSlots[0]));
        EXPECT_EQ(1, control->IsPortInUse(kSlots[0]));
        control->StopPort(kSlots[1]);
        EXPECT_EQ(nullptr, control->Worker(kSlots[1])) << "a port not in use is stopped";
    }
    ASSERT_TRUE(WaitFor([&] { return control->IsPortInUse(kSlots[0]) == 0; }, kWaitMs));
    control->StopPort(kSlots[0]);
    EXPECT_EQ(nullptr, control->Worker(kSlots[0]));
    EXPECT_EQ(0, control->IsPortInUse(-1));
    EXPECT_EQ(1, control->StartPorts(5));
    EXPECT_NE(nullptr, control->Worker(kSlots[0]));
    // Slots out of range are nobody's.
    control->StopPort(-1);
    control->StopPort(256);
    EXPECT_EQ(0, control->IsPortInUse(256));
    EXPECT_EQ(0, control->IsPortInUse(-2));
}

TEST_F(Manager, ForceClosePortEndsAnApplicationsHold)
{
    ASSERT_EQ(1, Start());
    Boxes boxes;
    EXPECT_EQ(0, control->ForceClosePort(kSlots[0], "COM5")) << "not open";
    EXPECT_EQ(0, control->ForceClosePort(kDeadSlot, "COM14")) << "no worker";
    App app(kComNumbers[0]);
    ASSERT_TRUE(app.Valid());
    ASSERT_TRUE(WaitFor([&] { return control->IsPortInUse(kSlots[0]) == 1; }, kWaitMs));
    EXPECT_EQ(1, control->ForceClosePort(kSlots[0], "COM5"));
    EXPECT_TRUE(WaitFor([&] { return control->IsPortInUse(kSlots[0]) == 0; }, kWaitMs));
    EXPECT_EQ(Strings{}, Texts(boxes));
    // The port can be stopped now although its first application still holds a handle.
    control->StopPort(kSlots[0]);
    EXPECT_EQ(nullptr, control->Worker(kSlots[0]));
}

// ---- The single-instance guard and teardown ------------------------------------------

TEST_F(Manager, SecondStartUpShowsTheFirstWindowAndEndsSilently)
{
    ASSERT_EQ(1, Start());
    HWND window = CreateWindowExA(0, "STATIC", "first", WS_OVERLAPPED, 0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, window);
    control->SetMainWindow(window);
    ASSERT_FALSE(IsWindowVisible(window));

    Boxes boxes;
    CCommonControl second;
    EXPECT_EQ(0, second.StartUp());
    EXPECT_EQ(Strings{}, Texts(boxes));
    EXPECT_TRUE(IsWindowVisible(window));
    second.TearDown();

    // The second copy's teardown left the first running.
    EXPECT_NE(nullptr, control->Worker(kSlots[0]));
    EXPECT_FALSE(BusFree());
    CCommonControl third;
    EXPECT_EQ(0, third.StartUp()) << "the first still holds the section";
    third.TearDown();
    DestroyWindow(window);
}

TEST_F(Manager, TearDownReleasesEverythingOnce)
{
    ASSERT_EQ(1, Start());
    ASSERT_FALSE(BusFree());
    {
        App app(kComNumbers[0]);
        ASSERT_TRUE(WaitFor([&] { return control->IsPortInUse(kSlots[0]) == 1; }, kWaitMs));
        control->TearDown();  // stops a port in use as well
    }
    for (uint32_t slot = 0; slot < kPortSlotCount; ++slot) ASSERT_EQ(nullptr, control->Worker(slot)) << slot;
    EXPECT_TRUE(BusFree());
    HANDLE section = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4, "ComPtaMap");
    ASSERT_NE(nullptr, section);
    EXPECT_NE(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError()) << "the section is closed";
    CloseHandle(section);

    // A second teardown does nothing: another run's registration and section stay.
    ForeignAttach other;
    ASSERT_TRUE(other.Attach());
    HANDLE held = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4, "ComPtaMap");
    control->TearDown();
    EXPECT_FALSE(BusFree());
    HANDLE again = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4, "ComPtaMap");
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
    CloseHandle(again);
    CloseHandle(held);
    EXPECT_TRUE(other.Detach());
    // And the manager starts again in this prefix.
    EXPECT_EQ(1, Start());
}

}  // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    testing::AddGlobalTestEnvironment(new ManagerEnvironment);
    return RUN_ALL_TESTS();
}
