// comdemo: what any serial program does with a COM port, through the standard serial
// calls only. Opens the port at 115200 8N1, raises DTR and RTS, writes a message, reads
// the echo back and prints what went out, what came back and the modem lines.
//
//   comdemo COMn [message]
//
// Exits 0 when the echo matched the message, 1 when it did not, 2 on a usage error.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "raw_line.h"

namespace {

constexpr DWORD kEchoWaitMs = 10000;
constexpr DWORD kModemWaitMs = 2000;

void PrintError(const char* what)
{
    printf("%s failed (error %lu)\n", what, GetLastError());
}

// Printable text of arbitrary bytes: printable ASCII as it is, the rest as \xNN.
std::string Shown(const std::string& bytes)
{
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char b[8];
            snprintf(b, sizeof b, "\\x%02X", c);
            out += b;
        }
    }
    return out;
}

std::string ModemLines(DWORD status)
{
    std::string out;
    out += (status & MS_CTS_ON) ? "CTS on, " : "CTS off, ";
    out += (status & MS_DSR_ON) ? "DSR on, " : "DSR off, ";
    out += (status & MS_RING_ON) ? "RI on, " : "RI off, ";
    out += (status & MS_RLSD_ON) ? "DCD on" : "DCD off";
    return out;
}

bool Configure(HANDLE port)
{
    if (!SetRawLine(port, CBR_115200)) {
        PrintError("SetCommState");
        return false;
    }
    // A read returns when its buffer is full, or after the total time-out.
    COMMTIMEOUTS timeouts = {};
    timeouts.ReadIntervalTimeout = 0;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 1000;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 5000;
    if (!SetCommTimeouts(port, &timeouts)) {
        PrintError("SetCommTimeouts");
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3 || strncmp(argv[1], "COM", 3) != 0) {
        printf("usage: comdemo COMn [message]\n");
        return 2;
    }
    const std::string name = argv[1];
    const std::string message = argc == 3 ? argv[2] : "Hello from " + name + " through Portara";
    setvbuf(stdout, nullptr, _IONBF, 0);

    const std::string path = "\\\\.\\" + name;
    HANDLE port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        PrintError(("CreateFile " + name).c_str());
        return 1;
    }
    printf("%s: opened\n", name.c_str());
    bool ok = Configure(port);
    if (ok) printf("%s: 115200 8N1, no flow control\n", name.c_str());
    if (ok && (!EscapeCommFunction(port, SETDTR) || !EscapeCommFunction(port, SETRTS))) {
        PrintError("EscapeCommFunction");
        ok = false;
    }
    if (ok) printf("%s: DTR and RTS raised\n", name.c_str());

    std::string received;
    if (ok) {
        DWORD written = 0;
        if (!WriteFile(port, message.data(), static_cast<DWORD>(message.size()), &written, nullptr) ||
            written != message.size()) {
            PrintError("WriteFile");
            ok = false;
        } else {
            printf("%s: sent     %lu bytes \"%s\"\n", name.c_str(), written, Shown(message).c_str());
        }
    }
    if (ok) {
        // Reads until the whole echo is back or the time is up.
        const ULONGLONG end = GetTickCount64() + kEchoWaitMs;
        char buffer[512];
        while (received.size() < message.size() && GetTickCount64() < end) {
            DWORD want = static_cast<DWORD>(message.size() - received.size());
            if (want > sizeof buffer) want = sizeof buffer;
            DWORD got = 0;
            if (!ReadFile(port, buffer, want, &got, nullptr)) {
                PrintError("ReadFile");
                break;
            }
            received.append(buffer, got);
        }
        printf("%s: received %lu bytes \"%s\"\n", name.c_str(), static_cast<unsigned long>(received.size()),
               Shown(received).c_str());
    }

    // The device server reports its modem lines when the link comes up; give a late
    // report a moment before showing them.
    DWORD status = 0;
    if (ok) {
        const ULONGLONG end = GetTickCount64() + kModemWaitMs;
        while (GetCommModemStatus(port, &status) && status == 0 && GetTickCount64() < end) Sleep(50);
        if (!GetCommModemStatus(port, &status)) {
            PrintError("GetCommModemStatus");
            ok = false;
        } else {
            printf("%s: modem lines: %s\n", name.c_str(), ModemLines(status).c_str());
        }
    }
    if (ok) EscapeCommFunction(port, CLRDTR);
    CloseHandle(port);

    const bool matched = ok && received == message;
    printf("%s: %s\n", name.c_str(), matched ? "echo matched" : "ECHO DID NOT MATCH");
    return matched ? 0 : 1;
}
