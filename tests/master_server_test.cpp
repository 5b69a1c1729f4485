// The stand-in master: the list it gives, split as id's master split it,
// the filters it honours, and what it drops.
#include "standin/master_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/support/bytes.h"
#include "tests/support/listed_servers.h"
#include "tests/support/udp_client.h"

namespace {

using namespace std::chrono_literals;
using velder::Bytes;
using velder::ServerEntry;
using velder::ServersFilter;
using velder::standin::ListedServer;
using velder::standin::MasterOptions;
using velder::standin::MasterServer;
using velder::support::Client;

// Servers in 10.0.0.0/16, port 20000 + I.
std::vector<ListedServer> Numbered(int count) {
    return velder::support::ListedServers(count, "10.0");
}

Bytes Request(const ServersFilter& filter = {}) {
    unsigned char out[velder::kLongestServersRequest];
    return Bytes(reinterpret_cast<const char*>(out),
                 velder::BuildServersRequest(filter, out, sizeof out));
}

// Every datagram that comes back within a quiet wait, at most `most`.
std::vector<Bytes> Replies(Client& client, std::size_t most = 64) {
    std::vector<Bytes> replies;
    while (replies.size() < most) {
        auto got = client.Receive(replies.empty() ? 2000ms : 300ms);
        if (!got) {
            break;
        }
        replies.push_back(std::move(*got));
    }
    return replies;
}

std::string Text(const ServerEntry& entry) {
    char text[velder::kEntryTextCapacity];
    velder::FormatServerEntry(entry, text);
    return text;
}

TEST(MasterServer, SplitsTheListIntoDatagramsOfAtMost231Entries) {
    struct Row {
        int servers;
        std::vector<int> perDatagram;
    };
    const Row rows[] = {
        {.servers = 0, .perDatagram = {0}},
        {.servers = 1, .perDatagram = {1}},
        {.servers = 231, .perDatagram = {231}},
        {.servers = 232, .perDatagram = {231, 1}},
        {.servers = 500, .perDatagram = {231, 231, 38}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.servers);
        MasterServer master;
        MasterOptions options;
        options.servers = Numbered(row.servers);
        ASSERT_TRUE(master.Start(options)) << master.Error();
        Client client;
        ASSERT_TRUE(client.Send(master.Port(), Request()));
        const std::vector<Bytes> replies = Replies(client);
        ASSERT_EQ(row.perDatagram.size(), replies.size());
        std::vector<std::string> got;
        for (std::size_t d = 0; d < replies.size(); ++d) {
            const Bytes& reply = replies[d];
            const int count = velder::CountServerEntries(velder::Data(reply), reply.size());
            EXPECT_EQ(row.perDatagram[d], count);
            for (int i = 0; i < count; ++i) {
                got.push_back(Text(velder::ServerEntryAt(velder::Data(reply), i)));
            }
        }
        std::vector<std::string> want;
        for (const ListedServer& server : options.servers) {
            want.push_back(Text(server.entry));
        }
        EXPECT_EQ(want, got);
        EXPECT_EQ(1u, master.GetCounts().answered);
        EXPECT_EQ(row.perDatagram.size(), master.GetCounts().datagrams);
    }
}

TEST(MasterServer, HonoursThePlayersAndPasswordFiltersOfServersItKnows) {
    using velder::PasswordFilter;
    using velder::PlayersFilter;
    std::vector<ListedServer> servers = Numbered(5);
    servers[0].players = 0, servers[0].maxPlayers = 8, servers[0].password = false;  // empty
    servers[1].players = 3, servers[1].maxPlayers = 8, servers[1].password = true;   // some
    servers[2].players = 8, servers[2].maxPlayers = 8, servers[2].password = false;  // full
    // servers[3]: nothing known, so it passes every filter
    servers[4].players = 2, servers[4].maxPlayers = 4;  // password unknown
    struct Row {
        const char* name;
        ServersFilter filter;
        std::vector<int> listed;
    };
    const Row rows[] = {
        {.name = "none", .filter = {}, .listed = {0, 1, 2, 3, 4}},
        {.name = "not full",
         .filter = {.players = PlayersFilter::kNotFull},
         .listed = {0, 1, 3, 4}},
        {.name = "neither full nor empty",
         .filter = {.players = PlayersFilter::kNotFullNotEmpty},
         .listed = {1, 3, 4}},
        {.name = "with password",
         .filter = {.password = PasswordFilter::kWith},
         .listed = {1, 3, 4}},
        {.name = "without password, not full",
         .filter = {.password = PasswordFilter::kWithout, .players = PlayersFilter::kNotFull},
         .listed = {0, 3, 4}},
    };
    MasterServer master;
    ASSERT_TRUE(master.Start({.servers = servers}));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Client client;
        ASSERT_TRUE(client.Send(master.Port(), Request(row.filter)));
        const std::vector<Bytes> replies = Replies(client);
        ASSERT_EQ(1u, replies.size());
        const Bytes& reply = replies[0];
        std::vector<int> listed;
        for (int i = 0; i < velder::CountServerEntries(velder::Data(reply), reply.size()); ++i) {
            listed.push_back(velder::ServerEntryAt(velder::Data(reply), i).port - 20000);
        }
        EXPECT_EQ(row.listed, listed);
    }
}

TEST(MasterServer, DropsWhatIsNotAWholeListRequest) {
    const Bytes request = Request();
    const Bytes drops[] = {
        "",
        velder::ParseBytes("FF FF 'getInfo' 00"),
        request.substr(0, request.size() - 1),  // no filter byte
        request + '\0',                         // a byte too many
        Bytes(3000, '\xFF'),
    };
    MasterServer master;
    ASSERT_TRUE(master.Start({.servers = Numbered(3)}));
    Client client;
    for (const Bytes& drop : drops) {
        ASSERT_TRUE(client.Send(master.Port(), drop));
    }
    ASSERT_TRUE(client.Send(master.Port(), request));  // still answered afterwards
    EXPECT_EQ(1u, Replies(client).size());
    const auto counts = master.GetCounts();
    EXPECT_EQ(std::size(drops), counts.ignored);
    EXPECT_EQ(1u, counts.answered);
}

TEST(MasterServer, GivesEachSourceAtMostItsRate) {
    MasterServer master;
    ASSERT_TRUE(master.Start({.servers = Numbered(2), .answersPerSecond = 2}));
    Client client;
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(client.Send(master.Port(), Request()));
    }
    const std::size_t replies = Replies(client).size();
    // Two a second: the five requests may straddle a second's turn.
    EXPECT_GE(replies, 2u);
    EXPECT_LE(replies, 4u);
    EXPECT_EQ(5u, master.GetCounts().answered + master.GetCounts().limited);
}

TEST(MasterServer, ReadsEntriesAsDottedAddressAndPort) {
    struct Row {
        const char* text;
        bool valid;
    };
    const Row rows[] = {
        {.text = "127.0.0.1:28004", .valid = true}, {.text = "1.2.3.4:65535", .valid = true},
        {.text = "1.2.3.4:0", .valid = false},      {.text = "1.2.3.4:65536", .valid = false},
        {.text = "1.2.3.4", .valid = false},        {.text = "host:28004", .valid = false},
        {.text = "1.2.3.4:28x", .valid = false},
    };
    for (const Row& row : rows) {
        const auto entry = velder::standin::EntryFromText(row.text);
        EXPECT_EQ(row.valid, entry.has_value()) << row.text;
        if (entry) {
            EXPECT_EQ(row.text, Text(*entry));
        }
    }
}

// A stopped master names no port; started again, it answers each request once.
TEST(MasterServer, AnswersOnceAgainAfterAStopAndAStart) {
    MasterServer master;
    Client client;
    for (int run = 0; run < 3; ++run) {
        SCOPED_TRACE(run);
        ASSERT_TRUE(master.Start({.servers = Numbered(run + 1)})) << master.Error();
        ASSERT_TRUE(client.Send(master.Port(), Request()));
        ASSERT_TRUE(client.Send(master.Port(), Request()));
        EXPECT_EQ(2u, Replies(client).size());
        EXPECT_EQ(2u, master.GetCounts().answered);
        master.Stop();
        EXPECT_EQ(0, master.Port());
    }
}

TEST(MasterServer, AnotherMasterCannotTakeItsPort) {
    MasterServer first;
    ASSERT_TRUE(first.Start({}));
    MasterServer second;
    MasterOptions options;
    options.port = first.Port();
    EXPECT_FALSE(second.Start(options));
    EXPECT_NE("", second.Error());
    EXPECT_EQ(0, second.Port());
}

}  // namespace
