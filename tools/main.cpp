// velder: the library's command-line companion. See UsageText().
#include <cstdio>
#include <string>
#include <vector>

#include "tools/command_line.h"
#include "tools/commands.h"
#include "tools/master_commands.h"

int main(int argc, char** argv) {
    using namespace velder::tools;
    const std::vector<std::string> args(argv + 1, argv + argc);
    // list, browse and master read their own arguments.
    if (const std::optional<int> status = RunMasterCommand(args, VELDER_LIBRARY_FILE)) {
        return *status;
    }
    const CommandLine line = ParseCommandLine(args);
    if (!line.error.empty()) {
        std::fprintf(stderr, "velder: %s\n", line.error.c_str());
        return kExitUsage;
    }
    switch (line.command) {
        case Command::kInfo:
            return RunInfo(line.info);
        case Command::kConsole:
            return RunConsole();
        case Command::kServe:
            return RunServe(line.serve);
        case Command::kDemo:
            return RunDemo();
        case Command::kVersion:
            std::printf("velder %s\n", VELDER_VERSION);
            return kExitOk;
        case Command::kHelp:
            break;
    }
    std::fputs(UsageText(line.helpFor).c_str(), stdout);
    if (line.helpFor == Command::kHelp) {
        std::fputs("\n", stdout);
        std::fputs(MasterUsageText().c_str(), stdout);
    }
    return kExitOk;
}
