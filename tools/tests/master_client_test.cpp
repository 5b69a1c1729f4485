// What `velder list` keeps of the datagrams that arrive, and how the list,
// browse and master commands read their arguments.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/bytes.h"
#include "tools/master_client.h"
#include "tools/master_commands.h"

namespace {

using velder::Bytes;
using velder::ParseBytes;
using velder::tools::ListCollector;
using velder::tools::MasterCommand;
using velder::tools::ParseMasterCommand;

std::vector<std::string> Take(ListCollector& collector, const Bytes& datagram, bool fromMaster) {
    std::vector<std::string> taken;
    collector.Take(velder::Data(datagram), datagram.size(), fromMaster,
                   [&](const velder::ServerEntry& entry) {
                       char text[velder::kEntryTextCapacity];
                       velder::FormatServerEntry(entry, text);
                       taken.push_back(text);
                   });
    return taken;
}

TEST(ListCollector, TakesEachServerOnceFromTheMasterOnly) {
    struct Row {
        const char* name;
        const char* bytes;
        bool fromMaster;
        std::vector<std::string> taken;
    };
    const Row rows[] = {
        {.name = "two entries",
         .bytes = "FF FF 'servers' 00 7F 00 00 01 64 6D 7F 00 00 02 65 6D",
         .fromMaster = true,
         .taken = {"127.0.0.1:28004", "127.0.0.2:28005"}},
        {.name = "the head alone", .bytes = "FF FF 'servers' 00", .fromMaster = true, .taken = {}},
        {.name = "a good reply from elsewhere",
         .bytes = "FF FF 'servers' 00 7F 00 00 09 64 6D",
         .fromMaster = false,
         .taken = {}},
        {.name = "half an entry",
         .bytes = "FF FF 'servers' 00 7F 00 00 03 64 6D 7F 00 00",
         .fromMaster = true,
         .taken = {}},
        {.name = "another head",
         .bytes = "FF FF 'serverz' 00 7F 00 00 03 64 6D",
         .fromMaster = true,
         .taken = {}},
        {.name = "a repeat and port 0 among new ones",
         .bytes = "FF FF 'servers' 00 7F 00 00 01 64 6D 7F 00 00 04 00 00 7F 00 00 03 64 6D",
         .fromMaster = true,
         .taken = {"127.0.0.3:28004"}},
    };
    ListCollector collector;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.taken, Take(collector, ParseBytes(row.bytes), row.fromMaster));
    }
    const velder::tools::ListCounts& counts = collector.Counts();
    EXPECT_EQ(3u, counts.replies);
    EXPECT_EQ(1u, counts.foreign);
    EXPECT_EQ(2u, counts.malformed);
    EXPECT_EQ(1u, counts.portZero);
    EXPECT_EQ(1u, counts.repeated);
    EXPECT_FALSE(counts.cut);
    EXPECT_EQ(
        "dropped 1 datagrams from elsewhere than the master, 2 malformed replies, 1 entries with "
        "port 0\n",
        velder::tools::DroppedText(counts));
}

TEST(ListCollector, CutsTheListAt65536Servers) {
    ListCollector collector;
    std::size_t taken = 0;
    unsigned next = 0;
    // 284 full datagrams hold 65,604 entries.
    for (int d = 0; d < 284; ++d) {
        Bytes reply(velder::kServersReplyHead, velder::kServersReplyHeadLength);
        for (std::size_t i = 0; i < velder::kEntriesPerDatagram; ++i, ++next) {
            const velder::ServerEntry entry{
                {127, 0, static_cast<unsigned char>(next >> 8), static_cast<unsigned char>(next)},
                static_cast<std::uint16_t>(1 + next / 65536)};
            unsigned char bytes[velder::kServerEntryLength];
            velder::WriteServerEntry(entry, bytes);
            reply.append(reinterpret_cast<const char*>(bytes), sizeof bytes);
        }
        taken += Take(collector, reply, true).size();
    }
    EXPECT_EQ(velder::tools::kMaxListedServers, taken);
    EXPECT_TRUE(collector.Counts().cut);
    EXPECT_NE(std::string::npos,
              velder::tools::DroppedText(collector.Counts()).find("cut at 65536 servers"));
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
