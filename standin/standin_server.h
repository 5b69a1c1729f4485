// A stand-in Quake 4 status server for tests, benchmarks, `velder serve` and
// `velder demo`: one thread serves one or more UDP ports (127.0.0.1 unless
// told otherwise) and answers every status request (FF FF "getInfo" 00, at
// most 64 bytes) with the same reply, its challenge echoed, after a delay if
// asked; everything else is counted and dropped. The stand-in master serves
// its own requests through it. Memory stays bounded whatever arrives. Start,
// Stop and the getters may be called from any thread.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "standin/status_reply.h"

namespace velder::standin {

inline constexpr char kLoopback[] = "127.0.0.1";  // where it listens unless told otherwise

// True when `count` consecutive ports from `first` end at port 65535 or
// before; free ports (`first` 0) always fit.
inline bool PortsFit(std::uint16_t first, int count) {
    return first == 0 || first + count - 1 <= 65535;
}

// Answers waiting for their delay at most; more requests meanwhile count as limited.
inline constexpr std::size_t kPendingLimit = 4096;

// Answers a second to each source address, kept in a fixed table: a source
// whose slot another source holds this second gets none.
class RateLimit {
  public:
    explicit RateLimit(int perSecond = 0) : perSecond_(perSecond) {}
    // True when one more answer to `source` is allowed at `now`; always with no limit (0).
    bool Allow(std::uint32_t source,
               std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now());

  private:
    struct Slot {
        std::uint32_t source = 0;
        std::int64_t second = -1;
        int answers = 0;
    };
    int perSecond_;
    std::array<Slot, 1024> slots_{};
};

struct Counts {
    std::size_t received = 0;    // datagrams received
    std::size_t answered = 0;    // requests whose every answer datagram the system took whole
    std::size_t datagrams = 0;   // answer datagrams the system took whole
    std::size_t ignored = 0;     // datagrams that were not a request
    std::size_t limited = 0;     // requests over a rate, the answer limit or the queue's bound
    std::size_t sendFailed = 0;  // requests with an answer datagram the system refused or cut
};

struct Options {
    // Each status request's answer (a reply that begins as a status reply
    // carries the request's challenge); no answer at all when unset.
    std::optional<std::string> reply;
    // Or other requests: which datagrams of at most `longestRequest` bytes
    // are requests, and the datagrams that answer one.
    std::function<bool(std::string_view datagram)> isRequest;
    std::function<std::vector<Bytes>(std::string_view request)> respond;
    std::size_t longestRequest = kLongestStatusRequest;
    // Told of each datagram as it arrives, on the serving thread: which
    // server, its first longestRequest + 1 bytes, its sender (IPv4, host order).
    std::function<void(std::size_t server, std::string_view datagram, std::uint32_t address,
                       std::uint16_t port)>
        received;
    std::chrono::milliseconds delay{0};   // between a request and its answer
    std::string bindAddress = kLoopback;  // dotted IPv4
    std::uint16_t port = 0;               // the first port; 0: a free port for each
    int ports = 1;                        // consecutive ports from `port`, or free ones
    int answersPerSecond = 0;             // to one source address; 0 for no limit
    std::size_t answerLimit = 0;          // over all ports, then it stops; 0 for no limit
};

class Server {
  public:
    Server();
    ~Server();

    // Binds every port and serves them on a thread of its own. False, and
    // Error() says why, when a port cannot be opened or it already runs.
    bool Start(Options options);
    // Waits until Stop(), the answer limit, SIGINT or SIGTERM ends the serving.
    void Wait();
    // Stops serving and waits for the serving thread; counts stay readable.
    // Safe to call again, and from the serving thread.
    void Stop();

    std::uint16_t Port(int index = 0) const;  // of port `index`; 0 when it is not open
    // "ADDRESS:PORT" for GetInfo (127.0.0.1 when listening on every address).
    std::string Address(int index = 0) const;
    std::string Error() const;  // why Start failed; empty otherwise
    Counts GetCounts() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace velder::standin
