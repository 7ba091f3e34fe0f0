// The registry operations of the port manager on Wine's registry.
#include "config_fixture.h"

using namespace pta_test;

namespace {

const std::string kKey = SlotSubkey(250);

// Records every key opened and created, and can refuse the first opens as Windows does
// for a key whose security is still being set up.
class RecordingControl : public CCommonControl {
public:
    int deniedOpens = 0;
    std::vector<REGSAM> opens, creates;

protected:
    LONG OpenKey(const char* subkey, REGSAM access, HKEY* key) override
    {
        opens.push_back(access);
        if (deniedOpens > 0) {
            --deniedOpens;
            return ERROR_ACCESS_DENIED;
        }
        return CCommonControl::OpenKey(subkey, access, key);
    }
    LONG CreateKey(const char* subkey, REGSAM access, HKEY* key) override
    {
        creates.push_back(access);
        return CCommonControl::CreateKey(subkey, access, key);
    }
};

}  // namespace

TEST_F(RegistryTest, DwordWriteCreatesTheKeyAndReadsBack)
{
    CCommonControl control;
    ASSERT_EQ(1, control.WriteDword(kKey.c_str(), AliveRxTimerValue, 25000));
    DWORD value = 1;
    EXPECT_EQ(1, control.ReadDword(kKey.c_str(), AliveRxTimerValue, &value));
    EXPECT_EQ(25000u, value);
    DWORD type = 0;
    std::string raw;
    ASSERT_TRUE(GetRaw(kKey, AliveRxTimerValue, &type, &raw));
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
    EXPECT_EQ(4u, raw.size());
}

TEST_F(RegistryTest, ReadDwordFailsOnAnythingButAFourByteDword)
{
    const char text[] = "7000";
    const DWORD number = 7000;
    const struct {
        const char* name;
        DWORD type;
        const void* data;
        DWORD size;
    } cases[] = {
        {"Text", REG_SZ, text, sizeof text},
        {"Binary", REG_BINARY, &number, 4},
        {"Short", REG_DWORD, &number, 2},
        {"Long", REG_QWORD, "\x58\x1B\0\0\0\0\0\0", 8},
    };
    CCommonControl control;
    for (const auto& c : cases) {
        SetRaw(kKey, c.name, c.type, c.data, c.size);
        DWORD value = 1;
        EXPECT_EQ(0, control.ReadDword(kKey.c_str(), c.name, &value)) << c.name;
        EXPECT_EQ(0u, value) << c.name;
    }
    DWORD value = 1;
    EXPECT_EQ(0, control.ReadDword(kKey.c_str(), "Missing", &value));
    EXPECT_EQ(0u, value);
    EXPECT_EQ(0, control.ReadDword((kKey + "\\Nowhere").c_str(), "Missing", &value));
}

TEST_F(RegistryTest, CommentsAreStoredAsSixtyFourBytesOfAtMost63)
{
    const struct {
        std::string written, read;
    } cases[] = {
        {std::string(63, 'c'), std::string(63, 'c')},
        {std::string(64, 'd'), std::string(63, 'd')},
        {std::string(200, 'e'), std::string(63, 'e')},
        {"", ""},
        {"line one", "line one"},
    };
    CCommonControl control;
    for (const auto& c : cases) {
        ASSERT_EQ(1, control.WriteString(kKey.c_str(), Comment1Value, c.written.c_str()));
        std::string text = "stale";
        EXPECT_EQ(1, control.ReadString(kKey.c_str(), Comment1Value, &text));
        EXPECT_EQ(c.read, text);
        DWORD type = 0;
        std::string raw;
        ASSERT_TRUE(GetRaw(kKey, Comment1Value, &type, &raw));
        EXPECT_EQ(static_cast<DWORD>(REG_MULTI_SZ), type);
        ASSERT_EQ(64u, raw.size());
        EXPECT_EQ(c.read + std::string(64 - c.read.size(), '\0'), raw);
    }
}

TEST_F(RegistryTest, ReadStringRefusesOddValuesAndLeavesThem)
{
    const DWORD number = 5;
    const std::string longText(100, 'x');
    const char noZero[4] = {'a', 'b', 'c', 'd'};
    const struct {
        const char* name;
        DWORD type;
        const void* data;
        DWORD size;
    } cases[] = {
        {"Number", REG_DWORD, &number, 4},
        {"TooLong", REG_MULTI_SZ, longText.c_str(), 101},
        {"Unended", REG_MULTI_SZ, noZero, 4},
        {"Binary", REG_BINARY, "ab\0", 3},
    };
    CCommonControl control;
    for (const auto& c : cases) {
        SetRaw(kKey, c.name, c.type, c.data, c.size);
        std::string text = "stale";
        EXPECT_EQ(0, control.ReadString(kKey.c_str(), c.name, &text)) << c.name;
        EXPECT_EQ("", text) << c.name;
        DWORD type = 0;
        std::string raw;
        ASSERT_TRUE(GetRaw(kKey, c.name, &type, &raw));
        EXPECT_EQ(c.type, type) << c.name;
        EXPECT_EQ(c.size, raw.size()) << c.name;
    }
    // A plain string is a comment as well.
    SetRaw(kKey, "Plain", REG_SZ, "plain", 6);
    std::string text;
    EXPECT_EQ(1, control.ReadString(kKey.c_str(), "Plain", &text));
    EXPECT_EQ("plain", text);
}

TEST_F(RegistryTest, KeyExistsAndDeleteKeyWithEverythingBelow)
{
    CCommonControl control;
    const std::string tree = std::string(ProductKey) + "\\TestTree";
    SetDword(tree + "\\Inner\\Deeper", "Value", 1);
    EXPECT_EQ(1, control.KeyExists(tree.c_str()));
    EXPECT_EQ(1, control.DeleteKey(tree.c_str()));
    EXPECT_EQ(0, control.KeyExists(tree.c_str()));
    EXPECT_FALSE(KeyPresent(tree.c_str()));
    // A key that is not there counts as removed.
    EXPECT_EQ(1, control.DeleteKey(tree.c_str()));
}

TEST_F(RegistryTest, DeleteKeyRefusesToNameTheRoot)
{
    CCommonControl control;
    EXPECT_EQ(0, control.DeleteKey(""));
    EXPECT_EQ(0, control.DeleteKey(nullptr));
    EXPECT_TRUE(KeyPresent("SOFTWARE"));
    EXPECT_TRUE(KeyPresent("SYSTEM"));
}

TEST_F(RegistryTest, AccessMasksAndOneRetryAfterAccessDenied)
{
    SetDword(kKey, TcpPortValue, 4001);
    const struct {
        int denied;
        int result;
        size_t opens;
    } cases[] = {{0, 1, 1}, {1, 1, 2}, {2, 0, 2}};
    for (const auto& c : cases) {
        std::vector<std::function<int(RecordingControl&)>> reads = {
            [](RecordingControl& r) {
                DWORD v;
                return r.ReadDword(kKey.c_str(), TcpPortValue, &v);
            },
            [](RecordingControl& r) { return r.KeyExists(kKey.c_str()); },
        };
        for (auto& read : reads) {
            RecordingControl control;
            control.deniedOpens = c.denied;
            EXPECT_EQ(c.result, read(control)) << c.denied;
            EXPECT_EQ(std::vector<REGSAM>(c.opens, 0x20019), control.opens) << c.denied;
        }
    }
    RecordingControl control;
    control.deniedOpens = 1;
    std::string text;
    control.WriteString(kKey.c_str(), Comment2Value, "x");
    EXPECT_EQ(1, control.ReadString(kKey.c_str(), Comment2Value, &text));
    EXPECT_EQ(2u, control.opens.size());
    control.WriteDword(kKey.c_str(), TcpPortValue, 1);
    EXPECT_EQ(std::vector<REGSAM>(2, 0x2001F), control.creates);
}

TEST(MessageBoxHook, HookSeesTextCaptionAndFlagsAndAnswers)
{
    std::vector<std::string> seen;
    {
        ScopedMessageBoxHook hook([&](const std::string& text, const std::string& caption, UINT flags) {
            seen.push_back(text + "|" + caption + "|" + std::to_string(flags));
            return IDNO;
        });
        EXPECT_EQ(IDNO, ShowMessageBox("Question?", "Caption", MB_YESNO | MB_ICONERROR));
        EXPECT_EQ(IDNO, ShowMessageBox("Plain", MB_OK));
    }
    EXPECT_EQ((std::vector<std::string>{
                  "Question?|Caption|" + std::to_string(MB_YESNO | MB_ICONERROR),
                  std::string("Plain|") + kAppTitle + "|" + std::to_string(MB_OK)}),
              seen);
}
