#include "standin/udp_client.h"

#if defined(_WIN32)
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace velder::standin {
namespace {

#if defined(_WIN32)
using NativeSocket = SOCKET;
constexpr NativeSocket kBadSocket = INVALID_SOCKET;
#else
using NativeSocket = int;
constexpr NativeSocket kBadSocket = -1;
#endif

// Large enough for any UDP datagram.
constexpr std::size_t kReceiveBuffer = 65536;

}  // namespace

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
    const NativeSocket s = static_cast<NativeSocket>(socket_);
    if (open_) {
#if defined(_WIN32)
        closesocket(s);
#else
        close(s);
#endif
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
        sendto(static_cast<NativeSocket>(socket_), reinterpret_cast<const char*>(bytes),
               static_cast<int>(length), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    return sent >= 0 && static_cast<std::size_t>(sent) == length;
}

std::optional<Bytes> Client::Receive(std::chrono::milliseconds timeout) {
    if (!open_) {
        return std::nullopt;
    }
    const NativeSocket s = static_cast<NativeSocket>(socket_);
#if defined(_WIN32)
    fd_set readSet;
    FD_ZERO(&readSet);
    FD_SET(s, &readSet);
    timeval limit{};
    limit.tv_sec = static_cast<long>(timeout.count() / 1000);
    limit.tv_usec = static_cast<long>(timeout.count() % 1000 * 1000);
    if (select(0, &readSet, nullptr, nullptr, &limit) <= 0) {
        return std::nullopt;
    }
#else
    pollfd entry{s, POLLIN, 0};
    if (poll(&entry, 1, static_cast<int>(timeout.count())) <= 0) {
        return std::nullopt;
    }
#endif
    Bytes buffer(kReceiveBuffer);
    const auto n = recvfrom(s, reinterpret_cast<char*>(buffer.data()),
                            static_cast<int>(buffer.size()), 0, nullptr, nullptr);
    if (n < 0) {
        return std::nullopt;
    }
    buffer.resize(static_cast<std::size_t>(n));
    return buffer;
}

}  // namespace velder::standin
