#include "standin/standin_server.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "standin/native_socket.h"

#if defined(_WIN32)
// After winsock2.h, which it needs.
#include <mswsock.h>
#endif

namespace velder::standin {
namespace {

using Clock = std::chrono::steady_clock;

// How long one wait for a datagram lasts at most, so that Stop is noticed.
constexpr std::chrono::milliseconds kPollSlice{20};

using native::AddressLength;
using native::kBadSocket;
using native::kReceiveBuffer;
using native::LastError;
using native::WaitReadable;
using NativeSocket = native::Socket;

struct Pending {
    Clock::time_point due;
    sockaddr_in to;
    Bytes bytes;
    int copies;
    Datagram request;
};

}  // namespace

bool IsStatusRequest(const Bytes& datagram) {
    return datagram.size() >= sizeof kStatusRequest &&
           std::equal(std::begin(kStatusRequest), std::end(kStatusRequest), datagram.begin());
}

Server::~Server() {
    Stop();
}

bool Server::Start(Options options) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (running_ || thread_.joinable()) {
        error_ = "the server is already running";
        return false;
    }
    error_.clear();
    received_.clear();
    answers_ = 0;
    stopping_ = false;
    options_ = std::move(options);

#if defined(_WIN32)
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
        error_ = "WSAStartup failed";
        return false;
    }
    socketsStarted_ = true;
#endif
    auto fail = [this](const std::string& what) {
        error_ = what;
        ReleaseSockets();
        return false;
    };

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(options_.port);
    if (inet_pton(AF_INET, options_.bindAddress.c_str(), &address.sin_addr) != 1) {
        return fail("not a dotted IPv4 address: '" + options_.bindAddress + "'");
    }
    const NativeSocket s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == kBadSocket) {
        return fail("cannot open a UDP socket: " + LastError());
    }
    socket_ = static_cast<std::uintptr_t>(s);
    socketOpen_ = true;
#if defined(_WIN32)
    // Windows reports an earlier answer's "port unreachable" as a failed
    // receive on this socket; a server has no use for that.
    BOOL report = FALSE;
    DWORD ignored = 0;
    WSAIoctl(s, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &ignored, nullptr, nullptr);
#endif
    if (bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return fail("cannot bind " + options_.bindAddress + ":" + std::to_string(options_.port) +
                    ": " + LastError());
    }
    sockaddr_in bound{};
    AddressLength length = sizeof bound;
    if (getsockname(s, reinterpret_cast<sockaddr*>(&bound), &length) != 0) {
        return fail("cannot read the bound port: " + LastError());
    }
    port_ = ntohs(bound.sin_port);
    running_ = true;
    thread_ = std::thread([this] { Run(); });
    return true;
}

void Server::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    if (thread_.joinable()) {
        thread_.join();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    ReleaseSockets();
    running_ = false;
    changed_.notify_all();
}

void Server::ReleaseSockets() {
    if (socketOpen_) {
        native::Close(native::FromHandle(socket_));
        socketOpen_ = false;
    }
#if defined(_WIN32)
    if (socketsStarted_) {
        WSACleanup();
        socketsStarted_ = false;
    }
#endif
}

bool Server::Running() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return running_;
}

std::uint16_t Server::Port() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return port_;
}

std::string Server::Address() const {
    return "127.0.0.1:" + std::to_string(Port());
}

std::string Server::Error() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
}

std::vector<Datagram> Server::Received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

std::size_t Server::ReceivedCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_.size();
}

std::size_t Server::AnswerCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return answers_;
}

bool Server::WaitForReceived(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return received_.size() >= count; });
}

bool Server::WaitForAnswers(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return answers_ >= count; });
}

void Server::Run() {
    const NativeSocket s = native::FromHandle(socket_);
    std::vector<Pending> pending;
    std::size_t scheduled = 0;  // answers sent or waiting to be sent
    Bytes buffer(kReceiveBuffer);
    const Bytes oversized(kOversizedLength, 'x');

    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) {
                return;
            }
        }

        // Send what is due, oldest first.
        const Clock::time_point now = Clock::now();
        std::stable_sort(pending.begin(), pending.end(),
                         [](const Pending& a, const Pending& b) { return a.due < b.due; });
        while (!pending.empty() && pending.front().due <= now) {
            Pending answer = std::move(pending.front());
            pending.erase(pending.begin());
            for (int i = 0; i < answer.copies; ++i) {
                sendto(s, reinterpret_cast<const char*>(answer.bytes.data()),
                       static_cast<int>(answer.bytes.size()), 0,
                       reinterpret_cast<const sockaddr*>(&answer.to), sizeof answer.to);
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                ++answers_;
            }
            changed_.notify_all();
            if (options_.onAnswered) {
                options_.onAnswered(answer.request, answer.bytes);
            }
        }

        std::chrono::microseconds wait = kPollSlice;
        if (!pending.empty()) {
            const auto untilDue = std::chrono::duration_cast<std::chrono::microseconds>(
                pending.front().due - Clock::now());
            wait = std::clamp(untilDue, std::chrono::microseconds(0),
                              std::chrono::microseconds(kPollSlice));
        }
        if (!WaitReadable(s, wait)) {
            continue;
        }

        sockaddr_in from{};
        AddressLength fromLength = sizeof from;
        const auto n =
            recvfrom(s, reinterpret_cast<char*>(buffer.data()), static_cast<int>(buffer.size()), 0,
                     reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 0) {
            continue;
        }
        Datagram datagram;
        datagram.receivedAt = Clock::now();
        datagram.bytes.assign(buffer.begin(), buffer.begin() + n);
        char text[INET_ADDRSTRLEN] = "";
        inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
        datagram.senderAddress = text;
        datagram.senderPort = ntohs(from.sin_port);

        Pending answer{datagram.receivedAt + options_.delay, from, {}, 1, {}};
        bool answering = scheduled < options_.answerLimit && options_.answer != Answer::kSilent &&
                         (!options_.statusRequestsOnly || IsStatusRequest(datagram.bytes));
        if (answering) {
            switch (options_.answer) {
                case Answer::kEmpty:
                    break;
                case Answer::kOversized:
                    answer.bytes = oversized;
                    break;
                case Answer::kReply:
                case Answer::kTwice:
                case Answer::kSilent:
                    if (options_.produce) {
                        std::optional<Bytes> produced = options_.produce(datagram);
                        answering = produced.has_value();
                        if (answering) {
                            answer.bytes = std::move(*produced);
                        }
                    } else {
                        answer.bytes = options_.reply;
                    }
                    answer.copies = options_.answer == Answer::kTwice ? 2 : 1;
                    break;
            }
        }
        datagram.answered = answering;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            received_.push_back(datagram);
        }
        changed_.notify_all();
        if (options_.onReceived) {
            options_.onReceived(datagram);
        }
        if (answering) {
            ++scheduled;
            answer.request = std::move(datagram);
            pending.push_back(std::move(answer));
        }
    }
}

}  // namespace velder::standin
