// The commands that start from a master server's list: `velder list` and
// `velder browse`.
#pragma once

#include "tools/command_line.h"
#include "tools/library_client.h"

namespace velder::tools {

int RunList(const ListOptions& options);
int RunBrowse(const BrowseOptions& options, const LibraryClient& library);  // loaded

}  // namespace velder::tools
