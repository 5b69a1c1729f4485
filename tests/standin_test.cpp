// The stand-in status server that the GetInfo tests, the benchmark and the
// command-line tool rely on: each answer kind, delays, filters and limits.
#include "standin/standin_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "standin/udp_client.h"

namespace {

using namespace std::chrono_literals;
using velder::standin::Answer;
using velder::standin::Bytes;
using velder::standin::Client;
using velder::standin::Options;
using velder::standin::Server;

const Bytes kRequest(std::begin(velder::standin::kStatusRequest),
                     std::end(velder::standin::kStatusRequest));
const Bytes kReply = {0xFF, 0xFF, 's', 't', 'a', 't', 'u', 's', 0x00, 'x'};

struct KindCase {
    const char* label;
    Answer answer;
    std::vector<std::size_t> lengths;  // of the datagrams that come back
};

void PrintTo(const KindCase& c, std::ostream* os) {
    *os << c.label;
}

class AnswerKind : public testing::TestWithParam<KindCase> {};

TEST_P(AnswerKind, SendsExactlyTheDatagramsOfItsKind) {
    const KindCase& c = GetParam();
    Options options;
    options.answer = c.answer;
    options.reply = kReply;
    Server server;
    ASSERT_TRUE(server.Start(options)) << server.Error();
    ASSERT_NE(0, server.Port());

    Client client;
    ASSERT_TRUE(client.Ready());
    ASSERT_TRUE(client.Send(server.Port(), kRequest));
    for (std::size_t expected : c.lengths) {
        const auto got = client.Receive(2000ms);
        ASSERT_TRUE(got.has_value()) << c.label;
        ASSERT_EQ(expected, got->size()) << c.label;
        if (expected == kReply.size()) {
            EXPECT_EQ(kReply, *got) << c.label;
        }
    }
    EXPECT_FALSE(client.Receive(100ms).has_value()) << c.label << ": one datagram too many";

    const auto received = server.Received();
    ASSERT_EQ(1u, received.size());
    EXPECT_EQ(kRequest, received[0].bytes);
    EXPECT_EQ("127.0.0.1", received[0].senderAddress);
    EXPECT_NE(0, received[0].senderPort);
    EXPECT_EQ(c.answer != Answer::kSilent, received[0].answered);
    EXPECT_EQ(c.lengths.empty() ? 0u : 1u, server.AnswerCount()) << c.label;
}

INSTANTIATE_TEST_SUITE_P(Kinds, AnswerKind,
                         testing::Values(KindCase{"reply", Answer::kReply, {10}},
                                         KindCase{"silent", Answer::kSilent, {}},
                                         KindCase{"empty", Answer::kEmpty, {0}},
                                         KindCase{"oversized", Answer::kOversized, {10241}},
                                         KindCase{"twice", Answer::kTwice, {10, 10}}),
                         [](const testing::TestParamInfo<KindCase>& info) {
                             return std::string(info.param.label);
                         });

TEST(StandinServer, AnswersAfterTheDelayAndKeepsReceivingMeanwhile) {
    Options options;
    options.reply = kReply;
    options.delay = 150ms;
    Server server;
    ASSERT_TRUE(server.Start(options)) << server.Error();
    Client client;
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_TRUE(client.Send(server.Port(), kRequest));
    ASSERT_TRUE(client.Send(server.Port(), kRequest));
    // Both requests are recorded long before the first answer is due.
    ASSERT_TRUE(server.WaitForReceived(2, 100ms));
    const auto first = client.Receive(2000ms);
    const auto elapsed = std::chrono::steady_clock::now() - sent;
    ASSERT_TRUE(first.has_value());
    EXPECT_GE(elapsed, 145ms);
    EXPECT_TRUE(client.Receive(500ms).has_value()) << "the second request is answered too";
    EXPECT_TRUE(server.WaitForAnswers(2, 500ms));
}

TEST(StandinServer, StatusRequestsOnlyRecordsButIgnoresOtherDatagrams) {
    Options options;
    options.reply = kReply;
    options.statusRequestsOnly = true;
    Server server;
    ASSERT_TRUE(server.Start(options)) << server.Error();
    Client client;
    Bytes shortened(kRequest.begin(), kRequest.end() - 1);
    Bytes longer = kRequest;
    longer.push_back('!');
    ASSERT_TRUE(client.Send(server.Port(), shortened));
    ASSERT_TRUE(client.Send(server.Port(), Bytes{'h', 'i'}));
    ASSERT_TRUE(client.Send(server.Port(), longer));
    const auto answer = client.Receive(2000ms);
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(kReply, *answer);
    EXPECT_FALSE(client.Receive(100ms).has_value());
    const auto received = server.Received();
    ASSERT_EQ(3u, received.size());
    EXPECT_FALSE(received[0].answered);
    EXPECT_FALSE(received[1].answered);
    EXPECT_TRUE(received[2].answered) << "a datagram that begins with the request counts";
}

TEST(StandinServer, ProduceCallbackMakesOrDeclinesEachAnswer) {
    Options options;
    options.reply = kReply;  // not used: produce decides
    options.produce = [](const velder::standin::Datagram& request) -> std::optional<Bytes> {
        if (request.bytes.empty() || request.bytes[0] == 'n') {
            return std::nullopt;
        }
        return Bytes(request.bytes.rbegin(), request.bytes.rend());
    };
    std::size_t observed = 0;
    options.onAnswered = [&observed](const velder::standin::Datagram&, const Bytes&) {
        ++observed;
    };
    Server server;
    ASSERT_TRUE(server.Start(options)) << server.Error();
    Client client;
    ASSERT_TRUE(client.Send(server.Port(), Bytes{'n', 'o'}));
    ASSERT_TRUE(client.Send(server.Port(), Bytes{'a', 'b', 'c'}));
    const auto answer = client.Receive(2000ms);
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ((Bytes{'c', 'b', 'a'}), *answer);
    EXPECT_FALSE(client.Receive(100ms).has_value());
    server.Stop();
    EXPECT_EQ(1u, observed);
    EXPECT_EQ(1u, server.AnswerCount());
    EXPECT_EQ(2u, server.ReceivedCount()) << "what was received stays readable after Stop";
}

TEST(StandinServer, AnswerLimitStopsAnsweringButNotRecording) {
    Options options;
    options.answer = Answer::kTwice;
    options.reply = kReply;
    options.answerLimit = 2;
    Server server;
    ASSERT_TRUE(server.Start(options)) << server.Error();
    Client client;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(client.Send(server.Port(), kRequest));
    }
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(client.Receive(2000ms).has_value()) << "datagram " << i;
    }
    EXPECT_FALSE(client.Receive(150ms).has_value());
    EXPECT_TRUE(server.WaitForReceived(3, 1000ms));
    EXPECT_EQ(2u, server.AnswerCount());
    EXPECT_FALSE(server.Received()[2].answered);
}

TEST(StandinServer, RefusesABusyPortOrABadAddress) {
    Server first;
    ASSERT_TRUE(first.Start(Options{}));
    Options same;
    same.port = first.Port();
    Server second;
    EXPECT_FALSE(second.Start(same));
    EXPECT_NE("", second.Error());
    EXPECT_FALSE(second.Running());

    Options bad;
    bad.bindAddress = "localhost";
    Server third;
    EXPECT_FALSE(third.Start(bad));
    EXPECT_NE(std::string::npos, third.Error().find("localhost"));
    EXPECT_FALSE(first.Start(Options{})) << "a running server cannot start again";
    EXPECT_TRUE(first.Running());
}

TEST(StandinServer, RestartsAfterStopWithAFreshRecord) {
    Server server;
    ASSERT_TRUE(server.Start(Options{}));
    Client client;
    ASSERT_TRUE(client.Send(server.Port(), kRequest));
    ASSERT_TRUE(server.WaitForReceived(1, 1000ms));
    server.Stop();
    EXPECT_FALSE(server.Running());
    ASSERT_TRUE(server.Start(Options{})) << server.Error();
    EXPECT_EQ(0u, server.ReceivedCount());
    EXPECT_EQ("127.0.0.1:" + std::to_string(server.Port()), server.Address());
}

}  // namespace
