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

// Where a received datagram, or the error a receive reported, came from.
struct Sender {
    bool known = false;  // false: the system did not say
    Ipv4Address address{};
    std::uint16_t port = 0;  // host order
};

// WSAStartup asking for version 1.1. True when the socket layer started; only
// then may StopSockets (WSACleanup) be called, once.
bool StartSockets();
void StopSockets();

// Opens an IPv4 UDP socket in its default (blocking) mode. False when the
// system gave no socket; `socket` is then not to be used or closed. On Linux
// the socket also asks for the errors that ICMP reports (IP_RECVERR), so that
// a port where nothing listens is seen as a failed receive, as on Windows.
bool OpenUdpSocket(SocketHandle* socket);

// Looks `name` up as a host name or dotted IPv4 address and gives its first
// IPv4 address. False when there is no such host. An empty name names no
// host (Winsock would answer it with this machine's own addresses). The
// lookup is the system's and may block far longer than a query's wait.
bool LookUpHost(const char* name, Ipv4Address* address);

// Sends the datagram to address:port (port in host order).
void SendDatagram(SocketHandle socket, const unsigned char* bytes, std::size_t length,
                  const Ipv4Address& address, std::uint16_t port);

// Waits at most `milliseconds` for the socket to have something to receive:
// a datagram, or (Linux) an error waiting to be read.
// > 0: ready; 0: timed out, or the socket is not in the returned set;
// < 0: the wait failed.
int WaitReadable(SocketHandle socket, std::uint32_t milliseconds);

// Receives one datagram into buffer[0, capacity) and says who sent it.
// Returns its length, or -1 when the receive fails, which includes a datagram
// longer than `capacity`. On a failure `sender` names whom it concerns when
// the system tells: the sender of an oversized datagram; on Linux, the
// destination a refused-port report names, or for any other ICMP report the
// host that sent it, at port 0.
std::int32_t ReceiveDatagram(SocketHandle socket, unsigned char* buffer, std::size_t capacity,
                             Sender* sender);

void CloseSocket(SocketHandle socket);

}  // namespace velder::platform
