// comsoak: the soak's applications. Streams numbered records (soak_stream.h) through many
// COM ports at once to an echoing device server and checks every one that comes back.
//
//   comsoak run --ports COM5,COM6,.. --seconds N [--baud B] [--kill COM19,..] [--cycle-ms M]
//   comsoak child PORT       (started by run: opens PORT, leaves requests pending, is killed)
//
// Each port has a thread that writes records (never more than a window ahead of the echo)
// and reads the echo back. Now and then a port ends its session: it waits for the echo of
// everything written, then either closes and reopens the port or purges it, and starts a
// new session. The --kill ports are instead opened by a child process with a read and a
// write pending, which is killed; the port must open again and carry data.
//
// The script tells about the faults it makes, one line each on standard input:
//   fault           the device server drops, refuses or falls silent from now
//   restored        it is back: the time until data flows again on every port is measured
//   force PORT      the control program forced PORT closed: its session is void
//   restart         the control program is being restarted: every session is void
//   quit            stop early
// Records lost while a fault is under way, or found missing within a grace time after the
// fault ended or after the port carried data again, are counted as lost to faults; anything else lost, and any record repeated, reordered or corrupted, is
// an error. Prints a line per port and a total line; exit code 0 only without errors.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "raw_line.h"
#include "soak_stream.h"

namespace {

constexpr DWORD kWriteTimeoutMs = 20000;
constexpr DWORD kReadWaitMs = 20;
constexpr uint32_t kWindowRecords = 192;      // at most this many records unechoed
constexpr uint32_t kBurstRecords = 32;        // records per write
constexpr ULONGLONG kDrainMs = 10000;         // a session's end waits this long for more echo
constexpr ULONGLONG kLostAfterMs = 8000;      // unechoed this long: records were lost
constexpr ULONGLONG kDeadAfterMs = 12000;     // no echo this long: the port is not carried
constexpr ULONGLONG kLiveAfterMs = 4000;      // a new session's first echo comes within this
constexpr ULONGLONG kFaultGraceMs = 10000;    // losses this long after a fault are its own
constexpr ULONGLONG kHangMs = 60000;          // a request outstanding this long is a hang
constexpr ULONGLONG kReopenMs = 30000;        // a port must open again within this

std::mutex g_print;
void Print(const char* format, ...)
{
    std::lock_guard<std::mutex> lock(g_print);
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    fflush(stdout);
}

ULONGLONG Now() { return GetTickCount64(); }

// The time of day, for lines that the script's own log is read beside.
std::string Clock()
{
    SYSTEMTIME t;
    GetLocalTime(&t);
    char text[16];
    snprintf(text, sizeof text, "%02u:%02u:%02u", t.wHour, t.wMinute, t.wSecond);
    return text;
}

HANDLE OpenPort(const std::string& name, DWORD baud)
{
    const std::string path = "\\\\.\\" + name;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return h;
    COMMTIMEOUTS t = {};
    t.ReadIntervalTimeout = MAXDWORD;
    t.ReadTotalTimeoutMultiplier = MAXDWORD;
    t.ReadTotalTimeoutConstant = kReadWaitMs;
    t.WriteTotalTimeoutConstant = kWriteTimeoutMs;
    if (!SetRawLine(h, baud) || !SetCommTimeouts(h, &t)) {
        CloseHandle(h);
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

// What the fault notices say, shared by every port thread.
struct Faults {
    std::mutex lock;
    ULONGLONG lastFault = 0;     // when the last fault began or ended (0: none yet)
    bool underWay = false;
    ULONGLONG restoredAt = 0;    // the last "restored", for the recovery times
    std::vector<ULONGLONG> recoveries;  // ms from "restored" to data on a port

    bool Excused(ULONGLONG at)
    {
        std::lock_guard<std::mutex> l(lock);
        return underWay || (lastFault && at < lastFault + kFaultGraceMs);
    }
};

unsigned long long U(uint64_t v) { return static_cast<unsigned long long>(v); }

// What a port counts, and what the run adds up.
struct Counts {
    uint64_t writtenBytes = 0, receivedBytes = 0, records = 0;
    uint64_t lostToFaults = 0, lostOther = 0, disorders = 0, garbledFaults = 0, garbledOther = 0;
    uint64_t stale = 0, sessions = 0, requests = 0, kills = 0, errors = 0, deadOpens = 0;

    void Add(const Counts& c)
    {
        writtenBytes += c.writtenBytes;
        receivedBytes += c.receivedBytes;
        records += c.records;
        lostToFaults += c.lostToFaults;
        lostOther += c.lostOther;
        disorders += c.disorders;
        garbledFaults += c.garbledFaults;
        garbledOther += c.garbledOther;
        stale += c.stale;
        sessions += c.sessions;
        requests += c.requests;
        kills += c.kills;
        errors += c.errors;
        deadOpens += c.deadOpens;
    }
    // The NAME=VALUE words of a port line and of the total line.
    std::string Words() const
    {
        char text[512];
        snprintf(text, sizeof text,
                 "written=%llu received=%llu records=%llu lost_to_faults=%llu lost=%llu disorders=%llu "
                 "garbled_in_faults=%llu garbled=%llu stale=%llu sessions=%llu requests=%llu kills=%llu "
                 "uncarried_opens=%llu errors=%llu",
                 U(writtenBytes), U(receivedBytes), U(records), U(lostToFaults), U(lostOther), U(disorders),
                 U(garbledFaults), U(garbledOther), U(stale), U(sessions), U(requests), U(kills), U(deadOpens),
                 U(errors));
        return text;
    }
};

class PortRun {
public:
    PortRun(std::string name, DWORD baud, Faults& faults, bool killer, const std::string& self)
        : name_(std::move(name)), baud_(baud), faults_(faults), killer_(killer), self_(self)
    {
    }

    void Run(ULONGLONG end, DWORD cycleMs, unsigned seed)
    {
        srand(seed);
        while (Now() < end && !stop_) {
            if (killer_) {
                KillCycle();
            } else if (!Session(std::min<ULONGLONG>(end, Now() + cycleMs / 2 + rand() % cycleMs))) {
                if (Now() > lastLive_ + kReopenMs) Error("not carried for a long time");
                continue;
            }
            lastLive_ = Now();
        }
    }

    void Stop() { stop_ = true; }
    void Void() { void_ = true; }  // the current session was ended by the control side
    const std::string& name() const { return name_; }
    bool Busy(ULONGLONG now) const
    {
        const ULONGLONG since = callSince_;
        return since && now > since + kHangMs;
    }
    const Counts& counts() const { return n_; }
    void PrintLine() const
    {
        Print("port %s %s opened_at=%llu first_echo_at=%llu last_echo_at=%llu\n", name_.c_str(),
              n_.Words().c_str(), U(firstOpenAt_), U(firstEchoAt_), U(lastEchoAt_));
    }

private:
    void Error(const char* what)
    {
        ++n_.errors;
        Print("error %s %s %s\n", Clock().c_str(), name_.c_str(), what);
    }

    // Every blocking call goes through here, so that the watchdog sees it outstanding.
    template <typename Call>
    BOOL Request(Call call)
    {
        callSince_ = Now();
        const BOOL ok = call();
        callSince_ = 0;
        ++n_.requests;
        return ok;
    }

    HANDLE Open(ULONGLONG within)
    {
        const ULONGLONG start = Now(), until = start + within;
        if (!firstOpenAt_) firstOpenAt_ = start;
        for (;;) {
            HANDLE h = INVALID_HANDLE_VALUE;
            Request([&] {
                h = OpenPort(name_, baud_);
                return h != INVALID_HANDLE_VALUE;
            });
            if (h != INVALID_HANDLE_VALUE || Now() >= until || stop_) return h;
            Sleep(200);  // refused while the control side is away, or the last close is answered
        }
    }

    // Reads what is there into the checker; false on a failed read. Records found lost
    // are charged to a fault when one is under way (or just was), else to this system.
    bool ReadSome(HANDLE h, soak::Checker& checker)
    {
        uint8_t buffer[8192];
        DWORD got = 0;
        if (!Request([&] { return ReadFile(h, buffer, sizeof buffer, &got, nullptr); })) return false;
        if (got == 0) return true;
        n_.receivedBytes += got;
        const uint64_t records = checker.records(), lost = checker.lost(), garbled = checker.garbled();
        checker.Feed(buffer, got);
        if (checker.records() > records) {
            lastEcho_ = Now();
            if (!firstEchoAt_) firstEchoAt_ = lastEcho_;
            lastEchoAt_ = lastEcho_;
            NoteFlowing();
        }
        Charge(checker.lost() - lost, checker.garbled() - garbled);
        return true;
    }

    void Charge(uint64_t lost, uint64_t garbled)
    {
        if (!lost && !garbled) return;
        if (void_ || faults_.Excused(Now()) || Now() < excusedUntil_) {
            n_.lostToFaults += lost;
            n_.garbledFaults += garbled;
        } else {
            n_.lostOther += lost;
            n_.garbledOther += garbled;
            char what[64];
            snprintf(what, sizeof what, "%llu records lost outside any fault", U(lost + garbled / soak::kRecordSize));
            Error(what);
        }
    }

    void NoteFlowing()
    {
        std::lock_guard<std::mutex> l(faults_.lock);
        if (faults_.restoredAt && restoredSeen_ != faults_.restoredAt) {
            restoredSeen_ = faults_.restoredAt;
            faults_.recoveries.push_back(Now() - faults_.restoredAt);
            // What the fault cost this port shows as gaps in the records that arrive now,
            // however long the port took to come back.
            excusedUntil_ = Now() + kFaultGraceMs;
        }
    }

    bool Uncarried(HANDLE h)
    {
        Request([&] { return CloseHandle(h); });
        ++n_.deadOpens;
        if (n_.deadOpens % 10 == 0) Print("note %s %llu opens not carried so far\n", name_.c_str(), U(n_.deadOpens));
        Sleep(200);
        return false;
    }

    bool EchoOverdue(uint32_t written, const soak::Checker& checker, ULONGLONG ms) const
    {
        return written > checker.next() && Now() > lastEcho_ + ms;
    }

    // One session: stream until `until`, then drain and end it by a close or a purge.
    // False when the handle turned out not to be carried at all: an open made while no
    // control program was attached (a handle of the control side, not an application's),
    // or, under Wine, one the driver refused after the handle was handed out. Its writes
    // were dropped by the driver, never reported to this session as echoed.
    bool Session(ULONGLONG until)
    {
        HANDLE h = Open(kReopenMs);
        if (h == INVALID_HANDLE_VALUE) {
            if (!stop_) Error("does not open again");
            Sleep(1000);
            return false;
        }
        void_ = false;
        const ULONGLONG opened = Now();
        lastEcho_ = opened;
        const uint32_t session = session_++ & 0x3F;
        soak::Checker checker(session);
        uint32_t written = 0;  // records fully written
        uint32_t base = 0;     // the window starts at the echo, or here once records were lost
        std::vector<uint8_t> burst(kBurstRecords * soak::kRecordSize);
        while (Now() < until && !stop_ && !void_) {
            // Records lost on the way never come back: after a while the window moves on.
            if (EchoOverdue(written, checker, kLostAfterMs)) base = written;
            if (written < std::max(checker.next(), base) + kWindowRecords &&
                written + kBurstRecords < soak::kMaxSequence) {
                for (uint32_t i = 0; i < kBurstRecords; ++i)
                    soak::MakeRecord(session, written + i, &burst[i * soak::kRecordSize]);
                size_t at = 0;
                while (at < burst.size() && !stop_) {
                    DWORD n = 0;
                    Request([&] {
                        return WriteFile(h, &burst[at], static_cast<DWORD>(burst.size() - at), &n, nullptr);
                    });
                    n_.writtenBytes += n;
                    at += n;
                    if (n == 0) ReadSome(h, checker);  // held back: keep the echo moving
                }
                written += kBurstRecords;
            }
            if (!ReadSome(h, checker)) break;
            if (checker.records() == 0 && written > 0 && Now() > opened + kLiveAfterMs) return Uncarried(h);
            // Nothing at all comes back: the port is no longer carried (forced off, or the
            // control program went away); a new session opens it again.
            if (EchoOverdue(written, checker, kDeadAfterMs)) break;
        }
        // The echo of everything written, then the end of the session.
        while (checker.next() < written && !EchoOverdue(written, checker, kDrainMs) && !void_)
            ReadSome(h, checker);
        if (checker.records() == 0 && written > 0) return Uncarried(h);
        const bool purge = rand() % 3 == 0;
        if (purge) Request([&] { return PurgeComm(h, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR); });
        Request([&] { return CloseHandle(h); });
        // Under Wine the close returns before the driver has ended it, and an open made
        // meanwhile is handed a handle that the driver then refuses: give it a moment.
        Sleep(500);
        ++n_.sessions;
        n_.records += checker.records();
        n_.stale += checker.stale();
        n_.disorders += checker.disorders();
        if (checker.disorders()) Error("records repeated or out of order");
        Charge(written > checker.next() ? written - checker.next() : 0, 0);
        return true;
    }

    // A child opens the port, leaves a read and a write pending and is killed; then the
    // port must open again and echo a few records.
    void KillCycle()
    {
        char command[512];
        snprintf(command, sizeof command, "\"%s\" child %s", self_.c_str(), name_.c_str());
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
            Error("child did not start");
            Sleep(1000);
            return;
        }
        Sleep(700 + rand() % 600);
        TerminateProcess(pi.hProcess, 9);
        WaitForSingleObject(pi.hProcess, 10000);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        ++n_.kills;
        // The port must come back to the next application.
        const ULONGLONG until = Now() + kReopenMs;
        while (!Session(Now() + kLiveAfterMs + 1500) && !stop_) {
            if (Now() > until) {
                Error("not carried again after its application was killed");
                return;
            }
        }
    }

    std::string name_;
    DWORD baud_;
    Faults& faults_;
    bool killer_;
    std::string self_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> void_{false};
    std::atomic<ULONGLONG> callSince_{0};
    ULONGLONG restoredSeen_ = 0;
    ULONGLONG lastEcho_ = 0;
    ULONGLONG excusedUntil_ = 0;
    // For the benchmark, on the clock all of the prefix's processes share (0: not yet):
    // the first open attempt, the first and the last record echoed.
    ULONGLONG firstOpenAt_ = 0, firstEchoAt_ = 0, lastEchoAt_ = 0;
    ULONGLONG lastLive_ = Now();
    uint32_t session_ = 0;
    Counts n_;
};

std::vector<std::string> Split(const char* list)
{
    std::vector<std::string> out;
    std::string item;
    for (const char* p = list;; ++p) {
        if (*p == ',' || *p == 0) {
            if (!item.empty()) out.push_back(item);
            item.clear();
            if (*p == 0) break;
        } else {
            item += *p;
        }
    }
    return out;
}

// The child: opens the port (retrying while it is refused), leaves a read and a write
// pending, and waits to be killed.
int Child(const char* name)
{
    HANDLE h = INVALID_HANDLE_VALUE;
    for (int i = 0; i < 50 && h == INVALID_HANDLE_VALUE; ++i) {
        h = CreateFileA((std::string("\\\\.\\") + name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                        OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (h == INVALID_HANDLE_VALUE) Sleep(100);
    }
    if (h == INVALID_HANDLE_VALUE) return 1;
    SetRawLine(h, 9600);  // slow: the write is still pending when the child dies
    COMMTIMEOUTS t = {0, 0, 60000, 0, 0};
    SetCommTimeouts(h, &t);
    static uint8_t in[4096], out[65536];
    for (size_t i = 0; i < sizeof out; ++i) out[i] = static_cast<uint8_t>(i % 0x7E);
    OVERLAPPED r = {}, w = {};
    r.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    w.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ReadFile(h, in, sizeof in, nullptr, &r);
    WriteFile(h, out, sizeof out, nullptr, &w);
    Sleep(INFINITE);
    return 0;
}

int Run(int argc, char** argv)
{
    std::vector<std::string> ports, killPorts;
    DWORD seconds = 60, baud = 115200, cycleMs = 6000;
    for (int i = 2; i + 1 < argc; i += 2) {
        if (!strcmp(argv[i], "--ports")) ports = Split(argv[i + 1]);
        else if (!strcmp(argv[i], "--kill")) killPorts = Split(argv[i + 1]);
        else if (!strcmp(argv[i], "--seconds")) seconds = strtoul(argv[i + 1], nullptr, 10);
        else if (!strcmp(argv[i], "--baud")) baud = strtoul(argv[i + 1], nullptr, 10);
        else if (!strcmp(argv[i], "--cycle-ms")) cycleMs = strtoul(argv[i + 1], nullptr, 10);
    }
    if (ports.empty() || cycleMs == 0) {
        printf("usage: comsoak run --ports COM5,.. --seconds N [--baud B] [--kill COMx,..] [--cycle-ms M]\n");
        return 2;
    }
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    Faults faults;
    std::vector<std::unique_ptr<PortRun>> runs;
    for (const std::string& p : ports) {
        const bool killer = std::find(killPorts.begin(), killPorts.end(), p) != killPorts.end();
        runs.emplace_back(new PortRun(p, baud, faults, killer, self));
    }
    const ULONGLONG end = Now() + seconds * 1000ull;
    struct Start {
        PortRun* run;
        ULONGLONG end;
        DWORD cycleMs;
        unsigned seed;
    };
    std::vector<Start> starts;
    for (size_t i = 0; i < runs.size(); ++i) starts.push_back({runs[i].get(), end, cycleMs, 1234u + static_cast<unsigned>(i)});
    std::vector<HANDLE> threads;
    for (Start& s : starts) {
        threads.push_back(CreateThread(
            nullptr, 0,
            [](LPVOID p) -> DWORD {
                auto* s = static_cast<Start*>(p);
                s->run->Run(s->end, s->cycleMs, s->seed);
                return 0;
            },
            &s, 0, nullptr));
    }
    // Fault notices from the script.
    HANDLE notices = CreateThread(
        nullptr, 0,
        [](LPVOID p) -> DWORD {
            auto* ctx = static_cast<std::pair<Faults*, std::vector<std::unique_ptr<PortRun>>*>*>(p);
            char line[256];
            while (fgets(line, sizeof line, stdin)) {
                line[strcspn(line, "\r\n")] = 0;
                Print("notice %s %s\n", Clock().c_str(), line);
                Faults& f = *ctx->first;
                std::lock_guard<std::mutex> l(f.lock);
                if (!strcmp(line, "fault")) {
                    f.underWay = true;
                    f.lastFault = Now();
                } else if (!strcmp(line, "restored")) {
                    f.underWay = false;
                    f.lastFault = f.restoredAt = Now();
                } else if (!strncmp(line, "force ", 6)) {
                    f.lastFault = Now();
                    for (auto& r : *ctx->second)
                        if (r->name() == line + 6) r->Void();
                } else if (!strcmp(line, "restart")) {
                    f.lastFault = Now();
                    for (auto& r : *ctx->second) r->Void();
                } else if (!strcmp(line, "quit")) {
                    for (auto& r : *ctx->second) r->Stop();
                }
            }
            return 0;
        },
        new std::pair<Faults*, std::vector<std::unique_ptr<PortRun>>*>(&faults, &runs), 0, nullptr);
    CloseHandle(notices);

    // Watchdog: a request outstanding too long is a hang, and ends the run.
    bool hung = false;
    for (;;) {
        const DWORD r = WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE, 1000);
        if (r != WAIT_TIMEOUT) break;
        for (auto& run : runs) {
            if (run->Busy(Now())) {
                Print("error %s a request hung\n", run->name().c_str());
                hung = true;
            }
        }
        if (hung || Now() > end + kHangMs + kReopenMs) {
            if (!hung) Print("error the run did not end\n");
            hung = true;
            break;
        }
    }
    Counts t;
    for (auto& run : runs) {
        run->PrintLine();
        t.Add(run->counts());
    }
    std::vector<ULONGLONG> rec;
    {
        std::lock_guard<std::mutex> l(faults.lock);
        rec = faults.recoveries;
    }
    std::sort(rec.begin(), rec.end());
    Print("recovery count=%zu median_ms=%llu max_ms=%llu\n", rec.size(), rec.empty() ? 0ull : U(rec[rec.size() / 2]),
          rec.empty() ? 0ull : U(rec.back()));
    Print("total ports=%zu %s hung=%d\n", runs.size(), t.Words().c_str(), hung ? 1 : 0);
    fflush(stdout);
    // A hung request's thread cannot be joined: leave at once.
    if (hung) ExitProcess(1);
    return t.errors == 0 && t.records > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && !strcmp(argv[1], "child")) return Child(argv[2]);
    if (argc >= 2 && !strcmp(argv[1], "run")) return Run(argc, argv);
    printf("usage: comsoak run ... | comsoak child PORT\n");
    return 2;
}
