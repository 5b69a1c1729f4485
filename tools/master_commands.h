// The commands that start from a master server's list: `velder list`,
// `velder browse`, and the stand-in master `velder master`.
#pragma once

#include "tools/command_line.h"

namespace velder::tools {

int RunList(const ListOptions& options);
// Browses with the library `libraryFile` from beside the program.
int RunBrowse(const BrowseOptions& options, const char* libraryFile);
int RunMaster(const MasterServeOptions& options);

}  // namespace velder::tools
