// A stand-in status server, or master, for a test, run by the velder_test_servers
// program (tests/support/test_servers_main.cpp) outside the test's process:
// the test process holds no server thread, which 32-bit Wine under
// qemu-i386 does not survive beside GetInfo. Every call talks to that
// program on the calling thread, over loopback through the library's own
// socket layer (platform/udp_socket.h), and waits for its answer.
//
// The control port is read from the file ctest's test_servers fixture
// writes (VELDER_TEST_SERVERS_FILE). Requests are one datagram:
// "SEQ VERB ARGS" and, after a newline, the bytes a start needs (a master's:
// its servers, one A.B.C.D:PORT a line); answers
// are "SEQ ok ..." or "SEQ error WHY".
//
//     velder::support::TestServer server;
//     velder::support::ServerOptions options;
//     options.reply = velder::standin::BuildStatusReply(velder::standin::DemoSample());
//     ASSERT_TRUE(server.Start(options)) << server.Error();
//     // ... query server.Address() ...
//     server.Stop();  // also done by the destructor
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velder::support {

struct ServerOptions {
    // Each status request's answer, its challenge echoed (empty: a 0-byte
    // datagram), or no answer at all when unset.
    std::optional<std::string> reply;
    std::chrono::milliseconds delay{0};  // between a request and its answer
    int ports = 1;                       // servers, each on a free port
    // When set: on the first datagram the servers receive, this many copies
    // of `foreign` go to its sender from another port on `foreignAddress`,
    // before any answer can.
    std::optional<std::string> foreign;
    int foreignCount = 1;
    std::string foreignAddress = "127.0.0.1";
};

// One received datagram.
struct Datagram {
    std::string bytes;       // its first 64 bytes
    std::size_t length = 0;  // its length, at most 65
    std::string senderAddress;
    std::uint16_t senderPort = 0;
    std::uint16_t serverPort = 0;  // which of the servers received it
};

class TestServer {
  public:
    TestServer() = default;
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    // False, and Error() says why, when the servers could not be had.
    bool Start(const ServerOptions& options);
    // A stand-in master on one port instead, listing `servers`
    // ("A.B.C.D:PORT") in that order to every list request.
    bool StartMaster(const std::vector<std::string>& servers);
    // Ends the servers; their ports close. Safe to call again.
    void Stop();

    // The port of server `index`; 0 when it is not running.
    std::uint16_t Port(int index = 0) const;
    // "127.0.0.1:PORT", the argument text GetInfo takes for server `index`.
    std::string Address(int index = 0) const;
    std::string Error() const { return error_; }

    // The first 16 datagrams received, in order of arrival.
    std::vector<Datagram> Recorded();
    // How many datagrams were received: a master's list requests.
    std::size_t Received();
    // Waits until at least `count` datagrams were received, or `timeout`
    // passed. True when the count was reached.
    bool WaitForReceived(std::size_t count, std::chrono::milliseconds timeout);

  private:
    // Sends one request and waits at most `timeout` beyond what it asks for;
    // the answer's text after "ok ", or nullopt with error_ set.
    std::optional<std::string> Ask(const std::string& request, std::chrono::milliseconds timeout);
    // Reads "ID PORT..." from a start's answer.
    bool Started(const std::optional<std::string>& answer);

    int id_ = 0;
    std::vector<std::uint16_t> ports_;
    std::string error_;
};

}  // namespace velder::support
