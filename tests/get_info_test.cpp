// GetInfo through the library's export, against stand-in servers on
// loopback: the request on the wire, the result text, the 650 ms bound,
// a datagram from another sender, a refused port, an argument that fills
// the whole buffer, and concurrent calls. Each step's decisions are
// status_query_test's; here, that the system's sockets and clock carry them.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>  // std::jthread
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

#include "platform/loaded_library.h"
#include "platform/program.h"
#include "query/protocol.h"
#include "tests/support/samples.h"
#include "tests/support/test_server.h"
#include "velder/velder.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using velder::Bytes;
using velder::ShowBytes;
using Options = velder::support::ServerOptions;
using Server = velder::support::TestServer;

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
    Bytes Text() const { return Bytes(bytes.data() + 4); }
    // True when the result text is "9999" alone and nothing after its NUL changed.
    bool IsUnreadable() const {
        return std::memcmp(velder::kUnreadableReply, bytes.data(), 5) == 0 && UnchangedFrom(5);
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
        // Under qemu-i386 (see cmake/wine-run.sh) a 32-bit Wine program that
        // waits on sockets hangs or crashes the emulator now and then, at
        // a different case each run: these cases need a machine that runs
        // 32-bit programs itself.
        if (std::getenv("VELDER_UNDER_QEMU") != nullptr) {
            GTEST_SKIP() << "socket waits hang or crash qemu-i386 now and then";
        }
        ASSERT_TRUE(library_.Loaded()) << library_.Error();
        getInfo_ = reinterpret_cast<HostExport>(library_.Find("GetInfo"));
        ASSERT_NE(nullptr, getInfo_);
    }

    std::int32_t Call(Data& data) const {
        return getInfo_(nullptr, nullptr, data.bytes.data(), nullptr, 0, 0);
    }

    // Starts a server with these options; the test fails if it cannot.
    static void Start(Server& server, const Options& options) {
        ASSERT_TRUE(server.Start(options)) << server.Error();
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

    velder::platform::LoadedLibrary library_{velder::platform::BesideProgram(VELDER_LIBRARY_PATH)};
    HostExport getInfo_ = nullptr;
};

Options Replying(std::optional<Bytes> reply) {
    Options options;
    options.reply = std::move(reply);
    return options;
}

TEST_F(GetInfo, SendsTheThirteenByteRequestTwice) {
    Server server;
    Start(server, Replying(velder::support::WorkedExampleReply()));
    Data data(server.Address());
    EXPECT_EQ(RESULT_DATA, Call(data));

    ASSERT_TRUE(server.WaitForReceived(2, 1000ms));
    EXPECT_FALSE(server.WaitForReceived(3, 100ms)) << "there is no third request";
    const auto recorded = server.Recorded();
    const Bytes request(reinterpret_cast<const char*>(velder::kStatusRequest),
                        sizeof velder::kStatusRequest);
    for (const auto& datagram : recorded) {
        EXPECT_EQ(ShowBytes(request), ShowBytes(datagram.bytes));
        EXPECT_EQ(request.size(), datagram.length);
        EXPECT_EQ(recorded[0].senderPort, datagram.senderPort) << "both from one socket";
    }
}

TEST_F(GetInfo, WritesTheRoundTripFieldAndTheTranscribedReply) {
    Server server;
    Start(server, Replying(velder::support::WorkedExampleReply()));
    Data data(server.Address());
    ASSERT_EQ(RESULT_DATA, Call(data));
    const int field = data.Field();
    EXPECT_GE(field, 0);
    EXPECT_LE(field, 650) << "no answer is taken after the wait";
    const Bytes text = velder::support::WorkedExampleText();
    EXPECT_EQ(ShowBytes(text), ShowBytes(data.Text()));
    EXPECT_TRUE(data.UnchangedFrom(4 + text.size() + 1));
}

TEST_F(GetInfo, AcceptsAHostNameAsWellAsAnAddress) {
    Server server;
    Start(server, Replying("plain text"));
    Data data("localhost:" + std::to_string(server.Port()));
    ASSERT_EQ(RESULT_DATA, Call(data));
    EXPECT_EQ("plain text", data.Text());
}

TEST_F(GetInfo, RoundTripFieldCoversTheServersDelay) {
    Options options = Replying("late");
    options.delay = 40ms;
    Server server;
    Start(server, options);
    Data data(server.Address());
    ASSERT_EQ(RESULT_DATA, Call(data));
    EXPECT_GE(data.Field(), static_cast<int>(36 - TickStep()));
    EXPECT_LE(data.Field(), 650);
    EXPECT_EQ("late", data.Text());
}

TEST_F(GetInfo, SilentServerGivesNoResultAfter650Milliseconds) {
    Server server;
    Start(server, Replying(std::nullopt));
    Data data(server.Address());
    const auto start = Clock::now();
    EXPECT_EQ(RESULT_CONTINUE, Call(data));
    const auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, 645ms);
    EXPECT_TRUE(data.Unchanged()) << "data must be left byte for byte as it was";
    EXPECT_TRUE(server.WaitForReceived(2, 1000ms));
}

// A 0-byte answer and one longer than the 10240-byte receive buffer.
TEST_F(GetInfo, UnreadableAnswersGiveOnly9999) {
    for (const Bytes& reply : {Bytes(), Bytes(velder::kReceiveCapacity + 1, 'x')}) {
        Server server;
        Start(server, Replying(reply));
        Data data(server.Address());
        ASSERT_EQ(RESULT_DATA, Call(data)) << reply.size() << " bytes";
        EXPECT_TRUE(data.IsUnreadable()) << reply.size() << " bytes";
    }
}

// As GetInfo's first request arrives, a forged reply from another port goes
// to GetInfo's socket, before the server's answer is sent: it waits there
// first. Only the server's answer may count (which senders are foreign is
// status_query_test's; here, that the system's sender reaches that check).
TEST_F(GetInfo, AForeignDatagramComesFirstButTheServersReplyIsTheResult) {
    Options options = Replying(velder::support::WorkedExampleReply());
    options.foreign = velder::ParseBytes("FF FF 'status' 00 'name' 00 'forged' 00 00 00");
    Server server;
    Start(server, options);
    Data data(server.Address());
    EXPECT_EQ(RESULT_DATA, Call(data));
    EXPECT_EQ(ShowBytes(velder::support::WorkedExampleText()), ShowBytes(data.Text()));
}

#if defined(_WIN32)
// The host's buffer ends at a page the process may not touch.
class GuardedBuffer {
  public:
    GuardedBuffer() {
        base_ = static_cast<char*>(
            VirtualAlloc(nullptr, 2 * kPage, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old = 0;
        if (base_ != nullptr && !VirtualProtect(base_ + kPage, kPage, PAGE_NOACCESS, &old)) {
            VirtualFree(base_, 0, MEM_RELEASE);
            base_ = nullptr;
        }
    }
    ~GuardedBuffer() {
        if (base_ != nullptr) {
            VirtualFree(base_, 0, MEM_RELEASE);
        }
    }
#else
class GuardedBuffer {
  public:
    GuardedBuffer() {
        void* p =
            mmap(nullptr, 2 * kPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        base_ = p == MAP_FAILED ? nullptr : static_cast<char*>(p);
        if (base_ != nullptr && mprotect(base_ + kPage, kPage, PROT_NONE) != 0) {
            munmap(base_, 2 * kPage);
            base_ = nullptr;
        }
    }
    ~GuardedBuffer() {
        if (base_ != nullptr) {
            munmap(base_, 2 * kPage);
        }
    }
#endif
    GuardedBuffer(const GuardedBuffer&) = delete;
    GuardedBuffer& operator=(const GuardedBuffer&) = delete;
    static constexpr std::size_t kPage = 4096;
    // The last `size` bytes before the guard page.
    char* End(std::size_t size) const {
        return base_ == nullptr ? nullptr : base_ + kPage - size;
    }

  private:
    char* base_ = nullptr;
};

// An argument of kDataCapacity bytes with no NUL in them, in a buffer that
// ends at a page the process may not touch: reading one byte too far crashes.
TEST_F(GetInfo, ArgumentFillingTheWholeBufferIsReadWithinIt) {
    static_assert(kDataCapacity <= GuardedBuffer::kPage);
    struct Argument {
        const char* label;
        std::size_t colon;  // position of the one colon; kDataCapacity: none
    };
    const Argument arguments[] = {
        {"no colon", kDataCapacity},
        {"colon after a host part too long", 2000},
        {"colon as the last byte", kDataCapacity - 1},
    };
    GuardedBuffer buffer;
    char* data = buffer.End(kDataCapacity);
    ASSERT_NE(nullptr, data);
    for (const Argument& a : arguments) {
        std::memset(data, '7', kDataCapacity);
        if (a.colon < kDataCapacity) {
            data[a.colon] = ':';
        }
        const std::string before(data, kDataCapacity);
        EXPECT_EQ(RESULT_CONTINUE, getInfo_(nullptr, nullptr, data, nullptr, 0, 0)) << a.label;
        EXPECT_EQ(before, std::string(data, kDataCapacity)) << a.label << ": nothing written";
    }
}

// Nothing listens on the port. Windows makes the socket readable and fails
// the receive, and the library asks Linux for the same report: "9999" at
// once. Wine's Winsock does not report it: the wait runs out.
TEST_F(GetInfo, PortWhereNothingListens) {
    const std::uint16_t port = FreePort();
    ASSERT_NE(0, port);
    Data data("127.0.0.1:" + std::to_string(port));
    const auto start = Clock::now();
    const std::int32_t code = Call(data);
    const auto elapsed = Clock::now() - start;
    bool reportsRefusal = false;
#if defined(__linux__)
    reportsRefusal = true;
#elif defined(_WIN32)
    reportsRefusal = !RunningUnderWine();
#endif
    if (reportsRefusal) {
        EXPECT_EQ(RESULT_DATA, code);
        EXPECT_TRUE(data.IsUnreadable()) << "the refusal ends the wait";
    } else {
        EXPECT_EQ(RESULT_CONTINUE, code);
        EXPECT_TRUE(data.Unchanged());
        EXPECT_GE(elapsed, 645ms);
    }
}

TEST_F(GetInfo, ConcurrentCallsEachGetTheirOwnServersAnswer) {
    constexpr int kCalls = 8;
    Server servers[kCalls];
    for (int i = 0; i < kCalls; ++i) {
        Options options = Replying("server " + std::to_string(i));
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
        EXPECT_EQ("server " + std::to_string(i), data[i].Text()) << "call " << i;
        EXPECT_GE(data[i].Field(), 0) << "call " << i;
    }
}

}  // namespace
