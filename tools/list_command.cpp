// velder list: a master server's list, and the filters browse shares.
#include "tools/commands.h"

#include <algorithm>
#include <map>
#include <memory>

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
    return ListTaken(outcome, tally, options) ? kExitOk : kExitFailure;
}

}  // namespace

// The request goes out up to three times while no reply comes, --wait-ms
// apart; the list ends --wait-ms after the last reply, or after a minute in all.
ListOutcome FetchList(const ListOptions& options,
                      const std::function<void(const ServerEntry& entry)>& take, ListTally& tally) {
    using Take = std::function<void(const ServerEntry& entry)>;
    const std::size_t colon = options.master.rfind(':');
    const std::string host = options.master.substr(0, colon);
    const auto port = static_cast<std::uint16_t>(std::stoi(options.master.substr(colon + 1)));
    const auto waitMs = static_cast<std::uint32_t>(options.waitMs);
    const MasterWait wait{.first = waitMs, .quiet = waitMs, .overall = 60000, .requests = 3};
    const ServerSink sink{const_cast<Take*>(&take), [](void* call, const ServerEntry& entry) {
                              (*static_cast<Take*>(call))(entry);
                              return true;
                          }};
    const ServersFilter filter{options.protocolMajor,  options.protocolMinor, options.game.c_str(),
                               options.player.c_str(), options.clan.c_str(),  options.password,
                               options.players};
    auto seen = std::make_unique<SeenServers>();
    return FetchServerList(host.c_str(), port, filter, wait, *seen, sink, tally);
}

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

void AddListOptions(CLI::App& command, ListOptions& options) {
    command
        .add_option("--master", options.master, "the master to ask (PORT is 27650 when left out)")
        ->type_name("HOST[:PORT]")
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
                    Refuse("--protocol: bad version '" + text +
                           "': give it as MAJOR.MINOR, e.g. 2.85");
                }
                options.protocolMajor = static_cast<std::uint16_t>(*major);
                options.protocolMinor = static_cast<std::uint16_t>(*minor);
            },
            "the game's protocol (2.85: Quake 4 1.4.2)")
        ->type_name("MAJOR.MINOR");
    Number(command, "--wait-ms", options.waitMs, 1, 60000,
           "the list ends this long after the last reply datagram");
    command.add_flag("--json", options.json);
}

void AddListCommand(CLI::App& app, ListOptions& options, Run& run) {
    CLI::App* list = app.add_subcommand(
        "list",
        "Asks a Quake 4 master server for its list and prints one HOST:PORT a line as the list "
        "arrives, each server once. The filters are all sent to the master.");
    list->footer("Exit status: 0 with a list, 1 when the master did not answer, 2 usage.");
    AddListOptions(*list, options);
    list->get_option("--json")->description("one object with the list and what was dropped");
    list->callback([&options, &run] { run = [&options] { return RunList(options); }; });
}

}  // namespace velder::tools
