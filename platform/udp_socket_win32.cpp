// Winsock 1.1, as wsock32.dll offers it on every Windows since 95.
#include <winsock.h>

#include <cstring>

#include "platform/udp_socket.h"

namespace velder::platform {

bool StartSockets() {
    WSADATA wsa;
    return WSAStartup(0x0101, &wsa) == 0;
}

void StopSockets() {
    WSACleanup();
}

bool OpenUdpSocket(SocketHandle* socket) {
    const SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) {
        return false;
    }
    *socket = s;
    return true;
}

bool LookUpHost(const char* name, Ipv4Address* address) {
    if (name[0] == '\0') {
        return false;
    }
    const hostent* entry = gethostbyname(name);
    if (entry == nullptr) {
        return false;
    }
    std::memcpy(address->bytes, entry->h_addr_list[0], sizeof address->bytes);
    return true;
}

void SendDatagram(SocketHandle s, const unsigned char* bytes, std::size_t length,
                  const Ipv4Address& address, std::uint16_t port) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    std::memcpy(&to.sin_addr, address.bytes, sizeof address.bytes);
    sendto(static_cast<SOCKET>(s), reinterpret_cast<const char*>(bytes), static_cast<int>(length),
           0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

int WaitReadable(SocketHandle s, std::uint32_t milliseconds) {
    fd_set readSet;
    FD_ZERO(&readSet);
    FD_SET(static_cast<SOCKET>(s), &readSet);
    timeval limit;
    limit.tv_sec = static_cast<long>(milliseconds / 1000);
    limit.tv_usec = static_cast<long>(milliseconds % 1000 * 1000);
    // Winsock ignores the descriptor count; it is given as BSD sockets want it.
    const int ready = select(static_cast<int>(s + 1), &readSet, nullptr, nullptr, &limit);
    if (ready <= 0) {
        return ready;
    }
    return FD_ISSET(static_cast<SOCKET>(s), &readSet) ? ready : 0;
}

std::int32_t ReceiveDatagram(SocketHandle s, unsigned char* buffer, std::size_t capacity,
                             Sender* sender) {
    *sender = Sender{};
    sockaddr_in from{};
    int fromLength = sizeof from;
    // A datagram longer than the buffer fails with WSAEMSGSIZE; its sender
    // is known when Winsock filled the address in. A "port unreachable"
    // fails the receive (WSAECONNRESET) with no sender.
    const int n =
        recvfrom(static_cast<SOCKET>(s), reinterpret_cast<char*>(buffer),
                 static_cast<int>(capacity), 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (fromLength >= static_cast<int>(sizeof from) && from.sin_family == AF_INET) {
        sender->known = true;
        std::memcpy(sender->address.bytes, &from.sin_addr, sizeof sender->address.bytes);
        sender->port = ntohs(from.sin_port);
    }
    return n < 0 ? -1 : n;
}

void CloseSocket(SocketHandle s) {
    closesocket(static_cast<SOCKET>(s));
}

}  // namespace velder::platform
