// Installs the driver packages and drives the bus from the command line:
//   ptadrv install <package folder>   stage ptaser2.inf, install the root bus from ptamf2.inf
//   ptadrv add <count>                ask the bus for ports for newly configured slots
//   ptadrv remove                     ask the bus to drop ports whose slots are gone
//   ptadrv probe <device>...          open each device (COM5, ptaser21) and send it a probe
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bus_contract.h"
#include "bus_control.h"
#include "driver_setup.h"
#include "link_channel.h"

namespace {

int Usage()
{
    std::fprintf(stderr, "usage: ptadrv install <package folder> | add <count> | remove |"
                         " probe <device>...\n");
    return 2;
}

bool Report(const pta::SetupResult& r)
{
    if (!r.Ok) std::fprintf(stderr, "ptadrv: %s failed (%lu)\n", r.Step, (unsigned long)r.Error);
    return r.Ok;
}

int WithBus(bool (*request)(HANDLE, DWORD), DWORD arg, const char* what)
{
    HANDLE bus = pta::OpenBusInterface();
    if (bus == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "ptadrv: the bus control interface is not present\n");
        return 1;
    }
    bool ok = request(bus, arg);
    if (!ok) std::fprintf(stderr, "ptadrv: %s failed (%lu)\n", what, GetLastError());
    CloseHandle(bus);
    return ok ? 0 : 1;
}

// Opens \\.\<name> and sends the driver's probe request; prints what happened.
bool Probe(const char* name)
{
    std::string path = std::string("\\\\.\\") + name;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        std::printf("%s: cannot be opened (%lu)\n", name, GetLastError());
        return false;
    }
    DWORD returned = 0;
    bool ok = DeviceIoControl(h, pta::IOCTL_LINK_PROBE, nullptr, 0, nullptr, 0, &returned,
                              nullptr) != FALSE;
    if (ok)
        std::printf("%s: opened, the driver answered\n", name);
    else
        std::printf("%s: opened, the probe failed (%lu)\n", name, GetLastError());
    CloseHandle(h);
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) return Usage();
    if (!std::strcmp(argv[1], "install") && argc == 3) {
        std::string folder = argv[2];
        bool ok = Report(pta::StageInf(folder + "\\" + pta::PortInfName, "ptaser2.sys"));
        ok = Report(pta::InstallRootEnumeratedDriver(folder + "\\" + pta::BusInfName,
                                                     pta::BusHardwareId)) && ok;
        return ok ? 0 : 1;
    }
    if (!std::strcmp(argv[1], "add") && argc == 3)
        return WithBus([](HANDLE bus, DWORD n) { return pta::BusAddPorts(bus, n); },
                       (DWORD)std::strtoul(argv[2], nullptr, 10), "add ports");
    if (!std::strcmp(argv[1], "remove") && argc == 2)
        return WithBus([](HANDLE bus, DWORD) { return pta::BusRemovePorts(bus); }, 0,
                       "remove ports");
    if (!std::strcmp(argv[1], "probe") && argc >= 3) {
        bool ok = true;
        for (int i = 2; i < argc; ++i) ok = Probe(argv[i]) && ok;
        return ok ? 0 : 1;
    }
    return Usage();
}
