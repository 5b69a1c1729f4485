// velder console: what IsQuakeActive answers.
#include "tools/query_commands.h"

#include "tools/cli11.h"
#include "tools/library_client.h"
#include "tools/views.h"

namespace velder::tools {

void AddConsoleCommand(CLI::App& app, Run& run) {
    app.add_subcommand("console",
                       "Prints what IsQuakeActive answers: TRUE when the Quake 4 console window "
                       "is open, FALSE otherwise.")
        ->callback([&run] {
            run = [] {
                LibraryClient library;
                if (!library.Load()) {
                    return kExitNoLibrary;
                }
                Say(library.IsQuakeActive() + "\n");
                return kExitOk;
            };
        });
}

}  // namespace velder::tools
