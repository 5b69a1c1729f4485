// velder list: a master server's list, and the filters browse shares.
#include "tools/query_commands.h"

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "tools/cli11.h"
#include "tools/input_files.h"
#include "tools/result_text.h"
#include "tools/views.h"

namespace velder::tools {

std::string EntryText(const ServerEntry& entry) {
    char text[kEntryTextCapacity];
    FormatServerEntry(entry, text);
    return text;
}

namespace {

// What every master's replies held that is not a list entry, added up.
ListTally SumTallies(const std::vector<MasterResult>& answers) {
    ListTally all;
    for (const MasterResult& answer : answers) {
        all.foreign += answer.tally.foreign;
        all.malformed += answer.tally.malformed;
        all.portZero += answer.tally.portZero;
        all.cut += answer.tally.cut;
    }
    return all;
}

int RunList(const ListOptions& options) {
    std::vector<std::string> servers;
    const std::vector<MasterResult> answers = FetchList(options, [&](const ServerEntry& entry) {
        servers.push_back(EntryText(entry));
        if (!options.json) {
            Say(servers.back() + "\n");
        }
    });
    const bool listed = ReportListProblems(answers, options);
    if (options.json && listed) {
        const ListTally all = SumTallies(answers);
        std::vector<std::string> masters;
        for (std::size_t i = 0; i < answers.size(); ++i) {
            const bool answered = answers[i].outcome == ListOutcome::kListed;
            masters.push_back("{\"master\":" + JsonString(options.masters[i]) +
                              ",\"answered\":" + (answered ? "true" : "false") + "}");
        }
        Say("{\"master\":" + JsonString(options.masters.front()) + ",\"masters\":[" +
            JsonList(masters, [](const std::string& m) { return m; }) + "],\"servers\":[" +
            JsonList(servers, JsonString) + "],\"dropped\":{\"foreign\":" +
            std::to_string(all.foreign) + ",\"malformed\":" + std::to_string(all.malformed) +
            ",\"port_zero\":" + std::to_string(all.portZero) +
            "},\"cut\":" + (all.cut > 0 ? "true" : "false") + "}\n");
    }
    return listed ? kExitOk : kExitFailure;
}

}  // namespace

// Each master on a thread of its own. The request goes out up to three
// times while no reply comes, --wait-ms apart; a list ends --wait-ms after
// its last reply, or after a minute in all.
std::vector<MasterResult> FetchList(const ListOptions& options,
                                    const std::function<void(const ServerEntry& entry)>& take) {
    const auto waitMs = static_cast<std::uint32_t>(options.waitMs);
    const MasterWait wait{.first = waitMs, .quiet = waitMs, .overall = 60000, .requests = 3};
    const ServersFilter filter{options.protocolMajor,  options.protocolMinor, options.game.c_str(),
                               options.player.c_str(), options.clan.c_str(),  options.password,
                               options.players};
    // What every master listed so far: each server goes on once, and no
    // more than one master's list can hold (past that, each counts as cut).
    struct Merged {
        std::mutex lock;
        std::unique_ptr<SeenServers> seen;  // zeroed, as NoteServer needs
        std::size_t count = 0;
        const std::function<void(const ServerEntry& entry)>& take;
    } merged{{}, std::make_unique<SeenServers>(), 0, take};
    struct Sink {
        Merged* merged;
        std::size_t* cut;  // of this master's entries
    };
    const auto merge = [](void* context, const ServerEntry& entry) {
        const Sink* const sink = static_cast<const Sink*>(context);
        Merged& m = *sink->merged;
        const std::lock_guard<std::mutex> hold(m.lock);
        if (m.count >= kMostListedServers) {
            ++*sink->cut;
        } else if (NoteServer(*m.seen, entry)) {
            ++m.count;
            m.take(entry);
        }
        return true;
    };
    std::vector<MasterResult> answers(options.masters.size());
    std::vector<std::size_t> cut(options.masters.size());  // the fetch resets its own tally
    std::vector<std::thread> askers;
    for (std::size_t i = 0; i < options.masters.size(); ++i) {
        askers.emplace_back([&, i] {
            const std::string& master = options.masters[i];
            const std::size_t colon = master.rfind(':');
            const auto port = static_cast<std::uint16_t>(std::stoi(master.substr(colon + 1)));
            auto seen = std::make_unique<SeenServers>();
            Sink sink{&merged, &cut[i]};
            answers[i].outcome = FetchServerList(master.substr(0, colon).c_str(), port, filter,
                                                 wait, *seen, {&sink, merge}, answers[i].tally);
        });
    }
    for (std::thread& asker : askers) {
        asker.join();
    }
    for (std::size_t i = 0; i < answers.size(); ++i) {
        answers[i].tally.cut += cut[i];
    }
    return answers;
}

bool ReportListProblems(const std::vector<MasterResult>& answers, const ListOptions& options) {
    const ListTally all = SumTallies(answers);
    const bool listed = std::any_of(answers.begin(), answers.end(), [](const MasterResult& a) {
        return a.outcome == ListOutcome::kListed;
    });
    std::string dropped;
    const std::pair<std::size_t, const char*> drops[] = {
        {all.foreign, " datagrams from elsewhere than the master"},
        {all.malformed, " malformed replies"},
        {all.portZero, " entries with port 0"},
    };
    for (const auto& [count, what] : drops) {
        if (count > 0) {
            dropped += (dropped.empty() ? "dropped " : ", ") + std::to_string(count) + what;
        }
    }
    if (!dropped.empty()) {
        Complain(dropped);
    }
    if (all.cut > 0) {
        Complain("warning: the list was cut at " + std::to_string(kMostListedServers) +
                 " servers, more than any real master lists");
    }
    // A master that sends nothing may be down, or list no server for these
    // filters: some masters send nothing at all for an empty list.
    const std::string maybe = " (it is down, or lists no server for these filters)";
    for (std::size_t i = 0; i < answers.size(); ++i) {
        const std::string& master = options.masters[i];
        const std::string warning = listed ? "warning: " : "";
        if (answers[i].outcome == ListOutcome::kNoHost) {
            Complain(warning + "cannot find the master '" + master + "'");
        } else if (answers[i].outcome == ListOutcome::kNoSocket) {
            Complain("cannot open a socket");
        } else if (answers[i].outcome != ListOutcome::kListed) {
            Complain(warning + "the master " + master + " did not answer" + maybe);
        }
    }
    return listed;
}

void AddListOptions(CLI::App& command, ListOptions& options) {
    command
        .add_option("--master", options.masters,
                    "a master to ask (PORT is 27650 when left out); repeated, every one is asked "
                    "at once and each server listed once")
        ->type_name("HOST[:PORT]")
        ->allow_extra_args(false)
        ->capture_default_str()
        ->transform(CLI::Validator(
            [](std::string& text) {
                text += text.find(':') == std::string::npos ? ":27650" : "";
                return CheckServerAddress(text).value_or("");
            },
            ""));
    const CLI::Validator filterText(
        [](const std::string& text) {
            return text.size() > kFilterTextCapacity
                       ? "longer than a request carries (" + std::to_string(kFilterTextCapacity) +
                             " bytes)"
                       : std::string();
        },
        "");
    command.add_option("--game", options.game, "fs_game (the base game when left out)")
        ->check(filterText);
    command.add_option("--player", options.player, "servers where a player of this name plays")
        ->check(filterText);
    command.add_option("--clan", options.clan, "servers where a player of this clan plays")
        ->check(filterText);
    command.add_flag_callback(
        "--not-full",
        [&options] { options.players = std::max(options.players, PlayersFilter::kNotFull); },
        "servers with a free slot");
    command.add_flag_callback(
        "--not-empty", [&options] { options.players = PlayersFilter::kNotFullNotEmpty; },
        "servers with players and a free slot (the master has no filter for players alone)");
    static const std::map<std::string, PasswordFilter> kPasswords = {
        {"yes", PasswordFilter::kWith}, {"no", PasswordFilter::kWithout}};
    Choice(command, "--password", options.password, kPasswords,
           "servers with, or without, a password");
    command
        .add_option_function<std::string>(
            "--protocol",
            [&options](const std::string& text) {
                const std::size_t dot = text.find('.');
                const auto major = ReadNumber(text.substr(0, dot), 0, 65535);
                const auto minor =
                    ReadNumber(dot == std::string::npos ? "" : text.substr(dot + 1), 0, 65535);
                if (!major || !minor) {
                    ThrowUsageError("--protocol: bad version '" + text +
                                    "': give it as MAJOR.MINOR, e.g. 2.85");
                }
                options.protocolMajor = static_cast<std::uint16_t>(*major);
                options.protocolMinor = static_cast<std::uint16_t>(*minor);
            },
            "the game's protocol (2.85: Quake 4 1.4.2)")
        ->type_name("MAJOR.MINOR");
    NumberOption(command, "--wait-ms", options.waitMs, 1, 60000,
                 "the list ends this long after the last reply datagram");
    command.add_flag("--json", options.json);
}

void AddListCommand(CLI::App& app, ListOptions& options, Run& run) {
    CLI::App* list = app.add_subcommand(
        "list",
        "Asks Quake 4 master servers for their lists and prints one HOST:PORT a line as the "
        "lists arrive, each server once. The filters are all sent to the masters.");
    list->footer("Exit status: 0 with a list, 1 when no master answered, 2 usage.");
    AddListOptions(*list, options);
    list->get_option("--json")->description("one object with the list and what was dropped");
    list->callback([&options, &run] { run = [&options] { return RunList(options); }; });
}

}  // namespace velder::tools
