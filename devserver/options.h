// Command line of ptadevsrv.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

namespace devsrv {

struct Options {
    std::string listen = "127.0.0.1";
    std::vector<uint16_t> ports;
    bool echo = false;
    bool keyAnswer = true;
    uint32_t aliveMs = 2000;
    bool aliveGiven = false;
    bool rfc2217 = false;        // Telnet with the COM port control option instead
    bool comPort = true;         // with rfc2217: accept the COM port option
    int modemStatus = -1;        // sent at connect when 0..255
    uint32_t dropAfterMs = 0;    // 0: never
    bool refuse = false;
    bool pty = false;
    std::string serial;          // device path of a serial bridge
    uint32_t modemPollMs = 50;
    bool traceData = false;
    uint32_t lifetimeMs = 0;     // 0: until a signal or "quit"
    bool help = false;
};

// Parses the arguments; false with `error` set when they are not valid.
bool ParseOptions(const std::vector<std::string>& args, Options& options, std::string& error);

// A number in decimal or 0x hex, at most `max`.
bool ParseNumber(const std::string& text, uint32_t max, uint32_t& value);

extern const char* const kHelpText;

}  // namespace devsrv
