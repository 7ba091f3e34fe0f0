// combench: measures a serial port whose far end echoes, sinks or sources data, and
// prints the figures as one line of NAME=VALUE words:
//
//   combench latency PORT COUNT [BAUD]
//       COUNT one-byte round trips through an echo (after a few unrecorded ones):
//       latency port=.. round_trips=.. failed=.. median_ms=.. p99_ms=.. min_ms=.. max_ms=..
//       with each round trip in two stages: the write (until the driver's far end took
//       the byte and the write completed) and the echo (from there until the byte was
//       read back); write_/echo_median_ms and _p99_ms, and tail_write_ms/tail_echo_ms, the
//       stages' means over the slowest 1 % of round trips.
//   combench send PORT FILE BAUD [TIMEOUT_MS [SETTLE_MS]]
//       writes FILE; the far end checks it and answers one byte, K (all there, in order)
//       or X; the time runs from the first write to that answer:
//       send port=.. baud=.. bytes=.. ms=.. MBps=.. ack=K|X|none
//   combench recv PORT FILE BAUD [TIMEOUT_MS [SETTLE_MS]]
//       writes one byte G, upon which the far end sends FILE; reads until all of it is
//       there or no data came for TIMEOUT_MS, and compares it with FILE:
//       recv port=.. baud=.. bytes=.. received=.. ms=.. MBps=.. match=yes|no first_difference=..
//
// On a virtual port every line also carries the driver's request counters over the
// measured part (rq_KIND=..): per round trip for latency, per KiB (1024 bytes) moved for
// send and recv; rq_total is every request the port served, the application's and the
// control program's.
//
// A transfer starts SETTLE_MS (default 0) after the port was opened, so that the link
// to the device server is up and connection set-up is not part of the figure.
// PORT is COM5 on Windows and a tty path (/dev/pts/3) on Linux. MBps is 10^6 bytes per
// second. The exit code is 0 when the run was complete and right, 1 otherwise.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "bench_port.h"

using combench::BenchPort;
using combench::NowMs;

namespace {

constexpr unsigned kRoundTripTimeoutMs = 2000;
constexpr unsigned kDefaultTransferTimeoutMs = 60000;
constexpr int kWarmUpRoundTrips = 5;

int Usage()
{
    printf("usage: combench latency PORT COUNT [BAUD]\n"
           "       combench send PORT FILE BAUD [TIMEOUT_MS [SETTLE_MS]]\n"
           "       combench recv PORT FILE BAUD [TIMEOUT_MS [SETTLE_MS]]\n");
    return 2;
}

bool ReadFileBytes(const char* path, std::vector<uint8_t>& out)
{
    FILE* f = fopen(path, "rb");
    if (!f) return false;
    uint8_t buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) out.insert(out.end(), buffer, buffer + n);
    fclose(f);
    return true;
}

// Waits for one byte; -1 when none came in time or the read failed. Every read waits the
// same time, so that the port's time-outs are set once and not before each read.
int ReadByte(BenchPort& port, unsigned timeoutMs)
{
    const double end = NowMs() + timeoutMs;
    uint8_t b;
    while (NowMs() < end) {
        const long n = port.ReadSome(&b, 1, timeoutMs);
        if (n < 0) return -1;
        if (n == 1) return b;
    }
    return -1;
}

// The request counters as NAME=VALUE words, each the difference divided by `units`;
// empty when the port has none.
std::string CounterWords(BenchPort& port, const pta::LinkCounters& before, bool counted, double units)
{
    pta::LinkCounters after;
    if (!counted || !port.Counters(&after) || units <= 0) return "";
    struct Kind {
        const char* name;
        uint32_t pta::LinkCounters::*field;
    };
    static const Kind kinds[] = {
        {"reads", &pta::LinkCounters::Reads},       {"writes", &pta::LinkCounters::Writes},
        {"serial", &pta::LinkCounters::SerialControls}, {"fetches", &pta::LinkCounters::Fetches},
        {"empty_fetches", &pta::LinkCounters::EmptyFetches}, {"puts", &pta::LinkCounters::Puts},
        {"drains", &pta::LinkCounters::NotificationDrains}, {"reports", &pta::LinkCounters::Reports},
        {"other", &pta::LinkCounters::OtherLinkControls},
    };
    std::string words;
    uint32_t total = 0;
    char word[64];
    for (const Kind& k : kinds) {
        const uint32_t n = after.*k.field - before.*k.field;
        // The empty ones are among the fetches already.
        if (k.field != &pta::LinkCounters::EmptyFetches) total += n;
        snprintf(word, sizeof word, " rq_%s=%.3f", k.name, n / units);
        words += word;
    }
    snprintf(word, sizeof word, " rq_total=%.3f", total / units);
    return word + words;
}

double Percentile(const std::vector<double>& sorted, double p)
{
    if (sorted.empty()) return 0;
    size_t at = static_cast<size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[std::min(at, sorted.size() - 1)];
}

int Latency(BenchPort& port, const char* name, int count)
{
    struct Round {
        double total, write;
    };
    std::vector<Round> rounds;
    int failed = 0;
    pta::LinkCounters before = {};
    bool counted = false;
    for (int i = -kWarmUpRoundTrips; i < count; ++i) {
        if (i == 0) counted = port.Counters(&before);
        const uint8_t b = static_cast<uint8_t>('a' + (i + kWarmUpRoundTrips) % 26);
        const double start = NowMs();
        const bool written = port.WriteAll(&b, 1);
        const double writeEnd = NowMs();
        if (!written || ReadByte(port, kRoundTripTimeoutMs) != b) {
            ++failed;
            // A lost byte leaves the echo out of step: drain what may still come.
            uint8_t drain[256];
            while (port.ReadSome(drain, sizeof drain, 200) > 0) {
            }
            if (failed > 10) break;
            continue;
        }
        if (i >= 0) rounds.push_back({NowMs() - start, writeEnd - start});
    }
    const std::string requests = CounterWords(port, before, counted, static_cast<double>(rounds.size()));
    std::vector<double> totals, writes, echoes;
    double sum = 0;
    for (const Round& r : rounds) {
        totals.push_back(r.total);
        writes.push_back(r.write);
        echoes.push_back(r.total - r.write);
        sum += r.total;
    }
    for (std::vector<double>* v : {&totals, &writes, &echoes}) std::sort(v->begin(), v->end());
    // Where the slowest 1 % spent their time.
    std::vector<Round> slowest = rounds;
    std::sort(slowest.begin(), slowest.end(), [](const Round& a, const Round& b) { return a.total > b.total; });
    slowest.resize(rounds.empty() ? 0 : std::max<size_t>(1, rounds.size() / 100));
    double tailWrite = 0, tailEcho = 0;
    for (const Round& r : slowest) {
        tailWrite += r.write / static_cast<double>(slowest.size());
        tailEcho += (r.total - r.write) / static_cast<double>(slowest.size());
    }
    printf("latency port=%s round_trips=%zu failed=%d median_ms=%.3f p99_ms=%.3f min_ms=%.3f max_ms=%.3f "
           "mean_ms=%.3f write_median_ms=%.3f write_p99_ms=%.3f echo_median_ms=%.3f echo_p99_ms=%.3f "
           "tail_write_ms=%.3f tail_echo_ms=%.3f%s\n",
           name, rounds.size(), failed, Percentile(totals, 0.5), Percentile(totals, 0.99),
           totals.empty() ? 0 : totals.front(), totals.empty() ? 0 : totals.back(),
           rounds.empty() ? 0 : sum / static_cast<double>(rounds.size()), Percentile(writes, 0.5),
           Percentile(writes, 0.99), Percentile(echoes, 0.5), Percentile(echoes, 0.99), tailWrite, tailEcho,
           requests.c_str());
    return failed == 0 && static_cast<int>(rounds.size()) == count ? 0 : 1;
}

int Send(BenchPort& port, const char* name, const std::vector<uint8_t>& data, unsigned baud, unsigned timeoutMs)
{
    pta::LinkCounters before = {};
    const bool counted = port.Counters(&before);
    const double start = NowMs();
    const bool written = port.WriteAll(data.data(), data.size());
    const double writtenMs = NowMs() - start;
    const int ack = written ? ReadByte(port, timeoutMs) : -1;
    const double ms = NowMs() - start;
    const char* ackText = ack == 'K' ? "K" : ack == 'X' ? "X" : "none";
    const std::string requests = CounterWords(port, before, counted, static_cast<double>(data.size()) / 1024.0);
    printf("send port=%s baud=%u bytes=%zu ms=%.1f MBps=%.3f ack=%s written=%s write_ms=%.1f%s\n", name, baud,
           data.size(), ms, ack == 'K' ? static_cast<double>(data.size()) / 1000.0 / ms : 0.0, ackText,
           written ? "yes" : "no", writtenMs, requests.c_str());
    return ack == 'K' ? 0 : 1;
}

int Receive(BenchPort& port, const char* name, const std::vector<uint8_t>& data, unsigned baud, unsigned timeoutMs)
{
    std::vector<uint8_t> got(data.size());
    size_t received = 0;
    const uint8_t go = 'G';
    pta::LinkCounters before = {};
    const bool counted = port.Counters(&before);
    const double start = NowMs();
    double last = start;
    bool failed = !port.WriteAll(&go, 1);
    while (!failed && received < data.size()) {
        const long n = port.ReadSome(got.data() + received, data.size() - received, 500);
        if (n < 0) failed = true;
        if (n > 0) {
            received += static_cast<size_t>(n);
            last = NowMs();
        } else if (NowMs() - last > timeoutMs) {
            break;
        }
    }
    const double ms = last - start;
    long firstDifference = -1;
    for (size_t i = 0; i < received && firstDifference < 0; ++i)
        if (got[i] != data[i]) firstDifference = static_cast<long>(i);
    const bool match = !failed && received == data.size() && firstDifference < 0;
    const std::string requests = CounterWords(port, before, counted, static_cast<double>(received) / 1024.0);
    printf("recv port=%s baud=%u bytes=%zu received=%zu ms=%.1f MBps=%.3f match=%s first_difference=%ld%s\n",
           name, baud, data.size(), received, ms, ms > 0 ? static_cast<double>(received) / 1000.0 / ms : 0.0,
           match ? "yes" : "no", firstDifference, requests.c_str());
    return match ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc < 4) return Usage();
    const std::string mode = argv[1];
    const char* name = argv[2];
    const bool transfer = mode == "send" || mode == "recv";
    if (mode != "latency" && !transfer) return Usage();
    if (transfer && argc < 5) return Usage();

    const unsigned baud = static_cast<unsigned>(strtoul(transfer ? argv[4] : (argc > 4 ? argv[4] : "115200"), nullptr, 10));
    std::vector<uint8_t> data;
    if (transfer && !ReadFileBytes(argv[3], data)) {
        printf("%s port=%s error=cannot-read-%s\n", mode.c_str(), name, argv[3]);
        return 1;
    }
    std::string error;
    std::unique_ptr<BenchPort> port(combench::OpenBenchPort(name, baud, error));
    if (!port) {
        printf("%s port=%s error=\"%s\"\n", mode.c_str(), name, error.c_str());
        return 1;
    }
    if (mode == "latency") {
        const int count = atoi(argv[3]);
        return count > 0 ? Latency(*port, name, count) : Usage();
    }
    const unsigned timeoutMs =
        argc > 5 ? static_cast<unsigned>(strtoul(argv[5], nullptr, 10)) : kDefaultTransferTimeoutMs;
    const unsigned settleMs = argc > 6 ? static_cast<unsigned>(strtoul(argv[6], nullptr, 10)) : 0;
    if (settleMs > 0) {
        // Sleeps by waiting for data that does not come.
        uint8_t unexpected[256];
        const double end = NowMs() + settleMs;
        while (NowMs() < end)
            if (port->ReadSome(unexpected, sizeof unexpected, static_cast<unsigned>(end - NowMs()) + 1) < 0) break;
    }
    return mode == "send" ? Send(*port, name, data, baud, timeoutMs) : Receive(*port, name, data, baud, timeoutMs);
}
