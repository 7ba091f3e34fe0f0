// The TCP client socket of a port worker, over Windows Sockets: connect with a bounded
// wait, non-blocking sends and receives, readiness waits with a time-out. Windows Sockets
// must have been started (WSAStartup) by the program.
#pragma once

#include <stdint.h>

#include <atomic>

#include "worker_host.h"

namespace pta {

// How long a connect may take before the open is answered as failed: well inside the
// driver's 10 s open handshake.
constexpr uint32_t kConnectTimeoutMs = 4000;

// Creates a socket and connects it to the IPv4 address (first octet most significant) and
// port; sets TCP_NODELAY and leaves it non-blocking. 0 on success, else the Windows
// Sockets error. Gives up when `abandon` becomes true.
uint32_t TcpConnect(uint32_t ipAddress, uint16_t port, const std::atomic<bool>* abandon,
                    worker::SocketHandle* socket);
uint32_t TcpSetSendBuffer(worker::SocketHandle socket, uint32_t bytes);
worker::SocketReady TcpWait(worker::SocketHandle socket, bool forWrite, uint32_t timeoutUs,
                            uint32_t* error);
worker::SocketResult TcpSend(worker::SocketHandle socket, const uint8_t* data, uint32_t length);
worker::SocketResult TcpRecv(worker::SocketHandle socket, uint8_t* buffer, uint32_t size);
void TcpShutdown(worker::SocketHandle socket);
void TcpShutdownSend(worker::SocketHandle socket);
void TcpClose(worker::SocketHandle socket);

}  // namespace pta
