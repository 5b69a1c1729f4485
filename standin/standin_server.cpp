#include "standin/standin_server.h"

#include <asio.hpp>
#include <csignal>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/program.h"
#include "standin/status_reply.h"

namespace velder::standin {
namespace {

using Clock = std::chrono::steady_clock;
using asio::ip::udp;

// A request waiting for its answer. The delay is the same for every request,
// so answers fall due in the order their requests came.
struct Pending {
    Clock::time_point due;
    std::size_t server;
    udp::endpoint to;
    Bytes request;  // at most the longest request
};

// A port the server listens on, with room for the longest request and a byte
// more: a longer datagram arrives cut, and is no request.
struct Listener {
    Listener(asio::io_context& io, std::size_t longestRequest)
        : socket(io), buffer(longestRequest + 1) {}
    udp::socket socket;
    udp::endpoint from;
    std::vector<char> buffer;
};

}  // namespace

bool RateLimit::Allow(std::uint32_t source, Clock::time_point now) {
    const std::int64_t second =
        std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
    Slot& slot = slots_[(source * 2654435761u) >> 22];
    if (slot.second != second) {
        slot = Slot{source, second, 0};
    }
    return perSecond_ <= 0 || (slot.source == source && slot.answers++ < perSecond_);
}

struct Server::Impl {
    asio::io_context io{1};
    Options options;
    std::deque<Listener> listeners;  // stay in place as more are added
    std::thread thread;
    std::deque<Pending> pending;
    asio::steady_timer timer{io};
    RateLimit limit;
    std::size_t scheduled = 0;  // answers sent or waiting

    mutable std::mutex mutex;  // guards what other threads read
    std::vector<std::uint16_t> ports;
    std::string error;
    Counts counts;

    std::size_t Count(std::size_t Counts::*count) {
        std::lock_guard<std::mutex> lock(mutex);
        return ++(counts.*count);
    }

    void Receive(std::size_t server) {
        Listener& port = listeners[server];
        const auto received = [this, server](asio::error_code ec, std::size_t length) {
            if (server >= listeners.size()) {
                return;  // completed as the last run stopped; its port is closed
            }
            // Windows reports a datagram cut to the buffer as an error.
            if (!ec || ec == asio::error::message_size) {
                Take(server, ec ? listeners[server].buffer.size() : length);
            }
            if (ec != asio::error::operation_aborted) {
                Receive(server);
            }
        };
        port.socket.async_receive_from(asio::buffer(port.buffer), port.from, received);
    }

    void Take(std::size_t server, std::size_t length) {
        const std::string_view datagram(listeners[server].buffer.data(), length);
        const udp::endpoint& from = listeners[server].from;
        const Clock::time_point now = Clock::now();
        if (options.received) {
            options.received(server, datagram, from.address().to_v4().to_uint(), from.port());
        }
        Count(&Counts::received);
        if (length > options.longestRequest || !options.isRequest(datagram)) {
            Count(&Counts::ignored);
        } else if (options.respond &&
                   (pending.size() >= kPendingLimit ||
                    (options.answerLimit != 0 && scheduled >= options.answerLimit) ||
                    !limit.Allow(from.address().to_v4().to_uint(), now))) {
            Count(&Counts::limited);
        } else if (options.respond) {
            ++scheduled;
            pending.push_back({now + options.delay, server, from, Bytes(datagram)});
            if (pending.size() == 1) {
                Wake();
            }
        }
    }

    // Sends the answers that are due, then waits for the next one.
    void Wake() {
        timer.expires_at(pending.front().due);
        timer.async_wait([this](asio::error_code ec) {
            while (!ec && !pending.empty() && pending.front().due <= Clock::now()) {
                const Pending due = std::move(pending.front());
                pending.pop_front();
                bool whole = true;
                for (const Bytes& datagram : options.respond(due.request)) {
                    asio::error_code sendError;
                    const std::size_t sent = listeners[due.server].socket.send_to(
                        asio::buffer(datagram), due.to, 0, sendError);
                    if (!sendError && sent == datagram.size()) {
                        Count(&Counts::datagrams);
                    } else {
                        whole = false;
                    }
                }
                if (!whole) {
                    Count(&Counts::sendFailed);
                } else if (Count(&Counts::answered) == options.answerLimit) {
                    return io.stop();
                }
            }
            if (!ec && !pending.empty()) {
                Wake();
            }
        });
    }

    void Close() {
        timer.cancel();
        listeners.clear();
        pending.clear();
        std::lock_guard<std::mutex> lock(mutex);
        ports.clear();
    }
};

Server::Server() : impl_(std::make_unique<Impl>()) {}

Server::~Server() {
    Stop();
}

bool Server::Start(Options options) {
    Impl& s = *impl_;
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.listeners.empty() || s.thread.joinable()) {
        s.error = "the server is already running";
        return false;
    }
    s.error.clear();
    s.counts = Counts{};
    s.scheduled = 0;
    s.options = std::move(options);
    Options& o = s.options;
    s.limit = RateLimit(o.answersPerSecond);
    if (!o.isRequest) {
        o.isRequest = IsStatusRequest;
    }
    if (!o.respond && o.reply) {
        o.respond = [reply = *o.reply](std::string_view request) {
            std::vector<Bytes> answer{reply};
            EchoChallenge(answer.front(), RequestChallenge(request));
            return answer;
        };
    }
    // What the last run left undone runs now, while no port is open.
    s.io.restart();
    s.io.poll();
    s.io.restart();

    asio::error_code ec;
    const asio::ip::address_v4 address = asio::ip::make_address_v4(o.bindAddress, ec);
    const std::string ports = std::to_string(o.ports);
    if (ec) {
        s.error = "not a dotted IPv4 address: '" + o.bindAddress + "'";
    } else if (o.ports < 1 || !PortsFit(o.port, o.ports)) {
        s.error = "cannot open " + ports + " ports from port " + std::to_string(o.port);
    } else if (const unsigned long long allowed = platform::RaiseOpenFileLimit();
               allowed != 0 && allowed < o.ports + 16ull) {
        // Each server is a socket, beside the files every program has open.
        s.error = ports + " servers need about " + std::to_string(o.ports + 16) +
                  " open files; this system allows " + std::to_string(allowed) + " (ulimit -Hn)";
    }
    for (int i = 0; s.error.empty() && i < o.ports; ++i) {
        const auto port = static_cast<std::uint16_t>(o.port == 0 ? 0 : o.port + i);
        udp::socket& socket = s.listeners.emplace_back(s.io, o.longestRequest).socket;
        socket.open(udp::v4(), ec);
        if (!ec) {
            socket.bind({address, port}, ec);
        }
        if (ec) {
            s.error =
                "cannot bind " + o.bindAddress + ":" + std::to_string(port) + ": " + ec.message();
            s.listeners.clear();
            s.ports.clear();
            return false;
        }
        s.ports.push_back(socket.local_endpoint().port());
    }
    if (!s.error.empty()) {
        return false;
    }
    for (std::size_t i = 0; i < s.listeners.size(); ++i) {
        s.Receive(i);
    }
    s.thread = std::thread([&s] {
        s.io.run();
        s.Close();
    });
    return true;
}

void Server::Wait() {
    asio::signal_set interrupts(impl_->io, SIGINT, SIGTERM);
    interrupts.async_wait([this](asio::error_code ec, int) {
        if (!ec) {
            Stop();
        }
    });
    if (impl_->thread.joinable()) {
        impl_->thread.join();
    }
}

void Server::Stop() {
    impl_->io.stop();
    if (impl_->thread.joinable() && impl_->thread.get_id() != std::this_thread::get_id()) {
        impl_->thread.join();
    }
    if (!impl_->thread.joinable()) {
        impl_->Close();
    }
}

std::uint16_t Server::Port(int index) const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    const std::vector<std::uint16_t>& ports = impl_->ports;
    return index >= 0 && static_cast<std::size_t>(index) < ports.size() ? ports[index] : 0;
}

std::string Server::Address(int index) const {
    const std::string port = std::to_string(Port(index));
    std::lock_guard<std::mutex> lock(impl_->mutex);
    const std::string& bind = impl_->options.bindAddress;
    return (bind == "0.0.0.0" ? std::string(kLoopback) : bind) + ":" + port;
}

std::string Server::Error() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->error;
}

Counts Server::GetCounts() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->counts;
}

}  // namespace velder::standin
