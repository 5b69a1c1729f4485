#include "tools/master_commands.h"

#include <algorithm>
#include <asio.hpp>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <future>
#include <iterator>
#include <sstream>

#include "query/master_query.h"
#include "standin/master_server.h"
#include "tools/cli11.h"
#include "tools/command_line.h"
#include "tools/library_client.h"
#include "tools/result_text.h"

namespace velder::tools {
namespace {

constexpr std::size_t kMaxListFile = std::size_t{16} << 20;

void Say(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void Complain(const std::string& text) {
    std::fprintf(stderr, "velder: %s\n", text.c_str());
}

// The filter options `velder list` and `velder browse` share.
void AddListOptions(CLI::App& app, ListOptions& list, std::string& protocol,
                    std::string& password) {
    app.add_option("--master", list.master);
    app.add_option("--game", list.game);
    app.add_option("--player", list.player);
    app.add_option("--clan", list.clan);
    app.add_option("--password", password)->check(CLI::IsMember({"yes", "no"}));
    app.add_option("--protocol", protocol);
    app.add_option("--wait-ms", list.waitMs)->check(CLI::Range(1, 60000));
    app.add_flag("--json", list.json);
}

// Completes what the shared options leave as texts; false with `error` set.
bool CheckListOptions(ListOptions& list, const std::string& protocol, const std::string& password,
                      std::string& error) {
    list.password = password.empty()    ? PasswordFilter::kAny
                    : password == "yes" ? PasswordFilter::kWith
                                        : PasswordFilter::kWithout;
    unsigned major = 0;
    unsigned minor = 0;
    char end = 0;
    if (!protocol.empty() &&
        (std::sscanf(protocol.c_str(), "%5u.%5u%c", &major, &minor, &end) != 2 ||
         protocol.find_first_not_of("0123456789.") != std::string::npos || major > 65535 ||
         minor > 65535)) {
        error = "--protocol: bad version '" + protocol + "': give it as MAJOR.MINOR, e.g. 2.85";
        return false;
    }
    if (!protocol.empty()) {
        list.protocolMajor = static_cast<std::uint16_t>(major);
        list.protocolMinor = static_cast<std::uint16_t>(minor);
    }
    for (const std::string* text : {&list.game, &list.player, &list.clan}) {
        if (text->size() > kFilterTextCapacity) {
            error = "a filter text is longer than a request carries (" +
                    std::to_string(kFilterTextCapacity) + " bytes)";
            return false;
        }
    }
    if (list.master.find(':') == std::string::npos) {
        list.master += ":" + std::to_string(kMasterPort);
    }
    if (const std::optional<std::string> problem = CheckServerAddress(list.master)) {
        error = "--master: " + *problem;
        return false;
    }
    return true;
}

std::string EntryText(const ServerEntry& entry) {
    char text[kEntryTextCapacity];
    FormatServerEntry(entry, text);
    return text;
}

using EntrySink = std::function<void(const ServerEntry& entry)>;

// Asks the master of `options` for its list and hands each server on as it
// arrives. The request goes out up to three times while no reply comes,
// --wait-ms apart; the list ends --wait-ms after the last reply, or after a
// minute in all.
ListOutcome FetchList(const ListOptions& options, const EntrySink& take, ListTally& tally) {
    const std::size_t colon = options.master.rfind(':');
    const std::string host = options.master.substr(0, colon);
    const auto port = static_cast<std::uint16_t>(std::stoi(options.master.substr(colon + 1)));
    const auto waitMs = static_cast<std::uint32_t>(options.waitMs);
    const MasterWait wait{.first = waitMs, .quiet = waitMs, .overall = 60000, .requests = 3};
    const ServerSink sink{const_cast<EntrySink*>(&take), [](void* c, const ServerEntry& entry) {
                              (*static_cast<EntrySink*>(c))(entry);
                              return true;
                          }};
    auto seen = std::make_unique<SeenServers>();
    return FetchServerList(host.c_str(), port, options.Filter(), wait, *seen, sink, tally);
}

// Says what was dropped and why no list came; true when one did.
bool ListTaken(ListOutcome outcome, const ListTally& tally, const ListOptions& options) {
    std::string dropped;
    const std::pair<std::size_t, const char*> drops[] = {
        {tally.foreign, " datagrams from elsewhere than the master"},
        {tally.malformed, " malformed replies"},
        {tally.portZero, " entries with port 0"},
    };
    for (const auto& [count, what] : drops) {
        if (count > 0) {
            dropped += (dropped.empty() ? "dropped " : ", ") + std::to_string(count) + what;
        }
    }
    if (!dropped.empty()) {
        Complain(dropped);
    }
    if (tally.cut > 0) {
        Complain("warning: the list was cut at " + std::to_string(kMostListedServers) +
                 " servers, more than any real master lists");
    }
    if (outcome == ListOutcome::kNoHost) {
        Complain("cannot find the master '" + options.master + "'");
    } else if (outcome == ListOutcome::kNoSocket) {
        Complain("cannot open a socket");
    } else if (outcome != ListOutcome::kListed) {
        Complain("the master " + options.master + " did not answer");
    }
    return outcome == ListOutcome::kListed;
}

int RunList(const ListOptions& options) {
    std::vector<std::string> servers;
    ListTally tally;
    const ListOutcome outcome = FetchList(
        options,
        [&](const ServerEntry& entry) {
            servers.push_back(EntryText(entry));
            if (!options.json) {
                Say(servers.back() + "\n");
            }
        },
        tally);
    if (options.json && outcome == ListOutcome::kListed) {
        std::string out = "{\"master\":" + JsonString(options.master) + ",\"servers\":[";
        for (std::size_t i = 0; i < servers.size(); ++i) {
            out += (i > 0 ? "," : "") + JsonString(servers[i]);
        }
        Say(out + "],\"dropped\":{\"foreign\":" + std::to_string(tally.foreign) +
            ",\"malformed\":" + std::to_string(tally.malformed) +
            ",\"port_zero\":" + std::to_string(tally.portZero) +
            "},\"cut\":" + (tally.cut > 0 ? "true" : "false") + "}\n");
    }
    return ListTaken(outcome, tally, options) ? kExitOk : kExitNoAnswer;
}

// What the sort orders by, read once from each answer.
struct Browsed {
    ServerAnswer answer;
    int players = -1;  // -1 when it did not answer
    int ping = -1;
    std::string name;
};

Browsed Read(ServerAnswer answer) {
    Browsed browsed;
    browsed.answer = std::move(answer);
    if (browsed.answer.outcome == Outcome::kAnswered) {
        const ResultText text = ParseResultText(browsed.answer.text);
        const ServerStatus status = ReadServerStatus(text);
        browsed.players = static_cast<int>(status.players.size());
        browsed.ping = text.roundTripMs;
        browsed.name = status.Var("si_name");
        std::transform(browsed.name.begin(), browsed.name.end(), browsed.name.begin(),
                       [](unsigned char c) { return std::tolower(c); });
    }
    return browsed;
}

void Sort(std::vector<Browsed>& servers, BrowseSort sort) {
    // Servers that did not answer go last whatever the order.
    const auto key = [sort](const Browsed& b) {
        const bool silent = b.players < 0;
        return std::make_tuple(silent, sort == BrowseSort::kPlayers ? -b.players : 0,
                               sort == BrowseSort::kPing ? b.ping : 0,
                               sort == BrowseSort::kName ? b.name : std::string());
    };
    if (sort != BrowseSort::kList) {
        std::stable_sort(servers.begin(), servers.end(),
                         [&](const Browsed& a, const Browsed& b) { return key(a) < key(b); });
    }
}

int RunBrowse(const BrowseOptions& options, const char* libraryFile) {
    LibraryClient library;
    std::string error;
    if (!library.Load(libraryFile, error)) {
        Complain(error);
        return kExitNoLibrary;
    }
    // Each server is asked as soon as the list names it.
    asio::thread_pool pool(static_cast<std::size_t>(options.jobs));
    std::vector<std::future<ServerAnswer>> answers;
    ListTally tally;
    const ListOutcome outcome = FetchList(
        options.list,
        [&](const ServerEntry& entry) {
            // (Asio takes a bare packaged_task for a completion token.)
            auto task = std::make_shared<std::packaged_task<ServerAnswer()>>(
                [&library, address = EntryText(entry)] { return library.GetInfo(address); });
            answers.push_back(task->get_future());
            asio::post(pool, [task] { (*task)(); });
        },
        tally);
    std::vector<Browsed> servers;
    std::size_t answered = 0;
    for (std::future<ServerAnswer>& answer : answers) {
        Browsed browsed = Read(answer.get());
        answered += browsed.players >= 0 ? 1 : 0;
        if (!options.notEmpty || browsed.players > 0) {
            servers.push_back(std::move(browsed));
        }
    }
    pool.join();
    if (!ListTaken(outcome, tally, options.list)) {
        return kExitNoAnswer;
    }
    Sort(servers, options.sort);
    for (const Browsed& server : servers) {
        Say(options.list.json ? JsonView(server.answer) : SummaryView(server.answer, false, false));
    }
    std::fprintf(stderr, "velder browse: %zu servers listed, %zu answered\n", answers.size(),
                 answered);
    return kExitOk;
}

// The master's list from a file of HOST[:PORT] lines; names are looked up.
std::optional<std::vector<standin::ListedServer>> ReadListFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::string text(kMaxListFile + 1, '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(file.gcount()));
    std::vector<std::string> addresses;
    std::optional<std::string> problem;
    if (!file && !file.eof()) {
        problem = "cannot read the list '" + path + "'";
    } else if (text.size() > kMaxListFile) {
        problem = "the list '" + path + "' is longer than 16 MiB";
    } else {
        problem = ReadServerList(text, path, addresses);
    }
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
    if (options.bind != standin::kLoopback) {
        master.answersPerSecond = 4;
        Complain("warning: listening on " + options.bind + ", not on " + standin::kLoopback +
                 ": each source address gets at most 4 lists a second");
    }
    standin::MasterServer server;
    if (!server.Start(master)) {
        Complain(server.Error());
        return kExitFailure;
    }
    Say("velder master: listing " + std::to_string(master.servers.size()) + " servers on " +
        server.Address() + "\n");
    asio::io_context io;
    asio::signal_set interrupts(io, SIGINT, SIGTERM);
    interrupts.async_wait([](asio::error_code, int) {});
    io.run();
    server.Stop();
    servers.Stop();
    const standin::MasterCounts counts = server.GetCounts();
    Say("velder master: " + std::to_string(counts.answered) + " lists sent in " +
        std::to_string(counts.datagrams) + " datagrams, " + std::to_string(counts.ignored) +
        " datagrams ignored, " + std::to_string(counts.limited) + " requests over the limit\n");
    return kExitOk;
}

}  // namespace

MasterCommandLine ParseMasterCommand(const std::vector<std::string>& args) {
    MasterCommandLine line;
    const std::pair<const char*, MasterCommand> names[] = {{"list", MasterCommand::kList},
                                                           {"browse", MasterCommand::kBrowse},
                                                           {"master", MasterCommand::kMaster}};
    const auto named = [&](const std::string& text) {
        for (const auto& [name, command] : names) {
            if (text == name) {
                return command;
            }
        }
        return MasterCommand::kNone;
    };
    if (args.size() == 2 && args[0] == "help" && named(args[1]) != MasterCommand::kNone) {
        line.command = MasterCommand::kHelp;
        line.helpFor = named(args[1]);
        return line;
    }
    if (args.empty() || named(args[0]) == MasterCommand::kNone) {
        return line;
    }
    line.command = named(args[0]);
    CLI::App app("", "velder " + args[0]);
    app.set_help_flag();
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    bool help = false;
    app.add_flag("-h,--help", help);
    std::string protocol;
    std::string password;
    std::string sort;
    BrowseOptions& browse = line.browse;
    MasterServeOptions& master = line.master;
    if (line.command != MasterCommand::kMaster) {
        AddListOptions(app, browse.list, protocol, password);
    }
    if (line.command == MasterCommand::kList) {
        app.add_flag_function("--not-full", [&](std::int64_t) {
            browse.list.players = std::max(browse.list.players, PlayersFilter::kNotFull);
        });
        app.add_flag_function("--not-empty", [&](std::int64_t) {
            browse.list.players = PlayersFilter::kNotFullNotEmpty;
        });
    } else if (line.command == MasterCommand::kBrowse) {
        app.add_flag_function("--not-full",
                              [&](std::int64_t) { browse.list.players = PlayersFilter::kNotFull; });
        app.add_flag("--not-empty", browse.notEmpty);
        app.add_option("--sort", sort)->check(CLI::IsMember({"players", "ping", "name"}));
        app.add_option("-j,--jobs", browse.jobs)->check(CLI::Range(1, kMaxJobs));
    } else {
        app.add_option("--bind", master.bind)->check(CLI::ValidIPV4);
        app.add_option("--port", master.port);
        app.add_option("--list", master.listFile);
        app.add_option("--servers", master.servers)->check(CLI::Range(1, kMaxServers));
        app.add_option("--server-port", master.serverPort);
        app.add_option("--delay-ms", master.delayMs)->check(CLI::Range(0, kMaxDelayMs));
        app.add_option("--players", master.players)
            ->check(CLI::Range(0, static_cast<int>(standin::kMaxPlayers)));
    }
    std::vector<std::string> reversed(args.rbegin(), args.rend() - 1);
    try {
        app.parse(reversed);
    } catch (const CLI::ParseError& e) {
        line.error = e.what();
        std::replace(line.error.begin(), line.error.end(), '\n', ' ');
        return line;
    }
    if (help) {
        line.helpFor = line.command;
        line.command = MasterCommand::kHelp;
        return line;
    }
    browse.sort = sort == "players" ? BrowseSort::kPlayers
                  : sort == "ping"  ? BrowseSort::kPing
                  : sort == "name"  ? BrowseSort::kName
                                    : BrowseSort::kList;
    if (line.command == MasterCommand::kMaster) {
        if (master.listFile.empty() == (master.servers == 0)) {
            line.error = "give either --list FILE or --servers N";
        } else if (master.serverPort != 0 && master.serverPort + master.servers - 1 > 65535) {
            line.error = "--servers " + std::to_string(master.servers) + " from port " +
                         std::to_string(master.serverPort) + " runs past port 65535";
        }
    } else {
        CheckListOptions(browse.list, protocol, password, line.error);
    }
    return line;
}

std::optional<int> RunMasterCommand(const std::vector<std::string>& args, const char* libraryFile) {
    const MasterCommandLine line = ParseMasterCommand(args);
    if (!line.error.empty()) {
        Complain(line.error);
        return kExitUsage;
    }
    switch (line.command) {
        case MasterCommand::kNone:
            return std::nullopt;
        case MasterCommand::kHelp:
            Say(MasterUsageText(line.helpFor));
            return kExitOk;
        case MasterCommand::kList:
            return RunList(line.browse.list);
        case MasterCommand::kBrowse:
            return RunBrowse(line.browse, libraryFile);
        case MasterCommand::kMaster:
            return RunMaster(line.master);
    }
    return kExitUsage;
}

std::string MasterUsageText(MasterCommand command) {
    static const char* const kList =
        R"(  velder list [--master HOST:PORT] [FILTERS] [--wait-ms N] [--json]
      Asks a Quake 4 master server for its list (master.quakehub.net:27650
      unless --master names another; PORT is 27650 when left out) and prints
      one HOST:PORT a line as the list arrives, each server once; --json: one
      object with the list and what was dropped. The list ends --wait-ms
      after the last reply datagram (1000). Filters, all sent to the master:
        --game NAME           fs_game (the base game when left out)
        --player NAME         servers where a player of this name plays
        --clan NAME           servers where a player of this clan plays
        --not-full            servers with a free slot
        --not-empty           servers neither empty nor full
        --password yes|no     servers with, or without, a password
        --protocol MAJOR.MINOR   the game's protocol (2.85: Quake 4 1.4.2)
      Exit status: 0 with a list, 1 when the master did not answer, 2 usage.
)";
    static const char* const kBrowse =
        R"(  velder browse [--master HOST:PORT] [FILTERS] [--not-empty] [--sort players|ping|name]
                [--jobs N] [--json]
      velder list, then velder info on every server it lists: each server is
      asked as soon as the list names it, --jobs at a time (16). One summary
      line per server (--json: one object per line), in list order unless
      sorted; servers that did not answer come last. --not-empty keeps the
      servers that answered with players (a full server too); the other
      filters are list's. Exit status as list's.
)";
    static const char* const kMaster =
        R"(  velder master (--list FILE | --servers N) [OPTIONS]
      A stand-in master server: answers getServers until interrupted, with
      at most 231 servers a datagram.
        --list FILE           list these servers (HOST[:PORT] lines, '#' comments)
        --servers N           start N stand-in servers and list them
        --server-port N       their first port (28004; 0 for free ports)
        --players N           made-up players on each (6)
        --delay-ms N          their wait before each answer
        --bind ADDRESS        address to listen on (127.0.0.1); any other
                              gives each source at most 4 lists a second
        --port N              UDP port (27650; 0 for a free one)
      It honours --not-full, --not-empty and --password for its own stand-ins.
)";
    switch (command) {
        case MasterCommand::kList:
            return std::string("usage:\n") + kList;
        case MasterCommand::kBrowse:
            return std::string("usage:\n") + kBrowse;
        case MasterCommand::kMaster:
            return std::string("usage:\n") + kMaster;
        default:
            return std::string(kList) + "\n" + kBrowse + "\n" + kMaster;
    }
}

}  // namespace velder::tools
