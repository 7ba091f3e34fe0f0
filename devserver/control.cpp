#include "control.h"

#include <sstream>

#include "options.h"

namespace devsrv {

namespace {

bool OnOff(const std::string& word, uint32_t& value)
{
    if (word == "on") value = 1;
    else if (word == "off") value = 0;
    else return false;
    return true;
}

bool HexBytes(const std::string& text, std::vector<uint8_t>& out)
{
    std::string digits;
    for (char c : text) {
        if (c == ' ' || c == ':') continue;
        if (!isxdigit(static_cast<unsigned char>(c))) return false;
        digits += c;
    }
    if (digits.empty() || digits.size() % 2) return false;
    for (size_t i = 0; i < digits.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return true;
}

}  // namespace

Command ParseCommand(const std::string& line)
{
    std::istringstream in(line);
    std::string verb, arg, extra;
    in >> verb >> arg;
    std::getline(in, extra);
    Command c;
    auto fail = [&](const char* why) {
        c.kind = Command::Invalid;
        c.error = std::string(why) + ": " + line;
        return c;
    };
    const bool noArg = arg.empty();
    if (verb == "modem") {
        c.kind = Command::Modem;
        if (!ParseNumber(arg, 255, c.value)) return fail("modem needs a byte");
    } else if (verb == "silent") {
        c.kind = Command::Silent;
        if (arg == "off") c.kind = Command::Talk;
        else if (!noArg && !ParseNumber(arg, 86400000, c.value)) return fail("silent needs ms or off");
    } else if (verb == "stall") {
        c.kind = Command::Stall;
        if (arg == "off") c.kind = Command::Read;
        else if (!noArg && !ParseNumber(arg, 86400000, c.value)) return fail("stall needs ms or off");
    } else if (verb == "drop") {
        c.kind = Command::Drop;
        if (!noArg && !ParseNumber(arg, 0xFFFFFFFF, c.value)) return fail("drop needs a connection id");
    } else if (verb == "refuse") {
        c.kind = Command::Refuse;
        if (!OnOff(arg, c.value)) return fail("refuse needs on or off");
    } else if (verb == "echo") {
        c.kind = Command::Echo;
        if (!OnOff(arg, c.value)) return fail("echo needs on or off");
    } else if (verb == "key") {
        c.kind = Command::Key;
        if (!OnOff(arg, c.value)) return fail("key needs on or off");
    } else if (verb == "alive") {
        c.kind = Command::Alive;
        if (!ParseNumber(arg, 86400000, c.value)) return fail("alive needs ms");
    } else if (verb == "send") {
        c.kind = Command::Send;
        if (!HexBytes(arg + extra, c.bytes)) return fail("send needs hex bytes");
        return c;
    } else if (verb == "quit") {
        c.kind = Command::Quit;
    } else {
        return fail("unknown command");
    }
    if (extra.find_first_not_of(" \t\r") != std::string::npos) return fail("too many arguments");
    return c;
}

}  // namespace devsrv
