// Runs ptadevsrv as a child process on 127.0.0.1 and talks to it as the engine would.
#pragma once

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "com_port_link.h"
#include "receive_scanner.h"

namespace devsrv_test {

using namespace pta::protocol;
using Clock = std::chrono::steady_clock;

inline int MsLeft(Clock::time_point until)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

// The server process, its stdin (commands) and its stdout (one event per line).
class DevServer {
public:
    // Adds "--port 0" unless the arguments name ports, and a lifetime so that a stuck
    // test cannot leave it running.
    explicit DevServer(std::vector<std::string> args, bool addPort = true)
    {
        if (addPort) args.insert(args.end(), {"--port", "0"});
        args.insert(args.end(), {"--lifetime", "60000"});
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in[0], STDIN_FILENO);
            dup2(out[1], STDOUT_FILENO);
            std::vector<char*> argv;
            std::string path = PTADEVSRV_PATH;
            argv.push_back(&path[0]);
            for (auto& a : args) argv.push_back(&a[0]);
            argv.push_back(nullptr);
            execv(path.c_str(), argv.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        stdin_ = in[1];
        stdout_ = out[0];
        std::string line;
        if (addPort && WaitLine("listening ", &line)) port = static_cast<uint16_t>(atoi(line.substr(line.rfind(' ') + 1).c_str()));
    }

    ~DevServer()
    {
        Stop();
        if (stdin_ >= 0) close(stdin_);
        if (stdout_ >= 0) close(stdout_);
    }

    // SIGTERM, then the exit status (-1 if it had to be killed).
    int Stop()
    {
        if (pid_ <= 0) return status_;
        kill(pid_, SIGTERM);
        int st = 0;
        for (int i = 0; i < 500; ++i) {
            if (waitpid(pid_, &st, WNOHANG) == pid_) {
                pid_ = 0;
                status_ = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
                return status_;
            }
            usleep(10000);
        }
        kill(pid_, SIGKILL);
        waitpid(pid_, &st, 0);
        pid_ = 0;
        return status_ = -1;
    }

    void Command(const std::string& line)
    {
        const std::string text = line + "\n";
        ASSERT_EQ(write(stdin_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }

    // Waits for an output line that starts with `prefix` (or one of several, split by
    // '|') and was not matched before.
    bool WaitLine(const std::string& prefix, std::string* found = nullptr, int timeoutMs = 3000)
    {
        const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            for (size_t i = 0; i < lines_.size(); ++i) {
                if (!used_[i] && StartsWithOneOf(lines_[i], prefix)) {
                    used_[i] = true;
                    if (found) *found = lines_[i];
                    return true;
                }
            }
            if (!ReadOutput(MsLeft(until))) {
                // Show what the server did say, to explain the failure.
                fprintf(stderr, "no line \"%s\" among:\n", prefix.c_str());
                for (const auto& l : lines_) fprintf(stderr, "    %s\n", l.c_str());
                return false;
            }
        }
    }

    // Every line seen so far that starts with `prefix`.
    size_t Count(const std::string& prefix)
    {
        ReadOutput(0);
        size_t n = 0;
        for (const auto& l : lines_) n += l.compare(0, prefix.size(), prefix) == 0;
        return n;
    }

    uint16_t port = 0;

private:
    static bool StartsWithOneOf(const std::string& line, const std::string& prefixes)
    {
        size_t from = 0;
        for (;;) {
            const size_t bar = prefixes.find('|', from);
            const std::string p = prefixes.substr(from, bar == std::string::npos ? std::string::npos : bar - from);
            if (line.compare(0, p.size(), p) == 0) return true;
            if (bar == std::string::npos) return false;
            from = bar + 1;
        }
    }

    bool ReadOutput(int timeoutMs)
    {
        pollfd p = {stdout_, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0) return false;
        char buffer[4096];
        const ssize_t n = read(stdout_, buffer, sizeof(buffer));
        if (n <= 0) return false;
        partial_.append(buffer, static_cast<size_t>(n));
        size_t end;
        while ((end = partial_.find('\n')) != std::string::npos) {
            lines_.push_back(partial_.substr(0, end));
            used_.push_back(false);
            partial_.erase(0, end + 1);
        }
        return true;
    }

    pid_t pid_ = -1;
    int status_ = -1;
    int stdin_ = -1;
    int stdout_ = -1;
    std::string partial_;
    std::vector<std::string> lines_;
    std::vector<bool> used_;
};

// The engine's end of one connection, on the shared protocol core.
class EngineClient : public ReceiveSink {
public:
    ~EngineClient()
    {
        if (fd >= 0) close(fd);
    }

    // 0 on success, else the errno of connect.
    int Connect(uint16_t port)
    {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
            const int e = errno;
            close(fd);
            fd = -1;
            return e;
        }
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
        return 0;
    }

    // From now on the connection speaks Telnet with the COM port option, as the engine
    // does for "RFC2217" ports; the offers leave at once.
    void UseTelnet()
    {
        telnet = true;
        link.Start();
        SendTelnetOutput();
    }
    void SendTelnetOutput()
    {
        uint8_t out[WireBytes::kCapacity];
        const size_t n = link.TakeOutput(out, sizeof out);
        if (n) {
            ASSERT_EQ(send(fd, out, n, MSG_NOSIGNAL), static_cast<ssize_t>(n));
        }
    }
    void Send(const TelnetMessage& m) { ASSERT_EQ(send(fd, m.bytes, m.length, MSG_NOSIGNAL), static_cast<ssize_t>(m.length)); }

    void Send(std::vector<uint8_t> bytes)
    {
        if (telnet) {
            std::vector<uint8_t> wire(bytes.size() * 2);
            wire.resize(TelnetEncodeData(bytes.data(), bytes.size(), wire.data()));
            bytes.swap(wire);
        }
        keys.EncodeTx(bytes.data(), bytes.size());
        ASSERT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
    }
    void SendPlain(const InbandMessage& m)
    {
        ASSERT_EQ(send(fd, m.bytes, m.length, MSG_NOSIGNAL), static_cast<ssize_t>(m.length));
    }
    void Send(const InbandMessage& m) { Send(std::vector<uint8_t>(m.bytes, m.bytes + m.length)); }

    // Reads until `done` holds or the time is up; false on time-out. Bytes held back as a
    // possible cut-off message are decided whenever the socket stays quiet for 20 ms.
    bool ReadUntil(const std::function<bool()>& done, int timeoutMs = 3000)
    {
        const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!done()) {
            const int left = MsLeft(until);
            if (left == 0 || closed) return false;
            ReadOnce(left < 20 ? left : 20);
        }
        return true;
    }

    // True when the server closed the connection within the time.
    bool WaitClosed(int timeoutMs = 3000)
    {
        return ReadUntil([this] { return closed; }, timeoutMs);
    }

    size_t CountMessages(uint8_t command) const
    {
        size_t n = 0;
        for (const auto& m : messages) n += m.first == command;
        return n;
    }

    void Deliver(const uint8_t* d, size_t n) override { data.insert(data.end(), d, d + n); }
    void OnMessage(const ReceivedMessage& m) override
    {
        messages.emplace_back(m.command, std::vector<uint8_t>(m.payload, m.payload + m.payloadLength));
    }

    int fd = -1;
    bool closed = false;
    LinkKeys keys;
    ReceiveScanner scanner{LinkSide::Engine, keys};
    bool telnet = false;
    ComPortLink link{ComPortRole::Client};
    size_t received = 0;  // bytes read from the socket
    std::vector<uint8_t> data;
    std::vector<std::pair<uint8_t, std::vector<uint8_t>>> messages;

private:
    bool ReadOnce(int timeoutMs)
    {
        pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0) {
            scanner.Flush(*this);
            return false;
        }
        uint8_t buffer[4096];
        const ssize_t n = recv(fd, buffer, sizeof(buffer), 0);
        if (n <= 0) {
            scanner.Flush(*this);
            closed = true;
            return false;
        }
        received += static_cast<size_t>(n);
        if (telnet) {
            link.Receive(buffer, static_cast<size_t>(n), *this);
            SendTelnetOutput();
        } else {
            scanner.Receive(buffer, static_cast<size_t>(n), *this);
        }
        return true;
    }
};

}  // namespace devsrv_test
