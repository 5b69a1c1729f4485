// The commands that start from a master server's list: `velder list`,
// `velder browse`, and the stand-in master `velder master`. They read their
// own arguments; main() hands them over before the other commands.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "query/master_list.h"
#include "standin/standin_server.h"

namespace velder::tools {

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

enum class MasterCommand { kNone, kList, kBrowse, kMaster, kHelp };

struct MasterCommandLine {
    MasterCommand command = MasterCommand::kNone;
    MasterCommand helpFor = MasterCommand::kNone;  // with kHelp
    BrowseOptions browse;                          // .list for `velder list`
    MasterServeOptions master;
    std::string error;  // one line naming the problem
};

// Reads `velder list|browse|master ...` and `velder help list|browse|master`;
// kNone for any other command line.
MasterCommandLine ParseMasterCommand(const std::vector<std::string>& args);

// Runs what ParseMasterCommand read, browse with the library `libraryFile`
// from beside the program; nothing for a command line of another command.
std::optional<int> RunMasterCommand(const std::vector<std::string>& args, const char* libraryFile);

// The usage text of these commands, or of one of them.
std::string MasterUsageText(MasterCommand command = MasterCommand::kNone);

}  // namespace velder::tools
