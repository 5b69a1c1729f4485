// A plain UDP client socket on loopback, for talking to a stand-in server
// (or to GetInfo's socket) without the library: tests and benchmarks use it
// to send requests of their own and to measure a bare round trip.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include "standin/standin_server.h"

namespace velder::standin {

class Client {
  public:
    // Opens an unbound UDP socket; Ready() tells whether that worked.
    Client();
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool Ready() const { return open_; }
    // Sends one datagram to 127.0.0.1:port. True when the whole datagram
    // was handed to the system.
    bool Send(std::uint16_t port, const unsigned char* bytes, std::size_t length);
    bool Send(std::uint16_t port, const Bytes& bytes) {
        return Send(port, bytes.data(), bytes.size());
    }
    // Receives one datagram, waiting at most `timeout`; std::nullopt when
    // none came or the receive failed.
    std::optional<Bytes> Receive(std::chrono::milliseconds timeout);

  private:
    std::uintptr_t socket_ = 0;
    bool open_ = false;
    bool socketsStarted_ = false;
};

}  // namespace velder::standin
