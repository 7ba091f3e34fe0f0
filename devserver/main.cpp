// ptadevsrv: a serial device server for Portara's virtual COM ports.
#include <signal.h>
#include <stdio.h>

#include "options.h"
#include "server.h"

namespace {

volatile int g_stop = 0;

void OnSignal(int) { g_stop = 1; }

}  // namespace

int main(int argc, char** argv)
{
    devsrv::Options options;
    std::string error;
    if (!devsrv::ParseOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        fprintf(stderr, "ptadevsrv: %s\n(ptadevsrv --help shows the options)\n", error.c_str());
        return 2;
    }
    if (options.help) {
        fputs(devsrv::kHelpText, stdout);
        return 0;
    }
    struct sigaction sa = {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    int status = 1;
    {
        devsrv::Server server(options);
        if (server.Start()) {
            server.Run(&g_stop);
            status = 0;
        }
    }
    fputs("bye\n", stdout);
    fflush(stdout);
    return status;
}
