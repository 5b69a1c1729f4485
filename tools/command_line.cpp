#include "tools/command_line.h"

#include <algorithm>

#include "query/protocol.h"
#include "tools/cli11.h"
#include "velder/velder.h"

namespace velder::tools {

using standin::kMaxPlayers;
using standin::Player;

namespace {

// Far more addresses than anyone lists; keeps -f /dev/zero from filling memory.
constexpr std::size_t kMaxServerList = std::size_t{16} << 20;

// A decimal number made of digits only, within [low, high].
std::optional<long long> ReadNumber(std::string_view text, long long low, long long high) {
    if (text.empty() || text.size() > 18 ||
        text.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    const long long value = std::stoll(std::string(text));
    return value < low || value > high ? std::nullopt : std::optional(value);
}

// Takes a number the way people write one: decimal digits only, within
// [low, high]. Leading zeros go before CLI11 reads it, so that 010 is ten.
CLI::Validator Decimal(long long low, long long high) {
    return CLI::Validator(
        [low, high](std::string& text) -> std::string {
            if (!ReadNumber(text, low, high)) {
                return "bad value '" + text + "': give a number from " + std::to_string(low) +
                       " to " + std::to_string(high);
            }
            text.erase(0, std::min(text.find_first_not_of('0'), text.size() - 1));
            return std::string();
        },
        "");
}

// "name,clan,ping": the last two commas divide, so a name may hold commas.
std::optional<Player> ReadPlayer(const std::string& text, std::string& error) {
    const std::size_t second = text.rfind(',');
    const std::size_t first = second == std::string::npos || second == 0
                                  ? std::string::npos
                                  : text.rfind(',', second - 1);
    if (first == std::string::npos) {
        error = "bad player '" + text + "': give it as NAME,CLAN,PING";
        return std::nullopt;
    }
    const std::string pingText = text.substr(second + 1);
    const std::optional<long long> ping = ReadNumber(pingText, 0, 65535);
    if (!ping) {
        error = "bad ping '" + pingText + "' in player '" + text + "': give 0 to 65535";
        return std::nullopt;
    }
    return Player{.name = text.substr(0, first),
                  .clan = text.substr(first + 1, second - first - 1),
                  .ping = static_cast<int>(*ping)};
}

// Checks a server address and completes it: HOST alone becomes HOST:28004.
// Returns why it is not usable, or nothing when it is.
std::optional<std::string> CheckServerAddress(std::string& address) {
    // Texts here are built by appending: gcc 12 warns wrongly about "'" + std::string.
    std::string quoted(1, '\'');
    quoted.append(address.substr(0, 40));
    quoted.append(address.size() > 40 ? "...'" : "'");
    std::size_t colon = address.find(':');
    if (colon == std::string::npos) {
        colon = address.size();
        address.push_back(':');
        address.append(std::to_string(kDefaultPort));
    }
    if (colon == 0) {
        return "server " + quoted + " has no host name before the colon";
    }
    if (colon >= kHostNameCapacity) {
        return "the host name of server " + quoted + " is longer than the library takes (" +
               std::to_string(kHostNameCapacity - 1) + " bytes)";
    }
    const std::string port = address.substr(colon + 1);
    if (!ReadNumber(port, 1, 65535)) {
        std::string message = "bad port '";
        message.append(port.substr(0, 40)).append("' in ").append(quoted);
        return message + ": give a number from 1 to 65535";
    }
    if (address.size() >= kDataCapacity) {
        return "server " + quoted + " is longer than the library takes";
    }
    return std::nullopt;
}

// Completes the address of every source that is not a file; the first problem.
std::optional<std::string> CheckAddresses(std::vector<ServerSource>& sources) {
    for (ServerSource& source : sources) {
        if (const auto problem = source.file ? std::nullopt : CheckServerAddress(source.text)) {
            return problem;
        }
    }
    return std::nullopt;
}

}  // namespace

std::vector<Player> MadeUpPlayers(std::size_t count) {
    static const char* const kNames[] = {"Kane",    "^2Rhino",  "Cortez",   "Bidwell",
                                         "Sledge",  "Anderson", "Morris",   "^1Voss",
                                         "Strauss", "Harper",   "^3Lanier", "Bishop"};
    static const char* const kClans[] = {"Rhino", "", "^4Strogg", "Marines"};
    constexpr std::size_t kNameCount = std::size(kNames);
    std::vector<Player> players;
    for (std::size_t i = 0; i < count && i < kMaxPlayers; ++i) {
        const std::string number = i >= kNameCount ? std::to_string(i / kNameCount + 1) : "";
        players.push_back({.name = kNames[i % kNameCount] + number,
                           .clan = kClans[i % 4],
                           .ping = static_cast<int>(15 + (i * 37) % 180)});
    }
    return players;
}

standin::ServerSample DemoSample() {
    standin::ServerSample sample;
    sample.name = "^1Velder ^7Demo";
    sample.map = "mp/q4dm5";
    sample.gameType = "Team DM";
    sample.maxPlayers = 12;
    sample.players = {
        {"^4Kane", "Rhino", 32},   {"Cortez", "Rhino", 48}, {"Bidwell", "Rhino", 57},
        {"Strauss", "Strogg", 71}, {"Voss", "Strogg", 90},  {"Makron", "Strogg", 124},
    };
    return sample;
}

bool ReadAtMost(std::FILE* file, std::size_t limit, std::string& out) {
    char chunk[4096];
    for (std::size_t n;
         out.size() <= limit && (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) {
        out.append(chunk, n);
    }
    return std::ferror(file) == 0;
}

std::optional<std::string> ReadServerList(std::string_view list, const std::string& name,
                                          std::vector<std::string>& addresses) {
    for (int number = 1; !list.empty(); ++number) {
        const std::size_t end = list.find('\n');
        const std::string_view line = list.substr(0, end);
        list.remove_prefix(end == std::string_view::npos ? list.size() : end + 1);
        const std::size_t begin = line.find_first_not_of(" \t\r");
        if (begin == std::string_view::npos || line[begin] == '#') {
            continue;
        }
        std::string address(line.substr(begin, line.find_last_not_of(" \t\r") + 1 - begin));
        if (const std::optional<std::string> problem = CheckServerAddress(address)) {
            return name + ":" + std::to_string(number) + ": " + *problem;
        }
        addresses.push_back(std::move(address));
    }
    return std::nullopt;
}

std::optional<std::string> ReadServerListFile(const std::string& path,
                                              std::vector<std::string>& addresses) {
    const bool standardInput = path == "-";
    const std::string name = standardInput ? "standard input" : path;
    std::FILE* file = standardInput ? stdin : std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return "cannot open the server list '" + path + "'";
    }
    std::string list;
    const bool failed = !ReadAtMost(file, kMaxServerList, list);
    if (!standardInput) {
        std::fclose(file);
    }
    return failed                         ? "cannot read " + name
           : list.size() > kMaxServerList ? name + " is longer than a server list can be (16 MiB)"
                                          : ReadServerList(list, name, addresses);
}

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
    CommandLine line;
    static const char* const kFirst[] = {"info",   "serve",  "console", "demo", "help",     "list",
                                         "browse", "master", "--help",  "-h",   "--version"};
    if (args.empty()) {
        line.error = "no command given: try 'velder help'";
        return line;
    }
    if (std::find(std::begin(kFirst), std::end(kFirst), args[0]) == std::end(kFirst)) {
        line.error = "unknown command '" + args[0] + "': try 'velder help'";
        return line;
    }

    // The common query, addresses alone, needs no option parser, whose start
    // (its objects and the C++ locale) costs a query about a tenth of its time.
    const auto plain = [](const std::string& arg) { return arg.empty() || arg[0] != '-'; };
    if (args[0] == "info" && args.size() > 1 && std::all_of(args.begin() + 1, args.end(), plain)) {
        line.command = Command::kInfo;
        for (std::size_t i = 1; i < args.size(); ++i) {
            line.info.sources.push_back({false, args[i]});
        }
        line.error = CheckAddresses(line.info.sources).value_or("");
        return line;
    }

    CLI::App app("", "velder");
    app.set_help_flag();
    app.require_subcommand(0, 1);
    CLI::Option* help = app.add_flag("-h,--help")->disable_flag_override();
    CLI::Option* version = app.add_flag("--version")->disable_flag_override();
    // A line holds one command, so only the one named first is made (every
    // one after a top-level flag). Its --help is a flag of our own, as every
    // usage text is written out in UsageText.
    struct {
        const char* name;
        Command command;
        CLI::App* app = nullptr;
        CLI::Option* help = nullptr;
    } commands[] = {{"info", Command::kInfo},       {"serve", Command::kServe},
                    {"console", Command::kConsole}, {"demo", Command::kDemo},
                    {"help", Command::kHelp},       {"list", Command::kList},
                    {"browse", Command::kBrowse},   {"master", Command::kMaster}};
    for (auto& c : commands) {
        if (args[0] == c.name || args[0][0] == '-') {
            c.app = app.add_subcommand(c.name);
            c.app->set_help_flag();
            c.app->allow_extras();  // named in our own words after parsing
            // A value given twice: the last one counts.
            c.app->option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
            c.help = c.app->add_flag("-h,--help")->disable_flag_override();
        }
    }
    const auto all = CLI::MultiOptionPolicy::TakeAll;

    CLI::App* info = commands[0].app;
    std::vector<CLI::Option*> formats;
    std::vector<std::string> fileNames;
    std::vector<std::string> addresses;
    CLI::Option* files = nullptr;
    CLI::Option* servers = nullptr;
    if (info != nullptr) {
        for (const char* name : {"--fields", "--raw", "--json"}) {
            CLI::Option* format = info->add_flag(name)->disable_flag_override();
            for (CLI::Option* other : formats) {
                format->excludes(other);  // CLI11 excludes both ways
            }
            formats.push_back(format);
        }
        info->add_flag("--players", line.info.players)->disable_flag_override();
        info->add_flag("--vars", line.info.vars)->disable_flag_override();
        info->add_option("-j,--jobs", line.info.jobs)->transform(Decimal(1, kMaxJobs));
        files = info->add_option("-f,--file", fileNames)->allow_extra_args(false);
        files->multi_option_policy(all);
        servers = info->add_option("servers", addresses)->multi_option_policy(all);
    }

    ServeOptions& s = line.serve;
    std::vector<std::string> players;
    std::vector<std::string> vars;
    std::size_t madeUp = 0;
    std::vector<CLI::Option*> sampleOptions;
    if (CLI::App* serve = commands[1].app) {
        serve->add_option("--bind", s.bind)->check(CLI::ValidIPV4);
        serve->add_option("--port", s.port)->transform(Decimal(0, 65535));
        serve->add_option("--servers", s.servers)->transform(Decimal(1, kMaxServers));
        serve->add_option("--delay-ms", s.delayMs)->transform(Decimal(0, kMaxDelayMs));
        serve->add_option("--count", s.count)->transform(Decimal(1, 1000000000));
        serve->add_option("--reply", s.replyFile);
        sampleOptions = {
            serve->add_option("--name", s.sample.name),
            serve->add_option("--map", s.sample.map),
            serve->add_option("--gametype", s.sample.gameType),
            serve->add_option("--maxplayers", s.sample.maxPlayers)->transform(Decimal(0, 999)),
            serve->add_option("--os", s.sample.osMask)->transform(Decimal(0, 0xFFFFFFFF)),
            serve->add_option("--var", vars)->allow_extra_args(false)->multi_option_policy(all),
            serve->add_option("--player", players)
                ->allow_extra_args(false)
                ->multi_option_policy(all),
            serve->add_option("--players", madeUp)->transform(Decimal(0, kMaxPlayers)),
        };
        sampleOptions[6]->excludes(sampleOptions[7]);
    }
    std::string helpTopic;
    if (CLI::App* helpCommand = commands[4].app) {
        helpCommand->add_option("command", helpTopic);
        helpCommand->allow_extras(false);
    }

    // list and browse ask a master; browse queries what it lists.
    ListOptions& list = line.browse.list;
    std::string protocol;
    std::string password;
    std::string sort;
    for (CLI::App* lister : {commands[5].app, commands[6].app}) {
        if (lister != nullptr) {
            lister->add_option("--master", list.master);
            lister->add_option("--game", list.game);
            lister->add_option("--player", list.player);
            lister->add_option("--clan", list.clan);
            lister->add_option("--password", password)->check(CLI::IsMember({"yes", "no"}));
            lister->add_option("--protocol", protocol);
            lister->add_option("--wait-ms", list.waitMs)->transform(Decimal(1, 60000));
            lister->add_flag("--json", list.json);
        }
    }
    if (CLI::App* lister = commands[5].app) {
        lister->add_flag_function("--not-full", [&](std::int64_t) {
            list.players = std::max(list.players, PlayersFilter::kNotFull);
        });
        lister->add_flag_function(
            "--not-empty", [&](std::int64_t) { list.players = PlayersFilter::kNotFullNotEmpty; });
    }
    if (CLI::App* browse = commands[6].app) {
        browse->add_flag_function("--not-full",
                                  [&](std::int64_t) { list.players = PlayersFilter::kNotFull; });
        browse->add_flag("--not-empty", line.browse.notEmpty);
        browse->add_option("--sort", sort)->check(CLI::IsMember({"players", "ping", "name"}));
        browse->add_option("-j,--jobs", line.browse.jobs)->transform(Decimal(1, kMaxJobs));
    }
    MasterServeOptions& master = line.master;
    if (CLI::App* m = commands[7].app) {
        m->add_option("--bind", master.bind)->check(CLI::ValidIPV4);
        m->add_option("--port", master.port)->transform(Decimal(0, 65535));
        m->add_option("--list", master.listFile);
        m->add_option("--servers", master.servers)->transform(Decimal(1, kMaxServers));
        m->add_option("--server-port", master.serverPort)->transform(Decimal(0, 65535));
        m->add_option("--delay-ms", master.delayMs)->transform(Decimal(0, kMaxDelayMs));
        m->add_option("--players", master.players)->transform(Decimal(0, kMaxPlayers));
    }

    // Operands after "--" are read here: CLI11 2.1 hands a "--" that follows
    // an operand back to the top command, which has none.
    const auto mark = std::find(args.begin(), args.end(), "--");
    const std::vector<std::string> operands(mark == args.end() ? mark : mark + 1, args.end());
    std::vector<std::string> reversed(std::make_reverse_iterator(mark), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::ParseError& e) {
        line.error = e.what();
        std::replace(line.error.begin(), line.error.end(), '\n', ' ');
        return line;
    }

    for (const auto& c : commands) {
        const bool parsed = c.app != nullptr && c.app->parsed();
        if (!parsed || c.command == Command::kHelp) {
            line.helpFor = helpTopic == c.name && !parsed ? c.command : line.helpFor;
            continue;
        }
        std::vector<std::string> extras = c.app->remaining();
        extras.erase(std::remove(extras.begin(), extras.end(), "--"), extras.end());
        if (c.app != info) {
            extras.insert(extras.end(), operands.begin(), operands.end());
        }
        if (!extras.empty()) {
            const std::string& arg = extras.front();
            line.error =
                (arg.size() > 1 && arg[0] == '-' ? "unknown option '" : "unexpected argument '") +
                arg + "' for 'velder " + c.name + "'";
            return line;
        }
        line.command = c.help->count() > 0 ? Command::kHelp : c.command;
        line.helpFor = c.help->count() > 0 ? c.command : Command::kHelp;
    }
    if ((commands[4].app != nullptr && commands[4].app->parsed()) || help->count() > 0) {
        line.command = Command::kHelp;
        if (!helpTopic.empty() && line.helpFor == Command::kHelp) {
            line.error = "no command '" + helpTopic + "' to help with: try 'velder help'";
        }
    } else if (version->count() > 0) {
        line.command = Command::kVersion;
    } else if (line.command == Command::kInfo) {
        // Every source in the order CLI11 read them; the operands after "--" last.
        addresses.insert(addresses.end(), operands.begin(), operands.end());
        std::size_t file = 0;
        std::size_t server = 0;
        for (const CLI::Option* option : info->parse_order()) {
            if (option == files && file < fileNames.size()) {
                line.info.sources.push_back({true, fileNames[file++]});
            } else if (option == servers && server < addresses.size()) {
                line.info.sources.push_back({false, addresses[server++]});
            }
        }
        while (server < addresses.size()) {
            line.info.sources.push_back({false, addresses[server++]});
        }
        if (const std::optional<std::string> problem = CheckAddresses(line.info.sources)) {
            line.error = *problem;
            return line;
        }
        for (std::size_t i = 0; i < formats.size(); ++i) {
            if (formats[i]->count() > 0) {
                line.info.format = static_cast<Format>(i + 1);
                if (line.info.players || line.info.vars) {
                    line.error = std::string(line.info.players ? "--players" : "--vars") +
                                 " cannot be combined with " + formats[i]->get_name();
                }
            }
        }
        if (line.error.empty() && line.info.sources.empty()) {
            line.error = "no server given: velder info HOST[:PORT]... or -f FILE";
        }
    } else if (line.command == Command::kServe) {
        std::string sampleOption;
        for (const CLI::Option* option : sampleOptions) {
            sampleOption = option->count() > 0 ? option->get_name() : sampleOption;
        }
        if (madeUp > 0 || sampleOptions[7]->count() > 0) {
            s.sample.players = MadeUpPlayers(madeUp);
        }
        for (const std::string& text : players) {
            const std::optional<Player> player = ReadPlayer(text, line.error);
            if (!player) {
                return line;
            }
            s.sample.players.push_back(*player);
        }
        for (const std::string& var : vars) {
            const std::size_t eq = var.find('=');
            if (eq == std::string::npos || eq == 0) {
                line.error = "bad variable '" + var + "' for --var: give it as KEY=VALUE";
                return line;
            }
            s.sample.vars.emplace_back(var.substr(0, eq), var.substr(eq + 1));
        }
        if (s.sample.players.size() > kMaxPlayers) {
            line.error = "too many players: a server has at most " + std::to_string(kMaxPlayers);
        } else if (!s.replyFile.empty() && !sampleOption.empty()) {
            line.error = "--reply cannot be combined with " + sampleOption;
        } else if (s.servers > 1 && s.port == 0) {
            line.error = "--servers needs a --port to count from";
        } else if (s.port + s.servers - 1 > 65535) {
            line.error = "--servers " + std::to_string(s.servers) + " from port " +
                         std::to_string(s.port) + " runs past port 65535";
        }
    } else if (line.command == Command::kMaster) {
        if (master.listFile.empty() == (master.servers == 0)) {
            line.error = "give either --list FILE or --servers N";
        } else if (master.serverPort != 0 && master.serverPort + master.servers - 1 > 65535) {
            line.error = "--servers " + std::to_string(master.servers) + " from port " +
                         std::to_string(master.serverPort) + " runs past port 65535";
        }
    } else if (line.command == Command::kList || line.command == Command::kBrowse) {
        line.browse.sort = sort == "players" ? BrowseSort::kPlayers
                           : sort == "ping"  ? BrowseSort::kPing
                           : sort == "name"  ? BrowseSort::kName
                                             : BrowseSort::kList;
        list.password = password.empty()    ? PasswordFilter::kAny
                        : password == "yes" ? PasswordFilter::kWith
                                            : PasswordFilter::kWithout;
        if (list.master.find(':') == std::string::npos) {
            list.master += ":" + std::to_string(kMasterPort);
        }
        const std::optional<std::string> badMaster = CheckServerAddress(list.master);
        const std::size_t dot = protocol.find('.');
        const std::optional<long long> major = ReadNumber(protocol.substr(0, dot), 0, 65535);
        const std::optional<long long> minor =
            ReadNumber(dot == std::string::npos ? "" : protocol.substr(dot + 1), 0, 65535);
        if (!protocol.empty() && (!major || !minor)) {
            line.error =
                "--protocol: bad version '" + protocol + "': give it as MAJOR.MINOR, e.g. 2.85";
        } else if (std::max({list.game.size(), list.player.size(), list.clan.size()}) >
                   kFilterTextCapacity) {
            line.error = "a filter text is longer than a request carries (" +
                         std::to_string(kFilterTextCapacity) + " bytes)";
        } else if (badMaster) {
            line.error = "--master: " + *badMaster;
        } else if (!protocol.empty()) {
            list.protocolMajor = static_cast<std::uint16_t>(*major);
            list.protocolMinor = static_cast<std::uint16_t>(*minor);
        }
    }
    return line;
}

std::string UsageText(Command command) {
    static const char* const kInfo =
        R"(  velder info [VIEW] [--jobs N] [-f FILE]... [--] HOST[:PORT]...
      Asks each Quake 4 server for its status through the library's GetInfo,
      several at a time (--jobs, 16 by default), and shows the answers in the
      order given. PORT is 28004 when left out. -f FILE reads addresses from
      FILE, one a line ('#' starts a comment; '-f -' reads standard input).
      Views: one summary line per server (address, round trip, players/max,
      map, name), with --players and --vars the players and the server
      variables below it; --fields: the result text's fields numbered as
      $gettok counts them; --raw: the exact result text, one line per server;
      --json: one JSON object per line.
      Exit status: 0 when every server answered, 1 when any did not (no
      answer, an unreadable reply, no such host), 2 for a usage error, 3 when
      the library cannot be loaded.
)";
    static const char* const kConsole = R"(  velder console
      Prints what IsQuakeActive answers: TRUE when the Quake 4 console
      window is open, FALSE otherwise.
)";
    static const char* const kServe = R"(  velder serve [OPTIONS]
      A stand-in Quake 4 server: answers the status request until interrupted.
        --bind ADDRESS        address to listen on (127.0.0.1); any other
                              address draws a warning, and each source
                              address then gets at most 4 answers a second
        --port N              UDP port (28004; 0 for a free one)
        --servers N           listen on N consecutive ports from --port
        --name TEXT           si_name, colour codes allowed (Velder stand-in)
        --map TEXT            si_map (mp/q4dm1)
        --gametype TEXT       si_gameType (DM)
        --maxplayers N        si_maxPlayers (16)
        --var KEY=VALUE       a further server variable (repeatable)
        --player NAME,CLAN,PING   a player (repeatable, up to 32)
        --players N           N made-up players
        --os N                the OS byte that ends the reply (1 Windows; 2 or 7 Linux)
        --reply FILE          answer with the bytes of FILE instead (a regular
                              file of at most 65507 bytes)
        --delay-ms N          wait N ms before each answer
        --count N             stop after N answers (GetInfo asks twice per query)
)";
    static const char* const kDemo = R"(  velder demo
      Starts a stand-in server inside the process, queries it through
      GetInfo and shows the answer.
)";
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
                              gives each source at most 4 lists a second,
                              and 4 answers a second from each stand-in
        --port N              UDP port (27650; 0 for a free one)
      It honours --not-full, --not-empty and --password for its own stand-ins.
)";
    // Indexed by Command.
    const char* const kOne[] = {nullptr, nullptr, kInfo,   kConsole, kServe,
                                kDemo,   kList,   kBrowse, kMaster};
    if (kOne[static_cast<int>(command)] != nullptr) {
        return std::string("usage:\n") + kOne[static_cast<int>(command)];
    }
    return std::string(
               "usage: velder COMMAND [OPTIONS]   (velder COMMAND --help: one command)\n\n") +
           kInfo + "\n" + kConsole + "\n" + kServe + "\n" + kDemo +
           "\n  velder --version\n      Prints the version.\n\n" + kList + "\n" + kBrowse + "\n" +
           kMaster;
}

}  // namespace velder::tools
