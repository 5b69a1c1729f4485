// A stand-in Quake 4 status server for tests, benchmarks, `velder serve` and
// `velder demo`.
//
// It listens on one or more UDP ports (127.0.0.1 unless told otherwise) and
// answers every status request (FF FF "getInfo" 00, at most 64 bytes) with
// the same reply, its challenge echoed, after a delay if asked; everything
// else is counted and dropped. One thread serves every port and sleeps while
// nothing happens. Memory stays bounded whatever arrives: the server keeps
// counts and a bounded queue of answers waiting for their time.
//
//     velder::standin::Options options;
//     options.reply = velder::standin::BuildStatusReply({});
//     options.delay = std::chrono::milliseconds(40);
//     velder::standin::Server server;
//     if (!server.Start(options)) { puts(server.Error().c_str()); }
//     // ... query server.Address() ...
//     server.Stop();  // also done by the destructor
//
// Start, Stop and the getters may be called from any thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace asio {
class io_context;
}

namespace velder::standin {

// The address the stand-in listens on unless told otherwise.
inline constexpr char kLoopback[] = "127.0.0.1";

// Answers waiting for their delay at most; more requests meanwhile count as limited.
inline constexpr std::size_t kPendingLimit = 4096;

// One received datagram, as the server hands it to Options::watch.
struct Datagram {
    std::string_view bytes;  // valid during the call only
    std::string senderAddress;
    std::uint16_t senderPort = 0;
    std::uint16_t serverPort = 0;  // which of the server's ports received it
};

struct Counts {
    std::size_t received = 0;    // datagrams received
    std::size_t answered = 0;    // answers the system took whole
    std::size_t ignored = 0;     // datagrams that were not the status request
    std::size_t limited = 0;     // requests over a rate, the answer limit or the queue's bound
    std::size_t sendFailed = 0;  // answers the system refused or cut
};

struct Options {
    // Each status request's answer: these bytes (empty: a 0-byte datagram;
    // they may be longer than GetInfo takes), or no answer at all when unset.
    // A reply that begins as a status reply carries the request's challenge.
    std::optional<std::string> reply;
    // Time between a request and its answer.
    std::chrono::milliseconds delay{0};
    // Dotted IPv4 address to bind; keep the loopback address unless the
    // server must be reached from elsewhere.
    std::string bindAddress = kLoopback;
    // First UDP port; 0 lets the system choose a free port for each socket.
    std::uint16_t port = 0;
    // Servers to run: consecutive ports from `port`, or that many free ports.
    int ports = 1;
    // Answers per second for one source address; 0 for no limit.
    int answersPerSecond = 0;
    // Answers sent at most, over all ports; the server stops after the last
    // of them. 0 for no limit.
    std::size_t answerLimit = 0;
    // Called on the server's thread after the counts changed: with the
    // datagram just received, or with nullptr after an answer was sent or
    // refused. Must not call Stop.
    std::function<void(const Datagram* received)> watch;
};

class Server {
  public:
    Server();
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Opens and binds every port. False when a port cannot be opened or the
    // server is already open; Error() says why.
    bool Open(Options options);
    // Serves on the calling thread until Stop() or the answer limit, then
    // closes the ports.
    void Run();
    // Open, then Run on a thread of the server's own.
    bool Start(Options options);
    // Stops serving; waits for the server's own thread. Counts stay readable.
    // Safe to call more than once, and from a handler on the serving thread.
    void Stop();
    // The event loop Run runs, for the caller's own handlers (signals).
    asio::io_context& Context();

    // The bound port of server `index`; 0 when it is not open (before
    // Start, after Stop or a failed Start).
    std::uint16_t Port(int index = 0) const;
    // "ADDRESS:PORT", the argument text GetInfo takes for server `index`
    // (127.0.0.1 when the server listens on every address).
    std::string Address(int index = 0) const;
    // Why Open failed; empty otherwise.
    std::string Error() const;
    Counts GetCounts() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace velder::standin
