// Times velder-async inside the mIRC stand-in (tests/mirc_host) and prints
// the figures; whether the results and signals are right is async_dll_test's.
//   bench_host_figures
// 1. 16 queries to stand-in servers that answer after 300 ms, on a mIRC
//    7.70 host (UTF-16 buffers) and a 6.35 one (ANSI): how long the 16
//    QueryStart calls took, how long until the last result was fetched, and
//    the longest time the host's window went without handling its 10 ms timer.
// 2. An unload with 8 queries to silent servers in flight: how long the
//    unload took and how long until every worker ended.
// 3. A host whose thread handles nothing for 6 s while 16 queries finish:
//    how long until the workers ended meanwhile.
// 4. 1,000 cycles of load, one query, unload and unmap: how long they took.
// Exits non-zero when a figure could not be taken (no stand-in servers, or
// a wait ran past its 20 s).
#include <atomic>
#include <chrono>
#include <cstdio>
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

const std::string kAsync = velder::platform::BesideProgram(VELDER_ASYNC_LIBRARY);

bool StartServers(velder::standin::Server& server, int count, bool answer,
                  std::chrono::milliseconds delay) {
    velder::standin::Options options;
    if (answer) {
        options.reply = velder::standin::BuildStatusReply(velder::standin::ServerSample{});
    }
    options.delay = delay;
    options.ports = count;
    if (!server.Start(options)) {
        std::printf("cannot start stand-in servers: %s\n", server.Error().c_str());
        return false;
    }
    return true;
}

// Starts a query to each of the first `count` servers; their tickets.
std::vector<std::string> Ask(MircHost& host, const velder::standin::Server& servers, int count) {
    std::vector<std::string> tickets;
    for (int i = 0; i < count; ++i) {
        tickets.push_back(host.Call(kAsync, "QueryStart", "q4 " + servers.Address(i)).text);
    }
    return tickets;
}

bool SixteenAtOnce(Version version) {
    constexpr int kQueries = 16;
    velder::standin::Server servers;
    if (!StartServers(servers, kQueries, true, 300ms)) {
        return false;
    }
    MircHost host(version);
    host.Call(kAsync, "QueryResult", "0");  // loads the DLL before the clock starts
    host.StartTicks(10);
    host.Pump(100ms);

    const auto start = Clock::now();
    const std::vector<std::string> tickets = Ask(host, servers, kQueries);
    const auto started = Clock::now();
    const bool signalled = host.PumpUntil([&] { return host.Commands().size() >= kQueries; }, 20s);
    for (const std::string& ticket : tickets) {
        host.Call(kAsync, "QueryResult", ticket);
    }
    const auto fetched = Clock::now();
    host.Pump(100ms);
    host.StopTicks();

    std::printf(
        "16 queries on a mIRC %u.%02u host (%zu-character buffers), servers answering "
        "after 300 ms\n",
        static_cast<unsigned>(version.major), static_cast<unsigned>(version.minor),
        host.BufferSize());
    std::printf("  16 QueryStart calls took      %.2f ms in all\n", Milliseconds(started - start));
    std::printf("  start to last result fetched  %.1f ms%s\n", Milliseconds(fetched - start),
                signalled ? "" : " (a signal NEVER came)");
    std::printf("  10 ms timer: %zu ticks, longest gap %lld ms\n", host.Ticks(),
                static_cast<long long>(host.LongestTickGap().count()));
    return signalled;
}

// Waits, handling messages or not, until the process is back to `threads`;
// the milliseconds since `from`, or -1 after 20 s.
double UntilThreadsEnd(MircHost& host, std::size_t threads, bool pump, Clock::time_point from) {
    if (pump) {
        const bool ended = host.PumpUntil([&] { return ThreadCount() <= threads; }, 20s);
        return ended ? Milliseconds(Clock::now() - from) : -1;
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
    return static_cast<double>(at);
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
    host.Unload(kAsync);
    const double unloadCall = Milliseconds(Clock::now() - from);
    const double ms = UntilThreadsEnd(host, threads, true, from);
    std::printf("unload with 8 queries to silent servers in flight\n");
    std::printf("  UnloadDll and FreeLibrary took %.2f ms; every worker ended after %.0f ms\n",
                unloadCall, ms);
    return ms >= 0;
}

bool HungHost() {
    constexpr int kQueries = 16;
    velder::standin::Server servers;
    if (!StartServers(servers, kQueries, true, 100ms)) {
        return false;
    }
    MircHost host;
    const std::size_t threads = ThreadCount();
    Ask(host, servers, kQueries);
    const auto from = Clock::now();
    // Every answer is in after 100 ms; the DLL's launcher then waits for the
    // host, with the signals it sent, and the workers end.
    host.Stall(6s);
    const double ms = UntilThreadsEnd(host, threads + 1, false, from);
    host.PumpUntil([&] { return host.Commands().size() >= kQueries; }, 20s);
    std::printf("host thread that handles nothing for 6 s while 16 queries finish after 100 ms\n");
    std::printf("  every worker ended after      %.0f ms\n", ms);
    return ms >= 0;
}

bool Reloads() {
    velder::standin::Server servers;
    if (!StartServers(servers, 1, true, 0ms)) {
        return false;
    }
    constexpr int kCycles = 1000;
    bool fine = true;
    const auto from = Clock::now();
    for (int cycle = 1; cycle <= kCycles && fine; ++cycle) {
        MircHost host;
        const std::string ticket = host.Call(kAsync, "QueryStart", "q4 " + servers.Address()).text;
        fine = host.PumpUntil([&] { return !host.Commands().empty(); }, 20s);
        host.Call(kAsync, "QueryResult", ticket);
        host.Unload(kAsync);
        fine = fine && host.PumpUntil([] { return velder::hoststandin::DllAtRest(kAsync); }, 20s);
    }
    std::printf("%d cycles of load, one query, unload and unmap, in %.1f s%s\n", kCycles,
                Milliseconds(Clock::now() - from) / 1000, fine ? "" : " (a cycle NEVER ended)");
    return fine;
}

}  // namespace

int main() {
    bool ok = SixteenAtOnce({7, 70});
    ok = SixteenAtOnce({6, 35}) && ok;
    ok = UnloadInFlight() && ok;
    ok = HungHost() && ok;
    ok = Reloads() && ok;
    return ok ? 0 : 1;
}
