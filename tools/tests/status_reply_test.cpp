#include "standin/status_reply.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "query/reply_transcription.h"
#include "tools/result_text.h"
#include "tools/tests/samples.h"

namespace {

using namespace std::string_literals;
using velder::standin::BuildStatusReply;
using velder::standin::IsStatusRequest;
using velder::standin::kStatusRequest;
using velder::standin::ServerSample;
using velder::testing::SmallSample;

using Bytes = std::vector<unsigned char>;

Bytes B(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The default server variables, as they follow the protocol version.
Bytes DefaultVars(const std::string& name) {
    return B("si_version\0velder stand-in\0si_name\0"s) + B(name) +
           B("\0si_map\0mp/q4dm1\0si_gameType\0DM\0si_maxPlayers\0"
             "8\0si_usePass\0"
             "0\0si_pure\0"
             "1\0si_fragLimit\0"
             "20\0si_timeLimit\0"
             "10\0"s);
}

TEST(StatusReply, HasTheQuake4Layout) {
    const Bytes reply = BuildStatusReply(SmallSample(), kStatusRequest, sizeof kStatusRequest);
    const Bytes expected =
        B("\xFF\xFFinfoResponse\0"s) +
        Bytes{0xFF, 0xFF, 0xFF, 0xFF} +  // the request carries no whole challenge
        Bytes{86, 0, 2, 0} +             // protocol 2.86
        DefaultVars("^1Red ^7Arena") + Bytes{0, 0} + Bytes{0, 32, 0, 0xA8, 0x61, 0, 0} +
        B("^4Kane\0Rhino\0"s) + Bytes{1, 0x2C, 1, 0xA8, 0x61, 0, 0} + B("Bob\0\0"s) +
        Bytes{0x20, 1, 0, 0, 0};
    EXPECT_EQ(expected, reply);
}

TEST(StatusReply, EchoesAWholeChallenge) {
    const Bytes request = B("\xFF\xFFgetInfo\0"s) + Bytes{0x11, 0x22, 0x33, 0x44};
    const Bytes reply = BuildStatusReply(ServerSample{}, request.data(), request.size());
    ASSERT_GT(reply.size(), 22u);
    EXPECT_EQ((Bytes{0x11, 0x22, 0x33, 0x44}), Bytes(reply.begin() + 15, reply.begin() + 19));
}

TEST(StatusReply, FurtherVariablesReplaceOrFollow) {
    ServerSample s = SmallSample();
    s.players.clear();
    s.vars = {{"si_pure", "0"}, {"motd", "hi"}, {"motd", "hello"}};
    const Bytes reply = BuildStatusReply(s, kStatusRequest, sizeof kStatusRequest);
    const std::string text(reply.begin(), reply.end());
    EXPECT_NE(std::string::npos, text.find("si_pure\0"
                                           "0\0si_fragLimit"s));
    EXPECT_NE(std::string::npos, text.find("si_timeLimit\0"
                                           "10\0motd\0hello\0\0\0\x20\x01\0\0\0"s));
    EXPECT_EQ(std::string::npos, text.find("hi"));
}

TEST(StatusReply, RecognisesOnlyTheGetInfoHead) {
    const struct {
        Bytes datagram;
        bool status;
    } cases[] = {
        {Bytes(kStatusRequest, kStatusRequest + 13), true},
        {B("\xFF\xFFgetInfo"s), true},
        {B("\xFF\xFFgetInfoEx\0"s), true},
        {B("\xFF\xFFgetInf"s), false},
        {B("\xFF\xFFgetinfo\0"s), false},
        {B("\xFF\xFF\xFF\xFFgetinfo"s), false},
        {Bytes{}, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.status, IsStatusRequest(c.datagram.data(), c.datagram.size()))
            << c.datagram.size() << " bytes";
    }
}

TEST(StatusReply, MadeUpPlayersAreDistinctAndAtMost32) {
    const auto players = velder::standin::MadeUpPlayers(40);
    ASSERT_EQ(32u, players.size());
    std::set<std::string> names;
    for (const auto& p : players) {
        names.insert(p.name);
        EXPECT_LT(p.ping, 1000);
    }
    EXPECT_EQ(32u, names.size());
}

// The reply the stand-in builds must come out of the library's transcription
// as the ping, name and clan of every player, with the server variables as fields.
TEST(StatusReply, TranscribesIntoPlayerRecords) {
    const Bytes reply = BuildStatusReply(SmallSample(), kStatusRequest, sizeof kStatusRequest);
    char out[4096] = "0000";
    velder::TranscribeReply(reply.data(), reply.size(), out, velder::kTranscriptionStart,
                            sizeof out);
    const std::string expected = "0000" + velder::testing::kSmallSampleText;
    EXPECT_EQ(expected, std::string(out));

    const velder::tools::ResultText parsed = velder::tools::ParseResultText(out);
    EXPECT_TRUE(parsed.complete);
    ASSERT_EQ(2u, parsed.records.size());
    EXPECT_EQ("32", parsed.records[0].number);
    EXPECT_EQ("Kane", parsed.records[0].first);
    EXPECT_EQ("Rhino", parsed.records[0].second);
    EXPECT_EQ("300", parsed.records[1].number);
}

TEST(StatusReply, EveryMadeUpCrowdTranscribesWhole) {
    for (std::size_t n = 0; n <= velder::standin::kMaxPlayers; ++n) {
        ServerSample s;
        s.players = velder::standin::MadeUpPlayers(n);
        const Bytes reply = BuildStatusReply(s, kStatusRequest, sizeof kStatusRequest);
        char out[4096] = "0000";
        velder::TranscribeReply(reply.data(), reply.size(), out, velder::kTranscriptionStart,
                                sizeof out);
        const velder::tools::ResultText parsed = velder::tools::ParseResultText(out);
        if (reply.size() > velder::kTranscriptionWindow) {
            EXPECT_FALSE(parsed.complete) << n << " players";
            continue;
        }
        EXPECT_TRUE(parsed.complete) << n << " players";
        ASSERT_EQ(n, parsed.records.size());
        for (std::size_t i = 0; i < n; ++i) {
            EXPECT_EQ(std::to_string(s.players[i].ping), parsed.records[i].number);
        }
    }
}

}  // namespace
