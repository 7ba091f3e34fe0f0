#include <winsock2.h>
#include <windows.h>

#include "tcp_link.h"

namespace pta {

using worker::SocketHandle;
using worker::SocketReady;
using worker::SocketResult;

namespace {

SOCKET AsSocket(SocketHandle h) { return static_cast<SOCKET>(h); }

// Waits for the socket; `except` also watches for a failed connect.
int Select(SOCKET s, bool forWrite, bool except, uint32_t timeoutUs)
{
    fd_set set, errors;
    FD_ZERO(&set);
    FD_SET(s, &set);
    FD_ZERO(&errors);
    FD_SET(s, &errors);
    timeval tv;
    tv.tv_sec = static_cast<long>(timeoutUs / 1000000);
    tv.tv_usec = static_cast<long>(timeoutUs % 1000000);
    return select(0, forWrite ? nullptr : &set, forWrite ? &set : nullptr, except ? &errors : nullptr, &tv);
}

uint32_t SocketError(SOCKET s)
{
    int error = 0;
    int length = sizeof error;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0)
        return static_cast<uint32_t>(WSAGetLastError());
    return static_cast<uint32_t>(error);
}

}  // namespace

uint32_t TcpConnect(uint32_t ipAddress, uint16_t port, const std::atomic<bool>* abandon,
                    SocketHandle* out)
{
    *out = worker::kNoSocket;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return static_cast<uint32_t>(WSAGetLastError());
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);

    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(ipAddress);
    uint32_t error = 0;
    if (connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        error = static_cast<uint32_t>(WSAGetLastError());
        if (error == WSAEWOULDBLOCK) {
            // Waits in short slices, so that a stop is not held up by a slow network. The
            // time-out is measured by the clock: a slice may last longer than asked.
            error = WSAETIMEDOUT;
            const ULONGLONG start = GetTickCount64();
            while (GetTickCount64() - start < kConnectTimeoutMs) {
                if (abandon && abandon->load()) break;
                const int r = Select(s, true, true, 10000);
                if (r < 0) {
                    error = static_cast<uint32_t>(WSAGetLastError());
                    break;
                }
                if (r > 0) {
                    error = SocketError(s);
                    if (error == 0) {
                        // Writable without an error is connected; check the peer is there.
                        sockaddr_in peer;
                        int length = sizeof peer;
                        if (getpeername(s, reinterpret_cast<sockaddr*>(&peer), &length) != 0)
                            error = WSAECONNREFUSED;
                    }
                    break;
                }
            }
        }
    }
    if (error != 0) {
        closesocket(s);
        return error;
    }
    BOOL noDelay = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
    *out = static_cast<SocketHandle>(s);
    return 0;
}

uint32_t TcpSetSendBuffer(SocketHandle socket, uint32_t bytes)
{
    int size = static_cast<int>(bytes);
    setsockopt(AsSocket(socket), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&size), sizeof size);
    int length = sizeof size;
    size = 0;
    getsockopt(AsSocket(socket), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<char*>(&size), &length);
    return static_cast<uint32_t>(size);
}

SocketReady TcpWait(SocketHandle socket, bool forWrite, uint32_t timeoutUs, uint32_t* error)
{
    const int r = Select(AsSocket(socket), forWrite, false, timeoutUs);
    if (r < 0) {
        *error = static_cast<uint32_t>(WSAGetLastError());
        return SocketReady::Error;
    }
    return r > 0 ? SocketReady::Ready : SocketReady::NotReady;
}

SocketResult TcpSend(SocketHandle socket, const uint8_t* data, uint32_t length)
{
    const int r = send(AsSocket(socket), reinterpret_cast<const char*>(data), static_cast<int>(length), 0);
    if (r >= 0) return {SocketResult::Done, static_cast<uint32_t>(r), 0};
    const int error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK) return {SocketResult::WouldBlock, 0, 0};
    return {SocketResult::Error, 0, static_cast<uint32_t>(error)};
}

SocketResult TcpRecv(SocketHandle socket, uint8_t* buffer, uint32_t size)
{
    const int r = recv(AsSocket(socket), reinterpret_cast<char*>(buffer), static_cast<int>(size), 0);
    if (r >= 0) return {SocketResult::Done, static_cast<uint32_t>(r), 0};
    const int error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK) return {SocketResult::WouldBlock, 0, 0};
    return {SocketResult::Error, 0, static_cast<uint32_t>(error)};
}

void TcpShutdown(SocketHandle socket)
{
    shutdown(AsSocket(socket), SD_BOTH);
}

void TcpShutdownSend(SocketHandle socket)
{
    shutdown(AsSocket(socket), SD_SEND);
}

void TcpClose(SocketHandle socket)
{
    closesocket(AsSocket(socket));
}

}  // namespace pta
