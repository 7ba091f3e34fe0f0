// The shared definitions against the published tables: control codes, record layouts on
// the wire, the baud table and its lookup, protocol texts.
#include <gtest/gtest.h>

#include <cstring>

#include "bus_contract.h"
#include "link_channel.h"
#include "registry_layout.h"

using namespace pta;

TEST(ControlCodes, MatchThePublishedValues)
{
    struct Row {
        uint32_t code;
        uint32_t expected;
    };
    const Row rows[] = {
        {IOCTL_LINK_PROBE, 0x001B0190},          {IOCTL_LINK_SET_NOTIFY_EVENT, 0x001B0194},
        {IOCTL_LINK_SET_SPARE_EVENT, 0x001B0198}, {IOCTL_LINK_START, 0x001B019C},
        {IOCTL_LINK_GET_NOTIFICATIONS, 0x001B01B8}, {IOCTL_LINK_REPORT, 0x001B01BC},
        {IOCTL_LINK_FETCH_TX, 0x001B01E0},       {IOCTL_LINK_PUT_RX, 0x001B01E4},
        {IOCTL_LINK_REFRESH_NAMES, 0x001B0208},  {IOCTL_LINK_FORCE_CLOSE, 0x001B020C},
        {IOCTL_BUS_ADD_PORTS, 0x002A0000},       {IOCTL_BUS_REMOVE_PORTS, 0x002A0008},
        {IOCTL_BUS_ATTACH, 0x002A000C},          {IOCTL_BUS_DETACH, 0x002A0010},
    };
    for (const Row& r : rows) EXPECT_EQ(r.code, r.expected) << std::hex << r.expected;
}

TEST(ControlCodes, NotificationReportAndStateValues)
{
    EXPECT_EQ(1u, NOTIFY_PORT_OPENED);
    EXPECT_EQ(2u, NOTIFY_PORT_CLOSED);
    EXPECT_EQ(3u, NOTIFY_OPEN_REQUEST);
    EXPECT_EQ(4u, NOTIFY_CLOSE_REQUEST);
    EXPECT_EQ(5u, NOTIFY_BAUD_RATE);
    EXPECT_EQ(6u, NOTIFY_LINE_CONTROL);
    EXPECT_EQ(7u, NOTIFY_MODEM_CONTROL);
    EXPECT_EQ(1u, REPORT_OPEN_RESULT);
    EXPECT_EQ(2u, REPORT_CLOSE_DONE);
    EXPECT_EQ(3u, REPORT_MODEM_STATUS);
    EXPECT_EQ(4u, REPORT_LINK_DOWN);
    EXPECT_EQ(5u, REPORT_LINK_UP);
    const uint32_t states[] = {PORT_ABSENT, PORT_CLOSED,  PORT_CLOSING,
                               PORT_SUSPENDED, PORT_OPENING, PORT_OPEN};
    for (uint32_t i = 0; i < 6; ++i) EXPECT_EQ(i, states[i]);
}

// The records are read and written as little-endian bytes by the other side.
TEST(Records, WireLayout)
{
    LinkReport report{REPORT_OPEN_RESULT, 1, 0xC0000022u};
    const uint8_t reportBytes[12] = {1, 0, 0, 0, 1, 0, 0, 0, 0x22, 0, 0, 0xC0};
    EXPECT_EQ(0, std::memcmp(&report, reportBytes, sizeof reportBytes));

    LinkNotification notes[2] = {{NOTIFY_BAUD_RATE, 10}, {NOTIFY_PORT_OPENED, 5}};
    const uint8_t noteBytes[16] = {5, 0, 0, 0, 10, 0, 0, 0, 1, 0, 0, 0, 5, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(notes, noteBytes, sizeof noteBytes));

    BusAddRequest add{8, 3};
    const uint8_t addBytes[8] = {8, 0, 0, 0, 3, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(&add, addBytes, sizeof addBytes));

    BusChildInfo info{};
    info.Magic = kBusChildMagic;
    info.ChildIndex = 7;
    uint8_t infoBytes[64] = {};
    infoBytes[0] = 0x0D; infoBytes[1] = 0xF0; infoBytes[2] = 0x1D; infoBytes[3] = 0xC0;
    infoBytes[40] = 7;
    EXPECT_EQ(0, std::memcmp(&info, infoBytes, sizeof infoBytes));
}

TEST(Records, BusInterfaceGuid)
{
    const uint8_t expected[16] = {0x58, 0x31, 0xCF, 0x34, 0xDA, 0xA7, 0xCE, 0x47,
                                  0xBE, 0xE4, 0x5B, 0x18, 0x32, 0x86, 0x00, 0xE4};
    EXPECT_EQ(0, std::memcmp(&PtaBusInterfaceGuid, expected, sizeof expected));
    EXPECT_TRUE(SameGuid(PtaBusInterfaceGuid, PtaBusInterfaceGuid));
    Guid other = PtaBusInterfaceGuid;
    other.Data4[7] ^= 1;
    EXPECT_FALSE(SameGuid(PtaBusInterfaceGuid, other));
}

TEST(BaudTable, IndexLookup)
{
    const uint32_t rates[] = {150,   300,   600,    1200,   2400,   4800,   9600,
                              19200, 38400, 57600, 115200, 230400, 460800, 921600};
    for (uint32_t i = 0; i < 14; ++i) {
        EXPECT_EQ(rates[i], BaudTable[i]);
        EXPECT_EQ(i, BaudIndexOf(rates[i]));
    }
    // Rates outside the table are announced as 9600.
    for (uint32_t rate : {0u, 1u, 110u, 14400u, 128000u, 921601u, 0xFFFFFFFFu})
        EXPECT_EQ(6u, BaudIndexOf(rate)) << rate;
    static_assert(BaudIndexOf(115200) == 10, "usable in constant expressions");
}

TEST(RegistryLayout, NamesPairsAndProtocols)
{
    EXPECT_STREQ("SOFTWARE\\Kelvor\\Portara", ProductKey);
    char subkey[64];
    std::snprintf(subkey, sizeof subkey, SlotSubkeyFormat, 7);
    EXPECT_STREQ("SOFTWARE\\Kelvor\\Portara\\0007", subkey);
    std::snprintf(subkey, sizeof subkey, PTA_CHILD_INSTANCE_FORMAT, 10);
    EXPECT_STREQ("0000000A", subkey);

    EXPECT_EQ(7000u, kKeepAliveShort.RxMs);
    EXPECT_EQ(2500u, kKeepAliveShort.TxMs);
    EXPECT_EQ(25000u, kKeepAliveLong.RxMs);
    EXPECT_EQ(10000u, kKeepAliveLong.TxMs);

    EXPECT_STREQ("COM", ProtocolText(0));
    EXPECT_STREQ("Encryption", ProtocolText(1));
    EXPECT_STREQ("Raw", ProtocolText(2));
    EXPECT_STREQ("UNKNOWN", ProtocolText(3));
    EXPECT_STREQ("UNKNOWN", ProtocolText(0xFFFFFFFFu));
    EXPECT_EQ(ProtocolCom, EffectiveProtocol(7));
    EXPECT_EQ(ProtocolRaw, EffectiveProtocol(2));
}
