#include "port_worker.h"

#include <stdio.h>

#include "common_control.h"
#include "link_channel.h"
#include "registry_layout.h"
#include "tcp_link.h"

namespace pta {

using namespace worker;

namespace {

// Thread stacks, reserved only.
constexpr SIZE_T kControlStack = 1024;
constexpr SIZE_T kPumpStack = 5120;
// Longest wait of a pump with the port open: a safety net in case a wake-up is missed.
constexpr DWORD kPumpSafetyMs = 100;
// The receive pump's select: also how soon it sees a stop.
constexpr uint32_t kReceiveWaitUs = 5000;
// How soon a receive pump tries again while the driver's receive ring is full.
constexpr DWORD kBlockedRetryMs = 2;

uint32_t ReadOr(CCommonControl& store, const std::string& key, const char* name, uint32_t fallback)
{
    DWORD value = 0;
    return store.ReadDword(key.c_str(), name, &value) ? value : fallback;
}

}  // namespace

PortWorker::PortWorker(uint32_t slot, CCommonControl& store, SlotOpenCallback onOpenChanged)
    : slot_(slot), store_(store), onOpenChanged_(std::move(onOpenChanged))
{
    const std::string key = SlotSubkey(slot);
    const uint32_t aliveTx = ReadOr(store, key, AliveTxTimerValue, kDefaultAliveTxMs);
    const uint32_t aliveRx = ReadOr(store, key, AliveRxTimerValue, kDefaultAliveRxMs);
    core_.reset(new WorkerCore(slot, aliveTx, aliveRx, *this));
    if (!Start()) Stop(true);
}

PortWorker::~PortWorker()
{
    Stop(true);
}

bool PortWorker::Start()
{
    notifyEvent_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    spareEvent_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    rxWakeEvent_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    for (HANDLE& e : stopEvents_) e = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    for (HANDLE& t : timers_) {
        t = CreateWaitableTimerA(nullptr, FALSE, nullptr);
        if (!t) return false;
    }
    if (!notifyEvent_ || !spareEvent_ || !rxWakeEvent_) return false;
    for (HANDLE e : stopEvents_)
        if (!e) return false;

    char name[32];
    snprintf(name, sizeof name, "\\\\.\\ptaser2%u", slot_ + 1);
    device_ = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (device_ == INVALID_HANDLE_VALUE) return false;

    DWORD returned = 0;
    const uint64_t notify = reinterpret_cast<uintptr_t>(notifyEvent_);
    const uint64_t spare = reinterpret_cast<uintptr_t>(spareEvent_);
    if (!Ioctl(IOCTL_LINK_PROBE, nullptr, 0, nullptr, 0, &returned) ||
        !Ioctl(IOCTL_LINK_SET_NOTIFY_EVENT, &notify, kEventHandleSize, nullptr, 0, &returned) ||
        !Ioctl(IOCTL_LINK_SET_SPARE_EVENT, &spare, kEventHandleSize, nullptr, 0, &returned) ||
        !Ioctl(IOCTL_LINK_START, nullptr, 0, nullptr, 0, &returned))
        return false;

    LPTHREAD_START_ROUTINE routines[kThreadCount] = {ControlThread, TxPumpThread, RxPumpThread};
    const SIZE_T stacks[kThreadCount] = {kControlStack, kPumpStack, kPumpStack};
    for (int i = 0; i < kThreadCount; ++i) {
        threads_[i] = CreateThread(nullptr, stacks[i], routines[i], this, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
        if (!threads_[i]) return false;
    }
    running_ = true;
    return true;
}

bool PortWorker::Stop(bool force)
{
    if (!core_->MayStop(force)) return false;
    core_->RequestStop();
    const bool started = threads_[CONTROL] != nullptr;
    // Receive pump, transmit pump, then the control thread.
    for (int i = kThreadCount - 1; i >= 0; --i) {
        if (threads_[i]) {
            SetEvent(stopEvents_[i]);
            WaitForSingleObject(threads_[i], INFINITE);
            CloseHandle(threads_[i]);
            threads_[i] = nullptr;
        }
        if (stopEvents_[i]) CloseHandle(stopEvents_[i]);
        stopEvents_[i] = nullptr;
    }
    if (device_ != INVALID_HANDLE_VALUE) {
        // Closes the socket and tells the driver the close is done.
        if (started) core_->Disconnect();
        CloseHandle(device_);
        device_ = INVALID_HANDLE_VALUE;
    }
    running_ = false;
    for (HANDLE* e : {&notifyEvent_, &spareEvent_, &rxWakeEvent_}) {
        if (*e) CloseHandle(*e);
        *e = nullptr;
    }
    for (HANDLE& t : timers_) {
        if (t) {
            CancelWaitableTimer(t);
            CloseHandle(t);
        }
        t = nullptr;
    }
    return true;
}

bool PortWorker::ForceClose()
{
    return running_ && core_->ForceClose();
}

DWORD WINAPI PortWorker::ControlThread(LPVOID self)
{
    PortWorker& w = *static_cast<PortWorker*>(self);
    const HANDLE waits[] = {w.stopEvents_[CONTROL], w.notifyEvent_, w.timers_[TIMER_ALIVE_TX],
                            w.timers_[TIMER_ALIVE_RX], w.timers_[TIMER_RECONNECT]};
    for (;;) {
        const DWORD r = WaitForMultipleObjects(5, waits, FALSE, INFINITE);
        switch (r) {
        case WAIT_OBJECT_0 + 0: return 0;
        case WAIT_OBJECT_0 + 1: w.DrainNotifications(); break;
        case WAIT_OBJECT_0 + 2: w.core_->OnAliveTxTimer(); break;
        case WAIT_OBJECT_0 + 3: w.core_->OnAliveRxTimer(); break;
        case WAIT_OBJECT_0 + 4: w.core_->OnReconnectTimer(); break;
        default:
            if (w.core_->Stopping()) return 0;
            Sleep(10);
        }
    }
}

void PortWorker::DrainNotifications()
{
    LinkNotification records[kNotificationBufferSize / sizeof(LinkNotification)];
    DWORD returned = 0;
    // A full buffer may leave more queued: the event was signalled only once for them.
    do {
        if (!Ioctl(IOCTL_LINK_GET_NOTIFICATIONS, nullptr, 0, records, sizeof records, &returned)) return;
        for (DWORD i = 0; i < returned / sizeof(LinkNotification); ++i) core_->OnNotification(records[i]);
    } while (returned == sizeof records);
}

DWORD WINAPI PortWorker::TxPumpThread(LPVOID self)
{
    PortWorker& w = *static_cast<PortWorker*>(self);
    const HANDLE waits[] = {w.stopEvents_[TX_PUMP], w.spareEvent_};
    for (;;) {
        const PumpPass pass = w.core_->TxPass();
        if (w.core_->Stopping()) return 0;
        if (pass == PumpPass::Stalled) {
            // The server is not taking bytes: wait for room, not for a new write.
            w.core_->WaitWritable(kStallWaitUs);
            continue;
        }
        // A pass that moved bytes has sent all it fetched; if the driver holds more it
        // has signalled the spare event again, and the wait ends at once.
        const DWORD timeout = w.core_->InUse() ? kPumpSafetyMs : INFINITE;
        if (WaitForMultipleObjects(2, waits, FALSE, timeout) == WAIT_OBJECT_0) return 0;
        w.fetchDue_ = true;
    }
}

DWORD WINAPI PortWorker::RxPumpThread(LPVOID self)
{
    PortWorker& w = *static_cast<PortWorker*>(self);
    const HANDLE waits[] = {w.stopEvents_[RX_PUMP], w.rxWakeEvent_};
    for (;;) {
        const PumpPass pass = w.core_->RxPass(kReceiveWaitUs);
        if (w.core_->Stopping()) return 0;
        DWORD r = WAIT_TIMEOUT;
        if (pass == PumpPass::Idle) {
            r = WaitForMultipleObjects(2, waits, FALSE, w.core_->InUse() ? kPumpSafetyMs : INFINITE);
        } else if (pass == PumpPass::Blocked) {
            r = WaitForSingleObject(waits[0], kBlockedRetryMs);
        }
        if (r == WAIT_OBJECT_0) return 0;
    }
}

bool PortWorker::Ioctl(DWORD code, const void* in, DWORD inLength, void* out, DWORD outLength, DWORD* returned)
{
    *returned = 0;
    return DeviceIoControl(device_, code, const_cast<void*>(in), inLength, out, outLength, returned, nullptr) != FALSE;
}

bool PortWorker::Report(const LinkReport& report)
{
    DWORD returned;
    const bool sent = Ioctl(IOCTL_LINK_REPORT, &report, sizeof report, nullptr, 0, &returned);
    if (reportObserver_) reportObserver_(slot_, report);
    return sent;
}

int32_t PortWorker::FetchTx(uint8_t* buffer, uint32_t size)
{
    DWORD returned;
    return Ioctl(IOCTL_LINK_FETCH_TX, nullptr, 0, buffer, size, &returned) ? static_cast<int32_t>(returned) : -1;
}

bool PortWorker::WritesSignalled()
{
    // A signal that came while the pump was not waiting for it (a stall, a full ring).
    return fetchDue_.exchange(false) || WaitForSingleObject(spareEvent_, 0) == WAIT_OBJECT_0;
}

int32_t PortWorker::PutRx(const uint8_t* data, uint32_t length)
{
    DWORD returned;
    return Ioctl(IOCTL_LINK_PUT_RX, data, length, nullptr, 0, &returned) ? static_cast<int32_t>(returned) : -1;
}

bool PortWorker::SendForceClose()
{
    DWORD returned;
    return Ioctl(IOCTL_LINK_FORCE_CLOSE, nullptr, 0, nullptr, 0, &returned);
}

SlotConfig PortWorker::ReadSlotConfig()
{
    const std::string key = SlotSubkey(slot_);
    return {ReadOr(store_, key, IpAddressValue, 0), ReadOr(store_, key, TcpPortValue, 0),
            ReadOr(store_, key, EncryptionValue, 0)};
}

uint32_t PortWorker::SocketConnect(uint32_t ipAddress, uint16_t tcpPort, const std::atomic<bool>* abandon,
                                   SocketHandle* socket)
{
    return TcpConnect(ipAddress, tcpPort, abandon, socket);
}

uint32_t PortWorker::SocketSetSendBuffer(SocketHandle socket, uint32_t bytes) { return TcpSetSendBuffer(socket, bytes); }

SocketReady PortWorker::SocketWait(SocketHandle socket, bool forWrite, uint32_t timeoutUs, uint32_t* error)
{
    return TcpWait(socket, forWrite, timeoutUs, error);
}

SocketResult PortWorker::SocketSend(SocketHandle socket, const uint8_t* data, uint32_t length)
{
    return TcpSend(socket, data, length);
}

SocketResult PortWorker::SocketRecv(SocketHandle socket, uint8_t* buffer, uint32_t size)
{
    return TcpRecv(socket, buffer, size);
}

void PortWorker::SocketShutdown(SocketHandle socket) { TcpShutdown(socket); }
void PortWorker::SocketShutdownSend(SocketHandle socket) { TcpShutdownSend(socket); }
void PortWorker::SocketClose(SocketHandle socket) { TcpClose(socket); }

void PortWorker::ArmTimer(WorkerTimer timer, uint32_t ms)
{
    LARGE_INTEGER due;
    due.QuadPart = -static_cast<LONGLONG>(ms) * 10000;
    SetWaitableTimer(timers_[timer], &due, static_cast<LONG>(ms), nullptr, nullptr, FALSE);
}

void PortWorker::CancelTimer(WorkerTimer timer)
{
    CancelWaitableTimer(timers_[timer]);
    // A tick that came before the cancel is not acted on.
    WaitForSingleObject(timers_[timer], 0);
}

void PortWorker::WakePumps()
{
    SetEvent(spareEvent_);
    SetEvent(rxWakeEvent_);
}

void PortWorker::SlotOpenChanged(bool open)
{
    if (onOpenChanged_) onOpenChanged_(slot_, open);
}

uint64_t PortWorker::NowMs() { return GetTickCount64(); }

uint64_t PortWorker::RandomSeed()
{
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<uint64_t>(counter.QuadPart) ^ (static_cast<uint64_t>(GetCurrentProcessId()) << 32) ^
           reinterpret_cast<uintptr_t>(this);
}

}  // namespace pta
