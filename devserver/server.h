// The device server: listening sockets, connections speaking the device server side of
// the wire format, the control commands, and the bridge to a pty or serial device. One
// thread, one poll loop with bounded waits.
#pragma once

#include <netinet/in.h>
#include <stdint.h>
#include <sys/socket.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "com_port_link.h"
#include "control.h"
#include "link_key.h"
#include "net_tx_ring.h"
#include "options.h"
#include "receive_scanner.h"
#include "serial_line.h"

namespace devsrv {

using Clock = std::chrono::steady_clock;

class Server {
public:
    explicit Server(const Options& options);
    ~Server();

    // Opens the listening sockets and the bridge; false with a message on stderr.
    bool Start();
    // Runs until `stop` becomes nonzero, "quit", or the lifetime ends.
    void Run(volatile int* stop);

private:
    struct Listener {
        uint16_t port = 0;  // the port bound (the chosen one for port 0)
        int fd = -1;
    };
    struct Connection;

    bool OpenListener(Listener& l);
    void Accept(Listener& l);
    void ServiceConnection(Connection& c, short revents);
    void ReadConnection(Connection& c);
    void FlushOut(Connection& c);
    void Queue(Connection& c, const uint8_t* data, size_t length, bool encode = true);
    void QueueMessage(Connection& c, const pta::protocol::InbandMessage& m);
    void SendTelnetOutput(Connection& c);
    void Close(Connection& c, const char* reason);
    void ReadBridge();
    void WriteBridge();
    void PollModemLines(Clock::time_point now);
    void Timers(Clock::time_point now);
    void ReadControl();
    void Execute(const Command& command);
    void SetRefuse(bool refuse);
    Connection* BridgeOwner();

    // Connection callbacks, in stream order.
    void OnData(Connection& c, const uint8_t* data, size_t length);
    void OnMessage(Connection& c, const pta::protocol::ReceivedMessage& m);

    Options options_;
    std::vector<Listener> listeners_;
    std::vector<std::unique_ptr<Connection>> connections_;
    std::unique_ptr<SerialLine> line_;
    std::vector<uint8_t> lineOut_;         // bytes waiting for the bridge
    uint32_t nextId_ = 1;
    uint32_t bridgeOwner_ = 0;
    bool refusing_ = false;
    // A fault switched on by a command, for a time or until switched off.
    struct Fault {
        bool on = false;
        bool timed = false;
        Clock::time_point until;
        void Start(uint32_t ms)
        {
            on = true;
            timed = ms != 0;
            until = Clock::now() + std::chrono::milliseconds(ms);
        }
        bool Expired(Clock::time_point now) const { return on && timed && now >= until; }
    };
    Fault silent_;  // no reads, no writes, no keep-alives
    Fault stall_;   // no reads
    int modemStatus_ = -1;                // current status to report, -1: none yet
    bool modemLinesReadable_ = true;
    Clock::time_point nextModemPoll_;
    bool controlOpen_ = true;
    std::string controlText_;
    bool quit_ = false;
    pta::protocol::KeyGenerator keyGen_;
};

}  // namespace devsrv
