// PortWorker: the far end of one virtual COM port. It opens the port's driver device
// \\.\ptaser2N, registers its events, and runs three threads over WorkerCore:
//   ControlThread  waits on its stop event, the driver's notify event and the three timers
//                  (keep-alive send, keep-alive receive, reconnect), and acts on each;
//   TxPumpThread   waits on the spare event, which the driver signals when an application
//                  write is queued and when a fetch left writes queued (with a time-out as
//                  a safety net), then fetches and sends; it fetches only after a signal;
//                  while the socket takes no more it waits for the socket instead;
//   RxPumpThread   waits for the socket with a short select, receives and hands data in.
// A port no application has open leaves all three blocked in their waits.
#pragma once

#include <windows.h>

#include <stdint.h>

#include <atomic>
#include <functional>
#include <memory>

#include "port_worker_base.h"
#include "worker_core.h"

namespace pta {

class CCommonControl;

class PortWorker : public PortWorkerBase, private worker::WorkerHost {
public:
    // Told on ControlThread when an application opens (true) or closes the slot's port.
    using SlotOpenCallback = std::function<void(uint32_t slot, bool open)>;

    // Builds the worker and tries to start it; check Running(). `store` reads the slot's
    // settings (keep-alive times now, address and protocol at each connect).
    PortWorker(uint32_t slot, CCommonControl& store, SlotOpenCallback onOpenChanged = nullptr);
    ~PortWorker() override;
    PortWorker(const PortWorker&) = delete;
    PortWorker& operator=(const PortWorker&) = delete;

    bool Running() const { return running_; }
    uint32_t Slot() const { return slot_; }

    // Stops the threads and frees everything. Without `force` a port in use is left
    // running and the answer is false.
    bool Stop(bool force);
    // The port is closed under the application: true if it was open.
    bool ForceClose();

    // Marks the port for removal: opens are refused meanwhile.
    void SetRemovalHold(bool hold) { core_->SetRemovalHold(hold); }

    // The ten indicators, and the monitor's reset of TX and RX after it looked.
    worker::PortStatus Status() const { return core_->Status(); }
    void ResetActivity() { core_->ResetActivity(); }

    bool IsInUse() const override { return core_->InUse(); }
    HANDLE Device() const override { return device_; }

    worker::WorkerCore& Core() { return *core_; }

    // Sees every report sent to the driver, on the sending thread (diagnostics and
    // tests). Set before the port is used.
    using ReportObserver = std::function<void(uint32_t slot, const LinkReport& report)>;
    void SetReportObserver(ReportObserver observer) { reportObserver_ = std::move(observer); }

private:
    enum ThreadIndex { CONTROL, TX_PUMP, RX_PUMP, kThreadCount };

    bool Start();
    static DWORD WINAPI ControlThread(LPVOID self);
    static DWORD WINAPI TxPumpThread(LPVOID self);
    static DWORD WINAPI RxPumpThread(LPVOID self);
    void DrainNotifications();
    bool Ioctl(DWORD code, const void* in, DWORD inLength, void* out, DWORD outLength, DWORD* returned);

    // WorkerHost.
    bool Report(const LinkReport& report) override;
    int32_t FetchTx(uint8_t* buffer, uint32_t size) override;
    bool WritesSignalled() override;
    int32_t PutRx(const uint8_t* data, uint32_t length) override;
    bool SendForceClose() override;
    worker::SlotConfig ReadSlotConfig() override;
    uint32_t SocketConnect(uint32_t ipAddress, uint16_t tcpPort, const std::atomic<bool>* abandon,
                           worker::SocketHandle* socket) override;
    uint32_t SocketSetSendBuffer(worker::SocketHandle socket, uint32_t bytes) override;
    worker::SocketReady SocketWait(worker::SocketHandle socket, bool forWrite, uint32_t timeoutUs,
                                   uint32_t* error) override;
    worker::SocketResult SocketSend(worker::SocketHandle socket, const uint8_t* data, uint32_t length) override;
    worker::SocketResult SocketRecv(worker::SocketHandle socket, uint8_t* buffer, uint32_t size) override;
    void SocketShutdown(worker::SocketHandle socket) override;
    void SocketShutdownSend(worker::SocketHandle socket) override;
    void SocketClose(worker::SocketHandle socket) override;
    void ArmTimer(worker::WorkerTimer timer, uint32_t ms) override;
    void CancelTimer(worker::WorkerTimer timer) override;
    void WakePumps() override;
    void SlotOpenChanged(bool open) override;
    uint64_t NowMs() override;
    uint64_t RandomSeed() override;

    const uint32_t slot_;
    CCommonControl& store_;
    SlotOpenCallback onOpenChanged_;
    ReportObserver reportObserver_;
    std::unique_ptr<worker::WorkerCore> core_;

    volatile bool running_ = false;
    HANDLE device_ = INVALID_HANDLE_VALUE;
    HANDLE notifyEvent_ = nullptr;
    HANDLE spareEvent_ = nullptr;
    HANDLE rxWakeEvent_ = nullptr;
    // The transmit pump's wait ended on the spare event (or on its safety time-out): a
    // fetch is due. Starts true so that the first pass fetches.
    std::atomic<bool> fetchDue_{true};
    HANDLE stopEvents_[kThreadCount] = {};
    HANDLE threads_[kThreadCount] = {};
    HANDLE timers_[worker::kTimerCount] = {};
};

}  // namespace pta
