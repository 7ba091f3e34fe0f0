// ptadevsrv --rfc2217: Telnet with the COM port control option, seen from a client that
// speaks the engine's side of it.
#include <stdlib.h>

#include "devserver_harness.h"

using namespace devsrv_test;

namespace {

bool Negotiated(EngineClient& client)
{
    return client.ReadUntil([&] { return client.link.Negotiation() != ComPortNegotiation::Pending; });
}

// Connects, offers the option and waits until the server has answered it.
void ConnectTelnet(EngineClient& client, const DevServer& server)
{
    ASSERT_EQ(client.Connect(server.port), 0);
    client.UseTelnet();
    ASSERT_TRUE(Negotiated(client));
}

}  // namespace

TEST(DevServerRfc2217, NegotiatesAndEchoesEveryByteValue)
{
    DevServer server({"--rfc2217", "--echo"});
    EngineClient client;
    ConnectTelnet(client, server);
    EXPECT_EQ(ComPortNegotiation::Ready, client.link.Negotiation());
    EXPECT_TRUE(server.WaitLine("telnet 1 ready"));

    std::vector<uint8_t> expected;
    srand(12);
    for (int block = 0; block < 16; ++block) {
        std::vector<uint8_t> data(4096);
        for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i < 256 ? i : rand() & 0xFF);
        if (block % 3 == 0) data.assign(1000, 0xFF);  // all of it doubled
        client.Send(data);
        expected.insert(expected.end(), data.begin(), data.end());
    }
    ASSERT_TRUE(client.ReadUntil([&] { return client.data.size() >= expected.size(); }, 10000));
    EXPECT_EQ(expected, client.data);
    EXPECT_TRUE(client.messages.empty());
}

TEST(DevServerRfc2217, TakesSettingsAsTheirMessagesAndAnswersTheKeepAlive)
{
    DevServer server({"--rfc2217"});
    EngineClient client;
    ConnectTelnet(client, server);
    const struct {
        TelnetMessage message;
        const char* line;
    } cases[] = {
        {ComPortBaud(7), "msg 1 MSG_BAUD 07"},
        {ComPortLineControl(0x1A), "msg 1 MSG_LINE_CONTROL 1a"},
        {ComPortModemControl(0x01), "msg 1 MSG_MODEM_CONTROL 01"},
    };
    for (const auto& c : cases) {
        client.Send(c.message);
        EXPECT_TRUE(server.WaitLine(c.line)) << c.line;
    }
    // The answers to the settings come in; after them nothing comes unasked (ser2net
    // sends nothing on an idle line either) ...
    size_t idle;
    do {
        idle = client.received;
        client.ReadUntil([] { return false; }, 300);
    } while (client.received != idle);
    client.ReadUntil([] { return false; }, 1000);
    EXPECT_EQ(idle, client.received);
    // ... but the keep-alive's query is answered, and changes nothing.
    client.Send(ComPortKeepAlive());
    EXPECT_TRUE(client.ReadUntil([&] { return client.received > idle; }));
    EXPECT_TRUE(client.data.empty());
    EXPECT_EQ(0u, server.Count("msg 1 MSG_BAUD 06"));
}

TEST(DevServerRfc2217, ModemStatusLeavesAsNotifyModemState)
{
    DevServer server({"--rfc2217", "--modem", "0x30"});
    EngineClient client;
    ASSERT_EQ(client.Connect(server.port), 0);
    client.UseTelnet();
    ASSERT_TRUE(client.ReadUntil([&] { return client.CountMessages(MSG_MODEM_STATUS) == 1; }));
    server.Command("modem 0xb1");
    ASSERT_TRUE(client.ReadUntil([&] { return client.CountMessages(MSG_MODEM_STATUS) == 2; }));
    EXPECT_EQ(0x30, client.messages[0].second[0]);
    EXPECT_EQ(0xB1, client.messages[1].second[0]);
    EXPECT_TRUE(client.data.empty());
}

TEST(DevServerRfc2217, ScriptedFaults)
{
    {
        DevServer server({"--rfc2217", "--no-com-port"});
        EngineClient client;
        ConnectTelnet(client, server);
        EXPECT_EQ(ComPortNegotiation::Refused, client.link.Negotiation());
    }
    {
        DevServer server({"--rfc2217"});
        EngineClient client;
        ConnectTelnet(client, server);
        server.Command("silent 800");
        ASSERT_TRUE(server.WaitLine("silent on"));
        const size_t before = client.received;
        client.Send(ComPortKeepAlive());
        client.ReadUntil([] { return false; }, 500);
        EXPECT_EQ(before, client.received);  // a silent server answers nothing ...
        EXPECT_TRUE(client.ReadUntil([&] { return client.received > before; }));  // ... until it talks again
        server.Command("drop");
        EXPECT_TRUE(client.WaitClosed());
    }
}
