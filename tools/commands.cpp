#include "tools/commands.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
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
using standin::IsStatusRequest;

namespace {

// The largest payload a UDP datagram over IPv4 can carry.
constexpr std::size_t kMaxDatagram = 65507;
// Far more addresses than anyone asks at once; keeps -f /dev/zero from filling memory.
constexpr std::size_t kMaxServerList = std::size_t{16} << 20;

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

// Answers every status request with `reply`, or with a reply built from
// `sample` for that request.
standin::Options StandinOptions(const ServerSample& sample,
                                std::shared_ptr<const standin::Bytes> reply, int delayMs) {
    standin::Options options;
    options.delay = std::chrono::milliseconds(delayMs);
    options.produce = [sample,
                       reply](const standin::Datagram& request) -> std::optional<standin::Bytes> {
        if (!IsStatusRequest(request.bytes.data(), request.bytes.size())) {
            return std::nullopt;
        }
        if (reply) {
            return *reply;
        }
        return BuildStatusReply(sample, request.bytes.data(), request.bytes.size());
    };
    return options;
}

// Each server notices a stop only between its short waits: stopping a
// thousand one after the other would take seconds, so they stop side by side.
void StopAll(std::vector<std::unique_ptr<standin::Server>>& servers) {
    constexpr std::size_t kStoppers = 64;
    std::vector<std::thread> stoppers;
    for (std::size_t first = 0; first < kStoppers && first < servers.size(); ++first) {
        stoppers.emplace_back([&servers, first] {
            for (std::size_t i = first; i < servers.size(); i += kStoppers) {
                servers[i]->Stop();
            }
        });
    }
    for (std::thread& t : stoppers) {
        t.join();
    }
}

}  // namespace

// The addresses of every source, in order; an empty list and a message on stderr when a
// file cannot be read or holds a bad address.
std::optional<std::vector<std::string>> ServerAddresses(const std::vector<ServerSource>& sources) {
    std::vector<std::string> addresses;
    for (const ServerSource& source : sources) {
        if (!source.file) {
            addresses.push_back(source.text);
            continue;
        }
        const bool standardInput = source.text == "-";
        const std::string name = standardInput ? "standard input" : source.text;
        std::FILE* file = standardInput ? stdin : std::fopen(source.text.c_str(), "rb");
        if (file == nullptr) {
            Complain("cannot open the server list '" + source.text + "'");
            return std::nullopt;
        }
        std::string list;
        char chunk[4096];
        for (std::size_t n;
             list.size() <= kMaxServerList && (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) {
            list.append(chunk, n);
        }
        std::optional<std::string> problem;
        if (std::ferror(file)) {
            problem = "cannot read " + name;
        } else if (list.size() > kMaxServerList) {
            problem = name + " is longer than a server list can be (16 MiB)";
        } else {
            problem = ReadServerList(list, name, addresses);
        }
        if (!standardInput) {
            std::fclose(file);
        }
        if (problem) {
            Complain(*problem);
            return std::nullopt;
        }
    }
    return addresses;
}

int RunInfo(const InfoOptions& options) {
    const std::optional<std::vector<std::string>> addresses = ServerAddresses(options.sources);
    if (!addresses) {
        return kExitUsage;
    }
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
        *addresses, options.jobs,
        [&library](const std::string& address) { return library.GetInfo(address); },
        [&](const ServerAnswer& answer) {
            everyoneAnswered = everyoneAnswered && answer.outcome == Outcome::kAnswered;
            switch (options.format) {
                case Format::kSummary:
                    Say(SummaryView(answer, options.players, options.vars));
                    break;
                case Format::kFields:
                    Say(FieldsView(answer));
                    break;
                case Format::kRaw:
                    Say(RawView(answer));
                    break;
                case Format::kJson:
                    Say(JsonView(answer));
                    break;
            }
            // The readable views say it in their own lines.
            const bool readable =
                options.format == Format::kSummary || options.format == Format::kFields;
            if (answer.outcome != Outcome::kAnswered && !readable) {
                Complain(answer.address + ": " + OutcomeText(answer.outcome));
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
    std::shared_ptr<const standin::Bytes> fixed;
    if (!options.replyFile.empty()) {
        std::ifstream file(options.replyFile, std::ios::binary);
        if (!file.is_open()) {
            Complain("cannot open the reply file '" + options.replyFile + "'");
            return kExitUsage;
        }
        standin::Bytes bytes((std::istreambuf_iterator<char>(file)),
                             std::istreambuf_iterator<char>());
        if (bytes.size() > kMaxDatagram) {
            Complain("the reply file '" + options.replyFile + "' is larger than a datagram");
            return kExitUsage;
        }
        fixed = std::make_shared<const standin::Bytes>(std::move(bytes));
    }

    // --count is shared by all ports: requests past it are left unanswered.
    auto scheduled = std::make_shared<std::atomic<std::size_t>>(0);
    auto sent = std::make_shared<std::atomic<std::size_t>>(0);
    standin::Options base = StandinOptions(options.sample, fixed, options.delayMs);
    if (options.count > 0) {
        base.produce = [produce = base.produce, scheduled, count = options.count](
                           const standin::Datagram& request) -> std::optional<standin::Bytes> {
            std::optional<standin::Bytes> answer = produce(request);
            if (answer && scheduled->fetch_add(1) >= count) {
                return std::nullopt;
            }
            return answer;
        };
    }
    base.onAnswered = [sent](const standin::Datagram&, const standin::Bytes&) { ++*sent; };
    base.bindAddress = options.bind;

    std::vector<std::unique_ptr<standin::Server>> servers;
    for (int i = 0; i < options.servers; ++i) {
        standin::Options own = base;
        own.port = static_cast<std::uint16_t>(options.port + i);
        servers.push_back(std::make_unique<standin::Server>());
        if (!servers.back()->Start(std::move(own))) {
            Complain(servers.back()->Error());
            servers.pop_back();
            StopAll(servers);
            return kExitFailure;
        }
    }
    const std::string first = options.bind + ":" + std::to_string(servers.front()->Port());
    Say("velder serve: answering status requests on " + first +
        (options.servers > 1 ? " and the next " + std::to_string(options.servers - 1) + " ports"
                             : std::string()) +
        "\n");

    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    while (!interrupted && (options.count == 0 || *sent < options.count)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    StopAll(servers);
    Say("velder serve: " + std::to_string(sent->load()) + " answers sent\n");
    return kExitOk;
}

int RunDemo() {
    LibraryClient library;
    if (!LoadLibrary(library)) {
        return kExitNoLibrary;
    }
    standin::Server server;
    if (!server.Start(StandinOptions(DemoSample(), nullptr, 0))) {
        Complain(server.Error());
        return kExitFailure;
    }
    Say("velder demo: a stand-in Quake 4 server answers on " + server.Address() + "; GetInfo(\"" +
        server.Address() + "\") gives:\n\n");
    const ServerAnswer answer = library.GetInfo(server.Address());
    Say(SummaryView(answer, true, true));
    return answer.outcome == Outcome::kAnswered ? kExitOk : kExitFailure;
}

}  // namespace velder::tools
