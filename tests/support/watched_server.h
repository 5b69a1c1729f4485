// The stand-in server as tests use it: a test can wait until it has
// received requests or sent answers.
#pragma once

#include <chrono>
#include <cstddef>
#include <thread>

#include "standin/standin_server.h"

namespace velder::support {

class WatchedServer : public standin::Server {
  public:
    // Waits until at least `count` datagrams were received, or answers sent,
    // or `timeout` passed. True when the count was reached.
    bool WaitForReceived(std::size_t count, std::chrono::milliseconds timeout) const {
        return WaitFor(timeout, [&] { return GetCounts().received >= count; });
    }
    bool WaitForAnswers(std::size_t count, std::chrono::milliseconds timeout) const {
        return WaitFor(timeout, [&] { return GetCounts().answered >= count; });
    }

  private:
    template <typename Done>
    static bool WaitFor(std::chrono::milliseconds timeout, Done done) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (!done() && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return done();
    }
};

}  // namespace velder::support
