// The replies the stand-in server builds: the Quake 4 layout byte for byte,
// and what the library's transcription makes of them.
#include "standin/status_reply.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "query/reply_transcription.h"
#include "support/samples.h"

namespace {

using namespace std::string_literals;
using velder::Bytes;
using velder::ParseBytes;
using velder::ShowBytes;
using velder::standin::BuildStatusReply;
using velder::standin::IsStatusRequest;
using velder::standin::ServerSample;
using velder::support::SmallSample;

// The text after the round-trip digits, without the NUL.
Bytes Transcribe(const Bytes& reply) {
    char out[4096] = "0000";
    velder::TranscribeReply(velder::Data(reply), reply.size(), out, velder::kTranscriptionStart,
                            sizeof out);
    return Bytes(out + 4);
}

TEST(StatusReply, HasTheQuake4Layout) {
    const Bytes expected = ParseBytes(
        "FF FF 'infoResponse' 00  FF FF FF FF  56 00 02 00"
        " 'si_version' 00 'velder stand-in' 00 'si_name' 00 '^1Red ^7Arena' 00"
        " 'si_map' 00 'mp/q4dm1' 00 'si_gameType' 00 'DM' 00 'si_maxPlayers' 00 '8' 00"
        " 'si_usePass' 00 '0' 00 'si_pure' 00 '1' 00 'si_fragLimit' 00 '20' 00"
        " 'si_timeLimit' 00 '10' 00  00 00"
        " 00 20 00 A8 61 00 00 '^4Kane' 00 'Rhino' 00"
        " 01 2C 01 A8 61 00 00 'Bob' 00 00"
        " 20 01 00 00 00");
    EXPECT_EQ(ShowBytes(expected), ShowBytes(BuildStatusReply(SmallSample())));
}

TEST(StatusReply, EndsWithTheServersOsMask) {
    for (const std::uint32_t mask : {1u, 2u, 7u}) {
        ServerSample s = SmallSample();
        s.osMask = mask;
        const Bytes reply = BuildStatusReply(s);
        EXPECT_EQ(Bytes("\x20", 1) + static_cast<char>(mask) + Bytes(3, '\0'),
                  reply.substr(reply.size() - 5))
            << mask;
    }
}

TEST(StatusReply, FurtherVariablesReplaceOrFollow) {
    ServerSample s = SmallSample();
    s.players.clear();
    s.vars = {{"si_pure", "0"}, {"motd", "hi"}, {"motd", "hello"}};
    const Bytes reply = BuildStatusReply(s);
    EXPECT_NE(Bytes::npos, reply.find("si_pure\0"
                                      "0\0si_fragLimit"s));
    EXPECT_NE(Bytes::npos, reply.find("si_timeLimit\0"
                                      "10\0motd\0hello\0\0\0\x20\x01\0\0\0"s));
    EXPECT_EQ(Bytes::npos, reply.find("hi"));
}

TEST(StatusReply, RecognisesOnlyTheExactRequest) {
    const Bytes request(std::begin(velder::kStatusRequest), std::end(velder::kStatusRequest));
    const struct {
        Bytes datagram;
        bool status;
    } cases[] = {
        {request, true},
        {request + "x", false},
        {request.substr(0, 12), false},
        {request.substr(0, 9), false},
        {"\xFF\xFFgetinfo\0\x02\0\0"s, false},
        {Bytes(), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.status, IsStatusRequest(velder::Data(c.datagram), c.datagram.size()))
            << ShowBytes(c.datagram);
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

TEST(StatusReply, TranscribesIntoTheSampleText) {
    EXPECT_EQ(ShowBytes(velder::support::SmallSampleText()),
              ShowBytes(Transcribe(BuildStatusReply(SmallSample()))));
}

// Every crowd whose reply fits the window comes out whole: three fields a
// player after the section mark, and the closing mark.
TEST(StatusReply, EveryMadeUpCrowdThatFitsTranscribesWhole) {
    for (std::size_t n = 0; n <= velder::standin::kMaxPlayers; ++n) {
        ServerSample s;
        s.players = velder::standin::MadeUpPlayers(n);
        const Bytes reply = BuildStatusReply(s);
        const Bytes text = Transcribe(reply);
        if (reply.size() > velder::kTranscriptionWindow) {
            EXPECT_NE('\xFE', text.back()) << n << " players";
            continue;
        }
        const std::size_t records = text.find('\xFE') + 1;
        ASSERT_EQ('\xFE', text.back()) << n << " players";
        const Bytes players = text.substr(records, text.size() - 1 - records);
        EXPECT_EQ(3 * n,
                  static_cast<std::size_t>(std::count(players.begin(), players.end(), '\xFF')))
            << n << " players";
    }
}

}  // namespace
