// The stand-in server as tests use it: it keeps the first datagrams it
// received and lets a test wait for requests and answers.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "standin/standin_server.h"

namespace velder::support {

// Datagrams kept for Recorded(), and how many bytes of each.
inline constexpr std::size_t kRecorded = 16;
inline constexpr std::size_t kRecordedBytes = 64;

struct RecordedDatagram {
    std::string bytes;       // its first kRecordedBytes bytes
    std::size_t length = 0;  // its whole length
    std::string senderAddress;
    std::uint16_t senderPort = 0;
    std::uint16_t serverPort = 0;
};

class WatchedServer : public standin::Server {
  public:
    ~WatchedServer() { Stop(); }

    // Start with the watch installed: the server's own Start otherwise.
    bool Start(standin::Options options) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            recorded_.clear();
        }
        options.watch = [this](const standin::Datagram* received) { Saw(received); };
        return Server::Start(std::move(options));
    }

    // The first kRecorded datagrams received, in order of arrival.
    std::vector<RecordedDatagram> Recorded() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return recorded_;
    }

    // Block until at least `count` datagrams were received, or answers sent,
    // or the time-out passes. True when the count was reached.
    bool WaitForReceived(std::size_t count, std::chrono::milliseconds timeout) const {
        return WaitFor(timeout, [&] { return GetCounts().received >= count; });
    }
    bool WaitForAnswers(std::size_t count, std::chrono::milliseconds timeout) const {
        return WaitFor(timeout, [&] { return GetCounts().answered >= count; });
    }

  private:
    void Saw(const standin::Datagram* received) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (received != nullptr && recorded_.size() < kRecorded) {
            recorded_.push_back({std::string(received->bytes.substr(0, kRecordedBytes)),
                                 received->bytes.size(), received->senderAddress,
                                 received->senderPort, received->serverPort});
        }
        changed_.notify_all();
    }

    template <typename Done>
    bool WaitFor(std::chrono::milliseconds timeout, Done done) const {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, timeout, done);
    }

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<RecordedDatagram> recorded_;
};

}  // namespace velder::support
