// The master list exchange's bytes: requests as Quake 4 clients send them,
// read back as a master reads them, and reply datagrams checked entry by entry.
#include "query/master_list.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/support/bytes.h"

namespace {

using velder::Bytes;
using velder::Data;
using velder::ParseBytes;
using velder::ServersFilter;

velder::Bytes Request(const ServersFilter& filter) {
    unsigned char out[velder::kLongestServersRequest];
    const std::size_t length = velder::BuildServersRequest(filter, out, sizeof out);
    return Bytes(reinterpret_cast<const char*>(out), length);
}

TEST(ServersRequest, BytesForEachFilter) {
    using velder::GameTypeFilter;
    using velder::PasswordFilter;
    using velder::PlayersFilter;
    struct Row {
        const char* name;
        ServersFilter filter;
        const char* bytes;
    };
    const Row rows[] = {
        {.name = "every server",
         .filter = {},
         .bytes = "FF FF 'getServers' 00 55 00 02 00 00 00 00 00"},
        {.name = "game, player and clan texts",
         .filter = {.game = "q4ctf", .player = "Sarge", .clan = "[Q]"},
         .bytes = "FF FF 'getServers' 00 55 00 02 00 'q4ctf' 00 'Sarge' 00 '[Q]' 00 00"},
        {.name = "without password, not full, team deathmatch",
         .filter = {.password = PasswordFilter::kWithout,
                    .players = PlayersFilter::kNotFull,
                    .gameType = GameTypeFilter::kTeamDeathmatch},
         .bytes = "FF FF 'getServers' 00 55 00 02 00 00 00 00 36"},
        {.name = "with password, neither full nor empty, another protocol",
         .filter = {.protocolMajor = 1,
                    .protocolMinor = 0x0203,
                    .password = PasswordFilter::kWith,
                    .players = PlayersFilter::kNotFullNotEmpty},
         .bytes = "FF FF 'getServers' 00 03 02 01 00 00 00 00 09"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Bytes request = Request(row.filter);
        EXPECT_EQ(request, ParseBytes(row.bytes));
        ServersFilter read;
        ASSERT_TRUE(velder::ReadServersRequest(Data(request), request.size(), read));
        EXPECT_EQ(velder::FilterByte(read), velder::FilterByte(row.filter));
        EXPECT_STREQ(read.game, row.filter.game);
        EXPECT_STREQ(read.player, row.filter.player);
        EXPECT_STREQ(read.clan, row.filter.clan);
        EXPECT_EQ(read.protocolMajor, row.filter.protocolMajor);
        EXPECT_EQ(read.protocolMinor, row.filter.protocolMinor);
    }
}

TEST(ServersRequest, TooLongTextBuildsNothing) {
    const std::string longName(velder::kFilterTextCapacity + 1, 'x');
    EXPECT_EQ(Request({.player = longName.c_str()}), "");
    const std::string longest(velder::kFilterTextCapacity, 'x');
    EXPECT_EQ(Request({.game = longest.c_str(), .player = longest.c_str(), .clan = longest.c_str()})
                  .size(),
              velder::kLongestServersRequest);
}

TEST(ServersRequest, MalformedRequestsAreNotRead) {
    const Bytes whole = ParseBytes("FF FF 'getServers' 00 55 00 02 00 'a' 00 'b' 00 'c' 00 00");
    ServersFilter read;
    for (std::size_t length = 0; length < whole.size(); ++length) {
        EXPECT_FALSE(velder::ReadServersRequest(Data(whole), length, read)) << length;
    }
    const Bytes longer = whole + "x";
    EXPECT_FALSE(velder::ReadServersRequest(Data(longer), longer.size(), read));
    const Bytes other = ParseBytes("FF FF 'getServerz' 00 55 00 02 00 00 00 00 00");
    EXPECT_FALSE(velder::ReadServersRequest(Data(other), other.size(), read));
}

TEST(ServersReply, EntriesAndMalformedDatagrams) {
    struct Row {
        const char* name;
        const char* bytes;
        int count;
        const char* first;  // the first entry as text, when there is one
    };
    const Row rows[] = {
        {.name = "no entries", .bytes = "FF FF 'servers' 00", .count = 0, .first = ""},
        {.name = "two entries",
         .bytes = "FF FF 'servers' 00 7F 00 00 01 64 6D  C0 A8 01 FE 00 00",
         .count = 2,
         .first = "127.0.0.1:28004"},
        {.name = "highest port",
         .bytes = "FF FF 'servers' 00 FF FF FF FF FF FF",
         .count = 1,
         .first = "255.255.255.255:65535"},
        {.name = "half an entry", .bytes = "FF FF 'servers' 00 7F 00 00", .count = -1, .first = ""},
        {.name = "another head", .bytes = "FF FF 'infoResponse' 00", .count = -1, .first = ""},
        {.name = "head cut", .bytes = "FF FF 'serv'", .count = -1, .first = ""},
        {.name = "empty", .bytes = "", .count = -1, .first = ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Bytes reply = ParseBytes(row.bytes);
        ASSERT_EQ(velder::CountServerEntries(Data(reply), reply.size()), row.count);
        if (row.count > 0) {
            char text[velder::kEntryTextCapacity];
            velder::FormatServerEntry(velder::ServerEntryAt(Data(reply), 0), text);
            EXPECT_STREQ(text, row.first);
        }
    }
}

TEST(ServersReply, WrittenEntriesReadBack) {
    unsigned char reply[velder::kLongestServersReply];
    std::memcpy(reply, velder::kServersReplyHead, velder::kServersReplyHeadLength);
    for (int i = 0; i < static_cast<int>(velder::kEntriesPerDatagram); ++i) {
        const velder::ServerEntry entry{
            {10, 0, static_cast<unsigned char>(i >> 8), static_cast<unsigned char>(i)},
            static_cast<std::uint16_t>(28004 + i * 7)};
        velder::WriteServerEntry(entry,
                                 reply + velder::kServersReplyHeadLength +
                                     static_cast<std::size_t>(i) * velder::kServerEntryLength);
    }
    ASSERT_EQ(velder::CountServerEntries(reply, sizeof reply),
              static_cast<int>(velder::kEntriesPerDatagram));
    const velder::ServerEntry last = velder::ServerEntryAt(reply, 230);
    EXPECT_EQ(last.address[3], 230);
    EXPECT_EQ(last.port, 28004 + 230 * 7);
}

}  // namespace
