// The worker's TCP client socket under Wine: a refused connect, a connect that never
// completes (its time-out is measured by the clock), and one that is abandoned.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <vector>

#include "tcp_link.h"

using namespace pta;

namespace {

class TcpLink : public testing::Test {
protected:
    void SetUp() override
    {
        WSADATA wsa;
        ASSERT_EQ(0, WSAStartup(MAKEWORD(1, 1), &wsa));
    }
    void TearDown() override
    {
        for (SOCKET s : sockets_) closesocket(s);
        WSACleanup();
    }

    // A loopback listener that accepts nothing, filled until a further connect stays
    // pending: its port, or 0 when the system takes every connect anyway.
    uint16_t Unanswered()
    {
        SOCKET l = Keep(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int length = sizeof a;
        if (bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(l, 0) != 0 ||
            getsockname(l, reinterpret_cast<sockaddr*>(&a), &length) != 0)
            return 0;
        for (int i = 0; i < 16; ++i) {
            SOCKET c = Keep(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
            u_long nonBlocking = 1;
            ioctlsocket(c, FIONBIO, &nonBlocking);
            connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a);
            fd_set w;
            FD_ZERO(&w);
            FD_SET(c, &w);
            timeval tv = {0, 300000};
            if (select(0, nullptr, &w, nullptr, &tv) == 0) return ntohs(a.sin_port);
        }
        return 0;
    }
    SOCKET Keep(SOCKET s)
    {
        sockets_.push_back(s);
        return s;
    }

private:
    std::vector<SOCKET> sockets_;
};

}  // namespace

TEST_F(TcpLink, ARefusedConnectFailsAtOnce)
{
    // A port nobody listens on: bind one and close it again.
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof a;
    ASSERT_EQ(0, bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a));
    ASSERT_EQ(0, getsockname(s, reinterpret_cast<sockaddr*>(&a), &length));
    closesocket(s);
    worker::SocketHandle out = 0;
    EXPECT_NE(0u, TcpConnect(INADDR_LOOPBACK, ntohs(a.sin_port), nullptr, &out));
    EXPECT_EQ(worker::kNoSocket, out);
}

TEST_F(TcpLink, AConnectThatNeverCompletesEndsAfterItsTimeOut)
{
    const uint16_t port = Unanswered();
    if (port == 0) GTEST_SKIP() << "every connect is taken here";
    worker::SocketHandle out = 0;
    const ULONGLONG start = GetTickCount64();
    const uint32_t error = TcpConnect(INADDR_LOOPBACK, port, nullptr, &out);
    const ULONGLONG waited = GetTickCount64() - start;
    printf("[ figure ] unanswered connect gave up after %llu ms\n", waited);
    EXPECT_EQ(static_cast<uint32_t>(WSAETIMEDOUT), error);
    EXPECT_EQ(worker::kNoSocket, out);
    // The time-out is the clock's: not cut short, and not stretched by slow slices.
    EXPECT_GE(waited + 20, kConnectTimeoutMs);
    EXPECT_LT(waited, kConnectTimeoutMs + 1500);
}

TEST_F(TcpLink, AnAbandonedConnectGivesUpAtOnce)
{
    const uint16_t port = Unanswered();
    if (port == 0) GTEST_SKIP() << "every connect is taken here";
    std::atomic<bool> abandon{true};
    worker::SocketHandle out = 0;
    const ULONGLONG start = GetTickCount64();
    EXPECT_NE(0u, TcpConnect(INADDR_LOOPBACK, port, &abandon, &out));
    EXPECT_LT(GetTickCount64() - start, 1000u);
    EXPECT_EQ(worker::kNoSocket, out);
}
