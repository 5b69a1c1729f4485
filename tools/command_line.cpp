#include "tools/command_line.h"

#include "host/exports.h"
#include "query/protocol.h"

namespace velder::tools {

using standin::kMaxPlayers;
using standin::MadeUpPlayers;
using standin::Player;

namespace {

// A decimal number made of digits only, within [low, high].
std::optional<long long> ReadNumber(std::string_view text, long long low, long long high) {
    if (text.empty() || text.size() > 18) {
        return std::nullopt;
    }
    long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    if (value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

bool IsDottedAddress(std::string_view text) {
    int parts = 0;
    while (true) {
        const std::size_t dot = text.find('.');
        const std::string_view part = text.substr(0, dot);
        if (part.size() > 3 || !ReadNumber(part, 0, 255)) {
            return false;
        }
        ++parts;
        if (dot == std::string_view::npos) {
            break;
        }
        text.remove_prefix(dot + 1);
    }
    return parts == 4;
}

// Walks the arguments of one command: options with their values, then operands.
class Arguments {
  public:
    Arguments(const std::vector<std::string>& args, std::string command)
        : args_(args), command_(std::move(command)) {}

    bool Done() const { return next_ >= args_.size(); }

    // The next argument; for "--name=value" only "--name", the value is kept.
    std::string Take() {
        std::string arg = args_[next_++];
        inline_.reset();
        if (arg.size() > 2 && arg.compare(0, 2, "--") == 0 && !operandsOnly_) {
            const std::size_t eq = arg.find('=');
            if (eq != std::string::npos) {
                inline_ = arg.substr(eq + 1);
                arg.resize(eq);
            }
        }
        if (arg == "--" && !operandsOnly_) {
            operandsOnly_ = true;
            return Done() ? std::string() : Take();
        }
        return arg;
    }

    bool IsOption(const std::string& arg) const {
        return !operandsOnly_ && arg.size() > 1 && arg[0] == '-';
    }

    // The value of `option`, or nothing (and an error) when it is missing.
    std::optional<std::string> Value(const std::string& option, std::string& error) {
        if (inline_) {
            std::string value = *inline_;
            inline_.reset();
            return value;
        }
        if (Done()) {
            error = "option '" + option + "' needs a value";
            return std::nullopt;
        }
        return args_[next_++];
    }

    // A value that must be a number within [low, high].
    std::optional<long long> Number(const std::string& option, long long low, long long high,
                                    std::string& error) {
        const std::optional<std::string> text = Value(option, error);
        if (!text) {
            return std::nullopt;
        }
        const std::optional<long long> n = ReadNumber(*text, low, high);
        if (!n) {
            error = "bad value '" + *text + "' for " + option + ": give a number from " +
                    std::to_string(low) + " to " + std::to_string(high);
        }
        return n;
    }

    // An option that takes no value must not get one with "=".
    bool RefuseValue(const std::string& option, std::string& error) {
        if (inline_) {
            error = "option '" + option + "' takes no value";
            return false;
        }
        return true;
    }

    std::string Unknown(const std::string& option) const {
        return "unknown option '" + option + "' for 'velder " + command_ + "'";
    }

  private:
    const std::vector<std::string>& args_;
    std::string command_;
    std::size_t next_ = 1;  // args_[0] is the command itself
    std::optional<std::string> inline_;
    bool operandsOnly_ = false;
};

// Takes the next argument as "--help" when it is one.
bool AskedForHelp(const std::string& arg, CommandLine& line, Command command) {
    if (arg != "--help" && arg != "-h") {
        return false;
    }
    line.command = Command::kHelp;
    line.helpFor = command;
    return true;
}

void ParseInfo(const std::vector<std::string>& args, CommandLine& line) {
    Arguments in(args, "info");
    InfoOptions& info = line.info;
    std::string formatOption;  // the option that chose the format
    const auto choose = [&](const std::string& option, Format format) {
        if (!formatOption.empty() && formatOption != option) {
            line.error = formatOption + " and " + option + " cannot be combined";
        }
        formatOption = option;
        info.format = format;
    };
    while (!in.Done() && line.error.empty()) {
        const std::string arg = in.Take();
        if (!in.IsOption(arg)) {
            std::string address = arg;
            if (const std::optional<std::string> problem = CheckServerAddress(address)) {
                line.error = *problem;
            } else {
                info.sources.push_back({false, address});
            }
        } else if (AskedForHelp(arg, line, Command::kInfo)) {
            return;
        } else if (arg == "--raw" || arg == "--json" || arg == "--fields") {
            if (in.RefuseValue(arg, line.error)) {
                choose(arg, arg == "--raw"    ? Format::kRaw
                            : arg == "--json" ? Format::kJson
                                              : Format::kFields);
            }
        } else if (arg == "--players" || arg == "--vars") {
            if (in.RefuseValue(arg, line.error)) {
                (arg == "--players" ? info.players : info.vars) = true;
            }
        } else if (arg == "--jobs" || arg == "-j") {
            if (const auto n = in.Number(arg, 1, kMaxJobs, line.error)) {
                info.jobs = static_cast<int>(*n);
            }
        } else if (arg == "--file" || arg == "-f") {
            if (const auto v = in.Value(arg, line.error)) {
                info.sources.push_back({true, *v});
            }
        } else {
            line.error = in.Unknown(arg);
        }
    }
    if (!line.error.empty()) {
        return;
    }
    if ((info.players || info.vars) && !formatOption.empty()) {
        line.error = std::string(info.players ? "--players" : "--vars") +
                     " cannot be combined with " + formatOption;
    } else if (info.sources.empty()) {
        line.error = "no server given: velder info HOST[:PORT]... or -f FILE";
    }
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
    return Player{text.substr(0, first), text.substr(first + 1, second - first - 1),
                  static_cast<std::uint16_t>(*ping)};
}

void ParseServe(const std::vector<std::string>& args, CommandLine& line) {
    Arguments in(args, "serve");
    ServeOptions& serve = line.serve;
    bool samplePlayers = false;
    bool madeUpPlayers = false;
    std::string sampleOption;  // an option that shapes the built reply
    while (!in.Done() && line.error.empty()) {
        const std::string arg = in.Take();
        if (!in.IsOption(arg)) {
            line.error = "unexpected argument '" + arg + "' for 'velder serve'";
        } else if (AskedForHelp(arg, line, Command::kServe)) {
            return;
        } else if (arg == "--bind") {
            if (const auto v = in.Value(arg, line.error)) {
                if (IsDottedAddress(*v)) {
                    serve.bind = *v;
                } else {
                    line.error = "bad address '" + *v + "' for --bind: give a dotted IPv4 address";
                }
            }
        } else if (arg == "--port") {
            if (const auto n = in.Number(arg, 0, 65535, line.error)) {
                serve.port = static_cast<std::uint16_t>(*n);
            }
        } else if (arg == "--servers") {
            if (const auto n = in.Number(arg, 1, kMaxServers, line.error)) {
                serve.servers = static_cast<int>(*n);
            }
        } else if (arg == "--delay-ms") {
            if (const auto n = in.Number(arg, 0, kMaxDelayMs, line.error)) {
                serve.delayMs = static_cast<int>(*n);
            }
        } else if (arg == "--count") {
            if (const auto n = in.Number(arg, 1, 1000000000, line.error)) {
                serve.count = static_cast<std::size_t>(*n);
            }
        } else if (arg == "--reply") {
            if (const auto v = in.Value(arg, line.error)) {
                serve.replyFile = *v;
            }
        } else if (arg == "--name" || arg == "--map" || arg == "--gametype") {
            sampleOption = arg;
            if (const auto v = in.Value(arg, line.error)) {
                (arg == "--name"  ? serve.sample.name
                 : arg == "--map" ? serve.sample.map
                                  : serve.sample.gameType) = *v;
            }
        } else if (arg == "--maxplayers") {
            sampleOption = arg;
            if (const auto n = in.Number(arg, 0, 999, line.error)) {
                serve.sample.maxPlayers = static_cast<int>(*n);
            }
        } else if (arg == "--os") {
            sampleOption = arg;
            if (const auto n = in.Number(arg, 0, 0xFFFFFFFF, line.error)) {
                serve.sample.osMask = static_cast<std::uint32_t>(*n);
            }
        } else if (arg == "--var") {
            sampleOption = arg;
            if (const auto v = in.Value(arg, line.error)) {
                const std::size_t eq = v->find('=');
                if (eq == std::string::npos || eq == 0) {
                    line.error = "bad variable '" + *v + "' for --var: give it as KEY=VALUE";
                } else {
                    serve.sample.vars.emplace_back(v->substr(0, eq), v->substr(eq + 1));
                }
            }
        } else if (arg == "--player") {
            sampleOption = arg;
            samplePlayers = true;
            if (const auto v = in.Value(arg, line.error)) {
                if (const auto player = ReadPlayer(*v, line.error)) {
                    serve.sample.players.push_back(*player);
                }
            }
        } else if (arg == "--players") {
            sampleOption = arg;
            madeUpPlayers = true;
            if (const auto n = in.Number(arg, 0, kMaxPlayers, line.error)) {
                serve.sample.players = MadeUpPlayers(static_cast<std::size_t>(*n));
            }
        } else {
            line.error = in.Unknown(arg);
        }
    }
    if (!line.error.empty()) {
        return;
    }
    if (samplePlayers && madeUpPlayers) {
        line.error = "--player and --players cannot be combined";
    } else if (serve.sample.players.size() > kMaxPlayers) {
        line.error = "too many players: a server has at most " + std::to_string(kMaxPlayers);
    } else if (!serve.replyFile.empty() && !sampleOption.empty()) {
        line.error = "--reply cannot be combined with " + sampleOption;
    } else if (serve.servers > 1 && serve.port == 0) {
        line.error = "--servers needs a --port to count from";
    } else if (serve.port + serve.servers - 1 > 65535) {
        line.error = "--servers " + std::to_string(serve.servers) + " from port " +
                     std::to_string(serve.port) + " runs past port 65535";
    }
}

void ParseNoOptions(const std::vector<std::string>& args, CommandLine& line) {
    if (args.size() > 1 && !AskedForHelp(args[1], line, line.command)) {
        const std::string& arg = args[1];
        line.error =
            (arg.size() > 1 && arg[0] == '-' ? "unknown option '" : "unexpected argument '") + arg +
            "' for 'velder " + args[0] + "'";
    } else if (args.size() > 2) {
        line.error = "unexpected argument '" + args[2] + "' after --help";
    }
}

}  // namespace

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

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
    CommandLine line;
    if (args.empty()) {
        line.error = "no command given: try 'velder help'";
        return line;
    }
    const std::string& command = args[0];
    if (command == "info") {
        line.command = Command::kInfo;
        ParseInfo(args, line);
    } else if (command == "serve") {
        line.command = Command::kServe;
        ParseServe(args, line);
    } else if (command == "console" || command == "demo" || command == "help" ||
               command == "--help" || command == "-h" || command == "--version") {
        line.command = command == "console"     ? Command::kConsole
                       : command == "demo"      ? Command::kDemo
                       : command == "--version" ? Command::kVersion
                                                : Command::kHelp;
        if (command == "help" && args.size() == 2) {
            // "velder help info" is "velder info --help".
            const CommandLine named = ParseCommandLine({args[1], "--help"});
            line.helpFor = named.helpFor;
            if (!named.error.empty() || named.helpFor == Command::kHelp ||
                named.helpFor == Command::kVersion) {
                line.error = "no command '" + args[1] + "' to help with: try 'velder help'";
            }
            return line;
        }
        ParseNoOptions(args, line);
    } else {
        line.error = "unknown command '" + command + "': try 'velder help'";
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
        --bind ADDRESS        address to listen on (127.0.0.1); any address
                              outside 127.0.0.0/8 draws a warning, and each
                              source address then gets a few answers a second
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
    switch (command) {
        case Command::kInfo:
            return std::string("usage:\n") + kInfo;
        case Command::kServe:
            return std::string("usage:\n") + kServe;
        case Command::kConsole:
            return std::string("usage:\n") + kConsole;
        case Command::kDemo:
            return std::string("usage:\n") + kDemo;
        case Command::kHelp:
        case Command::kVersion:
            break;
    }
    return std::string(
               "usage: velder COMMAND [OPTIONS]   (velder COMMAND --help: one command)\n\n") +
           kInfo + "\n" + kConsole + "\n" + kServe + "\n" + kDemo +
           "\n  velder --version\n      Prints the version.\n";
}

}  // namespace velder::tools
