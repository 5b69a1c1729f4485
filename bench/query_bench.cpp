// What one GetInfo costs on loopback against a server that answers at once
// with a realistic 900-byte reply, beside the floor (the same request and
// reply with nothing else around it) and beside the transcription of that
// reply alone, so that one run shows all three:
//
//   build/linux/bin/bench_query --benchmark_repetitions=3
//
// Figures are in microseconds per call; compare the medians.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/loaded_library.h"
#include "platform/program.h"
#include "platform/udp_socket.h"
#include "query/protocol.h"
#include "query/reply_transcription.h"
#include "standin/sample_replies.h"
#include "standin/standin_server.h"
#include "velder/velder.h"

namespace {

using velder::Bytes;

constexpr velder::platform::Ipv4Address kLoopback{{127, 0, 0, 1}};

// A server answering every status request at once with the realistic reply;
// its port, or 0 when it could not start.
std::uint16_t ServerPort() {
    static velder::standin::Server server;
    static const bool started = [] {
        velder::standin::Options options;
        options.reply = velder::standin::RealisticStatusReply();
        return server.Start(options);
    }();
    return started ? server.Port() : 0;
}

void BM_GetInfo(benchmark::State& state) {
    velder::platform::LoadedLibrary library(velder::platform::BesideProgram(VELDER_LIBRARY_PATH));
    const HostExport getInfo = reinterpret_cast<HostExport>(library.Find("GetInfo"));
    if (getInfo == nullptr || ServerPort() == 0) {
        state.SkipWithError("cannot load the library or start the server");
        return;
    }
    const std::string address = "127.0.0.1:" + std::to_string(ServerPort());
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

// How long GetInfo waits where no answer comes: a server that stays silent
// (650 ms, the wait, and no more), and a port where nothing listens (on
// Linux the system's refusal ends the wait at once). The functional tests
// only check that these calls end; here their time is reported.
void BM_GetInfoWithoutAnswer(benchmark::State& state) {
    velder::platform::LoadedLibrary library(velder::platform::BesideProgram(VELDER_LIBRARY_PATH));
    const HostExport getInfo = reinterpret_cast<HostExport>(library.Find("GetInfo"));
    velder::standin::Server silent;
    velder::standin::Options options;  // no reply
    if (getInfo == nullptr || !silent.Start(options)) {
        state.SkipWithError("cannot load the library or start the server");
        return;
    }
    const std::uint16_t port = silent.Port();
    if (state.range(0) == 1) {
        silent.Stop();  // the port is closed now
    }
    const std::string address = "127.0.0.1:" + std::to_string(port);
    std::vector<char> data(kDataCapacity);
    for (auto _ : state) {
        std::memcpy(data.data(), address.c_str(), address.size() + 1);
        getInfo(nullptr, nullptr, data.data(), nullptr, 0, 0);
        benchmark::DoNotOptimize(data.data());
    }
}

// One request to the server and its reply, on the library's own socket
// calls; false when no reply came within a second.
bool RoundTrip(velder::platform::SocketHandle socket, std::uint16_t port) {
    namespace platform = velder::platform;
    platform::SendDatagram(socket, velder::kStatusRequest, sizeof velder::kStatusRequest, kLoopback,
                           port);
    unsigned char reply[velder::kReceiveCapacity];
    platform::Sender sender;
    return platform::WaitReadable(socket, 1000) > 0 &&
           platform::ReceiveDatagram(socket, reply, sizeof reply, &sender) > 0;
}

// The floor: one request and its reply on a socket that stays open.
void BM_BareRoundTrip(benchmark::State& state) {
    velder::platform::SocketHandle socket = 0;
    const std::uint16_t port = ServerPort();
    if (port == 0 || !velder::platform::OpenUdpSocket(&socket)) {
        state.SkipWithError("cannot start the server or open a socket");
        return;
    }
    for (auto _ : state) {
        if (!RoundTrip(socket, port)) {
            state.SkipWithError("no reply");
            break;
        }
    }
    velder::platform::CloseSocket(socket);
}

// The floor with a socket opened and closed for every request, as GetInfo does.
void BM_BareRoundTripFreshSocket(benchmark::State& state) {
    const std::uint16_t port = ServerPort();
    for (auto _ : state) {
        velder::platform::SocketHandle socket = 0;
        const bool opened = port != 0 && velder::platform::OpenUdpSocket(&socket);
        const bool answered = opened && RoundTrip(socket, port);
        if (opened) {
            velder::platform::CloseSocket(socket);
        }
        if (!answered) {
            state.SkipWithError("no reply");
            return;
        }
    }
}

// GetInfo's own work on the reply: the transcription alone.
void BM_TranscriptionOfTheReply(benchmark::State& state) {
    const Bytes reply = velder::standin::RealisticStatusReply();
    char out[kDataCapacity];
    for (auto _ : state) {
        benchmark::DoNotOptimize(reply.data());
        velder::TranscribeReply(velder::Data(reply), reply.size(), out, sizeof out);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
}

void Setup(benchmark::internal::Benchmark* b) {
    b->Unit(benchmark::kMicrosecond)->UseRealTime();
}

BENCHMARK(BM_GetInfo)->Apply(Setup);
BENCHMARK(BM_GetInfoWithoutAnswer)->Apply(Setup)->ArgName("closed")->Arg(0)->Arg(1)->Iterations(3);
BENCHMARK(BM_BareRoundTrip)->Apply(Setup);
BENCHMARK(BM_BareRoundTripFreshSocket)->Apply(Setup);
BENCHMARK(BM_TranscriptionOfTheReply)->Apply(Setup);

}  // namespace

BENCHMARK_MAIN();
