// The whole command line: every command, `velder help` and `--version`.
#include "tools/commands.h"

#include <algorithm>
#include <cstdio>

#include "tools/cli11.h"
#include "tools/input_files.h"
#include "tools/views.h"

namespace velder::tools {

namespace {

// The run of `velder help` and `--version`: shows `text`.
Run Show(std::string text) {
    return [text] { return std::fputs(text.c_str(), stdout) < 0 ? kExitFailure : kExitOk; };
}

}  // namespace

CLI::Validator Decimal(long long low, long long high) {
    const auto read = [low, high](std::string& text) {
        const std::optional<long long> number = ReadNumber(text, low, high);
        if (!number) {
            return "bad value '" + text + "': give a decimal number from " + std::to_string(low) +
                   " to " + std::to_string(high);
        }
        text = std::to_string(*number);  // CLI11 would read 010 as eight
        return std::string();
    };
    return CLI::Validator(read, "");
}

void ThrowUsageError(const std::string& problem) {
    throw CLI::ValidationError(problem);
}

std::string ParseCommandLine(const std::vector<std::string>& args, CommandLine& line) {
    CLI::App app(
        "velder: Quake 4 server status through the velder library, stand-in servers "
        "and masters for testing.",
        "velder");
    app.footer("velder COMMAND --help, or velder help COMMAND, shows one command's options.");
    app.require_subcommand(0, 1);
    app.set_version_flag("--version", std::string("velder ") + VELDER_VERSION);
    app.option_defaults()->disable_flag_override()->multi_option_policy(
        CLI::MultiOptionPolicy::TakeLast);  // an option given twice: the last counts
    // A query is a whole process, and every option takes its time to set up:
    // when the line names a command, only that command is built.
    const std::pair<std::string, std::function<void()>> commands[] = {
        {"info", [&] { AddInfoCommand(app, line.info, line.run); }},
        {"console", [&] { AddConsoleCommand(app, line.run); }},
        {"serve", [&] { AddServeCommand(app, line.serve, line.run); }},
        {"demo", [&] { AddDemoCommand(app, line.run); }},
        {"list", [&] { AddListCommand(app, line.list, line.run); }},
        {"browse", [&] { AddBrowseCommand(app, line.browse, line.run); }},
        {"master", [&] { AddMasterCommand(app, line.master, line.run); }},
    };
    const auto named = std::find_if(std::begin(commands), std::end(commands), [&](const auto& c) {
        return !args.empty() && args[0] == c.first;
    });
    std::vector<std::string> names;
    for (const auto& command : commands) {
        names.push_back(command.first);
        if (named == std::end(commands) || named == &command) {
            command.second();
        }
    }
    CLI::App* help = app.add_subcommand("help", "Shows every command's options, or one command's.");
    std::string topic;
    help->add_option("command", topic, "the command to show")->check(CLI::IsMember(names));

    // What follows the first "--" is read here, by the one command that takes operands.
    const auto mark = std::find(args.begin(), args.end(), "--");
    line.info.operands.assign(mark == args.end() ? mark : mark + 1, args.end());
    try {
        app.parse(std::vector<std::string>(std::make_reverse_iterator(mark), args.rend()));
        const std::vector<CLI::App*> chosen = app.get_subcommands();
        if (chosen.empty()) {
            ThrowUsageError("no command given: try 'velder help'");
        }
        if (chosen[0] == help) {
            line.run = Show(topic.empty() ? app.get_formatter()->make_help(&app, "velder",
                                                                           CLI::AppFormatMode::All)
                                          : app.get_subcommand(topic)->help("velder"));
        } else if (chosen[0]->get_name() != "info" && !line.info.operands.empty()) {
            ThrowUsageError("unexpected argument '" + line.info.operands.front() +
                            "' for 'velder " + chosen[0]->get_name() + "'");
        }
    } catch (const CLI::CallForHelp&) {
        // CLI11 answers --help before it looks for arguments nothing took.
        if (const std::vector<std::string> extra = app.remaining(true); !extra.empty()) {
            return CLI::ExtrasError(extra).what();
        }
        line.run = Show(app.get_subcommands().empty() ? app.help("", CLI::AppFormatMode::All)
                                                      : app.help());
    } catch (const CLI::CallForVersion& e) {
        line.run = Show(e.what() + std::string("\n"));
    } catch (const CLI::ParseError& e) {
        std::string error = e.what();
        std::replace(error.begin(), error.end(), '\n', ' ');
        return error;
    }
    return std::string();
}

}  // namespace velder::tools
