// velder master: a stand-in master server that answers getServers.
#include "tools/standin_commands.h"

#include "standin/master_server.h"
#include "tools/cli11.h"
#include "tools/input_files.h"
#include "tools/library_client.h"
#include "tools/views.h"

namespace velder::tools {

namespace {

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
    standin::Server standIns;  // --servers: its own stand-ins
    if (!options.listFile.empty()) {
        auto listed = ReadListFile(options.listFile);
        if (!listed) {
            return kExitUsage;
        }
        master.servers = std::move(*listed);
    } else {
        standin::ServerSample sample = DemoSample();
        sample.players = MadeUpPlayers(static_cast<std::size_t>(options.players));
        if (!standIns.Start(StandInOptions(standin::BuildStatusReply(sample), options.delayMs,
                                           options.bind, options.serverPort, options.servers,
                                           master.answersPerSecond))) {
            Complain(standIns.Error());
            return kExitFailure;
        }
        for (int i = 0; i < options.servers; ++i) {
            master.servers.push_back({.entry = *standin::EntryFromText(standIns.Address(i)),
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
    server.Wait();
    standIns.Stop();
    const standin::Counts counts = server.GetCounts();
    Say("velder master: " + std::to_string(counts.answered) + " lists sent in " +
        std::to_string(counts.datagrams) + " datagrams, " + std::to_string(counts.ignored) +
        " datagrams ignored, " + std::to_string(counts.limited) + " requests over the limit\n");
    return kExitOk;
}

}  // namespace

void AddMasterCommand(CLI::App& app, MasterServeOptions& options, Run& run) {
    CLI::App* master = app.add_subcommand(
        "master",
        "A stand-in master server: answers getServers until interrupted, with at most 231 "
        "servers a datagram. It honours --not-full, --not-empty and --password for its own "
        "stand-ins.");
    CLI::Option* list = master->add_option("--list", options.listFile,
                                           "list these servers (HOST[:PORT] lines, '#' comments)");
    CLI::Option* servers =
        master->add_option("--servers", options.servers, "start N stand-in servers and list them")
            ->transform(Decimal(1, kMaxServers))
            ->excludes(list);
    NumberOption(*master, "--server-port", options.serverPort, 0, 65535,
                 "their first port (0 for free ports)");
    NumberOption(*master, "--players", options.players, 0, kMaxPlayers, "made-up players on each");
    NumberOption(*master, "--delay-ms", options.delayMs, 0, kMaxDelayMs,
                 "their wait before each answer");
    AddListenOptions(*master, options.bind, options.port,
                     "address to listen on; any other than 127.0.0.1 gives each source at most "
                     "4 lists a second, and 4 answers a second from each stand-in");
    master->callback([&options, &run, list, servers] {
        if (list->count() == 0 && servers->count() == 0) {
            ThrowUsageError("give either --list FILE or --servers N");
        }
        CheckPortRange(options.servers, options.serverPort);
        run = [&options] { return RunMaster(options); };
    });
}

}  // namespace velder::tools
