// ptadevsrv on 127.0.0.1, driven through its command line and control commands, seen
// from a client that speaks the engine's side of the wire format.
#include <stdlib.h>
#include <termios.h>

#include "devserver_harness.h"

using namespace devsrv_test;

namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int> values)
{
    std::vector<uint8_t> v;
    for (int x : values) v.push_back(static_cast<uint8_t>(x));
    return v;
}

std::vector<uint8_t> Concat(std::vector<uint8_t> a, const InbandMessage& m)
{
    a.insert(a.end(), m.bytes, m.bytes + m.length);
    return a;
}

}  // namespace

TEST(DevServerTest, HelpAndBadArguments)
{
    const struct {
        const char* args;
        int exitCode;
    } cases[] = {
        {" --help", 0},
        {" --port 0 --frobnicate", 2},
        {" --echo", 2},                         // no port
        {" --port 70000", 2},
        {" --port 0 --pty --serial /dev/null", 2},
        {" --port 0 --no-com-port", 2},          // only with --rfc2217
        {" --port 0 --listen not.an.address", 1},
        {" --port 0 --serial /nonexistent/tty", 1},
    };
    for (const auto& c : cases) {
        const std::string command = std::string(PTADEVSRV_PATH) + c.args + " </dev/null >/dev/null 2>&1";
        const int st = system(command.c_str());
        EXPECT_EQ(WIFEXITED(st) ? WEXITSTATUS(st) : -1, c.exitCode) << c.args;
    }
}

TEST(DevServerTest, EchoIsByteExactAndMessagesStayOut)
{
    DevServer server({"--echo", "--alive", "0"});
    ASSERT_NE(server.port, 0);
    EngineClient client;
    ASSERT_EQ(client.Connect(server.port), 0);
    ASSERT_TRUE(server.WaitLine("connect 1 127.0.0.1:"));

    // Data full of near-messages: lone 0x7F, markers with unknown letters or wrong end
    // bytes, and blocks that end inside a possible message.
    std::vector<uint8_t> expected;
    for (int block = 0; block < 40; ++block) {
        std::vector<uint8_t> data;
        for (int i = 0; i < 500; ++i) data.push_back(static_cast<uint8_t>((block * 31 + i) % 251));
        data.insert(data.end(), {0x7F, 0xFE, 0x41, 0x00, 0x00, 0x7F, 0xFE, 0x58, 0x01, 0xF7, 0x7F});
        if (block % 2) data.insert(data.end(), {0xFE});
        expected.insert(expected.end(), data.begin(), data.end());
        client.Send(block == 7 ? Concat(data, InbandMessage::Baud(10)) : data);
    }
    ASSERT_TRUE(client.ReadUntil([&] { return client.data.size() >= expected.size(); }));
    EXPECT_EQ(client.data, expected);
    EXPECT_TRUE(client.messages.empty());
    EXPECT_TRUE(server.WaitLine("msg 1 MSG_BAUD 0a"));
}

TEST(DevServerTest, PrintsEveryMessageItReceives)
{
    DevServer server({"--alive", "0"});
    EngineClient client;
    ASSERT_EQ(client.Connect(server.port), 0);
    const struct {
        InbandMessage message;
        const char* line;
    } cases[] = {
        {InbandMessage::Baud(6), "msg 1 MSG_BAUD 06"},
        {InbandMessage::LineControl(0x1B), "msg 1 MSG_LINE_CONTROL 1b"},
        {InbandMessage::ModemControl(0x03), "msg 1 MSG_MODEM_CONTROL 03"},
        {InbandMessage::Alive(), "msg 1 MSG_ALIVE 00"},
    };
    for (const auto& c : cases) client.Send(c.message);
    // A message cut in two sends is still one message.
    const InbandMessage cut = InbandMessage::Baud(13);
    client.Send(std::vector<uint8_t>(cut.bytes, cut.bytes + 2));
    client.Send(std::vector<uint8_t>(cut.bytes + 2, cut.bytes + 5));
    for (const auto& c : cases) EXPECT_TRUE(server.WaitLine(c.line)) << c.line;
    EXPECT_TRUE(server.WaitLine("msg 1 MSG_BAUD 0d"));
}

TEST(DevServerTest, AnswersTheKeyExchange)
{
    DevServer server({"--echo", "--alive", "0", "--modem", "0x30"});
    EngineClient client;
    ASSERT_EQ(client.Connect(server.port), 0);
    uint8_t key[kKeyLength];
    KeyGenerator(99).Fill(key);
    client.SendPlain(client.keys.Offer(key));
    ASSERT_TRUE(client.ReadUntil([&] { return client.keys.State() == KEY_ACTIVE; }));

    char keyLine[64];
    snprintf(keyLine, sizeof(keyLine), "key 1 rx %02x tx %02x", client.keys.TxKeyByte(), client.keys.RxKeyByte());
    EXPECT_TRUE(server.WaitLine(keyLine)) << keyLine;

    // Settings and data now travel XORed both ways; the modem status came before the key.
    const std::vector<uint8_t> payload = Bytes({0x00, 0x7F, 0xFE, 0x41, 0x62, 0x00, 0xFF});
    client.Send(Concat(payload, InbandMessage::ModemControl(0x01)));
    client.Send(InbandMessage::Alive());
    ASSERT_TRUE(client.ReadUntil([&] { return client.data.size() >= payload.size(); }));
    EXPECT_EQ(client.data, payload);
    EXPECT_TRUE(server.WaitLine("msg 1 MSG_MODEM_CONTROL 01"));
    EXPECT_TRUE(server.WaitLine("msg 1 MSG_ALIVE 00"));
    ASSERT_GE(client.messages.size(), 2u);
    EXPECT_EQ(client.messages[0].first, MSG_MODEM_STATUS);
    EXPECT_EQ(client.messages[1].first, MSG_KEY);
}

TEST(DevServerTest, KeyIsNotAnsweredWhenTurnedOff)
{
    DevServer server({"--no-key-answer", "--alive", "0"});
    EngineClient client;
    ASSERT_EQ(client.Connect(server.port), 0);
    uint8_t key[kKeyLength] = {1, 2, 3};
    client.SendPlain(client.keys.Offer(key));
    EXPECT_TRUE(server.WaitLine("msg 1 MSG_KEY 010203"));
    EXPECT_FALSE(client.ReadUntil([&] { return !client.messages.empty(); }, 300));
    EXPECT_EQ(client.keys.State(), KEY_AWAITING);
}

TEST(DevServerTest, SendsModemStatusAtConnectAndOnCommand)
{
    DevServer server({"--modem", "0xb0", "--alive", "0"});
    EngineClient client;
    ASSERT_EQ(client.Connect(server.port), 0);
    ASSERT_TRUE(client.ReadUntil([&] { return client.messages.size() >= 1; }));
    server.Command("modem 0x30");
    ASSERT_TRUE(client.ReadUntil([&] { return client.messages.size() >= 2; }));
    EXPECT_EQ(client.messages[0], std::make_pair(uint8_t(MSG_MODEM_STATUS), Bytes({0xB0})));
    EXPECT_EQ(client.messages[1], std::make_pair(uint8_t(MSG_MODEM_STATUS), Bytes({0x30})));
    EXPECT_TRUE(server.WaitLine("send 1 MSG_MODEM_STATUS 30"));
    EXPECT_TRUE(client.data.empty());
}

TEST(DevServerTest, SendsKeepAlives)
{
    DevServer server({"--alive", "50"});
    EngineClient client;
    ASSERT_EQ(client.Connect(server.port), 0);
    EXPECT_TRUE(client.ReadUntil([&] { return client.CountMessages(MSG_ALIVE) >= 3; }));
    EXPECT_TRUE(server.WaitLine("send 1 MSG_ALIVE 00"));
}

TEST(DevServerTest, SilenceStopsEverythingUntilLifted)
{
    DevServer server({"--echo", "--alive", "50"});
    EngineClient client;
    ASSERT_EQ(client.Connect(server.port), 0);
    ASSERT_TRUE(client.ReadUntil([&] { return client.CountMessages(MSG_ALIVE) >= 1; }));
    server.Command("silent");
    ASSERT_TRUE(server.WaitLine("silent on"));
    client.ReadUntil([] { return false; }, 100);  // what was already under way
    const size_t alives = client.CountMessages(MSG_ALIVE);
    client.Send(Bytes({1, 2, 3}));
    EXPECT_FALSE(client.ReadUntil([&] { return !client.data.empty() || client.CountMessages(MSG_ALIVE) > alives; }, 400));
    server.Command("silent off");
    ASSERT_TRUE(server.WaitLine("silent off"));
    EXPECT_TRUE(client.ReadUntil([&] { return client.data.size() == 3 && client.CountMessages(MSG_ALIVE) > alives; }));
    EXPECT_EQ(client.data, Bytes({1, 2, 3}));

    // A timed silence ends by itself.
    server.Command("silent 200");
    ASSERT_TRUE(server.WaitLine("silent on"));
    EXPECT_TRUE(server.WaitLine("silent off"));
}

TEST(DevServerTest, StallStopsReadingButNotSending)
{
    DevServer server({"--echo", "--alive", "50"});
    EngineClient client;
    ASSERT_EQ(client.Connect(server.port), 0);
    server.Command("stall");
    ASSERT_TRUE(server.WaitLine("stall on"));
    const size_t alives = client.CountMessages(MSG_ALIVE);
    client.Send(Bytes({4, 5, 6}));
    // Keep-alives go on; the data waits unread.
    EXPECT_TRUE(client.ReadUntil([&] { return client.CountMessages(MSG_ALIVE) >= alives + 3; }));
    EXPECT_TRUE(client.data.empty());
    server.Command("stall off");
    ASSERT_TRUE(server.WaitLine("stall off"));
    EXPECT_TRUE(client.ReadUntil([&] { return client.data.size() == 3; }));
    EXPECT_EQ(client.data, Bytes({4, 5, 6}));
    server.Command("stall 200");
    ASSERT_TRUE(server.WaitLine("stall on"));
    EXPECT_TRUE(server.WaitLine("stall off"));
}

TEST(DevServerTest, DropsAndRefusesConnections)
{
    DevServer server({"--alive", "0"});
    {
        EngineClient client;
        ASSERT_EQ(client.Connect(server.port), 0);
        ASSERT_TRUE(server.WaitLine("connect 1"));
        server.Command("drop");
        EXPECT_TRUE(client.WaitClosed());
        EXPECT_TRUE(server.WaitLine("close 1 dropped"));
    }
    server.Command("refuse on");
    ASSERT_TRUE(server.WaitLine("refusing " + std::to_string(server.port)));
    {
        EngineClient client;
        EXPECT_EQ(client.Connect(server.port), ECONNREFUSED);
    }
    server.Command("refuse off");
    ASSERT_TRUE(server.WaitLine("listening 127.0.0.1 " + std::to_string(server.port)));
    EngineClient client;
    EXPECT_EQ(client.Connect(server.port), 0);
    EXPECT_TRUE(server.WaitLine("connect 2"));
    server.Command("frobnicate");
    EXPECT_TRUE(server.WaitLine("error unknown command"));
}

TEST(DevServerTest, DropAfterAndClientClose)
{
    DevServer server({"--alive", "0", "--drop-after", "100"});
    EngineClient first, second;
    ASSERT_EQ(first.Connect(server.port), 0);
    EXPECT_TRUE(first.WaitClosed());
    ASSERT_EQ(second.Connect(server.port), 0);
    close(second.fd);
    second.fd = -1;
    EXPECT_TRUE(server.WaitLine("close 1 dropped"));
    EXPECT_TRUE(server.WaitLine("close 2 peer"));
}

TEST(DevServerTest, ListensOnSeveralPortsAndStopsOnSignal)
{
    DevServer server({"--port", "0", "--port", "0", "--alive", "0"}, false);
    std::string a, b;
    ASSERT_TRUE(server.WaitLine("listening ", &a));
    ASSERT_TRUE(server.WaitLine("listening ", &b));
    for (const std::string& line : {a, b}) {
        EngineClient client;
        EXPECT_EQ(client.Connect(static_cast<uint16_t>(atoi(line.substr(line.rfind(' ') + 1).c_str()))), 0) << line;
    }
    EXPECT_EQ(server.Stop(), 0);
    EXPECT_TRUE(server.WaitLine("bye"));
}

namespace {

struct TermiosCase {
    InbandMessage message;
    const char* line;
};

// Bridges a client to a terminal, checks the data both ways and the termios settings.
void CheckBridge(DevServer& server, int terminal, int settingsFd)
{
    EngineClient client;
    ASSERT_EQ(client.Connect(server.port), 0);
    ASSERT_TRUE(server.WaitLine("bridge 1"));

    client.Send(Concat(Bytes({'h', 'i', 0x7F, 0x00}), InbandMessage::Baud(10)));
    client.Send(InbandMessage::LineControl(0x1A));  // 7 bits, even parity, 1 stop bit
    ASSERT_TRUE(server.WaitLine("serial baud 115200"));
    std::string lineResult;
    ASSERT_TRUE(server.WaitLine("serial line |serial failed line ", &lineResult));
    struct termios tio;
    ASSERT_EQ(tcgetattr(settingsFd, &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B115200));
    // Some kernels' ptys take no framing but 8 bits without parity; the server says so.
    if (lineResult == "serial line 7E1") {
        EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS7));
        EXPECT_TRUE(tio.c_cflag & PARENB);
        EXPECT_FALSE(tio.c_cflag & PARODD);
    } else {
        EXPECT_EQ(lineResult.rfind("serial failed line 7E1 ", 0), 0u) << lineResult;
    }

    std::vector<uint8_t> got;
    const auto until = Clock::now() + std::chrono::seconds(3);
    while (got.size() < 4 && MsLeft(until) > 0) {
        pollfd p = {terminal, POLLIN, 0};
        if (poll(&p, 1, MsLeft(until)) <= 0) break;
        uint8_t b[64];
        const ssize_t n = read(terminal, b, sizeof(b));
        if (n > 0) got.insert(got.end(), b, b + n);
    }
    EXPECT_EQ(got, Bytes({'h', 'i', 0x7F, 0x00}));

    const uint8_t back[] = {'o', 'k', 0xFF};
    ASSERT_EQ(write(terminal, back, sizeof(back)), 3);
    EXPECT_TRUE(client.ReadUntil([&] { return client.data.size() >= 3; }));
    EXPECT_EQ(client.data, Bytes({'o', 'k', 0xFF}));

    // A newer connection takes the bridge over.
    EngineClient newer;
    ASSERT_EQ(newer.Connect(server.port), 0);
    EXPECT_TRUE(server.WaitLine("close 1 replaced"));
    EXPECT_TRUE(server.WaitLine("bridge 2"));
    EXPECT_TRUE(client.WaitClosed());
}

void MakeRaw(int fd)
{
    struct termios tio;
    ASSERT_EQ(tcgetattr(fd, &tio), 0);
    cfmakeraw(&tio);
    ASSERT_EQ(tcsetattr(fd, TCSANOW, &tio), 0);
}

}  // namespace

TEST(DevServerTest, PtyBridge)
{
    DevServer server({"--pty", "--alive", "0"});
    std::string line;
    ASSERT_TRUE(server.WaitLine("pty /dev/", &line));
    const int terminal = open(line.substr(4).c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(terminal, 0);
    MakeRaw(terminal);
    CheckBridge(server, terminal, terminal);
    close(terminal);
}

// A pty made here stands in for a serial device: the server applies termios to it.
TEST(DevServerTest, SerialBridge)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const std::string path = ptsname(master);
    const int slave = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);  // to read its termios
    ASSERT_GE(slave, 0);
    DevServer server({"--serial", path, "--alive", "0"});
    ASSERT_TRUE(server.WaitLine("serial " + path));
    MakeRaw(master);
    CheckBridge(server, master, slave);
    EXPECT_TRUE(server.WaitLine("serial no modem lines"));
    close(slave);
    close(master);
}
