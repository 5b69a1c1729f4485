// The commands that start from a master server's list: `velder list`,
// `velder browse`, and the stand-in master `velder master`.
#pragma once

#include "tools/command_line.h"
#include "tools/library_client.h"

namespace velder::tools {

int RunList(const ListOptions& options);
int RunBrowse(const BrowseOptions& options, const LibraryClient& library);  // loaded
int RunMaster(const MasterServeOptions& options);

}  // namespace velder::tools
