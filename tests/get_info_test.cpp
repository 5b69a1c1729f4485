// GetInfo through the library's export, against stand-in servers on
// loopback: the request on the wire, the result text, the 650 ms bound,
// unusable arguments and concurrent calls.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "host/exports.h"
#include "standin/standin_server.h"
#include "tests/loaded_library.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using velder::Bytes;
using velder::standin::Options;
using velder::standin::Server;
using velder::testing::LoadedLibrary;

// Text and bytes mixed: "abc" is the letters, numbers are single bytes.
struct Piece {
    Piece(const char* text) : bytes(text, text + std::strlen(text)) {}
    Piece(int byte) : bytes(1, static_cast<char>(byte)) {}
    Bytes bytes;
};
Bytes Join(std::initializer_list<Piece> pieces) {
    Bytes out;
    for (const Piece& p : pieces) {
        out.insert(out.end(), p.bytes.begin(), p.bytes.end());
    }
    return out;
}

// A status reply with a text section, two player records and the end pattern.
const Bytes kStatusReply =
    Join({0xFF, 0xFF,  "status", 0,        4, 3,       2,    1, "name", 0, "^c900Big ^7Arena",
          0,    "map", 0,        "arena1", 0, 0,       0,    0, 0x32,   0, 0x10,
          0x27, 0,     0,        "Ann",    0, "^1Red", 0,    1, 0x2C,   1, 0x10,
          0x27, 0,     0,        "B^7ob",  0, 0,       0x20, 1, 0,      0, 0});
// What scripts get for it after the round-trip field.
const Bytes kStatusText =
    Join({0xFF,        0xFF,  "status", 0xFF,  0xFF,     0xFF,  0xFF, 0xFF, "name", 0xFF,
          "Big Arena", 0xFF,  "map",    0xFF,  "arena1", 0xFF,  0xFE, "50", 0xFF,   "Ann",
          0xFF,        "Red", 0xFF,     "300", 0xFF,     "Bob", 0xFF, " ",  0xFF,   0xFE});

// The host's data buffer: exactly kDataCapacity bytes on the heap, so that
// AddressSanitizer sees a write past its end. Filled with a pattern after
// the argument text.
struct Data {
    explicit Data(const std::string& text) : bytes(kDataCapacity) {
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<char>(0xC0 + i % 29);
        }
        std::memcpy(bytes.data(), text.c_str(), text.size() + 1);
        before = bytes;
    }
    bool Unchanged() const { return bytes == before; }
    bool UnchangedFrom(std::size_t n) const {
        return std::equal(bytes.begin() + static_cast<std::ptrdiff_t>(n), bytes.end(),
                          before.begin() + static_cast<std::ptrdiff_t>(n));
    }
    // The round-trip field as a number; -1 when it is not four digits.
    int Field() const {
        int value = 0;
        for (int i = 0; i < 4; ++i) {
            if (bytes[i] < '0' || bytes[i] > '9') {
                return -1;
            }
            value = value * 10 + (bytes[i] - '0');
        }
        return value;
    }
    // Everything after the field, up to the NUL.
    Bytes Text() const {
        const char* text = bytes.data() + 4;
        return Bytes(text, text + std::strlen(text));
    }
    std::vector<char> bytes;
    std::vector<char> before;
};

#if defined(_WIN32)
// Wine's ntdll names itself through an export that Windows does not have.
bool RunningUnderWine() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}
#endif

// How far apart the tick counter's steps may be. Windows advances
// GetTickCount with its timer interrupt (up to 16 ms); Wine and POSIX count
// single milliseconds.
std::uint32_t TickStep() {
#if defined(_WIN32)
    return RunningUnderWine() ? 1 : 16;
#else
    return 1;
#endif
}

class GetInfo : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(library_.Loaded()) << velder::testing::LibraryPath();
        getInfo_ = library_.Find("GetInfo");
        ASSERT_NE(nullptr, getInfo_);
    }

    std::int32_t Call(Data& data) const {
        return getInfo_(nullptr, nullptr, data.bytes.data(), nullptr, 0, 0);
    }

    // Starts a server with these options; the test fails if it cannot.
    static void Start(Server& server, Options options) {
        ASSERT_TRUE(server.Start(std::move(options))) << server.Error();
    }

    // A loopback port where, a moment ago, a server was bound.
    static std::uint16_t FreePort() {
        Server server;
        if (!server.Start(Options{})) {
            return 0;
        }
        const std::uint16_t port = server.Port();
        server.Stop();
        return port;
    }

    LoadedLibrary library_;
    HostExport getInfo_ = nullptr;
};

Options Replying(Bytes reply) {
    Options options;
    options.reply = std::move(reply);
    return options;
}

TEST_F(GetInfo, SendsTheThirteenByteRequestTwice) {
    Server server;
    Start(server, Replying(kStatusReply));
    Data data(server.Address());
    EXPECT_EQ(RESULT_DATA, Call(data));

    ASSERT_TRUE(server.WaitForReceived(2, 1000ms));
    EXPECT_FALSE(server.WaitForReceived(3, 100ms)) << "there is no third request";
    const auto received = server.Recorded();
    const Bytes request("\xFF\xFFgetInfo\0\x02\0\0", 13);
    for (const auto& datagram : received) {
        EXPECT_EQ(request, datagram.bytes);
        EXPECT_EQ(received[0].senderPort, datagram.senderPort) << "both from one socket";
    }
}

TEST_F(GetInfo, WritesTheRoundTripFieldAndTheTranscribedReply) {
    Server server;
    Start(server, Replying(kStatusReply));
    Data data(server.Address());
    ASSERT_EQ(RESULT_DATA, Call(data));
    const int field = data.Field();
    EXPECT_GE(field, 0);
    EXPECT_LT(field, 600) << "an immediate answer on loopback";
    EXPECT_EQ(kStatusText, data.Text());
    EXPECT_TRUE(data.UnchangedFrom(4 + kStatusText.size() + 1));
}

TEST_F(GetInfo, AcceptsAHostNameAsWellAsAnAddress) {
    Server server;
    Start(server, Replying(Join({"plain text"})));
    Data data("localhost:" + std::to_string(server.Port()));
    ASSERT_EQ(RESULT_DATA, Call(data));
    EXPECT_EQ(Join({"plain text"}), data.Text());
}

TEST_F(GetInfo, RoundTripFieldCoversTheServersDelay) {
    Options options = Replying(Join({"late"}));
    options.delay = 40ms;
    Server server;
    Start(server, options);
    Data data(server.Address());
    ASSERT_EQ(RESULT_DATA, Call(data));
    EXPECT_GE(data.Field(), static_cast<int>(36 - TickStep()));
    EXPECT_LT(data.Field(), 600);
    EXPECT_EQ(Join({"late"}), data.Text());
}

TEST_F(GetInfo, OnlyTheFirstOfSeveralAnswersIsRead) {
    // The server answers both requests; the second answer is not appended.
    Server server;
    Start(server, Replying(Join({"first"})));
    Data data(server.Address());
    ASSERT_EQ(RESULT_DATA, Call(data));
    EXPECT_EQ(Join({"first"}), data.Text());
    EXPECT_TRUE(server.WaitForAnswers(2, 1000ms));
}

TEST_F(GetInfo, SilentServerGivesNoResultAfter650Milliseconds) {
    Server server;
    Start(server, Options{});
    Data data(server.Address());
    const auto start = Clock::now();
    EXPECT_EQ(RESULT_CONTINUE, Call(data));
    const auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, 645ms);
    EXPECT_LT(elapsed, 5000ms);
    EXPECT_TRUE(data.Unchanged()) << "data must be left byte for byte as it was";
    EXPECT_TRUE(server.WaitForReceived(2, 1000ms));
}

struct FailedReceiveCase {
    const char* label;
    Bytes reply;
};

void PrintTo(const FailedReceiveCase& c, std::ostream* os) {
    *os << c.label;
}

class FailedReceive : public GetInfo, public testing::WithParamInterface<FailedReceiveCase> {};

TEST_P(FailedReceive, GivesOnly9999) {
    Server server;
    Start(server, Replying(GetParam().reply));
    Data data(server.Address());
    ASSERT_EQ(RESULT_DATA, Call(data));
    EXPECT_EQ(0, std::memcmp("9999", data.bytes.data(), 4));
    EXPECT_EQ('\0', data.bytes[4]);
    EXPECT_TRUE(data.UnchangedFrom(5));
}

INSTANTIATE_TEST_SUITE_P(Datagrams, FailedReceive,
                         testing::Values(FailedReceiveCase{"empty", Bytes()},
                                         FailedReceiveCase{"oversized", Bytes(10241, 'x')}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(GetInfo, UnusableArgumentsLeaveDataAsItWasAndSendNothing) {
    Server server;
    Start(server, Replying(kStatusReply));
    const std::string port = std::to_string(server.Port());
    const std::string arguments[] = {
        "127.0.0.1",                          // no colon
        "",                                   // nothing at all
        "nothing.invalid:" + port,            // no such host
        ":" + port,                           // empty host name
        std::string(1024, 'a') + ":" + port,  // host part too long
        "127.0.0.1" + std::string(1015, ' ') + ":" + port,
    };
    for (const std::string& argument : arguments) {
        Data data(argument);
        const auto start = Clock::now();
        EXPECT_EQ(RESULT_CONTINUE, Call(data)) << argument.substr(0, 40);
        EXPECT_TRUE(data.Unchanged()) << argument.substr(0, 40);
        EXPECT_LT(Clock::now() - start, 600ms) << argument.substr(0, 40) << ": no wait";
    }
    EXPECT_FALSE(server.WaitForReceived(1, 100ms)) << "no request may have been sent";
}

TEST_F(GetInfo, ConcurrentCallsEachGetTheirOwnServersAnswer) {
    constexpr int kCalls = 8;
    Server servers[kCalls];
    for (int i = 0; i < kCalls; ++i) {
        Options options = Replying(Join({"server ", std::to_string(i).c_str()}));
        options.delay = std::chrono::milliseconds(5 * (kCalls - i));
        Start(servers[i], options);
    }
    std::vector<Data> data;
    for (int i = 0; i < kCalls; ++i) {
        data.emplace_back(servers[i].Address());
    }
    std::int32_t codes[kCalls] = {};
    {
        std::vector<std::jthread> threads;
        for (int i = 0; i < kCalls; ++i) {
            threads.emplace_back([&, i] { codes[i] = Call(data[i]); });
        }
    }
    for (int i = 0; i < kCalls; ++i) {
        EXPECT_EQ(RESULT_DATA, codes[i]) << "call " << i;
        EXPECT_EQ(Join({"server ", std::to_string(i).c_str()}), data[i].Text()) << "call " << i;
        EXPECT_GE(data[i].Field(), 0) << "call " << i;
    }
}

// Nothing listens on the port. Linux does not report the ICMP "port
// unreachable" to an unconnected UDP socket, so the wait runs out; Wine's
// Winsock, built on Linux sockets, does the same. Windows makes the socket
// readable and fails the receive (WSAECONNRESET): the result is "9999".
TEST_F(GetInfo, PortWhereNothingListens) {
    const std::uint16_t port = FreePort();
    ASSERT_NE(0, port);
    Data data("127.0.0.1:" + std::to_string(port));
    const auto start = Clock::now();
    const std::int32_t code = Call(data);
    const auto elapsed = Clock::now() - start;
    bool reportsUnreachable = false;
#if defined(_WIN32)
    reportsUnreachable = !RunningUnderWine();
#endif
    if (reportsUnreachable) {
        EXPECT_EQ(RESULT_DATA, code);
        EXPECT_EQ(0, std::memcmp("9999", data.bytes.data(), 5));
        EXPECT_TRUE(data.UnchangedFrom(5));
        EXPECT_LT(elapsed, 600ms);
    } else {
        EXPECT_EQ(RESULT_CONTINUE, code);
        EXPECT_TRUE(data.Unchanged());
        EXPECT_GE(elapsed, 645ms);
    }
}

}  // namespace
