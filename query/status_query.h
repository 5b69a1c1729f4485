// GetInfo's work: one status request to one game server, and its answer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/udp_socket.h"

namespace velder {

// How a query ended.
enum class QueryOutcome {
    kNoResult,    // `data` is unchanged
    kUnreadable,  // the server's answer could not be read: `data` is "9999"
    kAnswered,    // `data` holds the round-trip time and the transcribed reply
};

// The socket layer and clock a query runs on. The library always uses the
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

// True when a datagram came from `address` and `port`.
bool CameFrom(const platform::Sender& sender, const platform::Ipv4Address& address,
              std::uint16_t port);

// Reads "host:port" from `data`, a buffer of `capacity` bytes, sends the
// server the status request twice, waits at most 650 ms from the first send
// for the server's reply and writes over `data` the round-trip time in four
// digits followed by the transcribed reply. The argument text is read only
// within the capacity, NUL or not.
//
//   socket layer or socket not available,
//   no colon, host part of 1024 bytes or more,
//   no such host, no reply in 650 ms        -> kNoResult
//   the receive failed, gave 0 bytes or
//   more than 10240                         -> kUnreadable
//   a reply                                 -> kAnswered
//
// Datagrams from anyone but the destination (address and port) are dropped
// and the wait goes on. The socket layer is stopped only when it started,
// and a socket that was opened is closed, whatever the outcome.
QueryOutcome QueryStatus(char* data, std::size_t capacity, const NetworkOps& ops);
// The same on the system's sockets and clock.
QueryOutcome QueryStatus(char* data, std::size_t capacity);

}  // namespace velder
