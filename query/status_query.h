// GetInfo's work: one status request to one game server, and its answer.
#pragma once

#include <cstddef>

#include "query/network_ops.h"

namespace velder {

// How a query ended.
enum class QueryOutcome {
    kNoResult,    // `data` is unchanged
    kUnreadable,  // the server's answer could not be read: `data` is "9999"
    kAnswered,    // `data` holds the round-trip time and the transcribed reply
};

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
