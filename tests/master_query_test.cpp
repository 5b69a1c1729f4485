// The list fetch on an injected socket layer and a virtual clock: what ends
// the wait, what is dropped and counted, and that each server comes once.
#include "query/master_query.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "query/protocol.h"
#include "tests/support/bytes.h"

namespace {

using velder::Bytes;
using velder::ListOutcome;
using velder::ParseBytes;
using velder::platform::Ipv4Address;
using velder::platform::Sender;
using velder::platform::SocketHandle;

constexpr Ipv4Address kMaster{{192, 0, 2, 9}};
constexpr std::uint16_t kPort = velder::kMasterPort;

// One datagram, `after` virtual milliseconds after the one before it (or the send).
struct Arrival {
    std::uint32_t after = 0;
    Bytes bytes;
    bool foreign = false;  // from the master's address, but another port
};

struct FakeMaster {
    bool hostExists = true;
    std::vector<Arrival> arrivals;
    // The clock starts just short of a wrap.
    std::uint32_t clock = 0xFFFFFF00u;
    std::size_t next = 0;
    std::uint32_t untilNext = 0;  // what is left of the next arrival's gap
    std::vector<Bytes> sent;
    std::vector<std::uint32_t> waits;
    std::vector<std::string> calls;
};

FakeMaster& M(void* c) {
    return *static_cast<FakeMaster*>(c);
}

velder::NetworkOps Ops(FakeMaster& master) {
    return {
        &master,
        [](void* c) { return M(c).calls.push_back("start"), true; },
        [](void* c) { M(c).calls.push_back("stop"); },
        [](void* c, SocketHandle* s) { return *s = 7, M(c).calls.push_back("open"), true; },
        [](void* c, const char*, Ipv4Address* a) {
            *a = kMaster;
            return M(c).hostExists;
        },
        [](void* c, SocketHandle, const unsigned char* bytes, std::size_t length,
           const Ipv4Address&, std::uint16_t port) {
            FakeMaster& m = M(c);
            m.sent.emplace_back(reinterpret_cast<const char*>(bytes), length);
            EXPECT_EQ(port, kPort);
            // Arrivals count from the first request: one sent again starts nothing.
            if (m.sent.size() == 1) {
                m.untilNext = m.arrivals.empty() ? 0 : m.arrivals[0].after;
            }
        },
        [](void* c, SocketHandle, std::uint32_t milliseconds) {
            FakeMaster& m = M(c);
            m.waits.push_back(milliseconds);
            if (m.next < m.arrivals.size() && m.untilNext <= milliseconds) {
                m.clock += m.untilNext;
                return 1;
            }
            m.clock += milliseconds;
            m.untilNext -= milliseconds;
            return 0;
        },
        [](void* c, SocketHandle, unsigned char* buffer, std::size_t capacity, Sender* sender) {
            FakeMaster& m = M(c);
            const Arrival& a = m.arrivals.at(m.next++);
            m.untilNext = m.next < m.arrivals.size() ? m.arrivals[m.next].after : 0;
            sender->known = true;
            sender->address = kMaster;
            sender->port = a.foreign ? kPort + 1 : kPort;
            if (a.bytes.size() > capacity) {
                return std::int32_t{-1};
            }
            std::copy(a.bytes.begin(), a.bytes.end(), buffer);
            return static_cast<std::int32_t>(a.bytes.size());
        },
        [](void* c, SocketHandle) { M(c).calls.push_back("close"); },
        [](void* c) { return M(c).clock; },
    };
}

// A reply of servers 10.<n bytes>:<port>, one per number.
Bytes Reply(const std::vector<int>& servers, std::uint16_t port = 28004) {
    Bytes reply(velder::kServersReplyHead, velder::kServersReplyHeadLength);
    for (int n : servers) {
        unsigned char entry[velder::kServerEntryLength];
        velder::WriteServerEntry(
            {{10, static_cast<unsigned char>(n >> 16), static_cast<unsigned char>(n >> 8),
              static_cast<unsigned char>(n)},
             port},
            entry);
        reply.append(reinterpret_cast<const char*>(entry), sizeof entry);
    }
    return reply;
}

struct Fetched {
    ListOutcome outcome;
    velder::ListTally tally;
    std::vector<std::string> servers;
};

Fetched Fetch(FakeMaster& master, const velder::MasterWait& wait = {}) {
    auto seen = std::make_unique<velder::SeenServers>();
    Fetched out;
    const velder::ServerSink sink{&out.servers, [](void* c, const velder::ServerEntry& e) {
                                      char text[velder::kEntryTextCapacity];
                                      velder::FormatServerEntry(e, text);
                                      static_cast<std::vector<std::string>*>(c)->push_back(text);
                                      return true;
                                  }};
    out.outcome = velder::FetchServerList("master.example", kPort, {}, wait, *seen, sink, out.tally,
                                          Ops(master));
    return out;
}

TEST(MasterQuery, WhatEndsTheListAndWhatIsDropped) {
    struct Row {
        const char* name;
        std::vector<Arrival> arrivals;
        ListOutcome outcome;
        std::vector<std::string> servers;
        velder::ListTally tally;
    };
    const Row rows[] = {
        {.name = "the quiet wait ends it: 1,001 ms after the last datagram is too late",
         .arrivals = {{1999, Reply({1})}, {1000, Reply({2})}, {1001, Reply({3})}},
         .outcome = ListOutcome::kListed,
         .servers = {"10.0.0.1:28004", "10.0.0.2:28004"},
         .tally = {.servers = 2, .datagrams = 2}},
        {.name = "foreign and malformed datagrams are counted and do not extend the wait",
         .arrivals = {{10, Reply({1})},
                      {500, Reply({9}), true},
                      {400, ParseBytes("FF FF 'servers' 00 0A 00")},
                      {99, ParseBytes("FF FF 'infoResponse' 00")},
                      {1, Bytes(velder::kReceiveCapacity + 1, 'x')},
                      {1, Reply({2})}},
         .outcome = ListOutcome::kListed,
         .servers = {"10.0.0.1:28004"},
         .tally = {.servers = 1, .datagrams = 1, .foreign = 1, .malformed = 2, .failed = 1}},
        {.name = "port 0 dropped, duplicates once, arrival order kept",
         .arrivals = {{5, Reply({3, 1, 3}) + Reply({7}, 0).substr(velder::kServersReplyHeadLength)},
                      {5, Reply({1, 2})}},
         .outcome = ListOutcome::kListed,
         .servers = {"10.0.0.3:28004", "10.0.0.1:28004", "10.0.0.2:28004"},
         .tally = {.servers = 3, .datagrams = 2, .portZero = 1, .duplicates = 2}},
        {.name = "an empty list is a list",
         .arrivals = {{5, Reply({})}},
         .outcome = ListOutcome::kListed,
         .servers = {},
         .tally = {.datagrams = 1}},
        {.name = "a silent master: no answer after the first wait",
         .arrivals = {{2001, Reply({1})}},
         .outcome = ListOutcome::kNoAnswer,
         .servers = {},
         .tally = {}},
        {.name = "only malformed datagrams: no answer",
         .arrivals = {{5, ParseBytes("FF FF 'servers'")}},
         .outcome = ListOutcome::kNoAnswer,
         .servers = {},
         .tally = {.malformed = 1}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeMaster master;
        master.arrivals = row.arrivals;
        const Fetched got = Fetch(master);
        EXPECT_EQ(got.outcome, row.outcome);
        EXPECT_EQ(got.servers, row.servers);
        EXPECT_EQ(got.tally.servers, row.tally.servers);
        EXPECT_EQ(got.tally.datagrams, row.tally.datagrams);
        EXPECT_EQ(got.tally.foreign, row.tally.foreign);
        EXPECT_EQ(got.tally.malformed, row.tally.malformed);
        EXPECT_EQ(got.tally.failed, row.tally.failed);
        EXPECT_EQ(got.tally.portZero, row.tally.portZero);
        EXPECT_EQ(got.tally.duplicates, row.tally.duplicates);
        ASSERT_EQ(master.sent.size(), 1u);
        EXPECT_EQ(master.sent[0], ParseBytes("FF FF 'getServers' 00 55 00 02 00 00 00 00 00"));
        EXPECT_EQ(master.calls, (std::vector<std::string>{"start", "open", "close", "stop"}));
    }
}

TEST(MasterQuery, TheRequestGoesAgainWhileNoReplyCame) {
    struct Row {
        const char* name;
        std::vector<Arrival> arrivals;
        std::uint32_t overall;
        ListOutcome outcome;
        std::size_t sent;
    };
    // Three requests, 1,000 ms apart.
    const Row rows[] = {
        {.name = "a reply after the second request: no third",
         .arrivals = {{1500, Reply({1})}},
         .overall = 15000,
         .outcome = ListOutcome::kListed,
         .sent = 2},
        {.name = "a silent master is asked three times",
         .arrivals = {},
         .overall = 15000,
         .outcome = ListOutcome::kNoAnswer,
         .sent = 3},
        {.name = "the last wait after the third request still counts",
         .arrivals = {{2999, Reply({1})}},
         .overall = 15000,
         .outcome = ListOutcome::kListed,
         .sent = 3},
        {.name = "too late after the third",
         .arrivals = {{3001, Reply({1})}},
         .overall = 15000,
         .outcome = ListOutcome::kNoAnswer,
         .sent = 3},
        {.name = "the overall wait ends the asking",
         .arrivals = {},
         .overall = 1500,
         .outcome = ListOutcome::kNoAnswer,
         .sent = 2},
        {.name = "foreign and malformed datagrams are no reply",
         .arrivals = {{100, Reply({9}), true}, {100, ParseBytes("FF FF 'servers' 00 0A")}},
         .overall = 15000,
         .outcome = ListOutcome::kNoAnswer,
         .sent = 3},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeMaster master;
        master.arrivals = row.arrivals;
        const std::uint32_t start = master.clock;
        const Fetched got =
            Fetch(master, {.first = 1000, .quiet = 300, .overall = row.overall, .requests = 3});
        EXPECT_EQ(got.outcome, row.outcome);
        ASSERT_EQ(master.sent.size(), row.sent);
        for (const Bytes& request : master.sent) {
            EXPECT_EQ(request, master.sent[0]);
        }
        if (row.outcome == ListOutcome::kNoAnswer) {
            EXPECT_EQ(master.clock - start, std::min<std::uint32_t>(3000, row.overall));
        }
    }
}

TEST(MasterQuery, AMasterThatNeverStopsIsCutAtTheCapAndTheOverallWait) {
    // 300 datagrams of 231 new servers each, one every 40 ms: 12 s of sending.
    FakeMaster master;
    std::vector<int> batch(velder::kEntriesPerDatagram);
    for (int d = 0; d < 300; ++d) {
        for (int i = 0; i < static_cast<int>(batch.size()); ++i) {
            batch[i] = d * 231 + i;
        }
        master.arrivals.push_back({40, Reply(batch)});
    }
    // Then one resent datagram every 500 ms, past the overall wait of 15 s.
    for (int i = 0; i < 20; ++i) {
        master.arrivals.push_back({500, master.arrivals[0].bytes});
    }
    const Fetched got = Fetch(master);
    EXPECT_EQ(got.outcome, ListOutcome::kListed);
    EXPECT_EQ(got.tally.servers, velder::kMostListedServers);
    EXPECT_EQ(got.servers.size(), velder::kMostListedServers);
    EXPECT_EQ(got.tally.cut, 300 * 231 - velder::kMostListedServers);
    // 15 s overall: 12 s of batches, then 6 repeats of the first datagram.
    EXPECT_EQ(got.tally.duplicates, 6 * 231u);
    EXPECT_EQ(got.servers.back(), "10.0.255.255:28004") << "cut in arrival order";
}

TEST(MasterQuery, NoHostNamesTheFailureAndReleasesTheSocket) {
    FakeMaster master;
    master.hostExists = false;
    const Fetched got = Fetch(master);
    EXPECT_EQ(got.outcome, ListOutcome::kNoHost);
    EXPECT_TRUE(master.sent.empty());
    EXPECT_EQ(master.calls, (std::vector<std::string>{"start", "open", "close", "stop"}));
}

}  // namespace
