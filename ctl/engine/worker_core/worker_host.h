// What a port worker needs from its platform: the driver device, the slot's settings, one
// TCP socket at a time, three timers and a clock. The Windows shell implements it
// with DeviceIoControl, the registry, Windows Sockets and waitable timers; tests fake it.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <atomic>

#include "link_channel.h"

namespace pta {
namespace worker {

// The three timers of a worker. Each fires after its due time and then every period.
enum WorkerTimer : uint32_t {
    TIMER_ALIVE_TX = 0,   // keep-alive send
    TIMER_ALIVE_RX = 1,   // keep-alive receive
    TIMER_RECONNECT = 2,  // reconnection step
    kTimerCount = 3,
};

// A socket of the platform, opaque to the worker.
using SocketHandle = uintptr_t;
constexpr SocketHandle kNoSocket = ~static_cast<SocketHandle>(0);

// Outcome of a socket call: a byte count, or what kept it from happening.
struct SocketResult {
    enum Kind : uint8_t { Done, WouldBlock, Error } kind;
    uint32_t count;  // Done: bytes moved (0 from a receive: the peer closed in order)
    uint32_t error;  // Error: the Windows Sockets error code
};

// Outcome of waiting for a socket to become readable or writable.
enum class SocketReady : uint8_t { Ready, NotReady, Error };

// The slot's connection settings, read at every connect; missing values are 0.
struct SlotConfig {
    uint32_t ipAddress;  // first octet in the most significant byte
    uint32_t tcpPort;
    uint32_t protocol;  // the Encryption value
};

class WorkerHost {
public:
    // Driver device. False / negative when the request fails.
    virtual bool Report(const LinkReport& report) = 0;
    // Moves queued application writes into the buffer; the byte count, or -1.
    virtual int32_t FetchTx(uint8_t* buffer, uint32_t size) = 0;
    // Whether the driver may hold application writes to fetch: it signals so at every
    // queued write and after a fetch that left writes queued. Consumes the signal; a
    // fetch is made only after a true answer (or when the engine must know for sure).
    virtual bool WritesSignalled() = 0;
    // Hands received bytes to the driver; the count it took, or -1.
    virtual int32_t PutRx(const uint8_t* data, uint32_t length) = 0;
    virtual bool SendForceClose() = 0;

    virtual SlotConfig ReadSlotConfig() = 0;

    // Creates a socket and connects it (TCP_NODELAY, non-blocking afterwards). 0 and the
    // socket, or the Windows Sockets error. Gives up early when `abandon` becomes true.
    virtual uint32_t SocketConnect(uint32_t ipAddress, uint16_t tcpPort, const std::atomic<bool>* abandon,
                                   SocketHandle* socket) = 0;
    // Sets SO_SNDBUF and returns what the socket reports back.
    virtual uint32_t SocketSetSendBuffer(SocketHandle socket, uint32_t bytes) = 0;
    // Waits at most `timeoutUs` for the socket to be readable (or writable).
    virtual SocketReady SocketWait(SocketHandle socket, bool forWrite, uint32_t timeoutUs,
                                   uint32_t* error) = 0;
    virtual SocketResult SocketSend(SocketHandle socket, const uint8_t* data, uint32_t length) = 0;
    virtual SocketResult SocketRecv(SocketHandle socket, uint8_t* buffer, uint32_t size) = 0;
    // Ends the connection so that a thread still using the socket returns at once.
    virtual void SocketShutdown(SocketHandle socket) = 0;
    // Sends no more: the peer reads the end of the stream after what was sent.
    virtual void SocketShutdownSend(SocketHandle socket) = 0;
    virtual void SocketClose(SocketHandle socket) = 0;

    // Due time and period in milliseconds.
    virtual void ArmTimer(WorkerTimer timer, uint32_t ms) = 0;
    virtual void CancelTimer(WorkerTimer timer) = 0;

    // The pumps have work again (the port opened, the link came up): wake their waits.
    virtual void WakePumps() = 0;
    // The port list page learns that the slot's port was opened or closed.
    virtual void SlotOpenChanged(bool open) = 0;

    virtual uint64_t NowMs() = 0;
    virtual uint64_t RandomSeed() = 0;

protected:
    ~WorkerHost() = default;
};

}  // namespace worker
}  // namespace pta
