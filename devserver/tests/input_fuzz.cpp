// libFuzzer target over the device server's operator input: the input's lines are parsed
// as control commands and, split at spaces, as a command line. Nothing may crash; a
// command is either valid or says why not, and a refused command line says why.
#include <stdlib.h>

#include <string>
#include <vector>

#include "control.h"
#include "options.h"

using namespace devsrv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> args;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        const Command c = ParseCommand(line);
        if ((c.kind == Command::Invalid) != !c.error.empty()) abort();
        for (size_t at = 0; at <= line.size();) {
            size_t space = line.find(' ', at);
            if (space == std::string::npos) space = line.size();
            args.push_back(line.substr(at, space - at));
            at = space + 1;
        }
        start = end + 1;
    }
    Options options;
    std::string error;
    if (!ParseOptions(args, options, error) && error.empty()) abort();
    return 0;
}
