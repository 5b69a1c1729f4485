// BSD sockets. There is no socket layer to start or stop.
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#if defined(__linux__)
#include <linux/errqueue.h>
#endif

#include <cerrno>
#include <cstring>

#include "platform/udp_socket.h"

namespace velder::platform {
namespace {

int Descriptor(SocketHandle s) {
    return static_cast<int>(static_cast<std::intptr_t>(s));
}

// Copies an IPv4 socket address into `sender`; leaves it unknown otherwise.
void NoteSender(const sockaddr_in& from, socklen_t length, Sender* sender) {
    if (length >= static_cast<socklen_t>(sizeof from) && from.sin_family == AF_INET) {
        sender->known = true;
        std::memcpy(sender->address.bytes, &from.sin_addr, sizeof sender->address.bytes);
        sender->port = ntohs(from.sin_port);
    }
}

#if defined(__linux__)
// Takes one error off the socket's error queue (IP_RECVERR). True when there
// was one. A refused port (ECONNREFUSED) concerns the destination of the
// datagram that caused it, and `sender` names that destination, as Windows
// fails the receive for it. Any other report (a router's "host unreachable",
// say) is named after the one who sent it, at port 0, and so is never taken
// for the server's answer: Windows does not report those.
bool TakeQueuedError(int fd, Sender* sender) {
    sockaddr_in destination{};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(sock_extended_err) + sizeof(sockaddr_in))];
    msghdr message{};
    message.msg_name = &destination;
    message.msg_namelen = sizeof destination;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    if (recvmsg(fd, &message, MSG_ERRQUEUE | MSG_DONTWAIT) < 0) {
        return false;
    }
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        sock_extended_err error;
        sockaddr_in offender;
        if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_RECVERR ||
            c->cmsg_len < CMSG_LEN(sizeof error + sizeof offender)) {
            continue;
        }
        std::memcpy(&error, CMSG_DATA(c), sizeof error);
        if (error.ee_errno == ECONNREFUSED) {
            NoteSender(destination, message.msg_namelen, sender);
        } else {
            std::memcpy(&offender, CMSG_DATA(c) + sizeof error, sizeof offender);
            offender.sin_port = 0;
            NoteSender(offender, sizeof offender, sender);
        }
    }
    return true;
}
#endif

}  // namespace

bool StartSockets() {
    return true;
}

void StopSockets() {}

bool OpenUdpSocket(SocketHandle* socket) {
    int type = SOCK_DGRAM;
#ifdef SOCK_CLOEXEC
    // The host may start programs while a query runs; they get no socket.
    type |= SOCK_CLOEXEC;
#endif
    const int fd = ::socket(AF_INET, type, IPPROTO_UDP);
    if (fd < 0) {
        return false;
    }
#if defined(__linux__)
    // Without this Linux keeps "port unreachable" from an unconnected socket.
    const int on = 1;
    setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on);
#endif
    *socket = static_cast<SocketHandle>(static_cast<std::intptr_t>(fd));
    return true;
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
    // POLLERR: an error (IP_RECVERR) waits on the error queue.
    return (entry.revents & (POLLIN | POLLERR)) != 0 ? ready : 0;
}

std::int32_t ReceiveDatagram(SocketHandle s, unsigned char* buffer, std::size_t capacity,
                             Sender* sender) {
    *sender = Sender{};
#if defined(__linux__)
    if (TakeQueuedError(Descriptor(s), sender)) {
        return -1;
    }
#endif
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    // MSG_TRUNC makes the receive give the datagram's real length, so that
    // one longer than the buffer is seen (Winsock fails it with WSAEMSGSIZE).
    const ssize_t n = recvfrom(Descriptor(s), buffer, capacity, MSG_TRUNC,
                               reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n >= 0) {
        NoteSender(from, fromLength, sender);
    }
    if (n < 0 || static_cast<std::size_t>(n) > capacity) {
        return -1;
    }
    return static_cast<std::int32_t>(n);
}

void CloseSocket(SocketHandle s) {
    close(Descriptor(s));
}

}  // namespace velder::platform
