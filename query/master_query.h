// Asking a master server for its list: a getServers request (sent again
// while nothing comes back, if asked to), then reply datagrams read until
// the master falls quiet. Each server is handed on
// once, in arrival order; everything else a datagram may hold is dropped
// and counted.
#pragma once

#include <cstddef>
#include <cstdint>

#include "query/master_list.h"
#include "query/network_ops.h"

namespace velder {

// No master sends this many servers; past it the list is cut.
inline constexpr std::size_t kMostListedServers = 65536;

// The seen-check: open addressing over twice the most servers kept, so
// that a probe always meets an empty slot soon. The caller provides it
// (1 MiB), zeroed or not: the fetch clears it.
inline constexpr std::size_t kSeenSlots = 2 * kMostListedServers;
struct SeenServers {
    std::uint64_t slots[kSeenSlots];
};

// Adds `entry` to `seen` as the fetch does for each server it hands on, so
// that lists fetched apart can be merged with one check: false when it was
// there already. Clear `seen` (zeroes) first; it holds at most
// kMostListedServers entries, none with port 0 (the fetch drops those).
bool NoteServer(SeenServers& seen, const ServerEntry& entry);

// How long the fetch waits, in milliseconds.
struct MasterWait {
    std::uint32_t first = 2000;     // for the first reply datagram, after each request
    std::uint32_t quiet = 1000;     // after the last reply datagram
    std::uint32_t overall = 15000;  // for everything, however the master keeps sending
    std::uint32_t requests = 1;  // sent `first` apart until a reply comes (a datagram may be lost)
};

// Where each new server goes. False stops the fetch (kSinkRefused).
struct ServerSink {
    void* context;
    bool (*take)(void* context, const ServerEntry& entry);
};

enum class ListOutcome {
    kListed,       // the master answered: `servers` went to the sink (maybe 0)
    kNoAnswer,     // no reply datagram from the master that could be read
    kNoHost,       // the master's name could not be looked up
    kNoSocket,     // the socket layer or a socket was not to be had
    kSinkRefused,  // the sink said stop
};

// What the fetch saw.
struct ListTally {
    std::size_t servers = 0;     // handed to the sink
    std::size_t datagrams = 0;   // reply datagrams from the master that could be read
    std::size_t foreign = 0;     // datagrams from anyone but the master
    std::size_t malformed = 0;   // from the master, but no whole reply
    std::size_t failed = 0;      // receives that failed: a closed port, a datagram too long
    std::size_t portZero = 0;    // entries naming port 0
    std::size_t duplicates = 0;  // entries already handed on
    std::size_t cut = 0;         // new entries past kMostListedServers
};

// Looks `host` up, sends it the request for `filter` at `port`, and reads
// replies: at most `wait.first` ms for the first (up to `wait.requests`
// times, the request sent again each time), then until `wait.quiet`
// ms pass without one, never longer than `wait.overall` ms in all. Only
// datagrams from the master's address and port count towards the waits.
// The socket layer is stopped and the socket closed whatever the outcome.
ListOutcome FetchServerList(const char* host, std::uint16_t port, const ServersFilter& filter,
                            const MasterWait& wait, SeenServers& seen, const ServerSink& sink,
                            ListTally& tally, const NetworkOps& ops);
// The same on the system's sockets and clock.
ListOutcome FetchServerList(const char* host, std::uint16_t port, const ServersFilter& filter,
                            const MasterWait& wait, SeenServers& seen, const ServerSink& sink,
                            ListTally& tally);

}  // namespace velder
