// The servers the tool makes up: distinct players, and every crowd whose
// reply fits GetInfo's window read back whole.
#include "tools/commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "query/protocol.h"
#include "query/reply_transcription.h"

namespace {

using velder::Bytes;
using velder::standin::BuildStatusReply;
using velder::standin::ServerSample;

Bytes Transcribe(const Bytes& reply) {
    char out[4096];
    const std::size_t length = velder::TranscribeReply(
        reinterpret_cast<const unsigned char*>(reply.data()), reply.size(), out, sizeof out);
    return Bytes(out, length);
}

TEST(Samples, MadeUpPlayersAreDistinctAndAtMost32) {
    const auto players = velder::tools::MadeUpPlayers(40);
    ASSERT_EQ(32u, players.size());
    std::set<std::string> names;
    for (const auto& p : players) {
        names.insert(p.name);
        EXPECT_LT(p.ping, 1000);
    }
    EXPECT_EQ(32u, names.size());
}

// Every crowd whose reply fits the window comes out whole: three fields a
// player after the section mark, and the closing mark.
TEST(Samples, EveryMadeUpCrowdThatFitsTranscribesWhole) {
    for (std::size_t n = 0; n <= velder::kMaxPlayers; ++n) {
        ServerSample s;
        s.players = velder::tools::MadeUpPlayers(n);
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
