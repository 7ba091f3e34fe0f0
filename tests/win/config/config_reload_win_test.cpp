// ReloadPortSettings on Wine's registry, with stand-in workers.
#include "config_fixture.h"

using namespace pta_test;

namespace {

struct WorkerProbe {
    bool inUse = false;
    HANDLE device = INVALID_HANDLE_VALUE;
    bool fakeRefresh = true;  // false: the real request on the device
    bool refreshOk = true;
    std::vector<uint32_t> refreshed;
};

// A worker that reports what the test sets; its refresh is recorded, or sent for real.
class FakeWorker : public PortWorkerBase {
public:
    explicit FakeWorker(WorkerProbe& probe) : probe_(probe) {}
    bool IsInUse() const override { return probe_.inUse; }
    HANDLE Device() const override { return probe_.device; }
    bool RefreshNames(uint32_t comNumber) override
    {
        probe_.refreshed.push_back(comNumber);
        return probe_.fakeRefresh ? probe_.refreshOk : PortWorkerBase::RefreshNames(comNumber);
    }

private:
    WorkerProbe& probe_;
};

struct Shown {
    std::string text, caption;
    UINT flags;
};

class ReloadTest : public RegistryTest {
protected:
    void SetUp() override
    {
        RegistryTest::SetUp();
        for (uint32_t slot : kTestSlots)
            control_.SetWorker(slot, std::make_unique<FakeWorker>(probes_[slot - kTestSlots[0]]));
    }

    WorkerProbe& Probe(uint32_t slot) { return probes_[slot - kTestSlots[0]]; }

    // Reloads, collecting the boxes it shows.
    int Reload()
    {
        ScopedMessageBoxHook hook([this](const std::string& text, const std::string& caption, UINT flags) {
            shown_.push_back({text, caption, flags});
            return IDOK;
        });
        return control_.ReloadPortSettings();
    }

    DWORD StoredComPort(uint32_t slot)
    {
        DWORD value = 0;
        control_.ReadDword(SlotSubkey(slot).c_str(), ComPortValue, &value);
        return value;
    }

    WorkerProbe probes_[3];
    CCommonControl control_;
    std::vector<Shown> shown_;
};

}  // namespace

TEST_F(ReloadTest, NoConfiguredSlotGivesAnEmptyMap)
{
    EXPECT_EQ(0, Reload());
    EXPECT_TRUE(control_.Ports().empty());
}

TEST_F(ReloadTest, AConfiguredSlotWithoutWorkerIsNotListed)
{
    ConfigureSlot(250, 5);
    control_.SetWorker(250, nullptr);
    EXPECT_EQ(0, Reload());
    EXPECT_TRUE(control_.Ports().empty());
}

TEST_F(ReloadTest, SlotIsListedWithItsValues)
{
    ConfigureSlot(251, 33);
    SetPortName(251, "COM33");
    ASSERT_EQ(1, Reload());
    ASSERT_EQ(1u, control_.Ports().count(33));
    const PortSettings& s = control_.Ports().at(33);
    EXPECT_EQ(251u, s.PortNumber);
    EXPECT_EQ(0xC0A80001u, s.IpAddress);
    EXPECT_EQ(4001u, s.TcpPort);
    EXPECT_EQ(2u, s.Protocol);
    EXPECT_EQ(0u, s.AliveRxShort);
    EXPECT_EQ("a comment", s.Comment1);
    EXPECT_EQ(1u, s.Valid);
    EXPECT_TRUE(shown_.empty());
}

TEST_F(ReloadTest, SameComPortKeepsOnlyTheLowerSlot)
{
    ConfigureSlot(252, 40);
    ConfigureSlot(250, 40);
    ASSERT_EQ(1, Reload());
    ASSERT_EQ(1u, control_.Ports().size());
    EXPECT_EQ(250u, control_.Ports().at(40).PortNumber);
}

TEST_F(ReloadTest, MissingKeepAliveTimesAreStored)
{
    ConfigureSlot(250, 41);
    HKEY h;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, SlotSubkey(250).c_str(), 0,
                                           KEY_ALL_ACCESS, &h));
    RegDeleteValueA(h, AliveRxTimerValue);
    RegDeleteValueA(h, AliveTxTimerValue);
    RegCloseKey(h);

    ASSERT_EQ(1, Reload());
    DWORD rx = 0, tx = 0;
    EXPECT_EQ(1, control_.ReadDword(SlotSubkey(250).c_str(), AliveRxTimerValue, &rx));
    EXPECT_EQ(1, control_.ReadDword(SlotSubkey(250).c_str(), AliveTxTimerValue, &tx));
    EXPECT_EQ(7000u, rx);
    EXPECT_EQ(2500u, tx);
    EXPECT_EQ(1u, control_.Ports().at(41).AliveRxShort);
    EXPECT_EQ(1u, control_.Ports().at(41).AliveTxShort);
}

TEST_F(ReloadTest, MissingCommentIsCreatedAndListedAtTheNextReload)
{
    ConfigureSlot(251, 42);
    HKEY h;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, SlotSubkey(251).c_str(), 0,
                                           KEY_ALL_ACCESS, &h));
    RegDeleteValueA(h, Comment1Value);
    RegCloseKey(h);

    EXPECT_EQ(0, Reload());
    EXPECT_TRUE(control_.Ports().empty());
    std::string comment = "stale";
    EXPECT_EQ(1, control_.ReadString(SlotSubkey(251).c_str(), Comment1Value, &comment));
    EXPECT_EQ("", comment);

    EXPECT_EQ(1, Reload());
    EXPECT_EQ("", control_.Ports().at(42).Comment1);
    EXPECT_EQ("a comment", control_.Ports().at(42).Comment2);
}

TEST_F(ReloadTest, UnusableValuesNeverHideThePort)
{
    const std::string longText(80, 'x');
    const std::string unterminated = std::string(63, 'u') + "!";  // 64 bytes, no zero
    const DWORD number = 7;
    const struct {
        const char* what;
        const char* name;
        DWORD type;
        const void* data;
        DWORD size;
        DWORD storedType;  // the type the value has after the reload
        std::string comment1;
        uint32_t ip;
    } cases[] = {
        {"keep-alive as text", AliveRxTimerValue, REG_SZ, "25000", 6, REG_DWORD, "a comment", 0xC0A80001},
        {"comment too long", Comment1Value, REG_MULTI_SZ, longText.c_str(), 81, REG_MULTI_SZ, std::string(63, 'x'),
         0xC0A80001},
        {"comment without its zero", Comment1Value, REG_MULTI_SZ, unterminated.c_str(), 64, REG_MULTI_SZ,
         std::string(63, 'u'), 0xC0A80001},
        {"comment as a number", Comment1Value, REG_DWORD, &number, 4, REG_MULTI_SZ, "", 0xC0A80001},
        {"address as text", IpAddressValue, REG_SZ, "10.0.0.1", 9, REG_SZ, "a comment", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ConfigureSlot(250, 43);
        SetRaw(SlotSubkey(250), c.name, c.type, c.data, c.size);
        ASSERT_EQ(1, Reload());
        ASSERT_EQ(1u, control_.Ports().count(43));
        const PortSettings& s = control_.Ports().at(43);
        EXPECT_EQ(c.comment1, s.Comment1);
        EXPECT_EQ(c.ip, s.IpAddress);
        DWORD type = 0;
        std::string raw;
        ASSERT_TRUE(GetRaw(SlotSubkey(250), c.name, &type, &raw));
        EXPECT_EQ(c.storedType, type);
        if (c.name == std::string(Comment1Value)) {
            EXPECT_EQ(kCommentBytes, raw.size());
            std::string comment;
            EXPECT_EQ(1, control_.ReadString(SlotSubkey(250).c_str(), Comment1Value, &comment));
            EXPECT_EQ(c.comment1, comment);
        }
        EXPECT_TRUE(shown_.empty());
    }
    // A keep-alive time is stored again as the default.
    DWORD rx = 0;
    ConfigureSlot(250, 43);
    SetRaw(SlotSubkey(250), AliveRxTimerValue, REG_BINARY, "\x01\x02", 2);
    ASSERT_EQ(1, Reload());
    EXPECT_EQ(1, control_.ReadDword(SlotSubkey(250).c_str(), AliveRxTimerValue, &rx));
    EXPECT_EQ(7000u, rx);
    EXPECT_EQ(1u, control_.Ports().at(43).AliveRxShort);
}

TEST_F(ReloadTest, ComNumberChangeIsAppliedWhenThePortIsClosed)
{
    ConfigureSlot(250, 5);
    SetPortName(250, "COM12");
    ASSERT_EQ(1, Reload());
    EXPECT_EQ(std::vector<uint32_t>{12}, Probe(250).refreshed);
    EXPECT_EQ(12u, StoredComPort(250));
    ASSERT_EQ(1u, control_.Ports().count(12));
    EXPECT_EQ(12u, control_.Ports().at(12).ComNumber);
    EXPECT_EQ(0u, control_.Ports().count(5));
    EXPECT_TRUE(shown_.empty());
    // Applied once: the next reload finds nothing to do.
    ASSERT_EQ(1, Reload());
    EXPECT_EQ(1u, Probe(250).refreshed.size());
}

TEST_F(ReloadTest, ComNumberChangeThatCannotBeApplied)
{
    const std::string inUse =
        "COM port number of COM5 has changed to COM12 while in use.\nCannot apply now";
    const std::string failed = "Failed to apply change of COM port number (COM5 -> COM12)";
    enum Setup { InUse, Refused, NoDevice, NotADevice };
    const struct {
        Setup setup;
        size_t refreshes;
        const std::string& message;
    } cases[] = {
        {InUse, 0, inUse},
        {Refused, 1, failed},
        {NoDevice, 1, failed},
        {NotADevice, 1, failed},
    };
    char temp[MAX_PATH], file[MAX_PATH];
    ASSERT_NE(0u, GetTempPathA(sizeof temp, temp));
    ASSERT_NE(0u, GetTempFileNameA(temp, "pta", 0, file));
    for (const auto& c : cases) {
        WorkerProbe& probe = Probe(250);
        probe = WorkerProbe();
        shown_.clear();
        HANDLE handle = INVALID_HANDLE_VALUE;
        switch (c.setup) {
        case InUse: probe.inUse = true; break;
        case Refused: probe.refreshOk = false; break;
        case NoDevice: probe.fakeRefresh = false; break;
        case NotADevice:
            handle = CreateFileA(file, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                 nullptr);
            ASSERT_NE(INVALID_HANDLE_VALUE, handle);
            probe.device = handle;
            probe.fakeRefresh = false;
            break;
        }
        ConfigureSlot(250, 5);
        SetPortName(250, "COM12");
        EXPECT_EQ(1, Reload()) << c.setup;
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
        EXPECT_EQ(c.refreshes, probe.refreshed.size()) << c.setup;
        EXPECT_EQ(5u, StoredComPort(250)) << c.setup;
        EXPECT_EQ(1u, control_.Ports().count(5)) << c.setup;
        ASSERT_EQ(1u, shown_.size()) << c.setup;
        EXPECT_EQ(c.message, shown_[0].text) << c.setup;
        EXPECT_EQ(kAppTitle, shown_[0].caption) << c.setup;
        EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONERROR), shown_[0].flags) << c.setup;
    }
    DeleteFileA(file);
}

TEST_F(ReloadTest, UnreadablePortNameChangesNothing)
{
    const struct {
        DWORD type;
        const char* data;
        DWORD size;
    } cases[] = {
        {REG_SZ, "COMx", 5},
        {REG_SZ, "COM12345678901234567890", 24},  // longer than the 20-byte buffer
        {REG_DWORD, "\x0C\0\0\0", 4},
        {REG_SZ, "COM0", 5},
    };
    for (const auto& c : cases) {
        ConfigureSlot(252, 6);
        SetRaw(ChildParametersKey(252), PTA_PORT_NAME_VALUE, c.type, c.data, c.size);
        EXPECT_EQ(1, Reload()) << c.data;
        EXPECT_EQ(6u, StoredComPort(252)) << c.data;
        EXPECT_EQ(1u, control_.Ports().count(6)) << c.data;
    }
    EXPECT_TRUE(Probe(252).refreshed.empty());
    EXPECT_TRUE(shown_.empty());
}
