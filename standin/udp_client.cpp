#include "standin/udp_client.h"

#include "standin/native_socket.h"

namespace velder::standin {

using native::kBadSocket;
using NativeSocket = native::Socket;

Client::Client() {
#if defined(_WIN32)
    WSADATA wsa;
    socketsStarted_ = WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
    if (!socketsStarted_) {
        return;
    }
#endif
    const NativeSocket s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s != kBadSocket) {
        socket_ = static_cast<std::uintptr_t>(s);
        open_ = true;
    }
}

Client::~Client() {
    if (open_) {
        native::Close(native::FromHandle(socket_));
    }
#if defined(_WIN32)
    if (socketsStarted_) {
        WSACleanup();
    }
#endif
}

bool Client::Send(std::uint16_t port, const unsigned char* bytes, std::size_t length) {
    if (!open_) {
        return false;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const auto sent =
        sendto(native::FromHandle(socket_), reinterpret_cast<const char*>(bytes),
               static_cast<int>(length), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    return sent >= 0 && static_cast<std::size_t>(sent) == length;
}

std::optional<Bytes> Client::Receive(std::chrono::milliseconds timeout) {
    if (!open_) {
        return std::nullopt;
    }
    const NativeSocket s = native::FromHandle(socket_);
    if (!native::WaitReadable(s, timeout)) {
        return std::nullopt;
    }
    Bytes buffer(native::kReceiveBuffer);
    const auto n = recvfrom(s, reinterpret_cast<char*>(buffer.data()),
                            static_cast<int>(buffer.size()), 0, nullptr, nullptr);
    if (n < 0) {
        return std::nullopt;
    }
    buffer.resize(static_cast<std::size_t>(n));
    return buffer;
}

}  // namespace velder::standin
