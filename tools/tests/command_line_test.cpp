// The command line as CLI11 reads it into each command's options. What the
// commands then do is cli_test's and master_cli_test's to check.
#include "tools/commands.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tools/input_files.h"

namespace {

using velder::PasswordFilter;
using velder::PlayersFilter;
using velder::tools::CommandLine;
using velder::tools::Format;
using velder::tools::ParseCommandLine;

// Reads `args`, which must be taken.
CommandLine Read(const std::vector<std::string>& args) {
    CommandLine line;
    EXPECT_EQ("", ParseCommandLine(args, line)) << args[0];
    EXPECT_TRUE(line.run) << args[0];
    return line;
}

// Every line the program refuses, and what its one-line message must name.
TEST(CommandLine, EveryRefusedLineNamesItsProblem) {
    const struct {
        std::vector<std::string> args;
        std::string names;
    } rows[] = {
        {{}, "no command given"},
        {{"query"}, "query"},
        {{"help", "query"}, "query"},
        {{"help", "--version"}, "--version"},
        {{"info"}, "no server given"},
        {{"info", "--json"}, "no server given"},
        {{"info", "--raw", "--json", "h"}, "--raw"},
        {{"info", "--json", "h", "--fields"}, "--fields"},
        {{"info", "--players", "--raw", "h"}, "--players"},
        {{"info", "--vars", "--json", "h"}, "--vars"},
        {{"info", std::string(1024, 'a')}, "is longer than the library takes (1023 bytes)"},
        {{"info", std::string(1024, 'a') + ":1"}, "is longer than the library takes"},
        {{"info", "--players=yes", "h"}, "players"},
        {{"info", ":28004"}, "no host name before the colon"},
        {{"info", "host:"}, "bad port '' in 'host:'"},
        {{"info", "host:abc"}, "bad port 'abc' in 'host:abc'"},
        {{"info", "host:80xyz"}, "'80xyz'"},
        {{"info", "host:0"}, "'0'"},
        {{"info", "host:65536"}, "'65536'"},
        {{"info", "host:-1"}, "'-1'"},
        {{"info", "host:+80"}, "'+80'"},
        {{"info", "a:b:c"}, "'b:c'"},
        {{"info", "h:1", "--", ":5"}, "no host name before the colon"},
        // What CLI11 refuses is passed on as it says it: one row for all.
        {{"info", "--xml", "h:1"}, "--xml"},
        {{"info", "--jobs", "0", "h:1"}, "--jobs"},
        {{"info", "--jobs", "many", "h:1"}, "'many'"},
        {{"info", "--jobs=257", "h:1"}, "257"},
        {{"serve", "--port", "70000"}, "70000"},
        {{"serve", "--delay-ms", "0x10"}, "0x10"},
        {{"serve", "--bind", "localhost"}, "--bind"},
        {{"serve", "--bind", "1.2.3.256"}, "256"},
        {{"serve", "--player", "Kane,Rhino"}, "bad player 'Kane,Rhino': give it as NAME,CLAN,PING"},
        {{"serve", "--player", "Kane"}, "bad player 'Kane'"},
        {{"serve", "--player", "Kane,Rhino,fast"}, "bad ping 'fast'"},
        {{"serve", "--players", "33"}, "33"},
        {{"serve", "--players", "2", "--player", "a,b,1"}, "--player"},
        {{"serve", "--var", "novalue"}, "bad variable 'novalue'"},
        {{"serve", "--var", "=x"}, "bad variable '=x'"},
        {{"serve", "--reply", "r.bin", "--name", "x"}, "--reply"},
        {{"serve", "--servers", "3", "--port", "0"}, "--servers needs a --port"},
        {{"serve", "--servers", "10", "--port", "65530"}, "runs past port 65535"},
        {{"serve", "--delay-ms", "-5"}, "-5"},
        {{"serve", "--count", "0"}, "--count"},
        {{"list", "--password", "maybe"}, "maybe"},
        {{"list", "--protocol", "2"}, "--protocol: bad version '2'"},
        {{"list", "--protocol", "2.85x"}, "--protocol: bad version"},
        {{"list", "--protocol", "70000.1"}, "--protocol: bad version"},
        {{"list", "--game", std::string(65, 'g')}, "longer than a request carries"},
        {{"list", "--master", "h:0"}, "bad port '0'"},
        {{"list", "--wait-ms", "0"}, "--wait-ms"},
        {{"browse", "--sort", "map"}, "map"},
        {{"browse", "--sort", "1"}, "--sort"},  // a name, not the value it stands for
        {{"browse", "--jobs", "257"}, "257"},
        {{"master", "--port", "70000"}, "70000"},
        {{"master"}, "give either --list FILE or --servers N"},
        {{"master", "--list", "f", "--servers", "2"}, "--servers"},
        {{"master", "--servers", "10", "--server-port", "65530"}, "runs past port 65535"},
    };
    for (const auto& row : rows) {
        std::string joined;
        for (const std::string& a : row.args) {
            joined += " " + a;
        }
        CommandLine line;
        const std::string error = ParseCommandLine(row.args, line);
        EXPECT_NE(std::string::npos, error.find(row.names)) << "velder" << joined << ": " << error;
        EXPECT_EQ(std::string::npos, error.find('\n')) << joined;
    }
}

TEST(CommandLine, HelpVersionConsoleAndDemoAreTaken) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"help"},
             {"--help"},
             {"--version"},
             {"console"},
             {"demo"},
             {"help", "serve"},
             {"info", "--help"},
             {"info", "h:1", "--json", "-h"},
             {"serve", "--port", "0", "--help"},
             {"browse", "--help"},
         }) {
        Read(args);
    }
}

TEST(CommandLine, InfoTakesServersInOrderWithFormatAndJobs) {
    using Sources = std::vector<std::pair<bool, std::string>>;  // file?, text
    const std::string longestHost(1023, 'a');
    const struct {
        std::vector<std::string> args;
        Format format;
        int jobs;
        Sources sources;
    } rows[] = {
        {{"info", "b:2", "a:1"}, Format::kSummary, 16, {{false, "b:2"}, {false, "a:1"}}},
        {{"info", "--raw", "h:28004"}, Format::kRaw, 16, {{false, "h:28004"}}},
        {{"info", "h:1", "--json", "--jobs", "64"}, Format::kJson, 64, {{false, "h:1"}}},
        {{"info", "--jobs=1", "-j", "3", "h:65535"}, Format::kSummary, 3, {{false, "h:65535"}}},
        {{"info", "--jobs", "010", "h:1"}, Format::kSummary, 10, {{false, "h:1"}}},  // decimal
        {{"info", "--fields", "--fields", "h:1"}, Format::kFields, 16, {{false, "h:1"}}},
        // "--" may come anywhere: what follows is an address, also when it starts with '-'.
        {{"info", "--", "h:1"}, Format::kSummary, 16, {{false, "h:1"}}},
        {{"info", "h:1", "--"}, Format::kSummary, 16, {{false, "h:1"}}},
        {{"info", "h:1", "--", "--json"},
         Format::kSummary,
         16,
         {{false, "h:1"}, {false, "--json:28004"}}},
        // Without a port, the game's own.
        {{"info", "q4.example.org", "10.0.0.1"},
         Format::kSummary,
         16,
         {{false, "q4.example.org:28004"}, {false, "10.0.0.1:28004"}}},
        {{"info", longestHost}, Format::kSummary, 16, {{false, longestHost + ":28004"}}},
        {{"info", "-f", "list", "h:1", "--file=-"},
         Format::kSummary,
         16,
         {{true, "list"}, {false, "h:1"}, {true, "-"}}},
    };
    for (const auto& row : rows) {
        const CommandLine line = Read(row.args);
        EXPECT_EQ(row.format, line.info.format) << row.args[1];
        EXPECT_EQ(row.jobs, line.info.jobs) << row.args[1];
        Sources sources;
        for (const auto& source : line.info.sources) {
            sources.emplace_back(source.file, source.text);
        }
        EXPECT_EQ(row.sources, sources) << row.args[1];
    }
    const CommandLine both = Read({"info", "--vars", "h", "--players"});
    EXPECT_TRUE(both.info.players && both.info.vars);
}

// A variable's value may hold '=', a player's name commas: the first '='
// and the last two commas divide.
TEST(CommandLine, ServeSplitsVariablesAndPlayersWhereTheirValuesCannot) {
    const CommandLine line = Read({"serve", "--var", "motd=a=b", "--player", "a,b,c,,7"});
    const auto& s = line.serve.sample;
    ASSERT_EQ(1u, s.vars.size());
    EXPECT_EQ((std::pair<std::string, std::string>{"motd", "a=b"}), s.vars[0]);
    ASSERT_EQ(1u, s.players.size());
    EXPECT_EQ("a,b,c", s.players[0].name);
    EXPECT_EQ("", s.players[0].clan);
    EXPECT_EQ(7, s.players[0].ping);
}

// --not-empty and --not-full are the master's filters in list and browse alike.
TEST(CommandLine, FiltersBecomeTheRequestsFilter) {
    struct Row {
        std::vector<std::string> args;
        std::vector<std::string> masters;
        PlayersFilter players;
        PasswordFilter password;
        int major, minor;
        bool playing;
    };
    const std::vector<std::string> kBoth = {velder::tools::kCommunityMaster,
                                            velder::tools::kIdMaster};
    const Row rows[] = {
        {{"list"}, kBoth, PlayersFilter::kAny, PasswordFilter::kAny, 2, 85, false},
        {{"list", "--master", "127.0.0.1", "--not-full", "--password", "no"},
         {"127.0.0.1:27650"},
         PlayersFilter::kNotFull,
         PasswordFilter::kWithout,
         2,
         85,
         false},
        {{"list", "--not-empty", "--not-full", "--password=yes", "--protocol", "1.2"},
         kBoth,
         PlayersFilter::kNotFullNotEmpty,
         PasswordFilter::kWith,
         1,
         2,
         false},
        {{"browse", "--not-empty", "--master", "h:1", "--master", "g"},
         {"h:1", "g:27650"},
         PlayersFilter::kNotFullNotEmpty,
         PasswordFilter::kAny,
         2,
         85,
         false},
        {{"browse", "--playing", "--not-full"},
         kBoth,
         PlayersFilter::kNotFull,
         PasswordFilter::kAny,
         2,
         85,
         true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args.back());
        const CommandLine line = Read(row.args);
        const bool browse = row.args[0] == "browse";
        const velder::tools::ListOptions& list = browse ? line.browse.list : line.list;
        EXPECT_EQ(row.masters, list.masters);
        EXPECT_EQ(row.players, list.players);
        EXPECT_EQ(row.password, list.password);
        EXPECT_EQ(row.major, list.protocolMajor);
        EXPECT_EQ(row.minor, list.protocolMinor);
        EXPECT_EQ(row.playing, line.browse.playing);
    }
    EXPECT_EQ(velder::tools::BrowseSort::kPing, Read({"browse", "--sort", "ping"}).browse.sort);
}

TEST(CommandLine, ServerListsSkipBlankLinesAndComments) {
    const struct {
        const char* list;
        std::vector<std::string> addresses;
        const char* error;  // what the message must hold; "" for none
    } rows[] = {
        {"a:1\nb\n", {"a:1", "b:28004"}, ""},
        {"# servers\n\n  a:1  \r\n\t# off: b:2\nc:3", {"a:1", "c:3"}, ""},
        {"", {}, ""},
        {"a:1\nb:0\n", {"a:1"}, "servers.txt:2: bad port '0' in 'b:0'"},
        {"\n:5\n", {}, "servers.txt:2: server ':5' has no host name"},
    };
    for (const auto& row : rows) {
        std::vector<std::string> addresses;
        const std::optional<std::string> error =
            velder::tools::ReadServerList(row.list, "servers.txt", addresses);
        EXPECT_EQ(row.addresses, addresses) << row.list;
        EXPECT_EQ(*row.error != '\0', error.has_value()) << row.list;
        EXPECT_NE(std::string::npos, error.value_or("").find(row.error)) << error.value_or("");
    }
}

}  // namespace
