// The whole command line: every command, `velder help` and `--version`.
#include "tools/commands.h"

#include <algorithm>
#include <cstdio>

#include "tools/cli11.h"
#include "tools/input_files.h"
#include "tools/library_client.h"
#include "tools/views.h"

namespace velder::tools {

namespace {

// The run of `velder help` and `--version`: shows `text`.
Run Show(std::string text) {
    return [text] { return std::fputs(text.c_str(), stdout) < 0 ? kExitFailure : kExitOk; };
}

}  // namespace

CLI::Validator Decimal(long long low, long long high) {
    const CLI::Validator digits(
        [](std::string& text) -> std::string {
            if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
                return "bad value '" + text + "': give a decimal number";
            }
            // Leading zeros go before CLI11 reads it, which would read 010 as eight.
            text.erase(0, std::min(text.find_first_not_of('0'), text.size() - 1));
            return std::string();
        },
        "");
    return digits & CLI::Range(low, high);
}

void Refuse(const std::string& problem) {
    throw CLI::ValidationError(problem);
}

bool LoadTheLibrary(LibraryClient& library) {
    std::string error;
    return library.Load(VELDER_LIBRARY_FILE, error) || Complain(error);
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
    AddInfoCommand(app, line.info, line.run);
    AddConsoleCommand(app, line.run);
    AddServeCommand(app, line.serve, line.run);
    AddDemoCommand(app, line.run);
    AddListCommand(app, line.list, line.run);
    AddBrowseCommand(app, line.browse, line.run);
    AddMasterCommand(app, line.master, line.run);
    std::vector<std::string> names;
    for (const CLI::App* command : app.get_subcommands({})) {
        names.push_back(command->get_name());
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
            Refuse("no command given: try 'velder help'");
        }
        if (chosen[0] == help) {
            // Every command's options, or one command's.
            const std::string text = topic.empty() ? app.get_formatter()->make_help(
                                                         &app, "velder", CLI::AppFormatMode::All)
                                                   : app.get_subcommand(topic)->help("velder");
            line.run = Show(text);
        } else if (chosen[0]->get_name() != "info" && !line.info.operands.empty()) {
            Refuse("unexpected argument '" + line.info.operands.front() + "' for 'velder " +
                   chosen[0]->get_name() + "'");
        }
    } catch (const CLI::CallForHelp&) {
        const std::string text =
            app.get_subcommands().empty() ? app.help("", CLI::AppFormatMode::All) : app.help();
        line.run = Show(text);
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
