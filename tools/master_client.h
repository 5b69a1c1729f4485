// Asking a master server for its list, as `velder list` and `velder browse` do.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <unordered_set>

#include "query/master_list.h"

namespace velder::tools {

// More servers than any real master lists; a longer list is cut here.
inline constexpr std::size_t kMaxListedServers = 65536;

// What a list exchange dropped and why.
struct ListCounts {
    std::size_t replies = 0;    // reply datagrams taken from the master
    std::size_t foreign = 0;    // datagrams from anyone but the master asked
    std::size_t malformed = 0;  // from the master, but not the head plus whole entries
    std::size_t portZero = 0;   // entries with port 0
    std::size_t repeated = 0;   // entries listed before
    bool cut = false;           // the list reached kMaxListedServers
};

using EntrySink = std::function<void(const ServerEntry& entry)>;

// Checks each datagram that arrives and hands on every server once, in
// arrival order. Holds at most `limit` entries.
class ListCollector {
  public:
    explicit ListCollector(std::size_t limit = kMaxListedServers) : limit_(limit) {}
    // Takes one datagram; `fromMaster` tells whether it came from the
    // master's address and port.
    void Take(const unsigned char* bytes, std::size_t length, bool fromMaster,
              const EntrySink& sink);
    const ListCounts& Counts() const { return counts_; }

  private:
    std::size_t limit_;
    std::unordered_set<std::uint64_t> seen_;
    ListCounts counts_;
};

struct ListResult {
    bool answered = false;  // the master sent at least one reply datagram
    std::string error;      // why it could not be asked (unknown host, no socket)
    ListCounts counts;
};

// Asks the master at `master` ("HOST:PORT") for the servers of `filter` and
// hands each on as it arrives. The request goes out up to three times while
// no reply came, `quiet` apart; the list ends when nothing arrived for
// `quiet` after a reply, at the cut, or after a minute in all.
ListResult FetchList(const std::string& master, const ServersFilter& filter,
                     std::chrono::milliseconds quiet, const EntrySink& sink);

// The notes for stderr that say what was dropped or cut; empty when nothing was.
std::string DroppedText(const ListCounts& counts);

}  // namespace velder::tools
