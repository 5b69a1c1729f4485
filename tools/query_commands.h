// The commands that ask through the library or a master: info, console,
// list and browse. Every command declares its options with their help and
// runs itself, one file each.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "query/master_list.h"
#include "query/master_query.h"
#include "tools/command_basics.h"

namespace velder::tools {

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

// Each adds its command to `app`, reading into `options`; once the line is
// read, `run` runs the command.
void AddInfoCommand(CLI::App& app, InfoOptions& options, Run& run);
void AddConsoleCommand(CLI::App& app, Run& run);
void AddListCommand(CLI::App& app, ListOptions& options, Run& run);
void AddBrowseCommand(CLI::App& app, BrowseOptions& options, Run& run);

// What each master of a list gave, in the order of ListOptions::masters.
struct MasterResult {
    ListOutcome outcome = ListOutcome::kNoAnswer;
    ListTally tally;
};

// Asks every master of `options` for its list, all at once, and hands each
// server on once, as it first arrives from any of them; ReportListProblems then says
// what was dropped and which masters did not answer, and is true when one did.
std::vector<MasterResult> FetchList(const ListOptions& options,
                                    const std::function<void(const ServerEntry& entry)>& take);
bool ReportListProblems(const std::vector<MasterResult>& answers, const ListOptions& options);
std::string EntryText(const ServerEntry& entry);  // HOST:PORT
// The options list and browse share: the master and the request's filters.
void AddListOptions(CLI::App& command, ListOptions& options);

}  // namespace velder::tools
