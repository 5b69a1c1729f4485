// A stand-in Quake 4 status server for tests, benchmarks and demonstrations.
//
// It listens on one UDP socket (127.0.0.1 on a free port unless told
// otherwise), records every datagram it receives, and answers each one the
// way its Options say: with given bytes, after a delay, not at all, with an
// empty datagram, with a datagram too long for GetInfo's receive buffer, or
// with the same answer twice. It runs on a thread of its own inside the
// calling process and is not part of the library.
//
//     velder::standin::Options options;
//     options.reply = {0xFF, 0xFF, 's', 't', 'a', 't', 'u', 's', 0x00};
//     options.delay = std::chrono::milliseconds(40);
//     velder::standin::Server server;
//     if (!server.Start(options)) { puts(server.Error().c_str()); }
//     // ... query "127.0.0.1:" + std::to_string(server.Port()) ...
//     server.WaitForReceived(2, std::chrono::seconds(1));
//     std::vector<velder::standin::Datagram> seen = server.Received();
//     server.Stop();  // also done by the destructor
//
// All member functions may be called from any thread. The callbacks in
// Options run on the server's own thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "query/status_query.h"

namespace velder::standin {

using Bytes = std::vector<unsigned char>;

// The status request GetInfo sends, as the library defines it.
using velder::kStatusRequest;

// True when the datagram begins with the 13 bytes of kStatusRequest.
bool IsStatusRequest(const Bytes& datagram);

// One byte longer than GetInfo's receive buffer.
inline constexpr std::size_t kOversizedLength = 10241;

// How the server answers each request it decides to answer.
enum class Answer {
    kReply,      // one datagram: Options::reply, or what Options::produce returns
    kSilent,     // nothing at all
    kEmpty,      // one datagram of 0 bytes
    kOversized,  // one datagram of kOversizedLength bytes ('x' repeated)
    kTwice,      // the kReply datagram, sent two times back to back
};

// A datagram the server received.
struct Datagram {
    Bytes bytes;
    std::string senderAddress;  // dotted IPv4 address
    std::uint16_t senderPort = 0;
    std::chrono::steady_clock::time_point receivedAt;
    // Whether an answer was scheduled for it (false when filtered out, over
    // the answer limit, silent, or declined by Options::produce).
    bool answered = false;
};

inline constexpr std::size_t kNoAnswerLimit = std::numeric_limits<std::size_t>::max();

struct Options {
    Answer answer = Answer::kReply;
    // The answer's bytes for kReply and kTwice when `produce` is not set.
    Bytes reply;
    // Time between receiving a request and sending its answer. The server
    // keeps receiving (and recording) while answers wait for their time.
    std::chrono::milliseconds delay{0};
    // Dotted IPv4 address to bind; keep the loopback address in tests.
    std::string bindAddress = "127.0.0.1";
    // UDP port to bind; 0 takes a free port (read it back with Port()).
    std::uint16_t port = 0;
    // Answer only datagrams that begin with kStatusRequest; others are
    // still recorded.
    bool statusRequestsOnly = false;
    // Makes the answer for kReply and kTwice from the request, in place of
    // `reply`. std::nullopt leaves that request unanswered; an empty Bytes
    // sends a 0-byte datagram.
    std::function<std::optional<Bytes>(const Datagram& request)> produce;
    // Requests answered at most; later ones are recorded, not answered.
    // A kTwice answer counts once.
    std::size_t answerLimit = kNoAnswerLimit;
    // Called after each datagram is recorded.
    std::function<void(const Datagram& request)> onReceived;
    // Called after an answer was sent, with the request it answers and the
    // bytes sent (once per answer, also for kTwice).
    std::function<void(const Datagram& request, const Bytes& answer)> onAnswered;
};

class Server {
  public:
    Server() = default;
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Opens and binds the socket and starts answering. False when the
    // address cannot be bound or the server already runs; Error() says why.
    bool Start(Options options);
    // Stops answering, drops answers not yet sent and closes the socket.
    // What was received stays readable. Safe to call more than once.
    void Stop();

    bool Running() const;
    // The bound port (also when Options::port was 0); 0 before Start.
    std::uint16_t Port() const;
    // "127.0.0.1:<port>": the argument text GetInfo takes for this server.
    std::string Address() const;
    // Why Start failed; empty otherwise.
    std::string Error() const;

    // Every datagram received so far, in order of arrival.
    std::vector<Datagram> Received() const;
    std::size_t ReceivedCount() const;
    // Requests answered so far (sent, not merely scheduled).
    std::size_t AnswerCount() const;

    // Block until at least `count` datagrams were received, or answers
    // were sent, or the time-out passes. True when the count was reached.
    bool WaitForReceived(std::size_t count, std::chrono::milliseconds timeout) const;
    bool WaitForAnswers(std::size_t count, std::chrono::milliseconds timeout) const;

  private:
    void Run();
    // Closes the socket and stops the socket layer, whichever is open.
    // Called with mutex_ held or before the thread starts.
    void ReleaseSockets();

    Options options_;
    std::uintptr_t socket_ = 0;
    bool socketOpen_ = false;
    bool socketsStarted_ = false;
    std::uint16_t port_ = 0;
    std::thread thread_;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool stopping_ = false;
    bool running_ = false;
    std::string error_;
    std::vector<Datagram> received_;
    std::size_t answers_ = 0;
};

}  // namespace velder::standin
