// The commands of the `velder` program, one file each: every command declares
// its options with their help and runs itself. commands.cpp assembles them.
#pragma once

#include <string>
#include <vector>

#include "tools/query_commands.h"
#include "tools/standin_commands.h"

namespace velder::tools {

// Every command's options, and the run of the one the line chose.
struct CommandLine {
    InfoOptions info;
    ServeOptions serve;
    ListOptions list;
    BrowseOptions browse;
    MasterServeOptions master;
    Run run;
};

// Reads the arguments after the program name into `line`. Returns one line
// naming what is wrong with them, or an empty text when `line.run` is set.
std::string ParseCommandLine(const std::vector<std::string>& args, CommandLine& line);

}  // namespace velder::tools
