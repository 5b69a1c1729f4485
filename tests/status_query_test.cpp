// GetInfo's steps on an injected socket layer and clock: the order of the
// platform calls, every row of the outcome table, the port reading and the
// round-trip field, including outcomes real sockets give only by chance.
#include "query/status_query.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/exports.h"
#include "query/reply_transcription.h"

namespace {

using velder::NetworkOps;
using velder::platform::Ipv4Address;
using velder::platform::SocketHandle;
using Bytes = std::vector<unsigned char>;

constexpr SocketHandle kFakeSocket = 0x4D2;

// A scripted socket layer that records every call made on it.
struct FakeNetwork {
    // Script.
    bool hostExists = true;
    Ipv4Address address{{192, 0, 2, 7}};
    int waitResult = 1;
    std::int32_t receiveResult = -2;  // -2: the length of `reply`
    Bytes reply = {'h', 'i'};
    std::vector<std::uint32_t> ticks = {1000, 1007};

    // Record.
    std::vector<std::string> calls;
    std::string lookedUp;
    std::vector<Bytes> sent;
    std::vector<std::uint16_t> ports;
    std::vector<SocketHandle> socketsUsed;
    std::uint32_t waitedFor = 0;
    std::size_t receiveCapacity = 0;
    const char* data = nullptr;
    std::string dataAtReceive;
    std::size_t tickReads = 0;
};

FakeNetwork& Net(void* context) {
    return *static_cast<FakeNetwork*>(context);
}

NetworkOps FakeOps(FakeNetwork& net) {
    return NetworkOps{
        &net,
        [](void* c) { Net(c).calls.push_back("start"); },
        [](void* c) { Net(c).calls.push_back("stop"); },
        [](void* c) {
            Net(c).calls.push_back("open");
            return kFakeSocket;
        },
        [](void* c, const char* name, Ipv4Address* address) {
            FakeNetwork& n = Net(c);
            n.calls.push_back("lookup");
            n.lookedUp = name;
            if (n.hostExists) {
                *address = n.address;
            }
            return n.hostExists;
        },
        [](void* c, SocketHandle s, const unsigned char* bytes, std::size_t length,
           const Ipv4Address& address, std::uint16_t port) {
            FakeNetwork& n = Net(c);
            n.calls.push_back("send");
            n.socketsUsed.push_back(s);
            n.sent.emplace_back(bytes, bytes + length);
            n.ports.push_back(port);
            EXPECT_EQ(0, std::memcmp(n.address.bytes, address.bytes, 4));
        },
        [](void* c, SocketHandle s, std::uint32_t milliseconds) {
            FakeNetwork& n = Net(c);
            n.calls.push_back("wait");
            n.socketsUsed.push_back(s);
            n.waitedFor = milliseconds;
            return n.waitResult;
        },
        [](void* c, SocketHandle s, unsigned char* buffer, std::size_t capacity) {
            FakeNetwork& n = Net(c);
            n.calls.push_back("receive");
            n.socketsUsed.push_back(s);
            n.receiveCapacity = capacity;
            n.dataAtReceive = n.data;
            if (n.receiveResult != -2) {
                return n.receiveResult;
            }
            std::memcpy(buffer, n.reply.data(), n.reply.size());
            return static_cast<std::int32_t>(n.reply.size());
        },
        [](void* c, SocketHandle s) {
            Net(c).calls.push_back("close");
            Net(c).socketsUsed.push_back(s);
        },
        [](void* c) {
            FakeNetwork& n = Net(c);
            n.calls.push_back("tick");
            const std::uint32_t t = n.tickReads < n.ticks.size() ? n.ticks[n.tickReads] : 0;
            ++n.tickReads;
            return t;
        },
    };
}

// A host-sized data buffer: the argument text, then a fill pattern.
struct Data {
    explicit Data(const std::string& text) {
        for (std::size_t i = 0; i < kDataCapacity; ++i) {
            bytes[i] = static_cast<char>(0xA0 + i % 31);
        }
        std::memcpy(bytes, text.c_str(), text.size() + 1);
        std::memcpy(before, bytes, kDataCapacity);
    }
    bool Unchanged() const { return std::memcmp(before, bytes, kDataCapacity) == 0; }
    // True when only the first `n` bytes differ from what the host passed.
    bool UnchangedFrom(std::size_t n) const {
        return std::memcmp(before + n, bytes + n, kDataCapacity - n) == 0;
    }
    char bytes[kDataCapacity];
    char before[kDataCapacity];
};

std::int32_t Query(Data& data, FakeNetwork& net) {
    net.data = data.bytes;
    return velder::QueryStatus(data.bytes, FakeOps(net));
}

using Calls = std::vector<std::string>;
const Calls kFullExchange = {"start", "open", "lookup",  "tick",  "send", "send",
                             "wait",  "tick", "receive", "close", "stop"};

TEST(StatusQuery, SuccessfulQueryRunsEveryStepInOrder) {
    FakeNetwork net;
    Data data("server.example:28004");
    EXPECT_EQ(RESULT_DATA, Query(data, net));

    EXPECT_EQ(kFullExchange, net.calls);
    EXPECT_EQ("server.example", net.lookedUp);
    const Bytes request = {0xFF, 0xFF, 'g', 'e', 't', 'I', 'n', 'f', 'o', 0x00, 0x02, 0x00, 0x00};
    ASSERT_EQ(2u, net.sent.size());
    EXPECT_EQ(request, net.sent[0]);
    EXPECT_EQ(request, net.sent[1]);
    EXPECT_EQ((std::vector<std::uint16_t>{28004, 28004}), net.ports);
    EXPECT_EQ(650u, net.waitedFor);
    EXPECT_EQ(10240u, net.receiveCapacity);
    EXPECT_EQ("9999", net.dataAtReceive) << "\"9999\" and its NUL are written before the receive";
    for (SocketHandle s : net.socketsUsed) {
        EXPECT_EQ(kFakeSocket, s) << "every call is made on the socket that was opened";
    }
}

TEST(StatusQuery, ReplyIsTranscribedBehindTheRoundTripField) {
    FakeNetwork net;
    net.reply = {0xFF, 0xFF, 'i',  'n',  'f',  'o',  0x00, 'A',  0x00, 0x00, 0x00,
                 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 'p',  0x00, 'q',  0x00, 0x00};
    Data data("h:1");
    ASSERT_EQ(RESULT_DATA, Query(data, net));

    char expected[kDataCapacity];
    std::memcpy(expected, "0007", 4);
    const std::size_t end =
        velder::TranscribeReply(net.reply.data(), net.reply.size(), expected, 4, kDataCapacity);
    ASSERT_LT(end, kDataCapacity);
    EXPECT_EQ(0, std::memcmp(expected, data.bytes, end + 1));
    EXPECT_TRUE(data.UnchangedFrom(end + 1)) << "nothing is written after the closing NUL";
}

struct OutcomeCase {
    const char* label;
    std::string argument;
    bool hostExists;
    int waitResult;
    std::int32_t receiveResult;  // -2: a 2-byte reply
    std::int32_t code;
    const char* text;  // the result text; nullptr: data unchanged
    Calls calls;
};

void PrintTo(const OutcomeCase& c, std::ostream* os) {
    *os << c.label;
}

class Outcome : public testing::TestWithParam<OutcomeCase> {};

TEST_P(Outcome, GivesItsResultCodeAndDataAndCleansUp) {
    const OutcomeCase& c = GetParam();
    FakeNetwork net;
    net.hostExists = c.hostExists;
    net.waitResult = c.waitResult;
    net.receiveResult = c.receiveResult;
    Data data(c.argument);

    EXPECT_EQ(c.code, Query(data, net));
    EXPECT_EQ(c.calls, net.calls);
    if (c.text == nullptr) {
        EXPECT_TRUE(data.Unchanged()) << "data must be left byte for byte as it was";
    } else {
        const std::size_t n = std::strlen(c.text) + 1;
        EXPECT_EQ(0, std::memcmp(c.text, data.bytes, n)) << std::string(data.bytes, 8);
        EXPECT_TRUE(data.UnchangedFrom(n));
    }
}

const std::string kLongestHost(1023, 'h');

INSTANTIATE_TEST_SUITE_P(
    Table, Outcome,
    testing::Values(
        OutcomeCase{
            "no colon", "server.example", true, 1, -2, RESULT_CONTINUE, nullptr, {"start", "stop"}},
        OutcomeCase{"empty text", "", true, 1, -2, RESULT_CONTINUE, nullptr, {"start", "stop"}},
        OutcomeCase{"host of 1024 bytes",
                    kLongestHost + "h:28004",
                    true,
                    1,
                    -2,
                    RESULT_CONTINUE,
                    nullptr,
                    {"start", "stop"}},
        OutcomeCase{"host of 1023 bytes is looked up",
                    kLongestHost + ":28004",
                    false,
                    1,
                    -2,
                    RESULT_CONTINUE,
                    nullptr,
                    {"start", "open", "lookup", "close", "stop"}},
        OutcomeCase{"no such host",
                    "nothing.invalid:28004",
                    false,
                    1,
                    -2,
                    RESULT_CONTINUE,
                    nullptr,
                    {"start", "open", "lookup", "close", "stop"}},
        OutcomeCase{"wait times out",
                    "h:1",
                    true,
                    0,
                    -2,
                    RESULT_CONTINUE,
                    nullptr,
                    {"start", "open", "lookup", "tick", "send", "send", "wait", "close", "stop"}},
        OutcomeCase{"wait fails",
                    "h:1",
                    true,
                    -1,
                    -2,
                    RESULT_CONTINUE,
                    nullptr,
                    {"start", "open", "lookup", "tick", "send", "send", "wait", "close", "stop"}},
        OutcomeCase{"receive fails", "h:1", true, 1, -1, RESULT_DATA, "9999", kFullExchange},
        OutcomeCase{"empty datagram", "h:1", true, 1, 0, RESULT_DATA, "9999", kFullExchange},
        OutcomeCase{"datagram longer than the buffer", "h:1", true, 1, 10241, RESULT_DATA, "9999",
                    kFullExchange},
        OutcomeCase{"reply", "h:1", true, 1, -2, RESULT_DATA, "0007hi", kFullExchange},
        OutcomeCase{"reply after a wait of 2", "h:1", true, 2, -2, RESULT_DATA, "0007hi",
                    kFullExchange}));

struct ArgumentCase {
    const char* argument;
    const char* host;
    std::uint16_t port;
};

void PrintTo(const ArgumentCase& c, std::ostream* os) {
    *os << '"' << c.argument << '"';
}

class Argument : public testing::TestWithParam<ArgumentCase> {};

TEST_P(Argument, HostIsBeforeTheFirstColonAndPortIsReadLikeAtoi) {
    FakeNetwork net;
    net.waitResult = 0;
    Data data(GetParam().argument);
    EXPECT_EQ(RESULT_CONTINUE, Query(data, net));
    EXPECT_EQ(GetParam().host, net.lookedUp);
    ASSERT_EQ(2u, net.ports.size());
    EXPECT_EQ(GetParam().port, net.ports[0]);
    EXPECT_EQ(GetParam().port, net.ports[1]);
    EXPECT_TRUE(data.Unchanged());
}

INSTANTIATE_TEST_SUITE_P(
    Table, Argument,
    testing::Values(ArgumentCase{"127.0.0.1:28004", "127.0.0.1", 28004}, ArgumentCase{"h:", "h", 0},
                    ArgumentCase{"h:80xyz", "h", 80}, ArgumentCase{"h:-1", "h", 65535},
                    ArgumentCase{"h:+27960", "h", 27960}, ArgumentCase{"h: \t\n\v\f\r42", "h", 42},
                    ArgumentCase{"h: 4 2", "h", 4}, ArgumentCase{"h:65535", "h", 65535},
                    ArgumentCase{"h:65536", "h", 0}, ArgumentCase{"h:65537", "h", 1},
                    ArgumentCase{"h:-65535", "h", 1},
                    ArgumentCase{"h:4294967297", "h", 1},  // 2^32 + 1 wraps to 1
                    ArgumentCase{"h:2147483648", "h", 0},  // wraps to -2^31
                    ArgumentCase{"h:99999999999", "h", 0xE7FF},
                    ArgumentCase{"h:000028004", "h", 28004}, ArgumentCase{"h:+-5", "h", 0},
                    ArgumentCase{"h:--5", "h", 0}, ArgumentCase{"h:- 5", "h", 0},
                    ArgumentCase{"h:\x85"
                                 "5",
                                 "h", 0},
                    ArgumentCase{"a:b:c", "a", 0}, ArgumentCase{"a:5:6", "a", 5},
                    ArgumentCase{":28004", "", 28004},
                    ArgumentCase{" spaced host :7", " spaced host ", 7}));

struct TickCase {
    std::uint32_t start;
    std::uint32_t end;
    const char* field;
};

void PrintTo(const TickCase& c, std::ostream* os) {
    *os << c.start << " to " << c.end;
}

class RoundTrip : public testing::TestWithParam<TickCase> {};

TEST_P(RoundTrip, FieldIsTheWrappingDifferenceCappedAt9999) {
    FakeNetwork net;
    net.ticks = {GetParam().start, GetParam().end};
    Data data("h:1");
    ASSERT_EQ(RESULT_DATA, Query(data, net));
    EXPECT_EQ(std::string(GetParam().field) + "hi", std::string(data.bytes));
}

INSTANTIATE_TEST_SUITE_P(Table, RoundTrip,
                         testing::Values(TickCase{1000, 1007, "0007"}, TickCase{5, 5, "0000"},
                                         TickCase{100, 1334, "1234"},
                                         TickCase{0xFFFFFFF0u, 16, "0032"},
                                         TickCase{0xFFFFFFFFu, 0, "0001"},
                                         TickCase{0, 9999, "9999"}, TickCase{0, 10000, "9999"},
                                         TickCase{0x7FFFFFFFu, 0x80000000u, "0001"},
                                         TickCase{10, 9, "9999"}));

}  // namespace
