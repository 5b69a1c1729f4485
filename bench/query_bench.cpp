// What one GetInfo costs on loopback against a server that answers at once,
// beside the floor: the same request and reply with nothing else around it.
//
//   build/linux/bin/bench_query
//
// Each figure is the median of the repetitions, in microseconds per call.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "host/exports.h"
#include "query/protocol.h"
#include "standin/standin_server.h"
#include "standin/udp_client.h"
#include "tests/loaded_library.h"

namespace {

using velder::Bytes;

// A short status reply: text section, one player record, end pattern.
const Bytes kRequest(std::begin(velder::kStatusRequest), std::end(velder::kStatusRequest));

Bytes StatusReply() {
    const char text[] = "\xFF\xFFstatusResponse\0sv_hostname\0Bench\0si_map\0arena1\0\0\0";
    Bytes reply(text, text + sizeof text - 1);
    const unsigned char record[] = {0, 0x32, 0,   0x10, 0x27, 0,    0, 'A', 'n', 'n',
                                    0, 'R',  'e', 'd',  0,    0x20, 1, 0,   0,   0};
    reply.insert(reply.end(), std::begin(record), std::end(record));
    return reply;
}

// A server answering every datagram at once with the status reply.
velder::standin::Server& Server() {
    static velder::standin::Server server;
    static const bool started = [] {
        velder::standin::Options options;
        options.reply = StatusReply();
        return server.Start(options);
    }();
    (void)started;
    return server;
}

void BM_GetInfo(benchmark::State& state) {
    velder::testing::LoadedLibrary library;
    const HostExport getInfo = library.Find("GetInfo");
    if (getInfo == nullptr) {
        state.SkipWithError("cannot load the library");
        return;
    }
    const std::string address = Server().Address();
    std::vector<char> data(kDataCapacity);
    for (auto _ : state) {
        std::memcpy(data.data(), address.c_str(), address.size() + 1);
        if (getInfo(nullptr, nullptr, data.data(), nullptr, 0, 0) != RESULT_DATA) {
            state.SkipWithError("GetInfo gave no result");
            return;
        }
        benchmark::DoNotOptimize(data.data());
    }
}

// The floor: one request and its reply on a socket that stays open.
void BM_BareRoundTrip(benchmark::State& state) {
    velder::standin::Client client;
    const std::uint16_t port = Server().Port();
    for (auto _ : state) {
        client.Send(port, kRequest);
        if (!client.Receive(std::chrono::milliseconds(1000)).has_value()) {
            state.SkipWithError("no reply");
            return;
        }
    }
}

// The floor with a socket opened and closed for every request, as GetInfo does.
void BM_BareRoundTripFreshSocket(benchmark::State& state) {
    const std::uint16_t port = Server().Port();
    for (auto _ : state) {
        velder::standin::Client client;
        client.Send(port, kRequest);
        if (!client.Receive(std::chrono::milliseconds(1000)).has_value()) {
            state.SkipWithError("no reply");
            return;
        }
    }
}

void Setup(benchmark::internal::Benchmark* b) {
    b->Unit(benchmark::kMicrosecond)->UseRealTime()->Repetitions(15)->ReportAggregatesOnly(true);
}

BENCHMARK(BM_GetInfo)->Apply(Setup);
BENCHMARK(BM_BareRoundTrip)->Apply(Setup);
BENCHMARK(BM_BareRoundTripFreshSocket)->Apply(Setup);

}  // namespace

BENCHMARK_MAIN();
