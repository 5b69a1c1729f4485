// The replies the stand-in server builds: the Quake 4 layout byte for byte,
// and what the library's transcription makes of them.
#include "standin/status_reply.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "query/protocol.h"
#include "query/reply_transcription.h"
#include "tests/support/samples.h"

namespace {

using namespace std::string_literals;
using velder::Bytes;
using velder::ParseBytes;
using velder::ShowBytes;
using velder::standin::BuildStatusReply;
using velder::standin::IsStatusRequest;
using velder::standin::RequestChallenge;
using velder::standin::ServerSample;
using velder::support::SmallSample;

// The transcribed text, without the NUL.
Bytes Transcribe(const Bytes& reply) {
    char out[4096];
    const std::size_t length =
        velder::TranscribeReply(velder::Data(reply), reply.size(), out, sizeof out);
    return Bytes(out, length);
}

TEST(StatusReply, HasTheQuake4Layout) {
    const Bytes expected = ParseBytes(
        "FF FF 'infoResponse' 00  FF FF FF FF  55 00 02 00"
        " 'si_version' 00 'velder stand-in' 00 'si_name' 00 '^1Red ^7Arena' 00"
        " 'si_map' 00 'mp/q4dm1' 00 'si_gameType' 00 'DM' 00 'si_maxPlayers' 00 '8' 00"
        " 'si_usepass' 00 '0' 00 'si_pure' 00 '1' 00 'si_fragLimit' 00 '20' 00"
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

// What a real server answers: FF FF "getInfo" 00 and whatever follows, up
// to 64 bytes, its challenge the four bytes after the 00.
TEST(StatusReply, AnswersAnyGetInfoRequestAndEchoesItsChallenge) {
    const Bytes request(std::begin(velder::kStatusRequest), std::end(velder::kStatusRequest));
    const Bytes none = ParseBytes("FF FF FF FF");
    const struct {
        const char* label;
        Bytes datagram;
        bool answered;
        Bytes challenge;  // echoed in the reply, when answered
    } cases[] = {
        {.label = "GetInfo's own, three bytes after the 00",
         .datagram = request,
         .answered = true,
         .challenge = none},
        {.label = "qstat's",
         .datagram = ParseBytes("FF FF 'getInfo' 00 13 8A 6C 2F"),
         .answered = true,
         .challenge = ParseBytes("13 8A 6C 2F")},
        {.label = "gamedig's",
         .datagram = ParseBytes("FF FF 'getInfo' 00 'PiNGPoNg'"),
         .answered = true,
         .challenge = ParseBytes("'PiNG'")},
        {.label = "no challenge",
         .datagram = ParseBytes("FF FF 'getInfo' 00"),
         .answered = true,
         .challenge = none},
        {.label = "64 bytes",
         .datagram = request + Bytes(51, 'x'),
         .answered = true,
         .challenge = ParseBytes("02 00 00 'x'")},
        {.label = "65 bytes",
         .datagram = request + Bytes(52, 'x'),
         .answered = false,
         .challenge = {}},
        {.label = "no 00 after getInfo",
         .datagram = request.substr(0, 9),
         .answered = false,
         .challenge = {}},
        {.label = "lower-case getinfo",
         .datagram = "\xFF\xFFgetinfo\0\x02\0\0"s,
         .answered = false,
         .challenge = {}},
        {.label = "one FF", .datagram = request.substr(1), .answered = false, .challenge = {}},
        {.label = "empty", .datagram = Bytes(), .answered = false, .challenge = {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.answered, IsStatusRequest(c.datagram)) << c.label;
        if (!c.answered) {
            continue;
        }
        Bytes reply = BuildStatusReply(SmallSample());
        const Bytes built = reply;
        velder::standin::EchoChallenge(reply, RequestChallenge(c.datagram));
        EXPECT_EQ(ShowBytes(c.challenge), ShowBytes(reply.substr(15, 4))) << c.label;
        EXPECT_EQ(built.substr(0, 15) + c.challenge + built.substr(19), reply) << c.label;
    }
}

TEST(StatusReply, LeavesAChallengeOutOfRepliesThatAreNotStatusReplies) {
    const Bytes challenge = ParseBytes("01 02 03 04");
    velder::standin::Challenge echoed;
    std::copy(challenge.begin(), challenge.end(), echoed.begin());
    for (const Bytes& other : {ParseBytes("FF FF 'infoResponsX' 00 FF FF FF FF 55 00 02 00"),
                               ParseBytes("FF FF 'infoResponse' 00 FF FF FF"), Bytes()}) {
        Bytes reply = other;
        velder::standin::EchoChallenge(reply, echoed);
        EXPECT_EQ(other, reply) << ShowBytes(other);
    }
}

TEST(StatusReply, TranscribesIntoTheSampleText) {
    EXPECT_EQ(ShowBytes(velder::support::SmallSampleText()),
              ShowBytes(Transcribe(BuildStatusReply(SmallSample()))));
}

}  // namespace
