#include "tests/support/plain/plain_server.h"

#include <algorithm>
#include <deque>
#include <utility>

#include "standin/status_reply.h"
#include "tests/support/plain/native_socket.h"

#if defined(_WIN32)
// After winsock2.h, which it needs.
#include <mswsock.h>
#endif

namespace velder::plain {
using namespace velder::standin;  // the reply and request rules

namespace {

using Clock = std::chrono::steady_clock;
using native::AddressLength;
using native::kBadSocket;
using native::LastError;
using NativeSocket = native::Socket;

// An answer waiting for its time. The delay is the same for every request,
// so answers fall due in the order their requests came.
struct Pending {
    Clock::time_point due;
    std::size_t server;
    sockaddr_in to;
    Challenge challenge;  // the request's, echoed in the answer
};

bool ParseAddress(const std::string& text, sockaddr_in& address) {
    address = sockaddr_in{};
    address.sin_family = AF_INET;
    return inet_pton(AF_INET, text.c_str(), &address.sin_addr) == 1;
}

// Opens a UDP socket bound to address:port; false with `error` set when that fails.
bool OpenBound(sockaddr_in address, std::uint16_t port, NativeSocket& s, std::uint16_t& bound,
               std::string& error) {
    s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == kBadSocket) {
        error = "cannot open a UDP socket: " + LastError();
        return false;
    }
#if defined(_WIN32)
    // Windows reports an earlier answer's "port unreachable" as a failed
    // receive on this socket; a server has no use for that.
    BOOL report = FALSE;
    DWORD ignored = 0;
    WSAIoctl(s, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &ignored, nullptr, nullptr);
#endif
    address.sin_port = htons(port);
    sockaddr_in got{};
    AddressLength length = sizeof got;
    if (bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&got), &length) != 0) {
        char text[INET_ADDRSTRLEN] = "";
        inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
        error =
            "cannot bind " + std::string(text) + ":" + std::to_string(port) + ": " + LastError();
        native::Close(s);
        return false;
    }
    bound = ntohs(got.sin_port);
    return true;
}

}  // namespace

Server::~Server() {
    Stop();
}

bool Server::Start(Options options) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (thread_.joinable()) {
        error_ = "the server is already running";
        return false;
    }
    error_.clear();
    ports_.clear();
    received_ = 0;
    recorded_.clear();
    stopping_ = false;
    options_ = std::move(options);

    const auto fail = [this](const std::string& what) {
        error_ = what;
        CloseSockets();
        return false;
    };
#if defined(_WIN32)
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
        error_ = "WSAStartup failed";
        return false;
    }
    socketsStarted_ = true;
#endif
    sockaddr_in address{};
    if (!ParseAddress(options_.bindAddress, address)) {
        return fail("not a dotted IPv4 address: '" + options_.bindAddress + "'");
    }
    if (options_.ports < 1 || (options_.port != 0 && options_.port + options_.ports - 1 > 65535)) {
        return fail("cannot open " + std::to_string(options_.ports) + " ports from port " +
                    std::to_string(options_.port));
    }
    for (int i = 0; i < options_.ports; ++i) {
        const auto port = static_cast<std::uint16_t>(options_.port == 0 ? 0 : options_.port + i);
        NativeSocket s{};
        std::uint16_t bound = 0;
        if (!OpenBound(address, port, s, bound, error_)) {
            return fail(error_);
        }
        sockets_.push_back(static_cast<std::uintptr_t>(s));
        ports_.push_back(bound);
    }

    sockaddr_in loopback{};
    ParseAddress("127.0.0.1", loopback);
    NativeSocket wake{};
    std::uint16_t wakePort = 0;
    if (!OpenBound(loopback, 0, wake, wakePort, error_)) {
        return fail(error_);
    }
    wake_ = static_cast<std::uintptr_t>(wake);
    wakeOpen_ = true;
    thread_ = std::thread([this] { Run(); });
    return true;
}

void Server::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!thread_.joinable()) {
            return;
        }
        stopping_ = true;
        // A datagram to the wake socket ends the thread's wait.
        const NativeSocket wake = native::FromHandle(wake_);
        sockaddr_in self{};
        AddressLength length = sizeof self;
        getsockname(wake, reinterpret_cast<sockaddr*>(&self), &length);
        sendto(wake, "", 0, 0, reinterpret_cast<const sockaddr*>(&self), sizeof self);
    }
    thread_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    CloseSockets();
    changed_.notify_all();
}

void Server::CloseSockets() {
    for (const std::uintptr_t s : sockets_) {
        native::Close(native::FromHandle(s));
    }
    sockets_.clear();
    ports_.clear();
    if (wakeOpen_) {
        native::Close(native::FromHandle(wake_));
        wakeOpen_ = false;
    }
#if defined(_WIN32)
    if (socketsStarted_) {
        WSACleanup();
        socketsStarted_ = false;
    }
#endif
}

std::uint16_t Server::Port(int index) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return index >= 0 && static_cast<std::size_t>(index) < ports_.size() ? ports_[index] : 0;
}

std::string Server::Address(int index) const {
    std::string host;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        host = options_.bindAddress == "0.0.0.0" ? "127.0.0.1" : options_.bindAddress;
    }
    return host + ":" + std::to_string(Port(index));
}

std::string Server::Error() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
}

std::vector<Datagram> Server::Recorded() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return recorded_;
}

bool Server::WaitForReceived(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return received_ >= count; });
}

void Server::Run() {
    // The wake socket last, after one entry per server.
    std::vector<native::PollEntry> entries(sockets_.size() + 1);
    for (std::size_t i = 0; i < sockets_.size(); ++i) {
        entries[i].fd = native::FromHandle(sockets_[i]);
        entries[i].events = POLLIN;
    }
    entries.back().fd = native::FromHandle(wake_);
    entries.back().events = POLLIN;

    std::deque<Pending> pending;
    Bytes buffer(65536, '\0');  // any UDP datagram fits
    Bytes reply;                // the answer being sent

    for (;;) {
        int wait = -1;
        if (!pending.empty()) {
            const auto untilDue =
                std::chrono::ceil<std::chrono::milliseconds>(pending.front().due - Clock::now());
            wait = static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, untilDue.count()));
        }
        native::Poll(entries.data(), entries.size(), wait);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) {
                return;
            }
        }

        // Send what is due.
        while (!pending.empty() && pending.front().due <= Clock::now()) {
            const Pending answer = pending.front();
            pending.pop_front();
            reply = *options_.reply;
            EchoChallenge(reply, answer.challenge);
            sendto(native::FromHandle(sockets_[answer.server]), reply.data(),
                   static_cast<int>(reply.size()), 0, reinterpret_cast<const sockaddr*>(&answer.to),
                   sizeof answer.to);
        }

        // Read one datagram from each server that has one.
        for (std::size_t i = 0; i + 1 < entries.size(); ++i) {
            if ((entries[i].revents & POLLIN) == 0) {
                continue;
            }
            entries[i].revents = 0;
            sockaddr_in from{};
            AddressLength fromLength = sizeof from;
            const auto n = recvfrom(entries[i].fd, buffer.data(), static_cast<int>(buffer.size()),
                                    0, reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (n < 0) {
                continue;
            }
            const auto length = static_cast<std::size_t>(n);
            const Clock::time_point now = Clock::now();
            const std::string_view datagram(buffer.data(), length);
            if (IsStatusRequest(datagram) && options_.reply && pending.size() < kPendingLimit) {
                pending.push_back(
                    Pending{now + options_.delay, i, from, RequestChallenge(datagram)});
            }

            std::lock_guard<std::mutex> lock(mutex_);
            ++received_;
            if (recorded_.size() < kRecorded) {
                Datagram d;
                d.bytes.assign(buffer.data(), std::min(length, kRecordedBytes));
                d.length = length;
                char text[INET_ADDRSTRLEN] = "";
                inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
                d.senderAddress = text;
                d.senderPort = ntohs(from.sin_port);
                d.serverPort = ports_[i];
                recorded_.push_back(std::move(d));
            }
            changed_.notify_all();
        }
    }
}

}  // namespace velder::plain
