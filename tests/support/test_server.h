// A stand-in status server, or master, for a test: the stand-in on a thread
// of its own inside the test's process, with what it received kept for the
// test to read, and a sender of foreign datagrams ordered before its answer.
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
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velder::standin {
class MasterServer;
}

namespace velder::support {

struct ServerOptions {
    // Each status request's answer, its challenge echoed (empty: a 0-byte
    // datagram), or no answer at all when unset.
    std::optional<std::string> reply;
    std::chrono::milliseconds delay{0};  // between a request and its answer
    int ports = 1;                       // servers, each on a free port
    // When set: on the first datagram the servers receive, `foreign` goes to
    // its sender from another port on 127.0.0.1, before any answer can.
    std::optional<std::string> foreign;
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
    TestServer();
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
    struct Record;
    bool Started(bool started, int ports);

    // The record outlives the server: it is declared first, destroyed last.
    std::unique_ptr<Record> record_;
    std::unique_ptr<standin::MasterServer> server_;
    std::vector<std::uint16_t> ports_;
    std::string error_;
};

}  // namespace velder::support
