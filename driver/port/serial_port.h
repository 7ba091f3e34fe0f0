// One virtual serial port as the application and the control program see it: the serial
// settings and their control codes, the receive ring and transmit queue with the read
// time-outs, the wait mask, and the control channel with its open and close handshakes.
//
// The shell turns each request into one call and acts on the IoResult: a status other
// than kStatusPending completes the request at once with that status and information;
// kStatusPending means the port owns the request and completes it later, exactly once,
// through PortHost::Complete (from a later call, a timer expiry, a cancellation or a
// cleanup), never from inside the call that pended it. A shell whose cancel routine or
// cleanup finds a request still pending calls Cancel or Cleanup; a false return means
// the port has completed it already. See port_host.h for what the shell provides and how
// it locks.
#pragma once

#include "control_channel.h"
#include "port_host.h"
#include "read_timeouts.h"
#include "rx_ring.h"
#include "serial_defs.h"
#include "tx_queue.h"

namespace pta {
namespace port {

struct IoResult {
    NtStatus status;
    uint32_t information;
};

// The serial settings and counters of an open port.
struct SerialContext {
    SerialSettings lines;  // time-outs, handflow, modem control and status, holds
    uint32_t baudRate;
    uint32_t baudIndex;
    uint8_t lineControl;
    uint8_t validDataMask;
    SerialChars chars;
    uint32_t errorWord;  // nothing sets it; the comm status reports and clears it
    uint32_t receivedCount;
    uint32_t transmittedCount;
    uint32_t waitMask;
    uint32_t pendingEvents;  // raised and not yet reported to a wait
    ReadParams readParams;
};

// A request parked in a one-request slot (the pending read, the pending wait).
struct ParkedRequest {
    IoHandle* handle;
    IoRequest* request;  // null: the slot is empty
    uint8_t* buffer;
    uint32_t length;
};

class SerialPort {
public:
    SerialPort(PortHost& host, uint32_t comNumber);
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Plug and Play: the port exists between start and stop. Stop ends any application
    // use at once (a pending handshake included) and completes everything pending.
    void DeviceStart();
    void DeviceStop();
    // Power: while powered down, reads return no data and writes are dropped.
    void SetPoweredDown(bool poweredDown) { poweredDown_ = poweredDown; }
    void SetComNumber(uint32_t comNumber) { comNumber_ = comNumber; }
    // The shell has replaced the port's COM names after `refreshes` refresh requests
    // (PortHost::RefreshNames) and names the port `comNumber` now; opens are admitted
    // again once every requested refresh has ended.
    void EndRename(uint32_t comNumber, uint32_t refreshes);
    bool Renaming() const { return renaming_ != 0; }

    // Create: a handle opened while the channel is not attached is a control handle;
    // while attached, an application open, which pends for the open handshake.
    IoResult Create(IoHandle* handle, IoRequest* request, bool directory);
    // Close: classified by the role the handle was opened in (control_channel.h). The
    // application's close pends for the close handshake when the port is open.
    IoResult Close(IoHandle* handle, IoRequest* request);
    // The handle's last user is gone: its pending reads, writes and waits end with
    // kStatusCancelled.
    void Cleanup(IoHandle* handle);
    // A pending request was cancelled: completes it with kStatusCancelled. False when the
    // port does not hold it (already completed, or never pended).
    bool Cancel(IoRequest* request);

    IoResult Read(IoHandle* handle, IoRequest* request, uint8_t* buffer, uint32_t length);
    IoResult Write(IoHandle* handle, IoRequest* request, const uint8_t* data, uint32_t length);
    // Device control on a buffered transfer: `buffer` holds the input and receives the
    // output. Unknown codes succeed and change nothing.
    IoResult DeviceControl(IoHandle* handle, IoRequest* request, uint32_t code, void* buffer,
                           uint32_t inputLength, uint32_t outputLength);
    // Internal device control from drivers layered on the port (basic and restored
    // settings).
    IoResult InternalDeviceControl(uint32_t code, void* buffer, uint32_t inputLength,
                                   uint32_t outputLength);

    void OnTimer(PortTimer timer);

    // Observation, for the shell's Plug and Play decisions and for tests.
    PortState State() const { return state_; }
    const SerialContext& Settings() const { return serial_; }
    const ControlChannel& Channel() const { return channel_; }
    uint32_t RxUsed() const { return rx_.Used(); }
    uint32_t TxPendingBytes() const { return tx_.PendingBytes(); }
    bool ReadPending() const { return pendingRead_.request != nullptr; }
    bool WaitPending() const { return pendingWait_.request != nullptr; }
    const LinkCounters& Counters() const { return counters_; }

private:
    struct ControlCall {
        IoHandle* handle;
        IoRequest* request;
        uint8_t* buffer;
        uint32_t inputLength;
        uint32_t outputLength;
    };
    typedef IoResult (SerialPort::*ControlHandler)(const ControlCall& call);
    struct ControlRule {
        uint32_t code;
        uint32_t inputNeeded;
        uint32_t outputNeeded;
        NtStatus shortStatus;  // the status when a buffer is too short
        ControlHandler handler;
    };
    static const ControlRule kSerialRules[];
    static const uint32_t kSerialRuleCount;
    static const ControlRule kLinkRules[];
    static const uint32_t kLinkRuleCount;

    // serial_port.cpp
    void LoadDefaults();
    bool SettingsPostsAllowed() const;
    void PostSetting(uint32_t code, uint32_t value);
    void PostModemControl();
    void Complete(ParkedRequest& slot, NtStatus status, uint32_t information);
    // Completes the pending read or wait, if any, and disarms its timer.
    void EndRead(NtStatus status, uint32_t information);
    void EndWait(NtStatus status, uint32_t information);
    void ArmTimer(PortTimer timer, int64_t dueTime);
    void DisarmTimer(PortTimer timer);
    void DisarmAllTimers();
    // How queued writes leave the queue other than by fetch.
    enum TxEnd {
        TX_SENT,       // flushed: success and the write's full length
        TX_ABORTED,    // purged: cancelled, with the write's full length
        TX_CANCELLED,  // cancelled: the bytes fetched before the cancellation
        TX_TIMED_OUT,  // its total time-out: time-out, with the bytes fetched
    };
    void CompleteTx(TxRecordList records, TxEnd end);

    // serial_control.cpp
    IoResult SetBaudRate(const ControlCall& call);
    IoResult GetBaudRate(const ControlCall& call);
    IoResult SetLineControl(const ControlCall& call);
    IoResult GetLineControl(const ControlCall& call);
    IoResult SetTimeouts(const ControlCall& call);
    IoResult SetDtr(const ControlCall& call);
    IoResult ClrDtr(const ControlCall& call);
    IoResult SetRts(const ControlCall& call);
    IoResult ClrRts(const ControlCall& call);
    IoResult DriveModemLine(uint8_t line, bool on, bool underHandshake);
    IoResult GetChars(const ControlCall& call);
    IoResult SetChars(const ControlCall& call);
    IoResult GetHandflow(const ControlCall& call);
    IoResult SetHandflow(const ControlCall& call);
    IoResult GetModemStatus(const ControlCall& call);
    IoResult GetCommStatus(const ControlCall& call);
    IoResult GetStats(const ControlCall& call);
    IoResult ClearStats(const ControlCall& call);

    // wait_mask.cpp
    void RaiseEvents(uint32_t events);
    IoResult GetWaitMask(const ControlCall& call);
    IoResult SetWaitMask(const ControlCall& call);
    IoResult WaitOnMask(const ControlCall& call);
    void OnWaitTimer();

    // purge.cpp
    IoResult Purge(const ControlCall& call);
    void Flush();

    // receive.cpp
    IoResult ReadRing(IoHandle* handle, IoRequest* request, uint8_t* buffer, uint32_t length);
    IoResult PutRx(const ControlCall& call);
    void OnReadTimer();

    // transmit.cpp
    IoResult FetchTx(const ControlCall& call);
    // Keeps TIMER_WRITE on the write at the head of the queue; call after every change
    // of the queue.
    void StartWriteTimer();
    void OnWriteTimer();

    // control_channel.cpp
    IoResult SetNotifyEvent(const ControlCall& call);
    IoResult SetSpareEvent(const ControlCall& call);
    IoResult SetEvent(const ControlCall& call, EventObject** slot);
    IoResult Start(const ControlCall& call);
    IoResult GetNotifications(const ControlCall& call);
    IoResult Report(const ControlCall& call);
    typedef void (SerialPort::*ReportHandler)(const LinkReport& report);
    struct ReportRule {
        uint32_t kind;
        ReportHandler handler;
    };
    static const ReportRule kReportRules[];
    static const uint32_t kReportRuleCount;
    void OnOpenResult(const LinkReport& report);
    void OnCloseDone(const LinkReport& report);
    void OnModemStatus(const LinkReport& report);
    void OnLinkDown(const LinkReport& report);
    void OnLinkUp(const LinkReport& report);
    IoResult RefreshNames(const ControlCall& call);
    IoResult ForceClose(const ControlCall& call);
    IoResult QueryCounters(const ControlCall& call);
    void CountControl(uint32_t code);
    void Post(uint32_t code, uint32_t value);
    bool ApplicationActive(IoHandle* handle) const;
    IoResult BeginOpen(IoHandle* handle, IoRequest* request);
    void FinishOpen(NtStatus result, NtStatus failStatus);
    IoResult BeginApplicationClose(IoRequest* request);
    void FinishApplicationClose(NtStatus status);
    void EndHandshakes();
    void CloseLocally();
    void ShutOutApplication();
    void Detach();
    void ReleaseEvents();
    void OnHandshakeTimer();

    PortHost& host_;
    uint32_t comNumber_;
    PortState state_ = PORT_ABSENT;
    bool poweredDown_ = false;
    bool started_ = false;  // the receive ring exists
    uint32_t renaming_ = 0;  // name refreshes requested and not yet ended
    SerialContext serial_;
    RxRing rx_;
    TxQueue tx_;
    ParkedRequest pendingRead_;
    ParkedRequest pendingWait_;
    IoRequest* writeTimed_ = nullptr;  // the queued write TIMER_WRITE runs for
    ControlChannel channel_;
    LinkCounters counters_;  // from the device's start
    // Armed timers and when they are due on the host's clock: an expiry that does not
    // match (one that raced with a cancel or a re-arm) is recognised.
    bool armed_[kPortTimerCount];
    int64_t deadline_[kPortTimerCount];
};

}  // namespace port
}  // namespace pta
