// velder info: each server's status through the library's GetInfo.
#include "tools/query_commands.h"

#include <algorithm>

#include "platform/program.h"
#include "tools/cli11.h"
#include "tools/input_files.h"
#include "tools/library_client.h"
#include "tools/views.h"

namespace velder::tools {

namespace {

int RunInfo(const InfoOptions& options) {
    std::vector<std::string> addresses;
    for (const ServerSource& source : options.sources) {
        if (!source.file) {
            addresses.push_back(source.text);
        } else if (const auto problem = ReadServerListFile(source.text, addresses)) {
            Complain(*problem);
            return kExitUsage;
        }
    }
    LibraryClient library;
    if (!library.Load()) {
        return kExitNoLibrary;
    }
    if (options.format == Format::kRaw) {
        platform::BinaryStandardOutput();
    }
    const std::size_t jobs = static_cast<std::size_t>(options.jobs);
    InOrderQueries queries(
        addresses.size() <= 1 || jobs <= 1 ? 0 : std::min(addresses.size(), jobs),
        [&library](const std::string& address) { return library.GetInfo(address); });
    for (const std::string& address : addresses) {
        queries.Add(address);
    }
    bool everyoneAnswered = true;
    queries.TakeAll([&](const ServerAnswer& answer) {
        everyoneAnswered = everyoneAnswered && answer.outcome == Outcome::kAnswered;
        const Format format = options.format;
        Say(format == Format::kSummary  ? SummaryView(answer, options.players, options.vars)
            : format == Format::kFields ? FieldsView(answer)
            : format == Format::kRaw    ? RawView(answer)
                                        : JsonView(answer));
        // The readable views say it in their own lines.
        const bool readable = format == Format::kSummary || format == Format::kFields;
        if (!readable && answer.outcome != Outcome::kAnswered) {
            Complain(answer.address + ": " + OutcomeText(answer.outcome));
        }
    });
    return everyoneAnswered ? kExitOk : kExitFailure;
}

}  // namespace

void AddInfoCommand(CLI::App& app, InfoOptions& options, Run& run) {
    CLI::App* info = app.add_subcommand(
        "info",
        "Asks each Quake 4 server for its status through the library's GetInfo, several at a "
        "time, and shows the answers in the order given: one summary line per server (address, "
        "round trip, players/max, map, name) unless a view says otherwise.");
    info->footer(
        "Exit status: 0 when every server answered, 1 when any did not (no answer, an unreadable "
        "reply, no such host), 2 for a usage error, 3 when the library cannot be loaded.");
    const CLI::Validator address(
        [](std::string& text) { return CheckServerAddress(text).value_or(""); }, "");
    CLI::Option* servers =
        info->add_option("servers", options.servers, "servers to ask (PORT is 28004 when left out)")
            ->type_name("HOST[:PORT]")
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
            ->transform(address);
    CLI::Option* files =
        info->add_option("-f,--file", options.files,
                         "read addresses from FILE, one a line ('#' starts a comment; '-' reads "
                         "standard input)")
            ->type_name("FILE")
            ->allow_extra_args(false)
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    NumberOption(*info, "-j,--jobs", options.jobs, 1, kMaxJobs, "queries at the same time");
    CLI::Option* players =
        info->add_flag("--players", options.players, "with the summary: the players");
    CLI::Option* vars =
        info->add_flag("--vars", options.vars, "with the summary: the server variables");
    CLI::App* views = info->add_option_group("views", "instead of the summary");
    const auto view = [&](const char* name, Format format, const char* help) {
        views->add_flag_callback(
            name, [&options, format] { options.format = format; }, help);
    };
    view("--fields", Format::kFields, "the result text's fields numbered as $gettok counts them");
    view("--raw", Format::kRaw, "the exact result text, one line per server");
    view("--json", Format::kJson, "one JSON object per line");
    views->require_option(0, 1)->excludes(players)->excludes(vars);
    info->callback([info, &options, &run, servers, files] {
        // Every source in the order CLI11 read them; the operands after "--" last.
        auto server = options.servers.begin();
        auto file = options.files.begin();
        for (const CLI::Option* option : info->parse_order()) {
            if (option == files) {
                options.sources.push_back({true, *file++});
            } else if (option == servers) {
                options.sources.push_back({false, *server++});
            }
        }
        for (std::string address : options.operands) {
            if (const std::optional<std::string> problem = CheckServerAddress(address)) {
                ThrowUsageError(*problem);
            }
            options.sources.push_back({false, address});
        }
        if (options.sources.empty()) {
            ThrowUsageError("no server given: velder info HOST[:PORT]... or -f FILE");
        }
        run = [&options] { return RunInfo(options); };
    });
}

}  // namespace velder::tools
