// The seam between the exchanges and the system's sockets and clock.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/udp_socket.h"

namespace velder {

// The socket layer and clock a query or a list fetch runs on. The library always uses the
// system's (platform/udp_socket.h, platform/tick_counter.h); tests pass
// their own to reach outcomes that real sockets give only by chance (a
// failed start or open, a failed wait, a tick counter about to wrap). Every
// operation gets `context` as its first argument; the system's ignore it.
struct NetworkOps {
    void* context;
    bool (*startSockets)(void* context);
    void (*stopSockets)(void* context);
    bool (*openSocket)(void* context, platform::SocketHandle* socket);
    bool (*lookUpHost)(void* context, const char* name, platform::Ipv4Address* address);
    void (*sendDatagram)(void* context, platform::SocketHandle socket, const unsigned char* bytes,
                         std::size_t length, const platform::Ipv4Address& address,
                         std::uint16_t port);
    int (*waitReadable)(void* context, platform::SocketHandle socket, std::uint32_t milliseconds);
    std::int32_t (*receiveDatagram)(void* context, platform::SocketHandle socket,
                                    unsigned char* buffer, std::size_t capacity,
                                    platform::Sender* sender);
    void (*closeSocket)(void* context, platform::SocketHandle socket);
    std::uint32_t (*tickMilliseconds)(void* context);
};

// The system's socket layer and clock.
const NetworkOps& SystemNetworkOps();

// What an exchange must undo when it ends: the socket layer when it
// started, the socket when it opened. ReleaseSockets undoes it.
struct HeldSockets {
    bool socketsStarted = false;
    bool socketOpen = false;
    platform::SocketHandle socket = 0;
};
void ReleaseSockets(const NetworkOps& ops, const HeldSockets& held);

// Opens the exchange's socket (held.socketOpen says whether it did) and
// looks `host` up into `address`.
enum class Reach { kReady, kNoSocket, kNoHost };
Reach OpenSocketFor(const NetworkOps& ops, const char* host, HeldSockets& held,
                    platform::Ipv4Address* address);

// True when a datagram came from `address` and `port`.
bool CameFrom(const platform::Sender& sender, const platform::Ipv4Address& address,
              std::uint16_t port);

}  // namespace velder
