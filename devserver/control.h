// Control commands read from standard input, one per line.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

namespace devsrv {

struct Command {
    enum Kind { Invalid, Modem, Silent, Talk, Stall, Read, Drop, Refuse, Send, Echo, Key, Alive, Quit };
    Kind kind = Invalid;
    uint32_t value = 0;          // modem byte, silence or stall ms (0: until told), drop id (0: all),
                                 // alive ms, or 1/0 for on/off
    std::vector<uint8_t> bytes;  // send
    std::string error;
};

Command ParseCommand(const std::string& line);

}  // namespace devsrv
