#include "tests/support/plain/plain_client.h"

#include "tests/support/plain/native_socket.h"

namespace velder::plain {
using namespace velder::standin;  // the reply and request rules

using native::kBadSocket;
using NativeSocket = native::Socket;

Client::Client(const char* bindAddress) {
#if defined(_WIN32)
    WSADATA wsa;
    socketsStarted_ = WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
    if (!socketsStarted_) {
        return;
    }
#endif
    const NativeSocket s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == kBadSocket) {
        return;
    }
    socket_ = static_cast<std::uintptr_t>(s);
    created_ = true;
    open_ = true;
    if (bindAddress != nullptr) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        open_ = inet_pton(AF_INET, bindAddress, &local.sin_addr) == 1 &&
                bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
    }
}

Client::~Client() {
    if (created_) {
        native::Close(native::FromHandle(socket_));
    }
#if defined(_WIN32)
    if (socketsStarted_) {
        WSACleanup();
    }
#endif
}

bool Client::SendTo(const char* address, std::uint16_t port, const Bytes& bytes) {
    if (!open_) {
        return false;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    if (inet_pton(AF_INET, address, &to.sin_addr) != 1) {
        return false;
    }
    const auto sent =
        sendto(native::FromHandle(socket_), bytes.data(), static_cast<int>(bytes.size()), 0,
               reinterpret_cast<const sockaddr*>(&to), sizeof to);
    return sent >= 0 && static_cast<std::size_t>(sent) == bytes.size();
}

std::optional<Bytes> Client::Receive(std::chrono::milliseconds timeout) {
    if (!open_) {
        return std::nullopt;
    }
    const NativeSocket s = native::FromHandle(socket_);
    if (!native::WaitReadable(s, timeout)) {
        return std::nullopt;
    }
    Bytes buffer(65536, '\0');  // any UDP datagram fits
    const auto n = recvfrom(s, buffer.data(), static_cast<int>(buffer.size()), 0, nullptr, nullptr);
    if (n < 0) {
        return std::nullopt;
    }
    buffer.resize(static_cast<std::size_t>(n));
    return buffer;
}

}  // namespace velder::plain
