// GetInfo's work: one status request to one game server, and its answer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/udp_socket.h"
#include "query/protocol.h"

namespace velder {

// The socket layer and clock a query runs on. The library always uses
// SystemNetworkOps(); tests pass their own to reach outcomes that real
// sockets give only by chance (a failed wait, a receive failing after the
// socket turned readable, a tick counter about to wrap). Every operation
// gets `context` as its first argument; the system operations ignore it.
struct NetworkOps {
    void* context;
    void (*startSockets)(void* context);
    void (*stopSockets)(void* context);
    platform::SocketHandle (*openSocket)(void* context);
    bool (*lookUpHost)(void* context, const char* name, platform::Ipv4Address* address);
    void (*sendDatagram)(void* context, platform::SocketHandle socket, const unsigned char* bytes,
                         std::size_t length, const platform::Ipv4Address& address,
                         std::uint16_t port);
    int (*waitReadable)(void* context, platform::SocketHandle socket, std::uint32_t milliseconds);
    std::int32_t (*receiveDatagram)(void* context, platform::SocketHandle socket,
                                    unsigned char* buffer, std::size_t capacity);
    void (*closeSocket)(void* context, platform::SocketHandle socket);
    std::uint32_t (*tickMilliseconds)(void* context);
};

// The operations of platform/udp_socket.h and platform/tick_counter.h.
const NetworkOps& SystemNetworkOps();

// Reads "host:port" from `data`, sends the server the status request twice,
// waits at most 650 ms for one reply and writes over `data` the round-trip
// time in four digits followed by the transcribed reply.
//
//   no colon, host part of 1024 bytes or more,
//   no such host, no reply in 650 ms     -> RESULT_CONTINUE, `data` unchanged
//   readable, but the receive failed,
//   gave 0 bytes or more than 10240      -> RESULT_DATA, `data` is "9999"
//   a reply                              -> RESULT_DATA, "0042" + transcription
//
// The socket layer is started and stopped once per call, and a socket that
// was opened is closed, whatever the outcome.
std::int32_t QueryStatus(char* data, const NetworkOps& ops);
std::int32_t QueryStatus(char* data);

}  // namespace velder
