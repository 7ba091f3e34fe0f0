#include "server.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>

namespace devsrv {

using namespace pta::protocol;
using std::chrono::milliseconds;

namespace {

// A connection or the bridge is not read while this much waits to be written for it.
constexpr size_t kBacklogLimit = 256 * 1024;
// Bytes held back as a possible message cut at a block edge are decided after this idle time.
constexpr milliseconds kHeldIdle(5);
// Longest single wait of the loop.
constexpr milliseconds kLongestWait(200);

void Print(const std::string& line)
{
    fputs(line.c_str(), stdout);
    fputc('\n', stdout);
    fflush(stdout);
}

std::string HexOf(const uint8_t* data, size_t length)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < length; ++i) {
        s += digits[data[i] >> 4];
        s += digits[data[i] & 15];
    }
    return s;
}

std::string NameOf(uint8_t command)
{
    const InbandMessageInfo* info = FindInbandMessage(command);
    return info ? info->name : "?";
}

std::string PeerOf(const sockaddr_storage& a)
{
    char host[INET6_ADDRSTRLEN] = "?";
    uint16_t port = 0;
    if (a.ss_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(&a);
        inet_ntop(AF_INET, &v4->sin_addr, host, sizeof(host));
        port = ntohs(v4->sin_port);
    } else if (a.ss_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&a);
        inet_ntop(AF_INET6, &v6->sin6_addr, host, sizeof(host));
        port = ntohs(v6->sin6_port);
    }
    return std::string(host) + ":" + std::to_string(port);
}

uint64_t SeedNow()
{
    return static_cast<uint64_t>(Clock::now().time_since_epoch().count()) ^
           (static_cast<uint64_t>(getpid()) << 32);
}

}  // namespace

struct Server::Connection : ReceiveSink {
    Connection(Server& s, uint32_t i, int f)
        : server(s), id(i), fd(f), telnet(ComPortRole::Server, s.options_.comPort) {}
    void Deliver(const uint8_t* data, size_t length) override { server.OnData(*this, data, length); }
    void OnMessage(const ReceivedMessage& m) override { server.OnMessage(*this, m); }

    Server& server;
    uint32_t id;
    int fd;
    LinkKeys keys;
    ReceiveScanner scanner{LinkSide::DeviceServer, keys};
    ComPortLink telnet;  // with --rfc2217
    ComPortNegotiation negotiation = ComPortNegotiation::Pending;
    std::vector<uint8_t> out;  // encoded, waiting for the socket
    Clock::time_point accepted, nextAlive, lastRead;
};

Server::Server(const Options& options)
    : options_(options), modemStatus_(options.modemStatus), keyGen_(SeedNow())
{
}

Server::~Server()
{
    for (auto& c : connections_) {
        if (c->fd >= 0) close(c->fd);
    }
    for (auto& l : listeners_) {
        if (l.fd >= 0) close(l.fd);
    }
}

bool Server::OpenListener(Listener& l)
{
    sockaddr_storage addr = {};
    socklen_t addrLen;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&addr);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&addr);
    if (inet_pton(AF_INET, options_.listen.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(l.port);
        addrLen = sizeof(*v4);
    } else if (inet_pton(AF_INET6, options_.listen.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(l.port);
        addrLen = sizeof(*v6);
    } else {
        fprintf(stderr, "ptadevsrv: not an IP address: %s\n", options_.listen.c_str());
        return false;
    }
    const int fd = socket(addr.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int one = 1;
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one)) != 0 ||
        bind(fd, reinterpret_cast<sockaddr*>(&addr), addrLen) != 0 || listen(fd, 16) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &addrLen) != 0) {
        fprintf(stderr, "ptadevsrv: cannot listen on %s port %u: %s\n", options_.listen.c_str(),
                l.port, strerror(errno));
        if (fd >= 0) close(fd);
        return false;
    }
    l.fd = fd;
    l.port = ntohs(addr.ss_family == AF_INET ? v4->sin_port : v6->sin6_port);
    Print("listening " + options_.listen + " " + std::to_string(l.port));
    return true;
}

bool Server::Start()
{
    for (uint16_t port : options_.ports) {
        Listener l;
        l.port = port;
        if (!OpenListener(l)) return false;
        listeners_.push_back(l);
    }
    if (options_.refuse) SetRefuse(true);
    std::string error;
    if (options_.pty) {
        line_ = SerialLine::OpenPty(error);
        if (line_) Print("pty " + line_->Path());
    } else if (!options_.serial.empty()) {
        line_ = SerialLine::OpenDevice(options_.serial, error);
        if (line_) Print("serial " + line_->Path());
    }
    if (!error.empty()) {
        fprintf(stderr, "ptadevsrv: %s\n", error.c_str());
        return false;
    }
    nextModemPoll_ = Clock::now();
    return true;
}

void Server::SetRefuse(bool refuse)
{
    refusing_ = refuse;
    for (Listener& l : listeners_) {
        if (refuse && l.fd >= 0) {
            close(l.fd);
            l.fd = -1;
            Print("refusing " + std::to_string(l.port));
        } else if (!refuse && l.fd < 0) {
            OpenListener(l);
        }
    }
}

Server::Connection* Server::BridgeOwner()
{
    for (auto& c : connections_) {
        if (c->id == bridgeOwner_ && c->fd >= 0) return c.get();
    }
    return nullptr;
}

void Server::Accept(Listener& l)
{
    sockaddr_storage peer;
    socklen_t len = sizeof(peer);
    const int fd = accept4(l.fd, reinterpret_cast<sockaddr*>(&peer), &len,
                           SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    auto c = std::make_unique<Connection>(*this, nextId_++, fd);
    const Clock::time_point now = Clock::now();
    c->accepted = now;
    c->lastRead = now;
    c->nextAlive = now + milliseconds(options_.aliveMs);
    if (options_.keyAnswer && !options_.rfc2217) c->keys.Expect();
    Print("connect " + std::to_string(c->id) + " " + PeerOf(peer));
    Connection& conn = *c;
    connections_.push_back(std::move(c));
    if (options_.rfc2217) {
        conn.telnet.Start();
        SendTelnetOutput(conn);
    }
    if (line_) {
        if (Connection* old = BridgeOwner()) Close(*old, "replaced");
        bridgeOwner_ = conn.id;
        Print("bridge " + std::to_string(conn.id));
    }
    if (modemStatus_ >= 0) {
        // Change bits belong to the report that saw the change, not to a new connection.
        const uint8_t status = static_cast<uint8_t>(line_ && !line_->IsPty() ? modemStatus_ & 0xF0 : modemStatus_);
        QueueMessage(conn, InbandMessage::ModemStatus(status));
    }
}

void Server::Close(Connection& c, const char* reason)
{
    if (c.fd < 0) return;
    close(c.fd);
    c.fd = -1;
    c.out.clear();
    Print("close " + std::to_string(c.id) + " " + reason);
}

void Server::Queue(Connection& c, const uint8_t* data, size_t length, bool encode)
{
    if (c.fd < 0 || length == 0) return;
    const size_t at = c.out.size();
    if (encode && options_.rfc2217) {
        c.out.resize(at + 2 * length);
        c.out.resize(at + TelnetEncodeData(data, length, c.out.data() + at));
    } else {
        c.out.insert(c.out.end(), data, data + length);
        if (encode) c.keys.EncodeTx(c.out.data() + at, length);
    }
    FlushOut(c);
}

void Server::QueueMessage(Connection& c, const InbandMessage& m)
{
    if (c.fd < 0) return;
    Print("send " + std::to_string(c.id) + " " + NameOf(m.Command()) + " " +
          HexOf(m.Payload(), m.length - 4u));
    if (!options_.rfc2217) return Queue(c, m.bytes, m.length);
    // Over Telnet the same events leave as the option's report and as a NOP.
    if (m.Command() == MSG_MODEM_STATUS) {
        const TelnetMessage report = c.telnet.ModemState(m.Payload()[0]);
        Queue(c, report.bytes, report.length, false);
    } else if (m.Command() == MSG_ALIVE) {
        const uint8_t nop[2] = {TELNET_IAC, TELNET_NOP};
        Queue(c, nop, 2, false);
    }
}

void Server::SendTelnetOutput(Connection& c)
{
    uint8_t buffer[WireBytes::kCapacity];
    const size_t n = c.telnet.TakeOutput(buffer, sizeof buffer);
    Queue(c, buffer, n, false);
    const ComPortNegotiation now = c.telnet.Negotiation();
    if (now != c.negotiation && c.fd >= 0) {
        c.negotiation = now;
        Print("telnet " + std::to_string(c.id) + (now == ComPortNegotiation::Ready ? " ready" : " pending"));
    }
}

void Server::FlushOut(Connection& c)
{
    if (silent_.on || c.fd < 0 || c.out.empty()) return;
    const ssize_t n = send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
        c.out.erase(c.out.begin(), c.out.begin() + n);
    } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        Close(c, "error");
    }
}

void Server::ReadConnection(Connection& c)
{
    uint8_t buffer[kTransferBufferSize];
    const ssize_t n = recv(c.fd, buffer, sizeof(buffer), MSG_DONTWAIT);
    if (n == 0) {
        c.scanner.Flush(c);
        Close(c, "peer");
    } else if (n < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) Close(c, "error");
    } else {
        c.lastRead = Clock::now();
        if (options_.rfc2217) {
            c.telnet.Receive(buffer, static_cast<size_t>(n), c);
            SendTelnetOutput(c);
        } else {
            c.scanner.Receive(buffer, static_cast<size_t>(n), c);
        }
    }
}

void Server::OnData(Connection& c, const uint8_t* data, size_t length)
{
    if (options_.traceData) Print("data " + std::to_string(c.id) + " " + HexOf(data, length));
    if (options_.echo) Queue(c, data, length);
    if (line_ && c.id == bridgeOwner_) {
        lineOut_.insert(lineOut_.end(), data, data + length);
        WriteBridge();
    }
}

void Server::OnMessage(Connection& c, const ReceivedMessage& m)
{
    Print("msg " + std::to_string(c.id) + " " + NameOf(m.command) + " " +
          HexOf(m.payload, m.payloadLength));
    const bool bridged = line_ && c.id == bridgeOwner_;
    std::string applied;
    switch (m.command) {
    case MSG_KEY:
        if (m.keyAccepted && c.fd >= 0) {
            uint8_t key[kKeyLength];
            keyGen_.Fill(key);
            const InbandMessage answer = c.keys.Answer(key);
            Print("send " + std::to_string(c.id) + " MSG_KEY " + HexOf(key, kKeyLength));
            Queue(c, answer.bytes, answer.length, false);
            char text[64];
            snprintf(text, sizeof(text), "key %u rx %02x tx %02x", c.id, c.keys.RxKeyByte(),
                     c.keys.TxKeyByte());
            Print(text);
        }
        break;
    case MSG_BAUD:
        if (bridged) applied = line_->ApplyBaud(m.payload[0]);
        break;
    case MSG_LINE_CONTROL:
        if (bridged) applied = line_->ApplyLine(m.payload[0]);
        break;
    case MSG_MODEM_CONTROL:
        if (bridged) applied = line_->ApplyModemControl(m.payload[0]);
        break;
    default:
        break;
    }
    if (!applied.empty()) Print(applied);
}

void Server::WriteBridge()
{
    if (!line_ || lineOut_.empty()) return;
    const ssize_t n = write(line_->Fd(), lineOut_.data(), lineOut_.size());
    if (n > 0) lineOut_.erase(lineOut_.begin(), lineOut_.begin() + n);
}

void Server::ReadBridge()
{
    uint8_t buffer[kTransferBufferSize];
    const ssize_t n = read(line_->Fd(), buffer, sizeof(buffer));
    if (n > 0) {
        if (Connection* owner = BridgeOwner()) Queue(*owner, buffer, static_cast<size_t>(n));
    } else if (!line_->IsPty() && (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))) {
        // A device that went away: stop bridging rather than spin on its errors.
        Print("serial closed " + std::string(n == 0 ? "hang-up" : strerror(errno)));
        line_.reset();
        lineOut_.clear();
    }
}

void Server::PollModemLines(Clock::time_point now)
{
    if (!line_ || line_->IsPty() || !modemLinesReadable_ || now < nextModemPoll_) return;
    nextModemPoll_ = now + milliseconds(options_.modemPollMs);
    const uint8_t previous = static_cast<uint8_t>(modemStatus_ < 0 ? 0 : modemStatus_);
    uint8_t status = 0;
    if (!line_->ReadModemStatus(previous, status)) {
        modemLinesReadable_ = false;
        Print("serial no modem lines");
        return;
    }
    if (modemStatus_ >= 0 && (status & 0xF0) == (previous & 0xF0)) return;
    modemStatus_ = status;
    if (Connection* owner = BridgeOwner()) QueueMessage(*owner, InbandMessage::ModemStatus(status));
}

void Server::Timers(Clock::time_point now)
{
    if (silent_.Expired(now)) {
        Command talk;
        talk.kind = Command::Talk;
        Execute(talk);
    }
    if (stall_.Expired(now)) {
        Command read;
        read.kind = Command::Read;
        Execute(read);
    }
    PollModemLines(now);
    if (silent_.on) return;
    for (auto& c : connections_) {
        if (c->fd < 0) continue;
        if (options_.dropAfterMs && now >= c->accepted + milliseconds(options_.dropAfterMs)) {
            Close(*c, "dropped");
            continue;
        }
        if (c->scanner.Held() > 0 && now >= c->lastRead + kHeldIdle) c->scanner.Flush(*c);
        if (options_.aliveMs && now >= c->nextAlive) {
            c->nextAlive = now + milliseconds(options_.aliveMs);
            QueueMessage(*c, InbandMessage::Alive());
        }
    }
}

void Server::Execute(const Command& command)
{
    switch (command.kind) {
    case Command::Invalid:
        Print("error " + command.error);
        break;
    case Command::Modem:
        modemStatus_ = static_cast<int>(command.value);
        for (auto& c : connections_) QueueMessage(*c, InbandMessage::ModemStatus(static_cast<uint8_t>(command.value)));
        break;
    case Command::Silent:
        silent_.Start(command.value);
        Print("silent on");
        break;
    case Command::Stall:
        stall_.Start(command.value);
        Print("stall on");
        break;
    case Command::Read:
        if (stall_.on) {
            stall_.on = false;
            Print("stall off");
        }
        break;
    case Command::Talk:
        if (silent_.on) {
            silent_.on = false;
            const Clock::time_point now = Clock::now();
            for (auto& c : connections_) {
                c->nextAlive = now;
                c->lastRead = now;
                FlushOut(*c);
            }
            Print("silent off");
        }
        break;
    case Command::Drop:
        for (auto& c : connections_) {
            if (command.value == 0 || c->id == command.value) Close(*c, "dropped");
        }
        break;
    case Command::Refuse:
        SetRefuse(command.value != 0);
        if (!command.value) Print("accepting");
        break;
    case Command::Send:
        for (auto& c : connections_) Queue(*c, command.bytes.data(), command.bytes.size());
        Print("sent " + std::to_string(command.bytes.size()));
        break;
    case Command::Echo:
        options_.echo = command.value != 0;
        Print(std::string("echo ") + (options_.echo ? "on" : "off"));
        break;
    case Command::Key:
        options_.keyAnswer = command.value != 0;
        for (auto& c : connections_) {
            if (options_.keyAnswer && c->keys.State() == KEY_NONE) c->keys.Expect();
            if (!options_.keyAnswer && c->keys.State() == KEY_AWAITING) c->keys.Reset();
        }
        Print(std::string("key ") + (options_.keyAnswer ? "on" : "off"));
        break;
    case Command::Alive:
        options_.aliveMs = command.value;
        for (auto& c : connections_) c->nextAlive = Clock::now() + milliseconds(command.value);
        Print("alive " + std::to_string(command.value));
        break;
    case Command::Quit:
        quit_ = true;
        break;
    }
}

void Server::ReadControl()
{
    char buffer[1024];
    const ssize_t n = read(STDIN_FILENO, buffer, sizeof(buffer));
    if (n <= 0) {
        if (n == 0 || errno != EINTR) controlOpen_ = false;
        return;
    }
    controlText_.append(buffer, static_cast<size_t>(n));
    size_t end;
    while ((end = controlText_.find('\n')) != std::string::npos) {
        const std::string line = controlText_.substr(0, end);
        controlText_.erase(0, end + 1);
        if (line.find_first_not_of(" \t\r") != std::string::npos) Execute(ParseCommand(line));
    }
    // A line longer than any command is dropped rather than kept growing.
    if (controlText_.size() > 65536) controlText_.clear();
}

void Server::Run(volatile int* stop)
{
    const Clock::time_point start = Clock::now();
    const bool limited = options_.lifetimeMs != 0;
    const Clock::time_point end = start + milliseconds(options_.lifetimeMs);
    std::vector<pollfd> fds;
    enum Who { kListener, kConnection, kControl, kLine };
    std::vector<std::pair<Who, size_t>> who;
    while (!*stop && !quit_) {
        Clock::time_point now = Clock::now();
        if (limited && now >= end) break;
        Timers(now);
        connections_.erase(std::remove_if(connections_.begin(), connections_.end(),
                                          [](const std::unique_ptr<Connection>& c) { return c->fd < 0; }),
                           connections_.end());

        fds.clear();
        who.clear();
        auto add = [&](int fd, short events, Who w, size_t index) {
            fds.push_back({fd, events, 0});
            who.emplace_back(w, index);
        };
        for (size_t i = 0; i < listeners_.size(); ++i) {
            if (listeners_[i].fd >= 0) add(listeners_[i].fd, POLLIN, kListener, i);
        }
        Clock::time_point wake = now + kLongestWait;
        if (limited) wake = std::min(wake, end);
        if (silent_.on && silent_.timed) wake = std::min(wake, silent_.until);
        if (stall_.on && stall_.timed) wake = std::min(wake, stall_.until);
        if (line_ && !line_->IsPty() && modemLinesReadable_) wake = std::min(wake, nextModemPoll_);
        Connection* owner = BridgeOwner();
        for (size_t i = 0; i < connections_.size() && !silent_.on; ++i) {
            Connection& c = *connections_[i];
            short events = 0;
            const bool bridgeFull = &c == owner && lineOut_.size() >= kBacklogLimit;
            if (c.out.size() < kBacklogLimit && !bridgeFull && !stall_.on) events |= POLLIN;
            if (!c.out.empty()) events |= POLLOUT;
            add(c.fd, events, kConnection, i);
            if (options_.aliveMs) wake = std::min(wake, c.nextAlive);
            if (options_.dropAfterMs) wake = std::min(wake, c.accepted + milliseconds(options_.dropAfterMs));
            if (c.scanner.Held() > 0) wake = std::min(wake, c.lastRead + kHeldIdle);
        }
        if (controlOpen_) add(STDIN_FILENO, POLLIN, kControl, 0);
        if (line_ && !silent_.on) {
            short events = 0;
            if (owner && owner->out.size() < kBacklogLimit) events |= POLLIN;
            if (!lineOut_.empty()) events |= POLLOUT;
            add(line_->Fd(), events, kLine, 0);
        }
        const auto wait = std::chrono::duration_cast<milliseconds>(wake - now).count() + 1;
        const int ready = poll(fds.data(), fds.size(), static_cast<int>(std::max<long long>(0, wait)));
        if (ready <= 0) continue;

        for (size_t k = 0; k < fds.size(); ++k) {
            const short re = fds[k].revents;
            if (re == 0) continue;
            const size_t i = who[k].second;
            switch (who[k].first) {
            case kListener:
                if (listeners_[i].fd >= 0) Accept(listeners_[i]);
                break;
            case kConnection: {
                Connection& c = *connections_[i];
                if (c.fd < 0) break;
                if (re & POLLOUT) FlushOut(c);
                if (c.fd >= 0 && (re & (POLLIN | POLLHUP | POLLERR))) ReadConnection(c);
                break;
            }
            case kControl:
                if (re & (POLLIN | POLLHUP)) ReadControl();
                else controlOpen_ = false;
                break;
            case kLine:
                if (!line_) break;
                if (re & POLLOUT) WriteBridge();
                if (re & (POLLIN | POLLERR | POLLHUP)) ReadBridge();
                break;
            }
        }
    }
    for (auto& c : connections_) Close(*c, "shutdown");
}

}  // namespace devsrv
