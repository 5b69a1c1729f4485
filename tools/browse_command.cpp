// velder browse: velder list, then velder info on every server it lists.
#include "tools/query_commands.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <tuple>

#include "tools/cli11.h"
#include "tools/library_client.h"
#include "tools/result_text.h"
#include "tools/views.h"

namespace velder::tools {

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

int RunBrowse(const BrowseOptions& options) {
    LibraryClient library;
    if (!library.Load()) {
        return kExitNoLibrary;
    }
    // Each server is asked as soon as the list names it.
    InOrderQueries queries(
        static_cast<std::size_t>(options.jobs),
        [&library](const std::string& address) { return library.GetInfo(address); });
    std::size_t listed = 0;
    const std::vector<MasterResult> masters =
        FetchList(options.list, [&](const ServerEntry& entry) {
            queries.Add(EntryText(entry));
            ++listed;
        });
    std::vector<Browsed> servers;
    std::size_t answered = 0;
    queries.TakeAll([&](ServerAnswer answer) {
        Browsed browsed = Read(std::move(answer));
        answered += browsed.players >= 0 ? 1 : 0;
        if (!options.playing || browsed.players > 0) {
            servers.push_back(std::move(browsed));
        }
    });
    if (!ReportListProblems(masters, options.list)) {
        return kExitFailure;
    }
    Sort(servers, options.sort);
    for (const Browsed& server : servers) {
        Say(options.list.json ? JsonView(server.answer) : SummaryView(server.answer, false, false));
    }
    std::fprintf(stderr, "velder browse: %zu servers listed, %zu answered\n", listed, answered);
    return kExitOk;
}

}  // namespace

void AddBrowseCommand(CLI::App& app, BrowseOptions& options, Run& run) {
    CLI::App* browse = app.add_subcommand(
        "browse",
        "velder list, then velder info on every server it lists: each server is asked as soon as "
        "the list names it. One summary line per server, in list order unless sorted; servers "
        "that did not answer come last.");
    browse->footer("Exit status as list's.");
    AddListOptions(*browse, options.list);
    browse->get_option("--json")->description("one JSON object per server");
    browse->add_flag("--playing", options.playing,
                     "keep the servers that answered with players, full ones too");
    static const std::map<std::string, BrowseSort> kSorts = {{"players", BrowseSort::kPlayers},
                                                             {"ping", BrowseSort::kPing},
                                                             {"name", BrowseSort::kName}};
    Choice(*browse, "--sort", options.sort, kSorts, "the order of the lines");
    NumberOption(*browse, "-j,--jobs", options.jobs, 1, kMaxJobs, "queries at the same time");
    browse->callback([&options, &run] { run = [&options] { return RunBrowse(options); }; });
}

}  // namespace velder::tools
