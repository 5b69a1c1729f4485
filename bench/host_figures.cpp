// Measures velder-async.dll inside the mIRC stand-in and prints the figures:
//   velder-host-figures
// 1. 16 queries to stand-in servers that answer after 300 ms, on a mIRC
//    7.70 host (UTF-16 buffers) and a 6.35 one (ANSI): how long the 16
//    QueryStart calls took, whether every result came and matches GetInfo's
//    bytes for the same server (code unit by code unit in UTF-16), the
//    longest time the host's window went without handling its 10 ms timer,
//    and what LoadDll did to the load structure.
// 2. An unload with 8 queries to silent servers in flight: how long until
//    every worker ended.
// 3. A host whose thread handles nothing for 6 s while 16 queries finish:
//    the workers end meanwhile, and every signal arrives once it handles
//    messages again, with every result.
// 4. 1,000 cycles of load, one query, unload and unmap: whether a ticket
//    number came twice, and the value a new handle gets after the 10th and
//    the last cycle (a handle left open per cycle would push it up; Wine's
//    GetProcessHandleCount answers 0, so the count itself is not read).
// Exits non-zero when a result or signal is missing or differs, a worker
// outlives 20 s, a ticket repeats or a handle stays open; the times
// themselves are printed, not judged.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/program.h"
#include "standin/standin_server.h"
#include "standin/status_reply.h"
#include "tests/mirc_host/mirc_host.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using velder::hoststandin::MircHost;
using velder::hoststandin::ThreadCount;
using velder::hoststandin::Version;

double Milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

const std::string kAsync = velder::platform::BesideProgram("velder-async.dll");
const std::string kSync = velder::platform::BesideProgram("velder.dll");

bool StartServers(velder::standin::Server& server, int count, bool answer,
                  std::chrono::milliseconds delay) {
    velder::standin::Options options;
    if (answer) {
        velder::standin::ServerSample sample;
        sample.name = "x | //echo $me";
        options.reply = velder::standin::BuildStatusReply(sample);
    }
    options.delay = delay;
    options.ports = count;
    if (!server.Start(options)) {
        std::printf("cannot start stand-in servers: %s\n", server.Error().c_str());
        return false;
    }
    return true;
}

bool SixteenAtOnce(Version version) {
    constexpr int kQueries = 16;
    velder::standin::Server servers;
    if (!StartServers(servers, kQueries, true, 300ms)) {
        return false;
    }
    MircHost host(version);
    // Loads the DLL before the clock starts.
    const bool unicode = host.Call(kAsync, "QueryResult", "0").unicode;
    const MircHost::LoadCheck load = host.LoadResult(kAsync);
    host.StartTicks(10);
    host.Pump(100ms);

    std::vector<std::string> tickets;
    const auto start = Clock::now();
    for (int i = 0; i < kQueries; ++i) {
        tickets.push_back(host.Call(kAsync, "QueryStart", "q4 " + servers.Address(i)).text);
    }
    const auto started = Clock::now();
    const bool signalled = host.PumpUntil([&] { return host.Commands().size() >= kQueries; }, 20s);
    std::vector<std::string> results;
    for (const std::string& ticket : tickets) {
        results.push_back(host.Call(kAsync, "QueryResult", ticket).text);
    }
    const auto fetched = Clock::now();
    host.Pump(100ms);
    host.StopTicks();

    int same = 0;
    int sameAfterDigits = 0;
    std::string asyncTimes;
    std::string syncTimes;
    for (int i = 0; i < kQueries; ++i) {
        const std::string expected = host.Call(kSync, "GetInfo", servers.Address(i)).text;
        asyncTimes.append(1, ' ').append(results[i], 0, 4);
        syncTimes.append(1, ' ').append(expected, 0, 4);
        same += results[i] == expected;
        sameAfterDigits += results[i].size() > 4 && expected.size() > 4 &&
                           results[i].compare(4, std::string::npos, expected, 4) == 0;
    }
    std::printf("16 queries on a mIRC %u.%02u host, servers answering after 300 ms\n",
                static_cast<unsigned>(version.major), static_cast<unsigned>(version.minor));
    std::printf(
        "  buffers                       %s, %zu characters; mKeep %d, mUnicode %d, "
        "load structure's other bytes and canary %s\n",
        unicode ? "UTF-16" : "ANSI", host.BufferSize(), load.keep, load.unicode ? 1 : 0,
        load.beyondIntact ? "intact" : "CHANGED");
    std::printf("  16 QueryStart calls took      %.2f ms in all\n", Milliseconds(started - start));
    std::printf("  all 16 signals arrived        %s, %zu commands logged\n",
                signalled ? "yes" : "NO", host.Commands().size());
    std::printf("  start to last result fetched  %.1f ms\n", Milliseconds(fetched - start));
    std::printf(
        "  results equal to GetInfo's    %d of 16 byte for byte, %d of 16 after the "
        "4 round-trip digits\n",
        same, sameAfterDigits);
    std::printf("  round-trip digits, velder-async:%s\n", asyncTimes.c_str());
    std::printf("  round-trip digits, GetInfo:     %s\n", syncTimes.c_str());
    std::printf("  10 ms timer: %zu ticks, longest gap %lld ms\n", host.Ticks(),
                static_cast<long long>(host.LongestTickGap().count()));
    const bool wantUnicode = version.major >= 7;
    return signalled && sameAfterDigits == kQueries && unicode == wantUnicode &&
           load.unicode == wantUnicode && load.keep == 1 && load.beyondIntact;
}

// Waits, handling messages or not, until the process is back to `threads`.
double UntilThreadsEnd(MircHost& host, std::size_t threads, bool pump, Clock::time_point from,
                       bool* ended) {
    *ended = false;
    if (pump) {
        *ended = host.PumpUntil([&] { return ThreadCount() <= threads; }, 20s);
        return Milliseconds(Clock::now() - from);
    }
    // A hung host: this thread handles nothing; another one watches.
    std::atomic<bool> done{false};
    std::atomic<long long> at{-1};
    std::thread watcher([&] {
        while (Clock::now() - from < 20s) {
            if (ThreadCount() <= threads + 1) {  // the watcher itself
                at = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - from)
                         .count();
                break;
            }
            std::this_thread::sleep_for(10ms);
        }
        done = true;
    });
    while (!done) {
        host.Stall(20ms);
    }
    watcher.join();
    *ended = at >= 0;
    return static_cast<double>(at);
}

// Starts a query to each of the first `count` servers; their tickets.
std::vector<std::string> Ask(MircHost& host, const velder::standin::Server& servers, int count) {
    std::vector<std::string> tickets;
    for (int i = 0; i < count; ++i) {
        tickets.push_back(host.Call(kAsync, "QueryStart", "q4 " + servers.Address(i)).text);
    }
    return tickets;
}

bool UnloadInFlight() {
    velder::standin::Server servers;
    if (!StartServers(servers, 8, false, 0ms)) {
        return false;
    }
    MircHost host;
    const std::size_t threads = ThreadCount();
    Ask(host, servers, 8);
    const auto from = Clock::now();
    const int answer = host.Unload(kAsync);
    const double unloadCall = Milliseconds(Clock::now() - from);
    bool ended = false;
    const double ms = UntilThreadsEnd(host, threads, true, from, &ended);
    const bool gone = velder::hoststandin::DllAtRest(kAsync);
    std::printf("unload with 8 queries to silent servers in flight\n");
    std::printf("  UnloadDll(0) answered %d; UnloadDll and FreeLibrary took %.2f ms\n", answer,
                unloadCall);
    std::printf(
        "  every worker ended after      %.0f ms%s; DLL %s; host window %s; "
        "%zu commands after unload\n",
        ms, ended ? "" : " (NOT within 20 s)", gone ? "unmapped" : "STILL MAPPED",
        IsWindow(static_cast<HWND>(host.Window())) ? "alive" : "GONE", host.Commands().size());
    return ended && gone && host.Commands().empty();
}

bool HungHost() {
    constexpr int kQueries = 16;
    velder::standin::Server servers;
    if (!StartServers(servers, kQueries, true, 100ms)) {
        return false;
    }
    MircHost host;
    const std::size_t threads = ThreadCount();
    const std::vector<std::string> tickets = Ask(host, servers, kQueries);
    const auto from = Clock::now();
    bool ended = false;
    // Every answer is in after 100 ms; the DLL's launcher then waits for the
    // host, with the signals it sent, and the workers end.
    host.Stall(6s);
    const double ms = UntilThreadsEnd(host, threads + 1, false, from, &ended);
    const bool signalled = host.PumpUntil([&] { return host.Commands().size() >= kQueries; }, 20s);
    host.Pump(200ms);
    int results = 0;
    for (const std::string& ticket : tickets) {
        const std::string result = host.Call(kAsync, "QueryResult", ticket).text;
        results += result != "pending" && result != "unknown";
    }
    std::printf("host thread that handles nothing for 6 s while 16 queries finish after 100 ms\n");
    std::printf(
        "  every worker ended after      %.0f ms%s; %zu of 16 signals once the host woke, "
        "%d of 16 results\n",
        ms, ended ? "" : " (NOT within 20 s)", host.Commands().size(), results);
    return ended && signalled && host.Commands().size() == kQueries && results == kQueries;
}

bool Reloads() {
    velder::standin::Server servers;
    if (!StartServers(servers, 1, true, 0ms)) {
        return false;
    }
    constexpr int kCycles = 1000;
    std::set<std::string> tickets;
    std::uintptr_t tenth = 0;
    std::uintptr_t last = 0;

    bool fine = true;
    const auto from = Clock::now();
    for (int cycle = 1; cycle <= kCycles && fine; ++cycle) {
        MircHost host;
        const std::string ticket = host.Call(kAsync, "QueryStart", "q4 " + servers.Address()).text;
        fine = tickets.insert(ticket).second &&
               host.PumpUntil([&] { return !host.Commands().empty(); }, 20s);
        host.Call(kAsync, "QueryResult", ticket);
        host.Unload(kAsync);
        fine = fine && host.PumpUntil([] { return velder::hoststandin::DllAtRest(kAsync); }, 20s);
        last = velder::hoststandin::NewHandleValue();
        tenth = cycle == 10 ? last : tenth;
    }
    std::printf("%d cycles of load, one query, unload and unmap, in %.1f s\n", kCycles,
                Milliseconds(Clock::now() - from) / 1000);
    std::printf(
        "  %zu different tickets; a new handle is %#llx after the 10th cycle, %#llx after "
        "the last%s\n",
        tickets.size(), static_cast<unsigned long long>(tenth),
        static_cast<unsigned long long>(last), fine ? "" : " (a cycle FAILED)");
    return fine && tickets.size() == kCycles && tenth == last;
}

}  // namespace

int main() {
    bool ok = SixteenAtOnce({7, 70});
    ok = SixteenAtOnce({6, 35}) && ok;
    ok = UnloadInFlight() && ok;
    ok = HungHost() && ok;
    ok = Reloads() && ok;
    std::printf("%s\n", ok ? "all figures taken" : "SOMETHING FAILED");
    return ok ? 0 : 1;
}
