#include "tools/commands.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>
#include <vector>

#include "standin/standin_server.h"
#include "standin/status_reply.h"
#include "tools/in_order.h"
#include "tools/library_client.h"
#include "tools/views.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

namespace velder::tools {

using standin::BuildStatusReply;
using standin::DemoSample;

namespace {

// The largest payload a UDP datagram over IPv4 can carry.
constexpr std::size_t kMaxDatagram = 65507;

void Say(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void Complain(const std::string& line) {
    std::fprintf(stderr, "velder: %s\n", line.c_str());
}

bool LoadLibrary(LibraryClient& library) {
    std::string error;
    if (!library.Load(VELDER_LIBRARY_FILE, error)) {
        Complain(error);
        return false;
    }
    return true;
}

std::atomic<bool> interrupted{false};

void OnInterrupt(int) {
    interrupted = true;
}

// Answers every status request with `reply`, or with the reply built from `sample`.
standin::Options StandinOptions(const ServerSample& sample, const std::optional<Bytes>& reply,
                                int delayMs) {
    standin::Options options;
    options.delay = std::chrono::milliseconds(delayMs);
    options.reply = reply ? *reply : BuildStatusReply(sample);
    return options;
}

}  // namespace

int RunInfo(const InfoOptions& options) {
    LibraryClient library;
    if (!LoadLibrary(library)) {
        return kExitNoLibrary;
    }
#if defined(_WIN32)
    if (options.format == Format::kRaw) {
        _setmode(_fileno(stdout), _O_BINARY);
    }
#endif
    bool everyoneAnswered = true;
    QueryInOrder(
        options.servers, options.jobs,
        [&library](const std::string& address) { return library.GetInfo(address); },
        [&](const ServerAnswer& answer) {
            everyoneAnswered = everyoneAnswered && answer.answered;
            switch (options.format) {
                case Format::kReadable:
                    Say(ReadableView(answer));
                    break;
                case Format::kRaw:
                    Say(RawView(answer));
                    break;
                case Format::kJson:
                    Say(JsonView(answer));
                    break;
            }
            if (!answer.answered && options.format != Format::kReadable) {
                Complain("no answer from " + answer.address);
            }
        });
    return everyoneAnswered ? kExitOk : kExitNoAnswer;
}

int RunConsole() {
    LibraryClient library;
    if (!LoadLibrary(library)) {
        return kExitNoLibrary;
    }
    Say(library.IsQuakeActive() + "\n");
    return kExitOk;
}

int RunServe(const ServeOptions& options) {
    std::optional<Bytes> fixed;
    if (!options.replyFile.empty()) {
        std::ifstream file(options.replyFile, std::ios::binary);
        if (!file.is_open()) {
            Complain("cannot open the reply file '" + options.replyFile + "'");
            return kExitUsage;
        }
        Bytes bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        if (bytes.size() > kMaxDatagram) {
            Complain("the reply file '" + options.replyFile + "' is larger than a datagram");
            return kExitUsage;
        }
        fixed = std::move(bytes);
    }

    standin::Options serve = StandinOptions(options.sample, fixed, options.delayMs);
    serve.bindAddress = options.bind;
    serve.port = static_cast<std::uint16_t>(options.port);
    serve.ports = options.servers;
    serve.answerLimit = options.count;
    standin::Server server;
    if (!server.Start(serve)) {
        Complain(server.Error());
        return kExitFailure;
    }
    const std::string first = options.bind + ":" + std::to_string(server.Port());
    Say("velder serve: answering status requests on " + first +
        (options.servers > 1 ? " and the next " + std::to_string(options.servers - 1) + " ports"
                             : std::string()) +
        "\n");

    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    while (!interrupted && (options.count == 0 ||
                            !server.WaitForAnswers(options.count, std::chrono::milliseconds(50)))) {
        if (options.count == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    server.Stop();
    Say("velder serve: " + std::to_string(server.GetCounts().answered) + " answers sent\n");
    return kExitOk;
}

int RunDemo() {
    LibraryClient library;
    if (!LoadLibrary(library)) {
        return kExitNoLibrary;
    }
    standin::Server server;
    if (!server.Start(StandinOptions(DemoSample(), std::nullopt, 0))) {
        Complain(server.Error());
        return kExitFailure;
    }
    Say("velder demo: a stand-in Quake 4 server answers on " + server.Address() + "; GetInfo(\"" +
        server.Address() + "\") gives:\n\n");
    const ServerAnswer answer = library.GetInfo(server.Address());
    Say(ReadableView(answer));
    return answer.answered ? kExitOk : kExitFailure;
}

}  // namespace velder::tools
