// ptaworkers: runs one port worker per configured slot, the way the control program's
// port manager will, and reports what happens on standard output:
//     slot N running | slot N not running
//     slot N open | slot N closed
//     slot N report KIND FAILED STATUS      (with --reports)
//     status N ACT CON ERR TX RX RTS CTS DTR DSR DCD
//     stopped
// Commands on standard input, one a line: "status", "force N", "quit". It runs until
// standard input ends, "quit", or the time limit.
#include <winsock2.h>
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <vector>

#include "common_control.h"
#include "port_worker.h"
#include "registry_layout.h"

using namespace pta;

namespace {

void Usage()
{
    printf("usage: ptaworkers [--slots N,N,...] [--time MS] [--reports]\n"
           "  --slots    slots to run (default: every configured slot)\n"
           "  --time     stop after MS milliseconds (default: when standard input ends)\n"
           "  --reports  print every report sent to a driver\n");
}

CRITICAL_SECTION g_print;

void Print(const char* format, ...)
{
    EnterCriticalSection(&g_print);
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    fflush(stdout);
    LeaveCriticalSection(&g_print);
}

struct Runner {
    std::vector<std::unique_ptr<PortWorker>> workers;
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);

    void PrintStatus()
    {
        for (auto& w : workers) {
            if (!w->Running()) continue;
            const worker::PortStatus s = w->Status();
            Print("status %u %u %u %u %u %u %u %u %u %u %u\n", w->Slot(), s.value[0], s.value[1], s.value[2],
                  s.value[3], s.value[4], s.value[5], s.value[6], s.value[7], s.value[8], s.value[9]);
            w->ResetActivity();
        }
    }
};

DWORD WINAPI CommandThread(LPVOID p)
{
    Runner& runner = *static_cast<Runner*>(p);
    char line[256];
    while (fgets(line, sizeof line, stdin)) {
        unsigned slot = 0;
        if (strncmp(line, "quit", 4) == 0) break;
        if (strncmp(line, "status", 6) == 0) runner.PrintStatus();
        if (sscanf(line, "force %u", &slot) == 1) {
            for (auto& w : runner.workers) {
                if (w->Slot() == slot) Print("force %u %s\n", slot, w->ForceClose() ? "closed" : "idle");
            }
        }
    }
    SetEvent(runner.done);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    InitializeCriticalSection(&g_print);
    std::vector<uint32_t> slots;
    DWORD limit = INFINITE;
    bool reports = false;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--slots") == 0 && i + 1 < argc) {
            for (char* part = strtok(argv[++i], ","); part; part = strtok(nullptr, ","))
                slots.push_back(static_cast<uint32_t>(strtoul(part, nullptr, 10)));
        } else if (strcmp(argv[i], "--time") == 0 && i + 1 < argc) {
            limit = static_cast<DWORD>(strtoul(argv[++i], nullptr, 10));
        } else if (strcmp(argv[i], "--reports") == 0) {
            reports = true;
        } else {
            Usage();
            return strcmp(argv[i], "--help") == 0 ? 0 : 2;
        }
    }

    WSADATA wsa;
    if (WSAStartup(MAKEWORD(1, 1), &wsa) != 0) {
        printf("Windows Sockets did not start\n");
        return 1;
    }
    CCommonControl store;
    if (slots.empty()) {
        for (uint32_t slot = 0; slot < kPortSlotCount; ++slot)
            if (store.KeyExists(SlotSubkey(slot).c_str())) slots.push_back(slot);
    }

    Runner runner;
    for (uint32_t slot : slots) {
        auto w = std::make_unique<PortWorker>(slot, store, [](uint32_t s, bool open) {
            Print("slot %u %s\n", s, open ? "open" : "closed");
        });
        if (reports) {
            w->SetReportObserver([](uint32_t s, const LinkReport& r) {
                Print("slot %u report %u %u %X\n", s, r.Kind, r.Failed, r.Status);
            });
        }
        Print("slot %u %s\n", slot, w->Running() ? "running" : "not running");
        runner.workers.push_back(std::move(w));
    }

    HANDLE commands = CreateThread(nullptr, 0, CommandThread, &runner, 0, nullptr);
    WaitForSingleObject(runner.done, limit);
    for (auto& w : runner.workers) w->Stop(true);
    runner.workers.clear();
    WSACleanup();
    Print("stopped\n");
    fflush(stdout);
    // The command thread may still sit in a read of standard input.
    if (commands) CloseHandle(commands);
    ExitProcess(0);
}
