// velder: the library's command-line companion. See UsageText().
// First: its standard headers tell Asio the Windows version to build for.
#include "tools/command_line.h"

#include <asio.hpp>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/program.h"
#include "standin/master_server.h"
#include "standin/standin_server.h"
#include "standin/status_reply.h"
#include "tools/library_client.h"
#include "tools/master_commands.h"
#include "tools/views.h"

namespace velder::tools {
namespace {

// The largest payload a UDP datagram over IPv4 can carry.
constexpr std::size_t kMaxDatagram = 65507;
// The answers a second each source gets when a stand-in listens anywhere
// but on the loopback address.
constexpr int kAnswersPerSource = 4;

// A request of a few bytes draws an answer many times longer: from where
// others can send, a stand-in must not answer at any rate. The answers a
// second for each source address, with a warning that says `what` when
// `bind` is not the loopback address.
int AnswersPerSource(const std::string& bind, const std::string& what) {
    if (bind == standin::kLoopback) {
        return 0;
    }
    Complain("warning: listening on " + bind + ", not on " + standin::kLoopback + ": " + what);
    return kAnswersPerSource;
}

bool LoadLibrary(LibraryClient& library) {
    std::string error;
    return library.Load(VELDER_LIBRARY_FILE, error) || Complain(error);
}

// The bytes of a reply file: a regular file of at most one datagram.
// Nothing, and a message, otherwise.
std::optional<Bytes> ReadReplyFile(const std::string& path) {
    const std::string quoted = "the reply file '" + path + "'";
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    const bool regular = std::filesystem::is_regular_file(status);
    std::FILE* file = regular ? std::fopen(path.c_str(), "rb") : nullptr;
    Bytes bytes;  // a byte more than allowed tells a file too long
    const bool read = file != nullptr && ReadAtMost(file, kMaxDatagram, bytes);
    if (file != nullptr) {
        std::fclose(file);
    }
    if (status.type() == std::filesystem::file_type::not_found) {
        Complain("cannot read " + quoted + ": no such file");
    } else if (error) {
        Complain("cannot read " + quoted + ": " + error.message());
    } else if (!regular) {
        Complain(quoted + " is not a regular file");
    } else if (!read) {
        Complain("cannot read " + quoted);
    } else if (bytes.size() > kMaxDatagram) {
        Complain(quoted + " has " + std::to_string(std::filesystem::file_size(path, error)) +
                 " bytes: a datagram holds at most " + std::to_string(kMaxDatagram));
    } else {
        return bytes;
    }
    return std::nullopt;
}

// The addresses of every source, in order; nothing, and a message, when a
// file cannot be read or holds a bad address.
std::optional<std::vector<std::string>> ServerAddresses(const std::vector<ServerSource>& sources) {
    std::vector<std::string> addresses;
    for (const ServerSource& source : sources) {
        if (!source.file) {
            addresses.push_back(source.text);
        } else if (const auto problem = ReadServerListFile(source.text, addresses)) {
            Complain(*problem);
            return std::nullopt;
        }
    }
    return addresses;
}

int RunInfo(const InfoOptions& options, LibraryClient& library) {
    const std::optional<std::vector<std::string>> addresses = ServerAddresses(options.sources);
    if (!addresses) {
        return kExitUsage;
    }
    if (!LoadLibrary(library)) {
        return kExitNoLibrary;
    }
    if (options.format == Format::kRaw) {
        platform::BinaryStandardOutput();
    }
    bool everyoneAnswered = true;
    QueryInOrder(
        *addresses, options.jobs,
        [&library](const std::string& address) { return library.GetInfo(address); },
        [&](const ServerAnswer& answer) {
            everyoneAnswered = everyoneAnswered && answer.outcome == Outcome::kAnswered;
            const Format format = options.format;
            Say(format == Format::kSummary  ? SummaryView(answer, options.players, options.vars)
                : format == Format::kFields ? FieldsView(answer)
                : format == Format::kRaw    ? RawView(answer)
                                            : JsonView(answer));
            // The readable views say it in their own lines.
            const bool readable = format == Format::kSummary || format == Format::kFields;
            if (!readable && answer.outcome != Outcome::kAnswered) {
                Complain(answer.address + ": " + OutcomeText(answer.outcome));
            }
        });
    return everyoneAnswered ? kExitOk : kExitNoAnswer;
}

int RunServe(const ServeOptions& options) {
    standin::Options serve;
    serve.reply = options.replyFile.empty() ? standin::BuildStatusReply(options.sample)
                                            : ReadReplyFile(options.replyFile);
    if (!serve.reply) {
        return kExitUsage;
    }
    serve.delay = std::chrono::milliseconds(options.delayMs);
    serve.bindAddress = options.bind;
    serve.port = options.port;
    serve.ports = options.servers;
    serve.answerLimit = options.count;
    serve.answersPerSecond =
        AnswersPerSource(options.bind,
                         "whoever reaches it can make it send replies far longer than their "
                         "requests; each source address gets at most " +
                             std::to_string(kAnswersPerSource) + " answers a second");
    standin::Server server;
    if (!server.Start(serve)) {
        Complain(server.Error());
        return kExitFailure;
    }
    Say("velder serve: answering status requests on " + options.bind + ":" +
        std::to_string(server.Port()) +
        (options.servers > 1 ? " and the next " + std::to_string(options.servers - 1) + " ports"
                             : std::string()) +
        "\n");
    // Serves until interrupted or, with --count, done.
    asio::signal_set interrupts(server.Context(), SIGINT, SIGTERM);
    interrupts.async_wait([&server](asio::error_code, int) { server.Stop(); });
    server.Wait();

    const standin::Counts counts = server.GetCounts();
    std::string summary = "velder serve: " + std::to_string(counts.answered) + " answers sent";
    for (const auto& [count, what] : {std::pair{counts.ignored, " datagrams ignored"},
                                      {counts.limited, " requests over the limit"},
                                      {counts.sendFailed, " answers the system refused to send"}}) {
        summary += count > 0 ? ", " + std::to_string(count) + what : "";
    }
    Say(summary + "\n");
    return counts.sendFailed == 0 ? kExitOk : kExitFailure;
}

// The master's list from a file of HOST[:PORT] lines; names are looked up.
std::optional<std::vector<standin::ListedServer>> ReadListFile(const std::string& path) {
    std::vector<std::string> addresses;
    std::optional<std::string> problem = ReadServerListFile(path, addresses);
    std::vector<standin::ListedServer> servers;
    for (std::size_t i = 0; !problem && i < addresses.size(); ++i) {
        const std::string& address = addresses[i];
        const std::size_t colon = address.rfind(':');
        const std::optional<std::string> dotted = DottedAddress(address.substr(0, colon));
        const auto entry =
            dotted ? standin::EntryFromText(*dotted + address.substr(colon)) : std::nullopt;
        if (!entry) {
            problem = path + ": cannot find '" + address + "'";
        } else {
            servers.emplace_back().entry = *entry;
        }
    }
    if (problem) {
        Complain(*problem);
        return std::nullopt;
    }
    return servers;
}

int RunMaster(const MasterServeOptions& options) {
    standin::MasterOptions master;
    master.bindAddress = options.bind;
    master.port = options.port;
    master.answersPerSecond = AnswersPerSource(
        options.bind, "each source address gets at most " + std::to_string(kAnswersPerSource) +
                          " lists a second, and as many answers from each stand-in");
    standin::Server servers;
    if (!options.listFile.empty()) {
        auto listed = ReadListFile(options.listFile);
        if (!listed) {
            return kExitUsage;
        }
        master.servers = std::move(*listed);
    } else if (options.servers > 0) {
        standin::ServerSample sample = DemoSample();
        sample.players = MadeUpPlayers(static_cast<std::size_t>(options.players));
        standin::Options serve;
        serve.reply = standin::BuildStatusReply(sample);
        serve.delay = std::chrono::milliseconds(options.delayMs);
        serve.bindAddress = options.bind;
        serve.port = options.serverPort;
        serve.ports = options.servers;
        serve.answersPerSecond = master.answersPerSecond;
        if (!servers.Start(serve)) {
            Complain(servers.Error());
            return kExitFailure;
        }
        for (int i = 0; i < options.servers; ++i) {
            master.servers.push_back({.entry = *standin::EntryFromText(servers.Address(i)),
                                      .players = options.players,
                                      .maxPlayers = sample.maxPlayers,
                                      .password = false});
        }
    }
    standin::MasterServer server;
    if (!server.Start(master)) {
        Complain(server.Error());
        return kExitFailure;
    }
    Say("velder master: listing " + std::to_string(master.servers.size()) + " servers on " +
        server.Address() + "\n");
    asio::signal_set interrupts(server.Context(), SIGINT, SIGTERM);
    interrupts.async_wait([&server](asio::error_code, int) { server.Stop(); });
    server.Wait();
    servers.Stop();
    const standin::Counts counts = server.GetCounts();
    Say("velder master: " + std::to_string(counts.answered) + " lists sent in " +
        std::to_string(counts.datagrams) + " datagrams, " + std::to_string(counts.ignored) +
        " datagrams ignored, " + std::to_string(counts.limited) + " requests over the limit\n");
    return kExitOk;
}

int RunDemo(const LibraryClient& library) {
    standin::Server server;
    standin::Options demo;
    demo.reply = standin::BuildStatusReply(DemoSample());
    if (!server.Start(demo)) {
        Complain(server.Error());
        return kExitFailure;
    }
    Say("velder demo: a stand-in Quake 4 server answers on " + server.Address() + "; GetInfo(\"" +
        server.Address() + "\") gives this result text, split as a script splits it:\n\n");
    const ServerAnswer answer = library.GetInfo(server.Address());
    Say(FieldsView(answer));
    Say("\nvelder info --players shows it as:\n\n" + SummaryView(answer, true, false));
    return answer.outcome == Outcome::kAnswered ? kExitOk : kExitFailure;
}

}  // namespace
}  // namespace velder::tools

int main(int argc, char** argv) {
    using namespace velder::tools;
    const std::vector<std::string> args(argv + 1, argv + argc);
    const CommandLine line = ParseCommandLine(args);
    if (!line.error.empty()) {
        Complain(line.error);
        return kExitUsage;
    }
    LibraryClient library;
    const Command command = line.command;
    if ((command == Command::kConsole || command == Command::kDemo ||
         command == Command::kBrowse) &&
        !LoadLibrary(library)) {
        return kExitNoLibrary;
    }
    switch (command) {
        case Command::kInfo:
            return RunInfo(line.info, library);
        case Command::kConsole:
            Say(library.IsQuakeActive() + "\n");
            return kExitOk;
        case Command::kServe:
            return RunServe(line.serve);
        case Command::kDemo:
            return RunDemo(library);
        case Command::kList:
            return RunList(line.browse.list);
        case Command::kBrowse:
            return RunBrowse(line.browse, library);
        case Command::kMaster:
            return RunMaster(line.master);
        case Command::kVersion:
            std::printf("velder %s\n", VELDER_VERSION);
            return kExitOk;
        case Command::kHelp:
            break;
    }
    std::fputs(UsageText(line.helpFor).c_str(), stdout);
    return kExitOk;
}
