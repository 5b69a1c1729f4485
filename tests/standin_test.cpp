// The stand-in status server that the GetInfo tests, the benchmark and the
// command-line tool rely on: what it answers, to what, when, and how little
// it keeps.
#include "tests/support/watched_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>

#include "query/protocol.h"
#include "standin/standin_server.h"
#include "standin/status_reply.h"
#include "tests/support/udp_client.h"

namespace {

using namespace std::chrono_literals;
using velder::Bytes;
using velder::standin::Options;
using velder::support::Client;
using Server = velder::support::WatchedServer;
using Clock = std::chrono::steady_clock;

const Bytes kRequest(std::begin(velder::kStatusRequest), std::end(velder::kStatusRequest));
const Bytes kReply("\xFF\xFFstatus\0x", 10);

Options Replying(std::optional<Bytes> reply) {
    Options options;
    options.reply = std::move(reply);
    return options;
}

struct AnswerCase {
    const char* label;
    std::optional<Bytes> reply;
    std::optional<std::size_t> length;  // of the datagram that comes back
};

void PrintTo(const AnswerCase& c, std::ostream* os) {
    *os << c.label;
}

class Answers : public testing::TestWithParam<AnswerCase> {};

TEST_P(Answers, TheRequestGetsExactlyTheConfiguredDatagram) {
    const AnswerCase& c = GetParam();
    Server server;
    ASSERT_TRUE(server.Start(Replying(c.reply))) << server.Error();
    ASSERT_NE(0, server.Port());

    Client client;
    ASSERT_TRUE(client.Ready());
    ASSERT_TRUE(client.Send(server.Port(), kRequest));
    if (c.length) {
        const auto got = client.Receive(2000ms);
        ASSERT_TRUE(got.has_value());
        ASSERT_EQ(*c.length, got->size());
        EXPECT_EQ(*c.reply, *got);
    }
    EXPECT_FALSE(client.Receive(100ms).has_value()) << "one datagram too many";
    EXPECT_EQ(c.length.has_value(), server.WaitForAnswers(1, 100ms));

    const auto counts = server.GetCounts();
    EXPECT_EQ(1u, counts.received);
    EXPECT_EQ(c.length ? 1u : 0u, counts.answered);
    EXPECT_EQ(0u, counts.ignored + counts.limited + counts.sendFailed);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, Answers,
    testing::Values(AnswerCase{"reply", kReply, kReply.size()}, AnswerCase{"silent", {}, {}},
                    AnswerCase{"empty", Bytes(), 0u},
                    AnswerCase{"oversized", Bytes(velder::kReceiveCapacity + 1, 'x'),
                               velder::kReceiveCapacity + 1}),
    [](const testing::TestParamInfo<AnswerCase>& info) { return std::string(info.param.label); });

// Which datagrams count as requests is StatusReply's test; here the server
// applies it on the wire: a peer's challenge comes back, the rest is dropped.
TEST(StandinServer, EchoesEachRequestsChallengeAndDropsTheRest) {
    Server server;
    ASSERT_TRUE(server.Start(Replying(velder::standin::BuildStatusReply({})))) << server.Error();
    Client client;
    ASSERT_TRUE(client.Ready());
    ASSERT_TRUE(client.Send(server.Port(), kRequest.substr(0, 9) + "x"));  // "getInfox"
    ASSERT_TRUE(client.Send(server.Port(), Bytes("\xFF\xFFgetInfo\0\x13\x8A\x6C\x2F", 14)));
    ASSERT_TRUE(client.Send(server.Port(), kRequest));
    const auto first = client.Receive(2000ms);
    const auto second = client.Receive(2000ms);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(Bytes("\x13\x8A\x6C\x2F"), first->substr(15, 4));
    EXPECT_EQ(Bytes("\xFF\xFF\xFF\xFF"), second->substr(15, 4));
    EXPECT_EQ(first->substr(19), second->substr(19));
    EXPECT_FALSE(client.Receive(50ms).has_value());
    const auto counts = server.GetCounts();
    EXPECT_EQ(3u, counts.received);
    EXPECT_EQ(1u, counts.ignored);
}

TEST(StandinServer, AnswersAfterTheDelayAndKeepsReceivingMeanwhile) {
    Options options = Replying(kReply);
    options.delay = 150ms;
    Server server;
    ASSERT_TRUE(server.Start(options)) << server.Error();
    Client client;
    ASSERT_TRUE(client.Ready());

    const auto sent = Clock::now();
    ASSERT_TRUE(client.Send(server.Port(), kRequest));
    ASSERT_TRUE(client.Send(server.Port(), kRequest));
    ASSERT_TRUE(server.WaitForReceived(2, 1000ms)) << "both requests are read before the delay";
    EXPECT_EQ(0u, server.GetCounts().answered);
    ASSERT_TRUE(client.Receive(2000ms).has_value());
    EXPECT_GE(Clock::now() - sent, 140ms);
    EXPECT_TRUE(client.Receive(2000ms).has_value());
}

TEST(RateLimit, CountsEachSourceInItsSecond) {
    using velder::standin::RateLimit;
    const Clock::time_point start{};
    // A source whose slot the first holds: found among a bounded few.
    std::uint32_t rival = 2;
    for (RateLimit probe(1); rival < 100000 && probe.Allow(1, start) && probe.Allow(rival, start);
         probe = RateLimit(1)) {
        ++rival;
    }
    struct Step {
        std::uint32_t source;
        std::chrono::milliseconds at;
        bool allowed;
    };
    const Step steps[] = {
        {.source = 1, .at = 0ms, .allowed = true},
        {.source = 1, .at = 500ms, .allowed = true},
        {.source = 1, .at = 999ms, .allowed = false},      // a third in the same second
        {.source = 2, .at = 999ms, .allowed = true},       // another source, its own count
        {.source = rival, .at = 999ms, .allowed = false},  // its slot is taken this second
        {.source = 1, .at = 1000ms, .allowed = true},      // a new second
        {.source = rival, .at = 2000ms, .allowed = true},  // the slot is free again
        {.source = 1, .at = 2000ms, .allowed = false},
    };
    RateLimit limit(2);
    RateLimit none(0);
    for (const Step& step : steps) {
        SCOPED_TRACE(step.at.count());
        EXPECT_EQ(step.allowed, limit.Allow(step.source, start + step.at)) << step.source;
        EXPECT_TRUE(none.Allow(step.source, start + step.at));
    }
    EXPECT_LT(rival, 100000u);
}

// Answers waiting for their delay are bounded: requests past kPendingLimit
// count as limited, whoever sends them.
TEST(StandinServer, KeepsAtMostThePendingLimitOfAnswersWaiting) {
    Options options = Replying(kReply);
    options.delay = 60s;  // nothing falls due while the test runs
    Server server;
    ASSERT_TRUE(server.Start(options)) << server.Error();
    Client client;
    ASSERT_TRUE(client.Ready());
    constexpr std::size_t kOver = 20;
    constexpr std::size_t kBatch = 100;  // small enough for the socket's buffer
    std::size_t sent = 0;
    while (sent < velder::standin::kPendingLimit + kOver) {
        for (std::size_t i = 0; i < kBatch; ++i, ++sent) {
            ASSERT_TRUE(client.Send(server.Port(), kRequest));
        }
        ASSERT_TRUE(server.WaitForReceived(sent, 2000ms)) << sent;
    }
    const auto counts = server.GetCounts();
    EXPECT_EQ(sent - velder::standin::kPendingLimit, counts.limited);
    EXPECT_EQ(0u, counts.answered);
}

TEST(StandinServer, CountsAnAnswerTheSystemRefusesAsFailed) {
    Server server;
    // Longer than any UDP datagram can be.
    ASSERT_TRUE(server.Start(Replying(Bytes(70000, 'x')))) << server.Error();
    Client client;
    ASSERT_TRUE(client.Ready());
    ASSERT_TRUE(client.Send(server.Port(), kRequest));
    EXPECT_FALSE(client.Receive(200ms).has_value());
    ASSERT_TRUE(server.WaitForReceived(1, 1000ms));
    const auto counts = server.GetCounts();
    EXPECT_EQ(1u, counts.sendFailed);
    EXPECT_EQ(0u, counts.answered);
}

TEST(StandinServer, ServesManyPortsFromOneThreadAndStopsAtOnce) {
    Options options = Replying(kReply);
    options.ports = 64;
    Server server;
    ASSERT_TRUE(server.Start(options)) << server.Error();
    Client client;
    ASSERT_TRUE(client.Ready());
    for (int i = 0; i < options.ports; ++i) {
        ASSERT_NE(0, server.Port(i));
        if (i > 0) {
            EXPECT_NE(server.Port(i - 1), server.Port(i));
        }
        ASSERT_TRUE(client.Send(server.Port(i), kRequest));
        EXPECT_TRUE(client.Receive(2000ms).has_value()) << "port " << i;
    }
    EXPECT_EQ(0, server.Port(options.ports));

    ASSERT_TRUE(server.WaitForAnswers(static_cast<std::size_t>(options.ports), 1000ms));
    const auto stopping = Clock::now();
    server.Stop();
    EXPECT_LT(Clock::now() - stopping, 5s) << "Stop ends a server that waits for nothing";
    EXPECT_EQ(static_cast<std::size_t>(options.ports), server.GetCounts().answered);
}

TEST(StandinServer, StartFailsWithAReason) {
    Server first;
    ASSERT_TRUE(first.Start(Replying(kReply))) << first.Error();

    Options taken = Replying(kReply);
    taken.port = first.Port();
    Options badAddress = Replying(kReply);
    badAddress.bindAddress = "localhost";
    Options pastTheLastPort = Replying(kReply);
    pastTheLastPort.port = 65535;
    pastTheLastPort.ports = 2;
    for (const Options& options : {taken, badAddress, pastTheLastPort}) {
        Server second;
        EXPECT_FALSE(second.Start(options)) << options.bindAddress << ":" << options.port;
        EXPECT_FALSE(second.Error().empty());
    }
    Server again;
    EXPECT_TRUE(again.Start(Replying(kReply))) << "a failed start leaves nothing behind";
}

// Port() names only open ports: none after Stop or a failed Start, and after
// a second Start only that start's ports.
TEST(StandinServer, NamesOnlyThePortsOfTheCurrentStart) {
    Server taken;
    ASSERT_TRUE(taken.Start(Replying(kReply))) << taken.Error();

    Options two = Replying(kReply);
    two.ports = 2;
    Options clashing = Replying(kReply);
    clashing.port = taken.Port();
    Server server;
    ASSERT_TRUE(server.Start(two)) << server.Error();
    ASSERT_NE(0, server.Port(1));
    server.Stop();
    EXPECT_EQ(0, server.Port(0));
    EXPECT_EQ(0, server.Port(1));

    ASSERT_TRUE(server.Start(Replying(kReply))) << server.Error();
    EXPECT_NE(0, server.Port(0));
    EXPECT_EQ(0, server.Port(1));
    Client client;
    ASSERT_TRUE(client.Ready());
    ASSERT_TRUE(client.Send(server.Port(), kRequest));
    EXPECT_TRUE(client.Receive(2000ms).has_value()) << "Port() is the port that answers";
    server.Stop();

    EXPECT_FALSE(server.Start(clashing));
    EXPECT_EQ(0, server.Port(0));
}

}  // namespace
