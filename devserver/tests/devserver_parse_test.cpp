// ptadevsrv's control commands, options and serial line conversions.
#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include "control.h"
#include "options.h"
#include "serial_line.h"

using namespace devsrv;

TEST(ControlCommandTest, ParsesEachCommand)
{
    const struct {
        const char* line;
        Command::Kind kind;
        uint32_t value;
    } cases[] = {
        {"modem 0xB0", Command::Modem, 0xB0},
        {"modem 48", Command::Modem, 48},
        {"modem 256", Command::Invalid, 0},
        {"modem", Command::Invalid, 0},
        {"silent", Command::Silent, 0},
        {"silent 3000", Command::Silent, 3000},
        {"silent off", Command::Talk, 0},
        {"silent soon", Command::Invalid, 0},
        {"stall", Command::Stall, 0},
        {"stall 500", Command::Stall, 500},
        {"stall off", Command::Read, 0},
        {"stall later", Command::Invalid, 0},
        {"drop", Command::Drop, 0},
        {"drop 4", Command::Drop, 4},
        {"refuse on", Command::Refuse, 1},
        {"refuse off", Command::Refuse, 0},
        {"refuse", Command::Invalid, 0},
        {"echo on", Command::Echo, 1},
        {"key off", Command::Key, 0},
        {"alive 2500", Command::Alive, 2500},
        {"quit", Command::Quit, 0},
        {"drop 1 2", Command::Invalid, 0},
        {"reboot", Command::Invalid, 0},
        {"  modem   0x10  ", Command::Modem, 0x10},
    };
    for (const auto& c : cases) {
        const Command cmd = ParseCommand(c.line);
        EXPECT_EQ(cmd.kind, c.kind) << c.line;
        if (c.kind != Command::Invalid) EXPECT_EQ(cmd.value, c.value) << c.line;
        else EXPECT_FALSE(cmd.error.empty()) << c.line;
    }
}

TEST(ControlCommandTest, SendTakesHexBytes)
{
    const struct {
        const char* line;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"send 41427ffe6d30f743", {0x41, 0x42, 0x7F, 0xFE, 0x6D, 0x30, 0xF7, 0x43}},
        {"send 7f fe 41 00 f7", {0x7F, 0xFE, 0x41, 0x00, 0xF7}},
        {"send 123", {}},
        {"send zz", {}},
        {"send", {}},
    };
    for (const auto& c : cases) {
        const Command cmd = ParseCommand(c.line);
        EXPECT_EQ(cmd.kind, c.bytes.empty() ? Command::Invalid : Command::Send) << c.line;
        EXPECT_EQ(cmd.bytes, c.bytes) << c.line;
    }
}

TEST(OptionsTest, ParsesTheCommandLine)
{
    Options o;
    std::string error;
    ASSERT_TRUE(ParseOptions({"--listen", "::1", "--port", "0", "--port", "4001", "--echo",
                              "--no-key-answer", "--alive", "0", "--modem", "0xB0", "--pty",
                              "--lifetime", "1000"},
                             o, error)) << error;
    EXPECT_EQ(o.listen, "::1");
    EXPECT_EQ(o.ports, (std::vector<uint16_t>{0, 4001}));
    EXPECT_TRUE(o.echo);
    EXPECT_FALSE(o.keyAnswer);
    EXPECT_EQ(o.aliveMs, 0u);
    EXPECT_EQ(o.modemStatus, 0xB0);
    EXPECT_TRUE(o.pty);
    EXPECT_EQ(o.lifetimeMs, 1000u);

    const std::vector<std::vector<std::string>> bad = {
        {}, {"--port"}, {"--port", "-1"}, {"--port", "x"}, {"--port", "0", "--modem", "300"},
        {"--port", "0", "--alive"}, {"--port", "0", "--pty", "--serial", "/dev/ttyS0"},
    };
    for (const auto& args : bad) {
        Options x;
        EXPECT_FALSE(ParseOptions(args, x, error)) << (args.empty() ? "" : args.back());
        EXPECT_FALSE(error.empty());
    }
}

TEST(SerialLineTest, LineControlToTermios)
{
    const struct {
        uint8_t lineControl;
        const char* text;
        tcflag_t size;
        tcflag_t flags;  // of CSTOPB, PARENB, PARODD, CMSPAR
    } cases[] = {
        {0x03, "8N1", CS8, 0},
        {0x1A, "7E1", CS7, PARENB},
        {0x0B, "8O1", CS8, PARENB | PARODD},
        {0x2B, "8M1", CS8, PARENB | PARODD | CMSPAR},
        {0x3B, "8S1", CS8, PARENB | CMSPAR},
        {0x07, "8N2", CS8, CSTOPB},
        {0x04, "5N1.5", CS5, CSTOPB},
        {0x01, "6N1", CS6, 0},
        {0x43, "8N1", CS8, 0},  // break does not change the framing
    };
    for (const auto& c : cases) {
        struct termios tio = {};
        tio.c_cflag = CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CREAD;
        EXPECT_EQ(ApplyLineControl(tio, c.lineControl), c.text) << int(c.lineControl);
        EXPECT_EQ(tio.c_cflag & CSIZE, c.size) << int(c.lineControl);
        EXPECT_EQ(tio.c_cflag & (CSTOPB | PARENB | PARODD | CMSPAR), c.flags) << int(c.lineControl);
        EXPECT_TRUE(tio.c_cflag & CREAD);
    }
    speed_t speed;
    EXPECT_TRUE(SpeedOfBaudIndex(6, speed));
    EXPECT_EQ(speed, static_cast<speed_t>(B9600));
    EXPECT_TRUE(SpeedOfBaudIndex(13, speed));
    EXPECT_EQ(speed, static_cast<speed_t>(B921600));
    EXPECT_FALSE(SpeedOfBaudIndex(14, speed));
}

TEST(SerialLineTest, ModemLinesToStatusByte)
{
    const struct {
        int lines;
        uint8_t previous;
        uint8_t status;
    } cases[] = {
        {0, 0x00, 0x00},
        {TIOCM_CTS | TIOCM_DSR, 0x00, 0x33},
        {TIOCM_CTS | TIOCM_DSR, 0x30, 0x30},
        {TIOCM_CD, 0x30, 0x8B},
        {TIOCM_RI, 0x00, 0x40},            // ring starts: no change bit
        {0, 0x40, 0x04},                   // ring ends: trailing edge
        {TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RI, 0xF0, 0xF0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ModemStatusOfLines(c.lines, c.previous), c.status) << c.lines << " " << int(c.previous);
    }
}
