// The commands of the `velder` program, one file each: every command declares
// its options with their help and runs itself. commands.cpp assembles them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "query/master_list.h"
#include "query/master_query.h"
#include "standin/standin_server.h"
#include "standin/status_reply.h"

namespace CLI {
class App;
}

namespace velder::tools {

inline constexpr std::uint16_t kDefaultPort = 28004;  // the game's own

// The program's exit status, one for each meaning.
inline constexpr int kExitOk = 0;
// A server or the master did not answer, or the command could not run.
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitNoLibrary = 3;

inline constexpr int kMaxJobs = 256;
inline constexpr int kMaxServers = 4096;
inline constexpr int kMaxDelayMs = 60000;

// The command a command line chose, ready to run; it returns the exit status.
using Run = std::function<int()>;

// How `velder info` shows each answer.
enum class Format { kSummary, kFields, kRaw, kJson };

// A server named on the command line, or a file of them ("-" for standard input).
struct ServerSource {
    bool file = false;
    std::string text;
};

struct InfoOptions {
    Format format = Format::kSummary;
    bool players = false;                     // with the summary: the player table
    bool vars = false;                        // with the summary: the server variables
    int jobs = 16;                            // queries running at the same time
    std::vector<ServerSource> sources;        // in the order given
    std::vector<std::string> servers, files;  // as CLI11 read them, each in its own order
    // Set before the line is read: the addresses after "--", which CLI11 2.1
    // cannot take once an operand came before the "--".
    std::vector<std::string> operands;
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

// The masters `velder list` and `velder browse` ask unless told otherwise:
// the community master, and id's own (said to answer no list requests now;
// it may again).
inline constexpr char kCommunityMaster[] = "master.quakehub.net:27650";
inline constexpr char kIdMaster[] = "q4master.idsoftware.com:27650";

struct ListOptions {
    std::vector<std::string> masters = {kCommunityMaster, kIdMaster};  // asked together
    std::string game, player, clan;
    PasswordFilter password = PasswordFilter::kAny;
    PlayersFilter players = PlayersFilter::kAny;
    std::uint16_t protocolMajor = kProtocolMajor;
    std::uint16_t protocolMinor = kProtocolMinor;
    int waitMs = 1000;  // quiet after the last reply that ends the list
    bool json = false;
};

enum class BrowseSort { kList, kPlayers, kPing, kName };

struct BrowseOptions {
    ListOptions list;
    bool playing = false;  // only servers that answered with players, full ones too
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

// Each adds its command to `app`, reading into `options`; once the line is
// read, `run` runs the command.
void AddInfoCommand(CLI::App& app, InfoOptions& options, Run& run);
void AddConsoleCommand(CLI::App& app, Run& run);
void AddServeCommand(CLI::App& app, ServeOptions& options, Run& run);
void AddDemoCommand(CLI::App& app, Run& run);
void AddListCommand(CLI::App& app, ListOptions& options, Run& run);
void AddBrowseCommand(CLI::App& app, BrowseOptions& options, Run& run);
void AddMasterCommand(CLI::App& app, MasterServeOptions& options, Run& run);

// Every command's options, and the run of the one the line chose.
struct CommandLine {
    InfoOptions info;
    ServeOptions serve;
    ListOptions list;
    BrowseOptions browse;
    MasterServeOptions master;
    Run run;
};

// Reads the arguments after the program name into `line`. Returns one line
// naming what is wrong with them, or an empty text when `line.run` is set.
std::string ParseCommandLine(const std::vector<std::string>& args, CommandLine& line);

// The made-up servers of `velder serve --players`, `velder master --servers`
// and `velder demo`: `count` players with varied pings and clans (at most
// kMaxPlayers), and the server the demo shows.
std::vector<standin::Player> MadeUpPlayers(std::size_t count);
standin::ServerSample DemoSample();

// Stops reading the command line with `problem` as the usage error.
[[noreturn]] void Refuse(const std::string& problem);

// A request of a few bytes draws an answer many times longer: from where
// others can send, a stand-in must not answer at any rate. The answers a
// second for each source address, with a warning that says `what` when
// `bind` is not the loopback address; 0 (no limit) on the loopback address.
int AnswersPerSource(const std::string& bind, const std::string& what);
inline constexpr int kAnswersPerSource = 4;

// What each master of a list gave, in the order of ListOptions::masters.
struct MasterAnswer {
    ListOutcome outcome = ListOutcome::kNoAnswer;
    ListTally tally;
};

// Asks every master of `options` for its list, all at once, and hands each
// server on once, as it first arrives from any of them; ListTaken then says
// what was dropped and which masters did not answer, and is true when one did.
std::vector<MasterAnswer> FetchList(const ListOptions& options,
                                    const std::function<void(const ServerEntry& entry)>& take);
bool ListTaken(const std::vector<MasterAnswer>& answers, const ListOptions& options);
std::string EntryText(const ServerEntry& entry);  // HOST:PORT
// The options list and browse share: the master and the request's filters.
void AddListOptions(CLI::App& command, ListOptions& options);

}  // namespace velder::tools
