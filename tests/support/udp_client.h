// A plain UDP client socket on loopback, for talking to a stand-in server
// (or to GetInfo's socket) without the library: tests and benchmarks use it
// to send requests of their own and to measure a bare round trip.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace velder::support {

class Client {
  public:
    // Opens a UDP socket, bound to `bindAddress` (a dotted loopback address
    // such as "127.0.0.2") on a free port when given; Ready() tells whether
    // that worked.
    explicit Client(const char* bindAddress = nullptr);
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool Ready() const;
    // Sends one datagram to address:port (a dotted address). True when the
    // whole datagram was handed to the system.
    bool SendTo(const char* address, std::uint16_t port, const std::string& bytes);
    // The same to 127.0.0.1:port.
    bool Send(std::uint16_t port, const std::string& bytes);
    // Receives one datagram, waiting at most `timeout`; std::nullopt when
    // none came or the receive failed.
    std::optional<std::string> Receive(std::chrono::milliseconds timeout);
    // Receives until `most` datagrams came or none came for `gap`; how many came.
    int ReceiveUpTo(int most, std::chrono::milliseconds gap);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace velder::support
