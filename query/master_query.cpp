#include "query/master_query.h"

#include <cstring>

#include "query/protocol.h"

namespace velder {
namespace {

// A server as one number: address bytes, then port. Never 0, since port 0
// is dropped before anything is looked up.
std::uint64_t KeyOf(const ServerEntry& entry) {
    std::uint64_t key = 0;
    for (unsigned char byte : entry.address) {
        key = key << 8 | byte;
    }
    return key << 16 | entry.port;
}

std::size_t SlotOf(std::uint64_t key) {
    // Fibonacci hashing: the multiplier's high bits spread nearby addresses.
    constexpr int kSlotBits = 17;
    static_assert(std::size_t{1} << kSlotBits == kSeenSlots);
    return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15u) >> (64 - kSlotBits));
}

// True when `key` was there; otherwise it is added when `add` holds.
bool SeenBefore(SeenServers& seen, std::uint64_t key, bool add) {
    // At most kMostListedServers keys live in twice as many slots: an empty
    // slot always ends the probe.
    for (std::size_t slot = SlotOf(key);; slot = (slot + 1) % kSeenSlots) {
        if (seen.slots[slot] == key) {
            return true;
        }
        if (seen.slots[slot] == 0) {
            if (add) {
                seen.slots[slot] = key;
            }
            return false;
        }
    }
}

// Hands the datagram's new entries to the sink; false when the sink refused one.
bool TakeEntries(const unsigned char* reply, int count, SeenServers& seen, const ServerSink& sink,
                 ListTally& tally) {
    for (int i = 0; i < count; ++i) {
        const ServerEntry entry = ServerEntryAt(reply, i);
        if (entry.port == 0) {
            ++tally.portZero;
            continue;
        }
        const bool full = tally.servers >= kMostListedServers;
        if (SeenBefore(seen, KeyOf(entry), !full)) {
            ++tally.duplicates;
            continue;
        }
        if (full) {
            ++tally.cut;
            continue;
        }
        ++tally.servers;
        if (!sink.take(sink.context, entry)) {
            return false;
        }
    }
    return true;
}

ListOutcome Exchange(const char* host, std::uint16_t port, const ServersFilter& filter,
                     const MasterWait& wait, SeenServers& seen, const ServerSink& sink,
                     ListTally& tally, const NetworkOps& ops, HeldSockets& held) {
    void* const context = ops.context;
    unsigned char request[kLongestServersRequest];
    const std::size_t requestLength = BuildServersRequest(filter, request, sizeof request);
    if (requestLength == 0) {
        return ListOutcome::kNoAnswer;  // a filter text too long: nothing can be asked
    }
    held.socketsStarted = ops.startSockets(context);
    if (!held.socketsStarted) {
        return ListOutcome::kNoSocket;
    }
    platform::Ipv4Address master{};
    switch (OpenSocketFor(ops, host, held, &master)) {
        case Reach::kNoSocket:
            return ListOutcome::kNoSocket;
        case Reach::kNoHost:
            return ListOutcome::kNoHost;
        case Reach::kReady:
            break;
    }
    std::memset(seen.slots, 0, sizeof seen.slots);

    const std::uint32_t start = ops.tickMilliseconds(context);
    ops.sendDatagram(context, held.socket, request, requestLength, master, port);

    unsigned char reply[kReceiveCapacity];
    bool answered = false;
    std::uint32_t requests = 1;
    std::uint32_t last = start;  // the last request, or once answered the last reply
    for (;;) {
        // Unsigned differences: right across a wrap of the tick counter.
        const std::uint32_t now = ops.tickMilliseconds(context);
        const std::uint32_t sinceStart = now - start;
        const std::uint32_t limit = answered ? wait.quiet : wait.first;
        const std::uint32_t waited = now - last;
        if (sinceStart >= wait.overall) {
            break;
        }
        if (waited >= limit && !answered && requests < wait.requests) {
            ops.sendDatagram(context, held.socket, request, requestLength, master, port);
            ++requests;
            last = now;
            continue;
        }
        if (waited >= limit) {
            break;
        }
        std::uint32_t left = limit - waited;
        if (wait.overall - sinceStart < left) {
            left = wait.overall - sinceStart;
        }
        const int ready = ops.waitReadable(context, held.socket, left);
        if (ready < 0) {
            break;
        }
        if (ready == 0) {
            continue;  // the wait is over: the top of the loop says what next
        }
        platform::Sender sender;
        const std::int32_t length =
            ops.receiveDatagram(context, held.socket, reply, sizeof reply, &sender);
        if (!CameFrom(sender, master, port)) {
            ++tally.foreign;
            continue;
        }
        if (length < 0) {
            ++tally.failed;
            continue;
        }
        const int count = CountServerEntries(reply, static_cast<std::size_t>(length));
        if (count < 0) {
            ++tally.malformed;
            continue;
        }
        ++tally.datagrams;
        answered = true;
        last = ops.tickMilliseconds(context);
        if (!TakeEntries(reply, count, seen, sink, tally)) {
            return ListOutcome::kSinkRefused;
        }
    }
    return answered ? ListOutcome::kListed : ListOutcome::kNoAnswer;
}

}  // namespace

bool NoteServer(SeenServers& seen, const ServerEntry& entry) {
    return !SeenBefore(seen, KeyOf(entry), true);
}

ListOutcome FetchServerList(const char* host, std::uint16_t port, const ServersFilter& filter,
                            const MasterWait& wait, SeenServers& seen, const ServerSink& sink,
                            ListTally& tally, const NetworkOps& ops) {
    tally = ListTally{};
    HeldSockets held;
    const ListOutcome outcome = Exchange(host, port, filter, wait, seen, sink, tally, ops, held);
    ReleaseSockets(ops, held);
    return outcome;
}

ListOutcome FetchServerList(const char* host, std::uint16_t port, const ServersFilter& filter,
                            const MasterWait& wait, SeenServers& seen, const ServerSink& sink,
                            ListTally& tally) {
    return FetchServerList(host, port, filter, wait, seen, sink, tally, SystemNetworkOps());
}

}  // namespace velder
