// The system's UDP sockets, reduced to what a status query needs.
//
// Windows: Winsock 1.1 (wsock32). POSIX: BSD sockets; starting and stopping
// the socket layer does nothing there.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velder::platform {

// A socket as the system names it (SOCKET on Windows, a descriptor elsewhere).
using SocketHandle = std::uintptr_t;

// An IPv4 address as four bytes in network order, as a host lookup gives it.
struct Ipv4Address {
    unsigned char bytes[4];
};

// WSAStartup asking for version 1.1 / WSACleanup.
void StartSockets();
void StopSockets();

// Opens an IPv4 UDP socket in its default (blocking) mode. A failure is not
// reported: the later calls on the socket fail instead.
SocketHandle OpenUdpSocket();

// Looks `name` up as a host name or dotted IPv4 address and gives its first
// IPv4 address. False when there is no such host. An empty name names no
// host (Winsock would answer it with this machine's own addresses).
bool LookUpHost(const char* name, Ipv4Address* address);

// Sends the datagram to address:port (port in host order).
void SendDatagram(SocketHandle socket, const unsigned char* bytes, std::size_t length,
                  const Ipv4Address& address, std::uint16_t port);

// Waits at most `milliseconds` for the socket to become readable.
// > 0: readable; 0: timed out, or the socket is not in the returned read
// set; < 0: the wait failed.
int WaitReadable(SocketHandle socket, std::uint32_t milliseconds);

// Receives one datagram into buffer[0, capacity). Returns its length, or -1
// when the receive fails, which includes a datagram longer than `capacity`.
std::int32_t ReceiveDatagram(SocketHandle socket, unsigned char* buffer, std::size_t capacity);

void CloseSocket(SocketHandle socket);

}  // namespace velder::platform
