// velder: the library's command-line companion. `velder help` lists its commands.
#include <string>
#include <vector>

#include "tools/commands.h"
#include "tools/views.h"

int main(int argc, char** argv) {
    using namespace velder::tools;
    CommandLine line;
    const std::string error =
        ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), line);
    if (!error.empty()) {
        Complain(error);
        return kExitUsage;
    }
    return line.run();
}
