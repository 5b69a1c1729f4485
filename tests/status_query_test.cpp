// GetInfo's steps on an injected socket layer and clock: the order of the
// platform calls, every row of the outcome table, the port reading, the
// round-trip field and the datagrams of other senders, including outcomes
// real sockets give only by chance.
#include "query/status_query.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "query/reply_transcription.h"
#include "tests/support/bytes.h"

namespace {

using velder::Bytes;
using velder::NetworkOps;
using velder::QueryOutcome;
using velder::platform::Ipv4Address;
using velder::platform::Sender;
using velder::platform::SocketHandle;

constexpr SocketHandle kFakeSocket = 0x4D2;
constexpr std::size_t kCapacity = 4096;

// Who a scripted datagram comes from.
enum class From { kDestination, kOtherPort, kOtherAddress, kNobodyKnown };

// One datagram the fake socket hands out; `result` -2 means "the bytes".
struct Arrival {
    From from = From::kDestination;
    std::int32_t result = -2;
    std::string_view bytes = "hi";
};

// A scripted socket layer that records every call made on it.
struct FakeNetwork {
    // Script.
    bool started = true;
    bool opened = true;
    bool hostExists = true;
    Ipv4Address address{{192, 0, 2, 7}};
    int waitResult = 1;
    std::vector<Arrival> arrivals = {Arrival{}};
    std::vector<std::uint32_t> ticks = {1000, 1007};

    // Record.
    std::vector<std::string> calls;
    std::string lookedUp;
    std::vector<Bytes> sent;
    std::vector<std::uint16_t> ports;
    std::vector<SocketHandle> socketsUsed;
    std::vector<std::uint32_t> waits;
    std::size_t receiveCapacity = 0;
    std::size_t received = 0;
    std::size_t tickReads = 0;
};

FakeNetwork& Net(void* context) {
    return *static_cast<FakeNetwork*>(context);
}

Sender SenderOf(const FakeNetwork& n, From from) {
    Sender s;
    s.known = from != From::kNobodyKnown;
    s.address = n.address;
    s.port = n.ports.empty() ? 0 : n.ports[0];
    if (from == From::kOtherPort) {
        s.port = static_cast<std::uint16_t>(s.port + 1);
    } else if (from == From::kOtherAddress) {
        s.address.bytes[3] ^= 1;
    }
    return s;
}

NetworkOps FakeOps(FakeNetwork& net) {
    return NetworkOps{
        &net,
        [](void* c) {
            Net(c).calls.push_back("start");
            return Net(c).started;
        },
        [](void* c) { Net(c).calls.push_back("stop"); },
        [](void* c, SocketHandle* s) {
            Net(c).calls.push_back("open");
            if (Net(c).opened) {
                *s = kFakeSocket;
            }
            return Net(c).opened;
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
            n.sent.emplace_back(reinterpret_cast<const char*>(bytes), length);
            n.ports.push_back(port);
            EXPECT_EQ(0, std::memcmp(n.address.bytes, address.bytes, 4));
        },
        [](void* c, SocketHandle s, std::uint32_t milliseconds) {
            FakeNetwork& n = Net(c);
            n.calls.push_back("wait");
            n.socketsUsed.push_back(s);
            n.waits.push_back(milliseconds);
            return n.received < n.arrivals.size() ? n.waitResult : 0;
        },
        [](void* c, SocketHandle s, unsigned char* buffer, std::size_t capacity, Sender* sender) {
            FakeNetwork& n = Net(c);
            n.calls.push_back("receive");
            n.socketsUsed.push_back(s);
            n.receiveCapacity = capacity;
            const Arrival& a = n.arrivals.at(n.received++);
            *sender = SenderOf(n, a.from);
            if (a.result != -2) {
                return a.result;
            }
            std::memcpy(buffer, a.bytes.data(), a.bytes.size());
            return static_cast<std::int32_t>(a.bytes.size());
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
        for (std::size_t i = 0; i < kCapacity; ++i) {
            bytes[i] = static_cast<char>(0xA0 + i % 31);
        }
        std::memcpy(bytes, text.c_str(), std::min(text.size() + 1, kCapacity));
        std::memcpy(before, bytes, kCapacity);
    }
    bool Unchanged() const { return std::memcmp(before, bytes, kCapacity) == 0; }
    // True when only the first `n` bytes differ from what the host passed.
    bool UnchangedFrom(std::size_t n) const {
        return std::memcmp(before + n, bytes + n, kCapacity - n) == 0;
    }
    char bytes[kCapacity];
    char before[kCapacity];
};

QueryOutcome Query(Data& data, FakeNetwork& net, std::size_t capacity = kCapacity) {
    return velder::QueryStatus(data.bytes, capacity, FakeOps(net));
}

// Table rows with a label show it in test output, and name the test with
// its words run together ("no such host" is NoSuchHost).
template <typename Case>
requires requires(const Case& c) {
    c.label;
}
void PrintTo(const Case& c, std::ostream* os) {
    *os << c.label;
}

template <typename Case>
std::string LabelName(const testing::TestParamInfo<Case>& info) {
    std::string name;
    bool wordStart = true;
    for (const char* p = info.param.label; *p != '\0'; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (std::isalnum(c)) {
            name += static_cast<char>(wordStart ? std::toupper(c) : c);
        }
        wordStart = !std::isalnum(c);
    }
    return name;
}

using Calls = std::vector<std::string>;
const Calls kFullExchange = {"start", "open", "lookup",  "tick",  "send", "send",
                             "wait",  "tick", "receive", "close", "stop"};
const Calls kUntilTheWait = {"start", "open", "lookup", "tick", "send",
                             "send",  "wait", "close",  "stop"};

TEST(StatusQuery, SuccessfulQueryRunsEveryStepInOrder) {
    FakeNetwork net;
    Data data("server.example:28004");
    EXPECT_EQ(QueryOutcome::kAnswered, Query(data, net));

    EXPECT_EQ(kFullExchange, net.calls);
    EXPECT_EQ("server.example", net.lookedUp);
    const Bytes request = velder::ParseBytes("FF FF 'getInfo' 00 02 00 00");
    ASSERT_EQ(2u, net.sent.size());
    EXPECT_EQ(request, net.sent[0]);
    EXPECT_EQ(request, net.sent[1]);
    EXPECT_EQ((std::vector<std::uint16_t>{28004, 28004}), net.ports);
    EXPECT_EQ(std::vector<std::uint32_t>{650}, net.waits);
    EXPECT_EQ(10240u, net.receiveCapacity);
    for (SocketHandle s : net.socketsUsed) {
        EXPECT_EQ(kFakeSocket, s) << "every call is made on the socket that was opened";
    }
}

TEST(StatusQuery, ReplyIsTranscribedBehindTheRoundTripField) {
    FakeNetwork net;
    const Bytes reply =
        velder::ParseBytes("FF FF 'info' 00 'A' 00 00 00  01 02 03 04 05 06 'p' 00 'q' 00 00");
    net.arrivals[0].bytes = reply;
    Data data("h:1");
    ASSERT_EQ(QueryOutcome::kAnswered, Query(data, net));

    char expected[kCapacity];
    std::memcpy(expected, "0007", 4);
    const std::size_t length =
        velder::TranscribeReply(velder::Data(reply), reply.size(), expected + 4, 100);
    EXPECT_EQ(0, std::memcmp(expected, data.bytes, 4 + length + 1));
    EXPECT_TRUE(data.UnchangedFrom(4 + length + 1)) << "nothing is written after the NUL";
}

struct OutcomeCase {
    const char* label;
    std::string argument;
    bool started;
    bool opened;
    bool hostExists;
    int waitResult;
    Arrival arrival;
    QueryOutcome outcome;
    const char* text;  // the result text; nullptr: data unchanged
    Calls calls;
};

class Outcome : public testing::TestWithParam<OutcomeCase> {};

TEST_P(Outcome, GivesItsResultAndDataAndCleansUp) {
    const OutcomeCase& c = GetParam();
    FakeNetwork net;
    net.started = c.started;
    net.opened = c.opened;
    net.hostExists = c.hostExists;
    net.waitResult = c.waitResult;
    net.arrivals = {c.arrival};
    Data data(c.argument);

    EXPECT_EQ(c.outcome, Query(data, net));
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
const Arrival kReply{};
constexpr QueryOutcome kNone = QueryOutcome::kNoResult;
constexpr QueryOutcome kUnreadable = QueryOutcome::kUnreadable;

INSTANTIATE_TEST_SUITE_P(
    Table, Outcome,
    testing::Values(
        OutcomeCase{"no colon",
                    "server.example",
                    true,
                    true,
                    true,
                    1,
                    kReply,
                    kNone,
                    nullptr,
                    {"start", "stop"}},
        OutcomeCase{
            "empty text", "", true, true, true, 1, kReply, kNone, nullptr, {"start", "stop"}},
        OutcomeCase{"host of 1024 bytes",
                    kLongestHost + "h:28004",
                    true,
                    true,
                    true,
                    1,
                    kReply,
                    kNone,
                    nullptr,
                    {"start", "stop"}},
        OutcomeCase{"host of 1023 bytes is looked up",
                    kLongestHost + ":28004",
                    true,
                    true,
                    false,
                    1,
                    kReply,
                    kNone,
                    nullptr,
                    {"start", "open", "lookup", "close", "stop"}},
        OutcomeCase{"no such host",
                    "nothing.invalid:28004",
                    true,
                    true,
                    false,
                    1,
                    kReply,
                    kNone,
                    nullptr,
                    {"start", "open", "lookup", "close", "stop"}},
        // A stop without a start would undo the host's own start of the socket layer.
        OutcomeCase{"socket layer does not start",
                    "h:1",
                    false,
                    true,
                    true,
                    1,
                    kReply,
                    kNone,
                    nullptr,
                    {"start"}},
        // A socket that does not exist is neither sent to nor closed, and nothing waits.
        OutcomeCase{"socket does not open",
                    "h:1",
                    true,
                    false,
                    true,
                    1,
                    kReply,
                    kNone,
                    nullptr,
                    {"start", "open", "stop"}},
        OutcomeCase{"wait times out", "h:1", true, true, true, 0, kReply, kNone, nullptr,
                    kUntilTheWait},
        OutcomeCase{"wait fails", "h:1", true, true, true, -1, kReply, kNone, nullptr,
                    kUntilTheWait},
        OutcomeCase{"receive fails",
                    "h:1",
                    true,
                    true,
                    true,
                    1,
                    {From::kNobodyKnown, -1},
                    kUnreadable,
                    "9999",
                    kFullExchange},
        OutcomeCase{"receive fails for the destination",
                    "h:1",
                    true,
                    true,
                    true,
                    1,
                    {From::kDestination, -1},
                    kUnreadable,
                    "9999",
                    kFullExchange},
        OutcomeCase{"empty datagram",
                    "h:1",
                    true,
                    true,
                    true,
                    1,
                    {From::kDestination, 0},
                    kUnreadable,
                    "9999",
                    kFullExchange},
        OutcomeCase{"datagram longer than the buffer",
                    "h:1",
                    true,
                    true,
                    true,
                    1,
                    {From::kDestination, 10241},
                    kUnreadable,
                    "9999",
                    kFullExchange},
        OutcomeCase{"reply", "h:1", true, true, true, 1, kReply, QueryOutcome::kAnswered, "0007hi",
                    kFullExchange},
        OutcomeCase{"reply after a wait of 2", "h:1", true, true, true, 2, kReply,
                    QueryOutcome::kAnswered, "0007hi", kFullExchange}),
    LabelName<OutcomeCase>);

// Datagrams that are not the destination's are dropped; the wait goes on for
// what is left of the 650 ms counted from the start tick, and the round-trip
// time is that of the accepted datagram.
struct ForeignCase {
    const char* label;
    std::vector<Arrival> arrivals;
    std::vector<std::uint32_t> ticks;  // start, then one after each wait
    QueryOutcome outcome;
    const char* text;  // nullptr: data unchanged
    std::vector<std::uint32_t> waits;
};

class Foreign : public testing::TestWithParam<ForeignCase> {};

TEST_P(Foreign, OnlyTheDestinationsDatagramCounts) {
    const ForeignCase& c = GetParam();
    FakeNetwork net;
    net.arrivals = c.arrivals;
    net.ticks = c.ticks;
    Data data("h:28004");
    EXPECT_EQ(c.outcome, Query(data, net));
    EXPECT_EQ(c.waits, net.waits);
    if (c.text == nullptr) {
        EXPECT_TRUE(data.Unchanged());
    } else {
        EXPECT_STREQ(c.text, data.bytes);
    }
    EXPECT_EQ("stop", net.calls.back());
}

const Arrival kFromOtherPort{From::kOtherPort, -2, "forged"};
const Arrival kFromOtherAddress{From::kOtherAddress, -2, "forged"};

INSTANTIATE_TEST_SUITE_P(
    Table, Foreign,
    testing::Values(ForeignCase{"other port first",
                                {kFromOtherPort, kReply},
                                {1000, 1003, 1009},
                                QueryOutcome::kAnswered,
                                "0009hi",
                                {650, 647}},
                    ForeignCase{"other address first",
                                {kFromOtherAddress, kReply},
                                {1000, 1100, 1120},
                                QueryOutcome::kAnswered,
                                "0120hi",
                                {650, 550}},
                    ForeignCase{"empty datagram from another port",
                                {{From::kOtherPort, 0}, kReply},
                                {1000, 1001, 1002},
                                QueryOutcome::kAnswered,
                                "0002hi",
                                {650, 649}},
                    ForeignCase{"oversized datagram from another address",
                                {{From::kOtherAddress, -1}, kReply},
                                {1000, 1001, 1002},
                                QueryOutcome::kAnswered,
                                "0002hi",
                                {650, 649}},
                    ForeignCase{"foreign datagrams until the time is up",
                                {kFromOtherPort, kFromOtherAddress, kFromOtherPort, kReply},
                                {1000, 1200, 1500, 1650},
                                kNone,
                                nullptr,
                                {650, 450, 150}},
                    ForeignCase{"foreign datagram, then silence",
                                {kFromOtherPort},
                                {1000, 1010},
                                kNone,
                                nullptr,
                                {650, 640}},
                    ForeignCase{"foreign datagrams across a tick wrap",
                                {kFromOtherPort, kReply},
                                {0xFFFFFFF0u, 4, 16},
                                QueryOutcome::kAnswered,
                                "0032hi",
                                {650, 630}},
                    ForeignCase{"failed receive that names no sender, after a foreign datagram",
                                {kFromOtherPort, {From::kNobodyKnown, -1}},
                                {1000, 1001, 1002},
                                kUnreadable,
                                "9999",
                                {650, 649}}),
    LabelName<ForeignCase>);

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
    EXPECT_EQ(kNone, Query(data, net));
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

// The argument text is read only within the capacity, with or without a
// NUL inside it: a colon or digits past the capacity are never seen.
struct CapacityCase {
    const char* label;
    std::string text;  // placed with no NUL of its own; bytes past it are '9'
    std::size_t capacity;
    const char* host;  // nullptr: no lookup
    std::uint16_t port;
    Calls calls;  // when there is no lookup
};

class ArgumentWithinCapacity : public testing::TestWithParam<CapacityCase> {};

TEST_P(ArgumentWithinCapacity, ReadsNothingPastTheCapacity) {
    const CapacityCase& c = GetParam();
    FakeNetwork net;
    net.waitResult = 0;
    Data data("");
    std::memset(data.bytes, '9', kCapacity);
    std::memcpy(data.bytes, c.text.data(), c.text.size());
    std::memcpy(data.before, data.bytes, kCapacity);

    EXPECT_EQ(kNone, Query(data, net, c.capacity));
    EXPECT_TRUE(data.Unchanged());
    if (c.host == nullptr) {
        EXPECT_EQ(c.calls, net.calls);
    } else {
        EXPECT_EQ(c.host, net.lookedUp);
        ASSERT_FALSE(net.ports.empty());
        EXPECT_EQ(c.port, net.ports[0]);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ArgumentWithinCapacity,
    testing::Values(
        CapacityCase{"colon just past the end", "hostname:1", 8, nullptr, 0, {"start", "stop"}},
        CapacityCase{"colon last", "hostname:1", 9, "hostname", 0, {}},
        CapacityCase{"port cut by the end", "h:12345", 5, "h", 123, {}},
        CapacityCase{"digits to the end", "h:1", 6, "h", 1999, {}},
        // Too small for "9999" and its NUL: nothing is done at all.
        CapacityCase{"too small for a result", "h:1", 4, nullptr, 0, {}}),
    LabelName<CapacityCase>);

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
    ASSERT_EQ(QueryOutcome::kAnswered, Query(data, net));
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
