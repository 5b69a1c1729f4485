// The stand-in server for the library's own suites (GetInfo's and the
// script's), on plain system sockets and one thread: it runs where Asio's
// stand-in does not, 32-bit Windows programs under Wine and qemu-i386, where
// Asio's reactor crashed qemu. Same answers as standin/: the request and
// reply rules are standin/status_reply.h's.
//
// It listens on one or more UDP ports (127.0.0.1 unless told otherwise) and
// answers every status request (FF FF "getInfo" 00, at most 64 bytes) with
// the same reply, its challenge echoed, after a delay if asked; everything
// else is dropped.
// One thread serves every port and sleeps while nothing happens. Memory stays
// bounded whatever arrives: the server keeps a count, the first few datagrams
// for tests to look at, and a bounded queue of answers waiting for their time.
//
//     velder::plain::Options options;
//     options.reply = velder::standin::BuildStatusReply(velder::standin::DemoSample());
//     options.delay = std::chrono::milliseconds(40);
//     velder::plain::Server server;
//     if (!server.Start(options)) { puts(server.Error().c_str()); }
//     // ... query server.Address() ...
//     server.Stop();  // also done by the destructor
//
// All member functions may be called from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "standin/status_reply.h"

namespace velder::plain {
using namespace velder::standin;  // the reply and request rules

// Datagrams kept for Recorded(), and how many bytes of each.
inline constexpr std::size_t kRecorded = 16;
inline constexpr std::size_t kRecordedBytes = 64;

// Answers waiting for their delay at most; more requests meanwhile go unanswered.
inline constexpr std::size_t kPendingLimit = 4096;

// One received datagram.
struct Datagram {
    Bytes bytes;             // its first kRecordedBytes bytes
    std::size_t length = 0;  // its whole length
    std::string senderAddress;
    std::uint16_t senderPort = 0;
    std::uint16_t serverPort = 0;  // which of the server's ports received it
};

struct Options {
    // Each status request's answer: these bytes (empty: a 0-byte datagram;
    // they may be longer than GetInfo takes), or no answer at all when unset.
    std::optional<Bytes> reply;
    // Time between a request and its answer.
    std::chrono::milliseconds delay{0};
    // Dotted IPv4 address to bind; keep the loopback address unless the
    // server must be reached from elsewhere.
    std::string bindAddress = "127.0.0.1";
    // First UDP port; 0 lets the system choose a free port for each socket.
    std::uint16_t port = 0;
    // Servers to run: consecutive ports from `port`, or that many free ports.
    int ports = 1;
};

class Server {
  public:
    Server() = default;
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Opens and binds every port and starts answering. False when a port
    // cannot be opened or the server already runs; Error() says why.
    bool Start(Options options);
    // Stops answering and closes the ports. The count and records stay
    // readable. Safe to call more than once.
    void Stop();

    // The bound port of server `index`; 0 when it is not open (before
    // Start, after Stop or a failed Start).
    std::uint16_t Port(int index = 0) const;
    // "ADDRESS:PORT", the argument text GetInfo takes for server `index`
    // (127.0.0.1 when the server listens on every address).
    std::string Address(int index = 0) const;
    // Why Start failed; empty otherwise.
    std::string Error() const;

    // The first kRecorded datagrams received, in order of arrival.
    std::vector<Datagram> Recorded() const;

    // Block until at least `count` datagrams were received, or the time-out
    // passes. True when the count was reached.
    bool WaitForReceived(std::size_t count, std::chrono::milliseconds timeout) const;

  private:
    void Run();
    void CloseSockets();

    Options options_;
    std::vector<std::uintptr_t> sockets_;
    std::vector<std::uint16_t> ports_;
    std::uintptr_t wake_ = 0;  // a loopback socket that Stop sends to
    bool wakeOpen_ = false;
    bool socketsStarted_ = false;
    std::thread thread_;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool stopping_ = false;
    std::string error_;
    std::size_t received_ = 0;  // datagrams received
    std::vector<Datagram> recorded_;
};

}  // namespace velder::plain
