// How the list, browse and master commands read their arguments.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/master_commands.h"

namespace {

using velder::tools::MasterCommand;
using velder::tools::ParseMasterCommand;

TEST(MasterCommandLine, FiltersBecomeTheRequestsFilter) {
    using velder::PasswordFilter;
    using velder::PlayersFilter;
    struct Row {
        std::vector<std::string> args;
        std::string master;
        PlayersFilter players;
        PasswordFilter password;
        int major, minor;
    };
    const Row rows[] = {
        {.args = {"list"},
         .master = velder::tools::kDefaultMaster,
         .players = PlayersFilter::kAny,
         .password = PasswordFilter::kAny,
         .major = 2,
         .minor = 85},
        {.args = {"list", "--master", "127.0.0.1", "--not-full", "--password", "no"},
         .master = "127.0.0.1:27650",
         .players = PlayersFilter::kNotFull,
         .password = PasswordFilter::kWithout,
         .major = 2,
         .minor = 85},
        {.args = {"list", "--not-empty", "--not-full", "--password=yes", "--protocol", "1.2"},
         .master = velder::tools::kDefaultMaster,
         .players = PlayersFilter::kNotFullNotEmpty,
         .password = PasswordFilter::kWith,
         .major = 1,
         .minor = 2},
        // browse keeps --not-empty for itself: full servers have players too.
        {.args = {"browse", "--not-empty", "--master", "h:1"},
         .master = "h:1",
         .players = PlayersFilter::kAny,
         .password = PasswordFilter::kAny,
         .major = 2,
         .minor = 85},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args.back());
        const auto line = ParseMasterCommand(row.args);
        ASSERT_EQ("", line.error);
        const velder::tools::ListOptions& list = line.browse.list;
        EXPECT_EQ(row.master, list.master);
        EXPECT_EQ(row.players, list.players);
        EXPECT_EQ(row.password, list.password);
        EXPECT_EQ(row.major, list.protocolMajor);
        EXPECT_EQ(row.minor, list.protocolMinor);
    }
}

TEST(MasterCommandLine, NamesTheProblem) {
    struct Row {
        std::vector<std::string> args;
        const char* error;
    };
    const Row rows[] = {
        {.args = {"list", "--password", "maybe"}, .error = "--password"},
        {.args = {"list", "--protocol", "2"}, .error = "--protocol: bad version '2'"},
        {.args = {"list", "--protocol", "2.85x"}, .error = "--protocol: bad version"},
        {.args = {"list", "--protocol", "70000.1"}, .error = "--protocol: bad version"},
        {.args = {"list", "--game", std::string(65, 'g')}, .error = "longer than a request"},
        {.args = {"list", "--master", "h:0"}, .error = "--master: bad port '0'"},
        {.args = {"list", "--wait-ms", "0"}, .error = "--wait-ms"},
        {.args = {"list", "extra"}, .error = "extra"},
        {.args = {"browse", "--sort", "map"}, .error = "--sort"},
        {.args = {"browse", "--jobs", "257"}, .error = "--jobs"},
        {.args = {"master"}, .error = "give either --list FILE or --servers N"},
        {.args = {"master", "--list", "f", "--servers", "2"}, .error = "give either"},
        {.args = {"master", "--servers", "10", "--server-port", "65530"},
         .error = "runs past port 65535"},
    };
    for (const Row& row : rows) {
        const auto line = ParseMasterCommand(row.args);
        EXPECT_NE(std::string::npos, line.error.find(row.error))
            << row.args.back() << ": " << line.error;
    }
    EXPECT_EQ(MasterCommand::kNone, ParseMasterCommand({"info", "h"}).command);
    EXPECT_EQ(MasterCommand::kHelp, ParseMasterCommand({"help", "browse"}).command);
    EXPECT_EQ(MasterCommand::kBrowse, ParseMasterCommand({"browse", "--help"}).helpFor);
}

}  // namespace
