// A plain UDP client socket on loopback, for talking to a stand-in server
// (or to GetInfo's socket) without the library: tests and benchmarks use it
// to send requests of their own and to measure a bare round trip.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include "tests/support/plain/plain_server.h"

namespace velder::plain {
using namespace velder::standin;  // the reply and request rules

class Client {
  public:
    // Opens a UDP socket, bound to `bindAddress` (a dotted loopback address
    // such as "127.0.0.2") on a free port when given; Ready() tells whether
    // that worked.
    explicit Client(const char* bindAddress = nullptr);
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool Ready() const { return open_; }
    // Sends one datagram to address:port (a dotted loopback address). True
    // when the whole datagram was handed to the system.
    bool SendTo(const char* address, std::uint16_t port, const Bytes& bytes);
    // The same to 127.0.0.1:port.
    bool Send(std::uint16_t port, const Bytes& bytes) { return SendTo("127.0.0.1", port, bytes); }
    // Receives one datagram, waiting at most `timeout`; std::nullopt when
    // none came or the receive failed.
    std::optional<Bytes> Receive(std::chrono::milliseconds timeout);

  private:
    std::uintptr_t socket_ = 0;
    bool created_ = false;  // the socket exists and must be closed
    bool open_ = false;     // and is ready for use
    bool socketsStarted_ = false;
};

}  // namespace velder::plain
