// The port manager's life: start-up with the single-instance guard, teardown, the start
// and stop of workers, the forced close of a port, and the bus registration.
#include <winsock2.h>

#include "common_control.h"

#include <stdio.h>

#include "com_db.h"
#include "message_box.h"
#include "port_worker.h"

namespace pta {

namespace {

constexpr DWORD kStartPortsPauseMs = 100;
constexpr int kStartPortsAttemptsPerRound = 10;

void ShowError(const char* text) { ShowMessageBox(text, MB_OK | MB_ICONERROR); }

// The COM port database holds at least every COM number the ports may take.
bool EnlargeComDb()
{
    ComPortDb db;
    if (db.Open() != ERROR_SUCCESS) return false;
    DWORD ports = 0;
    if (db.SizeInPorts(&ports) != ERROR_SUCCESS) return false;
    if (ports < kMaxComNumber) {
        if (db.Resize(kMaxComNumber) != ERROR_SUCCESS) return false;
        if (db.SizeInPorts(&ports) != ERROR_SUCCESS || ports < kMaxComNumber) return false;
    }
    return true;
}

// Stops a worker of the table unless its port is in use. True when the worker is stopped
// and may be freed.
bool StopIdleWorker(PortWorkerBase* worker)
{
    if (auto* portWorker = dynamic_cast<PortWorker*>(worker)) return portWorker->Stop(false);
    return !worker->IsInUse();
}

}  // namespace

int CCommonControl::StartUp()
{
    // 1. Nothing held yet; the table mutex exists from construction on.
    busHandle_ = INVALID_HANDLE_VALUE;
    busEvent_ = INVALID_HANDLE_VALUE;
    tornDown_ = false;
    if (!tableMutex_) tableMutex_ = CreateMutexA(nullptr, FALSE, nullptr);
    if (!tableMutex_) return 0;
    {
        TableLock lock(tableMutex_);
        for (uint32_t slot = 0; slot < kPortSlotCount; ++slot) SetWorker(slot, nullptr);
    }

    // 2. One copy at a time.
    if (!ClaimSection()) return 0;

    // 3. The COM port database must have room for every COM number, once per installation.
    DWORD inited = 0;
    if (!ReadDword(ProductKey, ComMapInitedValue, &inited)) {
        ShowError("Invalid installation. Unable to run.");
        return 0;
    }
    if (inited == 0) {
        if (!EnlargeComDb() || !WriteDword(ProductKey, ComMapInitedValue, 1)) {
            ShowError("Failed to init COM DB. Unable to run.");
            return 0;
        }
    }

    // 4. The bus learns that the program runs.
    if (!BusAttach()) return 0;

    // 5. Sockets.
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(1, 1), &wsa) != 0) {
        ShowError("Unable to init TCP/IP environment. Unable to run.");
        return 0;
    }
    socketsStarted_ = true;

    // 6. Every configured port gets its worker.
    if (!StartPorts(5)) {
        ShowError("Unable to init Portara ports. Unable to run.");
        return 0;
    }
    return 1;
}

int CCommonControl::StartPorts(int rounds)
{
    TableLock lock(tableMutex_);
    const int attempts = rounds > 0 ? rounds * kStartPortsAttemptsPerRound : 1;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        uint32_t configured = 0;
        uint32_t running = 0;
        for (uint32_t slot = 0; slot < kPortSlotCount; ++slot) {
            if (!KeyExists(SlotSubkey(slot).c_str())) {
                if (workers_[slot] && StopIdleWorker(workers_[slot])) SetWorker(slot, nullptr);
                continue;
            }
            ++configured;
            if (!workers_[slot]) SetWorker(slot, std::unique_ptr<PortWorkerBase>(new PortWorker(slot, *this, slotOpenCallback_)));
            auto* worker = dynamic_cast<PortWorker*>(workers_[slot]);
            if (worker && !worker->Running()) {
                SetWorker(slot, nullptr);  // frees it, which stops it
                continue;
            }
            ++running;
        }
        if (running >= configured) return 1;
        if (attempt + 1 < attempts) Sleep(kStartPortsPauseMs);
    }
    return 0;
}

int CCommonControl::IsPortInUse(int slot)
{
    TableLock lock(tableMutex_);
    if (slot == -1) {
        for (PortWorkerBase* worker : workers_)
            if (worker && worker->IsInUse()) return 1;
        return 0;
    }
    const PortWorkerBase* worker = slot >= 0 ? Worker(static_cast<uint32_t>(slot)) : nullptr;
    return worker && worker->IsInUse() ? 1 : 0;
}

void CCommonControl::StopPort(int slot)
{
    if (slot < 0 || slot >= static_cast<int>(kPortSlotCount)) return;
    TableLock lock(tableMutex_);
    PortWorkerBase* worker = workers_[slot];
    if (worker && !worker->IsInUse() && StopIdleWorker(worker)) SetWorker(static_cast<uint32_t>(slot), nullptr);
}

int CCommonControl::ForceClosePort(int slot, const char* comName)
{
    if (slot < 0 || slot >= static_cast<int>(kPortSlotCount) || !comName) return 0;
    TableLock lock(tableMutex_);
    auto* worker = dynamic_cast<PortWorker*>(workers_[slot]);
    if (!worker || !worker->ForceClose()) return 0;

    // The port is free again: open it as its application once, which proves that a new
    // application can have it, and give it straight back. Nothing is written: the bytes
    // would reach the device server as data.
    const std::string path = std::string("\\\\.\\") + comName;
    HANDLE port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        char text[96];
        snprintf(text, sizeof text, "zzzzz %lu [%s]", GetLastError(), comName);
        ShowMessageBox(text, MB_OK);
        return 0;
    }
    CloseHandle(port);
    return 1;
}

CCommonControl& TheCommonControl()
{
    static CCommonControl control;
    return control;
}

namespace {
// Made before the application starts, not at its first use.
CCommonControl& g_commonControl = TheCommonControl();
}  // namespace

}  // namespace pta
