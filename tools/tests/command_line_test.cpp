#include "tools/command_line.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

using velder::tools::Command;
using velder::tools::CommandLine;
using velder::tools::Format;
using velder::tools::ParseCommandLine;
using velder::tools::ServerSource;
using velder::tools::UsageText;

struct BadCase {
    std::vector<std::string> args;
    const char* error;  // what the message must hold
};

const BadCase kBadCases[] = {
    {{}, "no command given"},
    {{"query"}, "unknown command 'query'"},
    {{"info"}, "no server given"},
    {{"info", "--json"}, "no server given"},
    {{"info", "--raw", "--json", "h"}, "--raw excludes --json"},
    {{"info", "--json", "h", "--fields"}, "--fields excludes --json"},
    {{"info", "--players", "--raw", "h"}, "--players cannot be combined with --raw"},
    {{"info", "--vars", "--json", "h"}, "--vars cannot be combined with --json"},
    {{"info", std::string(1024, 'a')}, "is longer than the library takes (1023 bytes)"},
    {{"info", std::string(1024, 'a') + ":1"}, "is longer than the library takes"},
    {{"info", "-f"}, "--file: 1 required TEXT missing"},
    {{"info", "--players=yes", "h"}, "players was given a disallowed flag override"},
    {{"console", "--help", "x"}, "unexpected argument 'x' for 'velder console'"},
    {{"help", "query"}, "no command 'query' to help with"},
    {{"help", "--version"}, "not expected: --version"},
    {{"info", ":28004"}, "no host name before the colon"},
    {{"info", "host:"}, "bad port '' in 'host:'"},
    {{"info", "host:abc"}, "bad port 'abc' in 'host:abc'"},
    {{"info", "host:80xyz"}, "bad port '80xyz'"},
    {{"info", "host:0"}, "bad port '0'"},
    {{"info", "host:65536"}, "bad port '65536'"},
    {{"info", "host:-1"}, "bad port '-1'"},
    {{"info", "host:+80"}, "bad port '+80'"},
    {{"info", "a:b:c"}, "bad port 'b:c'"},
    {{"info", "--xml", "h:1"}, "unknown option '--xml' for 'velder info'"},
    {{"info", "-x", "h:1"}, "unknown option '-x'"},
    {{"info", "--jobs", "0", "h:1"}, "--jobs: bad value '0': give a number from 1 to 256"},
    {{"info", "--jobs", "many", "h:1"}, "--jobs: bad value 'many'"},
    {{"info", "--jobs=257", "h:1"}, "--jobs: bad value '257'"},
    {{"info", "h:1", "--jobs"}, "--jobs: 1 required INT missing"},
    {{"info", "--raw=yes", "h:1"}, "raw was given a disallowed flag override"},
    {{"console", "--all"}, "unknown option '--all' for 'velder console'"},
    {{"demo", "now"}, "unexpected argument 'now' for 'velder demo'"},
    {{"serve", "--port", "70000"}, "--port: bad value '70000'"},
    {{"serve", "--port"}, "--port: 1 required UINT missing"},
    {{"serve", "--bind", "localhost"}, "--bind: Invalid IPV4 address must have four parts"},
    {{"serve", "--bind", "1.2.3.256"}, "between 0 and 255 256"},
    {{"serve", "--bind", "1.2.3"}, "four parts (1.2.3)"},
    {{"serve", "--player", "Kane,Rhino"}, "bad player 'Kane,Rhino': give it as NAME,CLAN,PING"},
    {{"serve", "--player", "Kane"}, "bad player 'Kane'"},
    {{"serve", "--player", "Kane,Rhino,fast"}, "bad ping 'fast'"},
    {{"serve", "--players", "33"}, "--players: bad value '33'"},
    {{"serve", "--players", "2", "--player", "a,b,1"}, "--player excludes --players"},
    {{"serve", "--var", "novalue"}, "bad variable 'novalue'"},
    {{"serve", "--var", "=x"}, "bad variable '=x'"},
    {{"serve", "--reply", "r.bin", "--name", "x"}, "--reply cannot be combined with --name"},
    {{"serve", "--servers", "3", "--port", "0"}, "--servers needs a --port"},
    {{"serve", "--servers", "10", "--port", "65530"}, "runs past port 65535"},
    {{"serve", "--delay-ms", "-5"}, "--delay-ms: bad value '-5'"},
    {{"serve", "--count", "0"}, "--count: bad value '0'"},
    {{"serve", "extra"}, "unexpected argument 'extra' for 'velder serve'"},
    {{"serve", "--colour"}, "unknown option '--colour' for 'velder serve'"},
};

TEST(CommandLine, EveryBadArgumentIsNamed) {
    for (const BadCase& c : kBadCases) {
        std::string joined;
        for (const std::string& a : c.args) {
            joined += " " + a;
        }
        const CommandLine line = ParseCommandLine(c.args);
        EXPECT_NE(std::string::npos, line.error.find(c.error))
            << "velder" << joined << " gave: " << line.error;
        EXPECT_EQ(std::string::npos, line.error.find('\n')) << joined;
    }
}

TEST(CommandLine, InfoTakesServersInOrderWithFormatAndJobs) {
    using Sources = std::vector<ServerSource>;
    const std::string longestHost(1023, 'a');
    const struct {
        std::vector<std::string> args;
        Format format;
        int jobs;
        Sources sources;
    } cases[] = {
        {{"info", "b:2", "a:1"}, Format::kSummary, 16, {{false, "b:2"}, {false, "a:1"}}},
        {{"info", "--raw", "h:28004"}, Format::kRaw, 16, {{false, "h:28004"}}},
        {{"info", "h:1", "--json", "--jobs", "64"}, Format::kJson, 64, {{false, "h:1"}}},
        {{"info", "--jobs=1", "-j", "3", "h:65535"}, Format::kSummary, 3, {{false, "h:65535"}}},
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
    for (const auto& c : cases) {
        const CommandLine line = ParseCommandLine(c.args);
        ASSERT_EQ("", line.error);
        EXPECT_EQ(Command::kInfo, line.command);
        EXPECT_EQ(c.format, line.info.format);
        EXPECT_EQ(c.jobs, line.info.jobs);
        ASSERT_EQ(c.sources.size(), line.info.sources.size());
        for (std::size_t i = 0; i < c.sources.size(); ++i) {
            EXPECT_EQ(c.sources[i].file, line.info.sources[i].file) << i;
            EXPECT_EQ(c.sources[i].text, line.info.sources[i].text) << i;
        }
    }
    const CommandLine both = ParseCommandLine({"info", "--vars", "h", "--players"});
    EXPECT_TRUE(both.info.players && both.info.vars);
}

// Addresses alone skip the option parser; behind "--" they go through it.
// Both ways must read them alike.
TEST(CommandLine, AddressesAloneReadAsThroughTheParser) {
    const std::vector<std::vector<std::string>> cases = {
        {"b:2", "a"},      {""},        {"h:0"},
        {"help", "serve"}, {"a", ":5"}, {"a b", std::string(1024, 'x')},
    };
    for (const auto& addresses : cases) {
        std::vector<std::string> plain = {"info"};
        plain.insert(plain.end(), addresses.begin(), addresses.end());
        std::vector<std::string> parsed = {"info", "--"};
        parsed.insert(parsed.end(), addresses.begin(), addresses.end());
        const CommandLine a = ParseCommandLine(plain);
        const CommandLine b = ParseCommandLine(parsed);
        EXPECT_EQ(b.error, a.error) << addresses[0];
        EXPECT_EQ(b.command, a.command) << addresses[0];
        ASSERT_EQ(b.info.sources.size(), a.info.sources.size()) << addresses[0];
        for (std::size_t i = 0; i < a.info.sources.size(); ++i) {
            EXPECT_EQ(b.info.sources[i].text, a.info.sources[i].text) << addresses[0];
        }
    }
}

TEST(CommandLine, ServerListsSkipBlankLinesAndComments) {
    const struct {
        const char* list;
        std::vector<std::string> addresses;
        const char* error;  // what the message must hold; "" for none
    } cases[] = {
        {"a:1\nb\n", {"a:1", "b:28004"}, ""},
        {"# servers\n\n  a:1  \r\n\t# off: b:2\nc:3", {"a:1", "c:3"}, ""},
        {"", {}, ""},
        {"a:1\nb:0\n", {"a:1"}, "servers.txt:2: bad port '0' in 'b:0'"},
        {"\n:5\n", {}, "servers.txt:2: server ':5' has no host name"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> addresses;
        const std::optional<std::string> error =
            velder::tools::ReadServerList(c.list, "servers.txt", addresses);
        EXPECT_EQ(c.addresses, addresses) << c.list;
        if (*c.error == '\0') {
            EXPECT_FALSE(error.has_value()) << *error;
        } else {
            ASSERT_TRUE(error.has_value()) << c.list;
            EXPECT_NE(std::string::npos, error->find(c.error)) << *error;
        }
    }
}

TEST(CommandLine, ServeDefaultsToLoopbackAndTheQuake4Port) {
    const CommandLine line = ParseCommandLine({"serve"});
    ASSERT_EQ("", line.error);
    EXPECT_EQ(Command::kServe, line.command);
    EXPECT_EQ("127.0.0.1", line.serve.bind);
    EXPECT_EQ(28004, line.serve.port);
    EXPECT_EQ(1, line.serve.servers);
    EXPECT_EQ(0u, line.serve.count);
    EXPECT_EQ(0, line.serve.delayMs);
    EXPECT_TRUE(line.serve.sample.players.empty());
}

TEST(CommandLine, ServeShapesTheSample) {
    const CommandLine line = ParseCommandLine({"serve",        "--bind",
                                               "0.0.0.0",      "--port=27999",
                                               "--name",       "^1Red",
                                               "--map",        "mp/q4dm2",
                                               "--gametype",   "Tourney",
                                               "--maxplayers", "4",
                                               "--var",        "si_usePass=1",
                                               "--var",        "motd=a=b",
                                               "--player",     "Kane,Rhino,32",
                                               "--player",     "a,b,c,,7",
                                               "--delay-ms",   "20",
                                               "--count",      "6",
                                               "--servers",    "2"});
    ASSERT_EQ("", line.error);
    const auto& s = line.serve;
    EXPECT_EQ("0.0.0.0", s.bind);
    EXPECT_EQ(27999, s.port);
    EXPECT_EQ(2, s.servers);
    EXPECT_EQ(20, s.delayMs);
    EXPECT_EQ(6u, s.count);
    EXPECT_EQ("^1Red", s.sample.name);
    EXPECT_EQ("mp/q4dm2", s.sample.map);
    EXPECT_EQ("Tourney", s.sample.gameType);
    EXPECT_EQ(4, s.sample.maxPlayers);
    ASSERT_EQ(2u, s.sample.vars.size());
    EXPECT_EQ("motd", s.sample.vars[1].first);
    EXPECT_EQ("a=b", s.sample.vars[1].second);
    ASSERT_EQ(2u, s.sample.players.size());
    EXPECT_EQ("Kane", s.sample.players[0].name);
    EXPECT_EQ("Rhino", s.sample.players[0].clan);
    EXPECT_EQ(32, s.sample.players[0].ping);
    // The last two commas divide: a name may hold commas, a clan may be empty.
    EXPECT_EQ("a,b,c", s.sample.players[1].name);
    EXPECT_EQ("", s.sample.players[1].clan);
    EXPECT_EQ(7, s.sample.players[1].ping);
}

// Numbers are decimal, whatever their leading zeros: 010 is ten, not eight.
TEST(CommandLine, NumbersAreDecimal) {
    const CommandLine line = ParseCommandLine({"serve", "--port", "010", "--delay-ms", "0x10"});
    EXPECT_NE(std::string::npos, line.error.find("--delay-ms: bad value '0x10'")) << line.error;
    EXPECT_EQ(10, ParseCommandLine({"serve", "--port", "010"}).serve.port);
    EXPECT_EQ(0, ParseCommandLine({"serve", "--port", "000"}).serve.port);
}

TEST(CommandLine, ServeMakesUpPlayers) {
    const CommandLine line = ParseCommandLine({"serve", "--players", "32"});
    ASSERT_EQ("", line.error);
    EXPECT_EQ(32u, line.serve.sample.players.size());
}

TEST(CommandLine, HelpVersionConsoleAndDemo) {
    const struct {
        std::vector<std::string> args;
        Command command;
        Command helpFor;
    } cases[] = {
        {{"help"}, Command::kHelp, Command::kHelp},
        {{"--help"}, Command::kHelp, Command::kHelp},
        {{"--version"}, Command::kVersion, Command::kHelp},
        {{"console"}, Command::kConsole, Command::kHelp},
        {{"demo"}, Command::kDemo, Command::kHelp},
        {{"info", "--help"}, Command::kHelp, Command::kInfo},
        {{"info", "h:1", "--json", "-h"}, Command::kHelp, Command::kInfo},
        {{"serve", "--port", "0", "--help"}, Command::kHelp, Command::kServe},
        {{"console", "--help"}, Command::kHelp, Command::kConsole},
        {{"demo", "-h"}, Command::kHelp, Command::kDemo},
        {{"help", "serve"}, Command::kHelp, Command::kServe},
    };
    for (const auto& c : cases) {
        const CommandLine line = ParseCommandLine(c.args);
        EXPECT_EQ("", line.error) << c.args[0];
        EXPECT_EQ(c.command, line.command) << c.args[0];
        EXPECT_EQ(c.helpFor, line.helpFor) << c.args[0];
    }
}

TEST(CommandLine, EachCommandHasItsOwnUsage) {
    const std::string all = UsageText(Command::kHelp);
    for (const auto& [command, shown] :
         {std::pair{Command::kInfo, "velder info"}, std::pair{Command::kServe, "velder serve"},
          std::pair{Command::kConsole, "velder console"}, std::pair{Command::kDemo, "velder demo"},
          std::pair{Command::kList, "velder list"}, std::pair{Command::kBrowse, "velder browse"},
          std::pair{Command::kMaster, "velder master"}}) {
        const std::string one = UsageText(command);
        EXPECT_NE(std::string::npos, one.find(shown)) << one;
        EXPECT_NE(std::string::npos, all.find(one.substr(one.find('\n') + 1))) << shown;
        EXPECT_LT(one.size(), all.size() / 2) << shown;
    }
}

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
        const auto line = ParseCommandLine(row.args);
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
        // Numbers, operands and unknown options in the words of every command.
        {.args = {"list", "--wait-ms", "0"}, .error = "--wait-ms: bad value '0'"},
        {.args = {"list", "extra"}, .error = "unexpected argument 'extra' for 'velder list'"},
        {.args = {"list", "--", "x"}, .error = "unexpected argument 'x' for 'velder list'"},
        {.args = {"browse", "--bogus"}, .error = "unknown option '--bogus' for 'velder browse'"},
        {.args = {"master", "--port", "70000"}, .error = "--port: bad value '70000'"},
        {.args = {"browse", "--sort", "map"}, .error = "--sort"},
        {.args = {"browse", "--jobs", "257"}, .error = "--jobs"},
        {.args = {"master"}, .error = "give either --list FILE or --servers N"},
        {.args = {"master", "--list", "f", "--servers", "2"}, .error = "give either"},
        {.args = {"master", "--servers", "10", "--server-port", "65530"},
         .error = "runs past port 65535"},
    };
    for (const Row& row : rows) {
        const auto line = ParseCommandLine(row.args);
        EXPECT_NE(std::string::npos, line.error.find(row.error))
            << row.args.back() << ": " << line.error;
    }
    EXPECT_EQ(Command::kBrowse, ParseCommandLine({"help", "browse"}).helpFor);
    EXPECT_EQ(Command::kBrowse, ParseCommandLine({"browse", "--help"}).helpFor);
}

}  // namespace
