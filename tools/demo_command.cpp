// velder demo: a stand-in server inside the program, asked through GetInfo.
#include "tools/standin_commands.h"

#include "tools/cli11.h"
#include "tools/library_client.h"
#include "tools/views.h"

namespace velder::tools {

namespace {

int RunDemo() {
    LibraryClient library;
    if (!library.Load()) {
        return kExitNoLibrary;
    }
    standin::Server server;
    standin::Options demo;
    demo.reply = standin::BuildStatusReply(DemoSample());
    if (!server.Start(demo)) {
        Complain(server.Error());
        return kExitFailure;
    }
    Say("velder demo: a stand-in Quake 4 server answers on " + server.Address() + "; GetInfo(\"" +
        server.Address() + "\") gives this result text, split as a script splits it:\n\n");
    const ServerAnswer answer = library.GetInfo(server.Address());
    Say(FieldsView(answer));
    Say("\nvelder info --players shows it as:\n\n" + SummaryView(answer, true, false));
    return answer.outcome == Outcome::kAnswered ? kExitOk : kExitFailure;
}

}  // namespace

void AddDemoCommand(CLI::App& app, Run& run) {
    app.add_subcommand("demo",
                       "Starts a stand-in server inside the program, queries it through GetInfo "
                       "and shows the answer.")
        ->callback([&run] { run = RunDemo; });
}

}  // namespace velder::tools
