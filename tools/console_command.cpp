// velder console: what IsQuakeActive answers.
#include "tools/commands.h"

#include "tools/cli11.h"
#include "tools/library_client.h"
#include "tools/views.h"

namespace velder::tools {

CLI::App* AddConsoleCommand(CLI::App& app, Run& run) {
    CLI::App* console = app.add_subcommand(
        "console",
        "Prints what IsQuakeActive answers: TRUE when the Quake 4 console window is open, FALSE "
        "otherwise.");
    console->callback([&run] {
        run = [] {
            LibraryClient library;
            if (!LoadTheLibrary(library)) {
                return kExitNoLibrary;
            }
            Say(library.IsQuakeActive() + "\n");
            return kExitOk;
        };
    });
    return console;
}

}  // namespace velder::tools
