#include "options.h"

#include <stdlib.h>

namespace devsrv {

const char* const kHelpText =
    "NAME\n"
    "    ptadevsrv - serial device server for Portara virtual COM ports\n"
    "\n"
    "SYNOPSIS\n"
    "    ptadevsrv [--listen ADDR] --port N [--port N ...] [OPTIONS]\n"
    "\n"
    "DESCRIPTION\n"
    "    Listens for TCP connections from the Portara control program and speaks the\n"
    "    device server side of its wire format: data with in-band messages, keep-alives,\n"
    "    modem status and the key exchange of the \"Encryption\" protocol. The data is\n"
    "    echoed, bridged to a pty or a serial device, or discarded. With --rfc2217 it\n"
    "    speaks Telnet with the COM port control option instead, as standard device\n"
    "    servers do.\n"
    "\n"
    "    Every event is printed on standard output, one line each:\n"
    "        listening ADDR PORT        refusing PORT\n"
    "        connect ID PEER            close ID peer|error|dropped|replaced|shutdown\n"
    "        msg ID NAME HEX            a message received (NAME as MSG_BAUD)\n"
    "        send ID NAME HEX           a message sent\n"
    "        key ID rx XX tx XX         the key exchange is complete\n"
    "        telnet ID ready|pending    the COM port option agreed or not (--rfc2217)\n"
    "        data ID HEX                data received (with --trace-data)\n"
    "        silent on|off              stall on|off\n"
    "        pty PATH                   serial PATH                      bridge ID\n"
    "        serial baud RATE|line 8N1|dtr N rts N|break N\n"
    "        bye                        the server has stopped\n"
    "\n"
    "OPTIONS\n"
    "    --listen ADDR      address to listen on (default 127.0.0.1; :: and 0.0.0.0 too)\n"
    "    --port N           TCP port, repeatable; 0 picks a free port (printed)\n"
    "    --echo             send every data byte back\n"
    "    --no-key-answer    take the engine's key out of the data but do not answer it\n"
    "    --alive MS         send MSG_ALIVE every MS milliseconds (default 2000; 0 = never);\n"
    "                       with --rfc2217 a Telnet NOP (default: never, as ser2net)\n"
    "    --rfc2217          Telnet with the COM port control option: settings arrive as\n"
    "                       its commands and are answered, modem status leaves as\n"
    "                       NOTIFY-MODEMSTATE, 0xFF is doubled in data both ways\n"
    "    --no-com-port      with --rfc2217: refuse the COM port control option\n"
    "    --modem VALUE      send this modem status byte to every new connection\n"
    "    --drop-after MS    close each connection MS milliseconds after it was accepted\n"
    "    --refuse           refuse connections from the start (see \"refuse\")\n"
    "    --pty              bridge the data to a new pty and print its path\n"
    "    --serial DEVICE    bridge the data to a serial device: baud rate, line control,\n"
    "                       DTR and RTS follow the messages, modem status follows the lines\n"
    "    --modem-poll MS    how often the serial device's lines are read (default 50)\n"
    "    --trace-data       print received data as \"data\" lines\n"
    "    --lifetime MS      stop after MS milliseconds (default: run until stopped)\n"
    "    --help             this text\n"
    "\n"
    "    The newest connection owns the bridge; it replaces an older one.\n"
    "\n"
    "COMMANDS (one per line on standard input)\n"
    "    modem VALUE        send modem status VALUE (0x.. or decimal) to every connection\n"
    "    silent [MS]        stop answering (no reads, no writes, no keep-alives), for MS\n"
    "                       milliseconds or until \"silent off\"\n"
    "    silent off         answer again\n"
    "    stall [MS]         stop reading from connections (a device held off by flow\n"
    "                       control) but go on sending, for MS milliseconds or until\n"
    "                       \"stall off\"\n"
    "    stall off          read again\n"
    "    drop [ID]          close every connection, or connection ID\n"
    "    refuse on|off      close the listening sockets (connections are refused) or reopen\n"
    "    send HEX           send bytes as data to every connection (XORed when keyed)\n"
    "    echo on|off        echo mode\n"
    "    key on|off         answer the engine's key or not\n"
    "    alive MS           keep-alive period (0 = never)\n"
    "    quit               stop\n"
    "\n"
    "    SIGTERM and SIGINT stop the server cleanly.\n";

bool ParseNumber(const std::string& text, uint32_t max, uint32_t& value)
{
    if (text.empty()) return false;
    char* end = nullptr;
    const unsigned long long v = strtoull(text.c_str(), &end, 0);
    if (*end != '\0' || text[0] == '-' || v > max) return false;
    value = static_cast<uint32_t>(v);
    return true;
}

bool ParseOptions(const std::vector<std::string>& args, Options& o, std::string& error)
{
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) {
                error = a + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        auto number = [&](uint32_t max, uint32_t& out) {
            std::string text;
            if (!value(text)) return false;
            if (!ParseNumber(text, max, out)) {
                error = "bad value for " + a + ": " + text;
                return false;
            }
            return true;
        };
        uint32_t n = 0;
        if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--listen") {
            if (!value(o.listen)) return false;
        } else if (a == "--port") {
            if (!number(65535, n)) return false;
            o.ports.push_back(static_cast<uint16_t>(n));
        } else if (a == "--echo") {
            o.echo = true;
        } else if (a == "--no-key-answer") {
            o.keyAnswer = false;
        } else if (a == "--alive") {
            if (!number(86400000, o.aliveMs)) return false;
            o.aliveGiven = true;
        } else if (a == "--rfc2217") {
            o.rfc2217 = true;
        } else if (a == "--no-com-port") {
            o.comPort = false;
        } else if (a == "--modem") {
            if (!number(255, n)) return false;
            o.modemStatus = static_cast<int>(n);
        } else if (a == "--drop-after") {
            if (!number(86400000, o.dropAfterMs)) return false;
        } else if (a == "--refuse") {
            o.refuse = true;
        } else if (a == "--pty") {
            o.pty = true;
        } else if (a == "--serial") {
            if (!value(o.serial)) return false;
        } else if (a == "--modem-poll") {
            if (!number(60000, o.modemPollMs)) return false;
            if (o.modemPollMs == 0) o.modemPollMs = 1;
        } else if (a == "--trace-data") {
            o.traceData = true;
        } else if (a == "--lifetime") {
            if (!number(0x7FFFFFFF, o.lifetimeMs)) return false;
        } else {
            error = "unknown option " + a;
            return false;
        }
    }
    if (o.help) return true;
    if (o.rfc2217 && !o.aliveGiven) o.aliveMs = 0;
    if (!o.comPort && !o.rfc2217) {
        error = "--no-com-port needs --rfc2217";
        return false;
    }
    if (o.ports.empty()) {
        error = "no --port given";
        return false;
    }
    if (o.pty && !o.serial.empty()) {
        error = "--pty and --serial exclude each other";
        return false;
    }
    return true;
}

}  // namespace devsrv
