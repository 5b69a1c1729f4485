// The command line of the `velder` tool, read into plain settings.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "query/master_list.h"
#include "standin/standin_server.h"
#include "standin/status_reply.h"

namespace velder::tools {

inline constexpr std::uint16_t kDefaultPort = 28004;  // the game's own

// The program's exit status.
inline constexpr int kExitOk = 0;
inline constexpr int kExitNoAnswer = 1;  // a server did not answer
inline constexpr int kExitFailure = 1;   // a command could not run
inline constexpr int kExitUsage = 2;
inline constexpr int kExitNoLibrary = 3;
inline constexpr int kMaxJobs = 256;
inline constexpr int kMaxServers = 4096;
inline constexpr int kMaxDelayMs = 60000;

// How `velder info` shows each answer.
enum class Format { kSummary, kFields, kRaw, kJson };

// A server named on the command line, or a file of them ("-" for standard input).
struct ServerSource {
    bool file = false;
    std::string text;
};

struct InfoOptions {
    Format format = Format::kSummary;
    bool players = false;               // with the summary: the player table
    bool vars = false;                  // with the summary: the server variables
    int jobs = 16;                      // queries running at the same time
    std::vector<ServerSource> sources;  // in the order given
};

struct ServeOptions {
    std::string bind = standin::kLoopback;
    std::uint16_t port = kDefaultPort;  // 0: a free port of the system's choosing
    int servers = 1;                    // listen on this many consecutive ports
    standin::ServerSample sample;
    std::string replyFile;  // answer with this file's bytes instead
    int delayMs = 0;
    std::size_t count = 0;  // stop after this many answers in all; 0: run on
};

// The master `velder list` and `velder browse` ask unless told otherwise: a
// community master (id's own no longer answers list requests).
inline constexpr char kDefaultMaster[] = "master.quakehub.net:27650";

struct ListOptions {
    std::string master = kDefaultMaster;
    std::string game, player, clan;
    PasswordFilter password = PasswordFilter::kAny;
    PlayersFilter players = PlayersFilter::kAny;
    std::uint16_t protocolMajor = kProtocolMajor;
    std::uint16_t protocolMinor = kProtocolMinor;
    int waitMs = 1000;  // quiet after the last reply that ends the list
    bool json = false;

    // The request's filter; its texts point into these options.
    ServersFilter Filter() const {
        return {protocolMajor, protocolMinor, game.c_str(), player.c_str(),
                clan.c_str(),  password,      players};
    }
};

enum class BrowseSort { kList, kPlayers, kPing, kName };

struct BrowseOptions {
    ListOptions list;
    bool notEmpty = false;  // only servers that answered with players
    BrowseSort sort = BrowseSort::kList;
    int jobs = 16;
};

struct MasterServeOptions {
    std::string bind = standin::kLoopback;
    std::uint16_t port = kMasterPort;  // 0: a free port
    std::string listFile;              // host:port lines to list
    int servers = 0;                   // or this many stand-ins of its own
    std::uint16_t serverPort = 28004;  // the first stand-in's port; 0: free ports
    int delayMs = 0;                   // the stand-ins' delay before each answer
    int players = 6;                   // made-up players on each stand-in
};

enum class Command { kHelp, kVersion, kInfo, kConsole, kServe, kDemo, kList, kBrowse, kMaster };

struct CommandLine {
    Command command = Command::kHelp;
    Command helpFor = Command::kHelp;  // kHelp: the usage of every command
    InfoOptions info;
    ServeOptions serve;
    BrowseOptions browse;  // .list for `velder list`
    MasterServeOptions master;
    std::string error;  // one line naming what is wrong with the command line
};

// Reads the arguments after the program name.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

// Reads the addresses of a server list, one a line: blank lines and lines
// that begin with '#' are skipped, spaces around an address are ignored.
// `name` names the list in messages. Returns the first problem, or nothing.
std::optional<std::string> ReadServerList(std::string_view list, const std::string& name,
                                          std::vector<std::string>& addresses);

// Reads the server list in the file at `path` ("-": standard input), as
// ReadServerList does, into `addresses`. Returns the first problem, or nothing.
std::optional<std::string> ReadServerListFile(const std::string& path,
                                              std::vector<std::string>& addresses);

// Reads `file` to its end but never more than `limit` bytes and a few more,
// so that a caller sees a file longer than `limit` without holding all of
// it. False when the read fails.
bool ReadAtMost(std::FILE* file, std::size_t limit, std::string& out);

// `count` made-up players with varied pings and clans, at most kMaxPlayers:
// those of `velder serve --players N`.
std::vector<standin::Player> MadeUpPlayers(std::size_t count);

// The sample server that `velder demo` shows.
standin::ServerSample DemoSample();

// The usage text of `command`, or of every command for Command::kHelp.
std::string UsageText(Command command = Command::kHelp);

}  // namespace velder::tools
