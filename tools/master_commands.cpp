#include "tools/master_commands.h"

#include <algorithm>
#include <asio.hpp>
#include <cstdio>
#include <future>

#include "query/master_query.h"
#include "tools/command_line.h"
#include "tools/library_client.h"
#include "tools/result_text.h"

namespace velder::tools {
namespace {

std::string EntryText(const ServerEntry& entry) {
    char text[kEntryTextCapacity];
    FormatServerEntry(entry, text);
    return text;
}

using EntrySink = std::function<void(const ServerEntry& entry)>;

// Asks the master of `options` for its list and hands each server on as it
// arrives. The request goes out up to three times while no reply comes,
// --wait-ms apart; the list ends --wait-ms after the last reply, or after a
// minute in all.
ListOutcome FetchList(const ListOptions& options, EntrySink take, ListTally& tally) {
    const std::size_t colon = options.master.rfind(':');
    const std::string host = options.master.substr(0, colon);
    const auto port = static_cast<std::uint16_t>(std::stoi(options.master.substr(colon + 1)));
    const auto waitMs = static_cast<std::uint32_t>(options.waitMs);
    const MasterWait wait{.first = waitMs, .quiet = waitMs, .overall = 60000, .requests = 3};
    const ServerSink sink{&take, [](void* c, const ServerEntry& entry) {
                              (*static_cast<EntrySink*>(c))(entry);
                              return true;
                          }};
    auto seen = std::make_unique<SeenServers>();
    return FetchServerList(host.c_str(), port, options.Filter(), wait, *seen, sink, tally);
}

// Says what was dropped and why no list came; true when one did.
bool ListTaken(ListOutcome outcome, const ListTally& tally, const ListOptions& options) {
    std::string dropped;
    const std::pair<std::size_t, const char*> drops[] = {
        {tally.foreign, " datagrams from elsewhere than the master"},
        {tally.malformed, " malformed replies"},
        {tally.portZero, " entries with port 0"},
    };
    for (const auto& [count, what] : drops) {
        if (count > 0) {
            dropped += (dropped.empty() ? "dropped " : ", ") + std::to_string(count) + what;
        }
    }
    if (!dropped.empty()) {
        Complain(dropped);
    }
    if (tally.cut > 0) {
        Complain("warning: the list was cut at " + std::to_string(kMostListedServers) +
                 " servers, more than any real master lists");
    }
    if (outcome == ListOutcome::kNoHost) {
        Complain("cannot find the master '" + options.master + "'");
    } else if (outcome == ListOutcome::kNoSocket) {
        Complain("cannot open a socket");
    } else if (outcome != ListOutcome::kListed) {
        Complain("the master " + options.master + " did not answer");
    }
    return outcome == ListOutcome::kListed;
}

}  // namespace

int RunList(const ListOptions& options) {
    std::vector<std::string> servers;
    ListTally tally;
    const ListOutcome outcome = FetchList(
        options,
        [&](const ServerEntry& entry) {
            servers.push_back(EntryText(entry));
            if (!options.json) {
                Say(servers.back() + "\n");
            }
        },
        tally);
    if (options.json && outcome == ListOutcome::kListed) {
        Say("{\"master\":" + JsonString(options.master) + ",\"servers\":[" +
            JsonList(servers, JsonString) + "],\"dropped\":{\"foreign\":" +
            std::to_string(tally.foreign) + ",\"malformed\":" + std::to_string(tally.malformed) +
            ",\"port_zero\":" + std::to_string(tally.portZero) +
            "},\"cut\":" + (tally.cut > 0 ? "true" : "false") + "}\n");
    }
    return ListTaken(outcome, tally, options) ? kExitOk : kExitNoAnswer;
}

namespace {

// What the sort orders by, read once from each answer.
struct Browsed {
    ServerAnswer answer;
    int players = -1;  // -1 when it did not answer
    int ping = -1;
    std::string name;
};

Browsed Read(ServerAnswer answer) {
    Browsed browsed;
    browsed.answer = std::move(answer);
    if (browsed.answer.outcome == Outcome::kAnswered) {
        const ResultText text = ParseResultText(browsed.answer.text);
        const ServerStatus status = ReadServerStatus(text);
        browsed.players = static_cast<int>(status.players.size());
        browsed.ping = text.roundTripMs;
        browsed.name = status.Var("si_name");
        std::transform(browsed.name.begin(), browsed.name.end(), browsed.name.begin(),
                       [](unsigned char c) { return std::tolower(c); });
    }
    return browsed;
}

void Sort(std::vector<Browsed>& servers, BrowseSort sort) {
    // Servers that did not answer go last whatever the order.
    const auto key = [sort](const Browsed& b) {
        const bool silent = b.players < 0;
        return std::make_tuple(silent, sort == BrowseSort::kPlayers ? -b.players : 0,
                               sort == BrowseSort::kPing ? b.ping : 0,
                               sort == BrowseSort::kName ? b.name : std::string());
    };
    if (sort != BrowseSort::kList) {
        std::stable_sort(servers.begin(), servers.end(),
                         [&](const Browsed& a, const Browsed& b) { return key(a) < key(b); });
    }
}

}  // namespace

int RunBrowse(const BrowseOptions& options, const LibraryClient& library) {
    // Each server is asked as soon as the list names it.
    asio::thread_pool pool(static_cast<std::size_t>(options.jobs));
    std::vector<std::future<ServerAnswer>> answers;
    ListTally tally;
    const ListOutcome outcome = FetchList(
        options.list,
        [&](const ServerEntry& entry) {
            // (Asio takes a bare packaged_task for a completion token.)
            auto task = std::make_shared<std::packaged_task<ServerAnswer()>>(
                [&library, address = EntryText(entry)] { return library.GetInfo(address); });
            answers.push_back(task->get_future());
            asio::post(pool, [task] { (*task)(); });
        },
        tally);
    std::vector<Browsed> servers;
    std::size_t answered = 0;
    for (std::future<ServerAnswer>& answer : answers) {
        Browsed browsed = Read(answer.get());
        answered += browsed.players >= 0 ? 1 : 0;
        if (!options.notEmpty || browsed.players > 0) {
            servers.push_back(std::move(browsed));
        }
    }
    pool.join();
    if (!ListTaken(outcome, tally, options.list)) {
        return kExitNoAnswer;
    }
    Sort(servers, options.sort);
    for (const Browsed& server : servers) {
        Say(options.list.json ? JsonView(server.answer) : SummaryView(server.answer, false, false));
    }
    std::fprintf(stderr, "velder browse: %zu servers listed, %zu answered\n", answers.size(),
                 answered);
    return kExitOk;
}

}  // namespace velder::tools
