// BSD sockets. There is no socket layer to start or stop.
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "platform/udp_socket.h"

namespace velder::platform {
namespace {

int Descriptor(SocketHandle s) {
    return static_cast<int>(static_cast<std::intptr_t>(s));
}

}  // namespace

void StartSockets() {}

void StopSockets() {}

SocketHandle OpenUdpSocket() {
    int type = SOCK_DGRAM;
#ifdef SOCK_CLOEXEC
    // The host may start programs while a query runs; they get no socket.
    type |= SOCK_CLOEXEC;
#endif
    const int fd = socket(AF_INET, type, IPPROTO_UDP);
    return static_cast<SocketHandle>(static_cast<std::intptr_t>(fd));
}

bool LookUpHost(const char* name, Ipv4Address* address) {
    if (name[0] == '\0') {
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_protocol = IPPROTO_UDP;
    addrinfo* found = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &found) != 0 || found == nullptr) {
        return false;
    }
    const auto* first = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    std::memcpy(address->bytes, &first->sin_addr, sizeof address->bytes);
    freeaddrinfo(found);
    return true;
}

void SendDatagram(SocketHandle s, const unsigned char* bytes, std::size_t length,
                  const Ipv4Address& address, std::uint16_t port) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    std::memcpy(&to.sin_addr, address.bytes, sizeof address.bytes);
    sendto(Descriptor(s), bytes, length, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

int WaitReadable(SocketHandle s, std::uint32_t milliseconds) {
    pollfd entry{Descriptor(s), POLLIN, 0};
    const int ready = poll(&entry, 1, static_cast<int>(milliseconds));
    if (ready <= 0) {
        return ready;
    }
    return (entry.revents & POLLIN) != 0 ? ready : 0;
}

std::int32_t ReceiveDatagram(SocketHandle s, unsigned char* buffer, std::size_t capacity) {
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    // MSG_TRUNC makes the receive give the datagram's real length, so that
    // one longer than the buffer is seen (Winsock fails it with WSAEMSGSIZE).
    const ssize_t n = recvfrom(Descriptor(s), buffer, capacity, MSG_TRUNC,
                               reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n < 0 || static_cast<std::size_t>(n) > capacity) {
        return -1;
    }
    return static_cast<std::int32_t>(n);
}

void CloseSocket(SocketHandle s) {
    close(Descriptor(s));
}

}  // namespace velder::platform
