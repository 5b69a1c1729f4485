// The made-up servers of `velder serve --players`, `velder master --servers`
// and `velder demo`.
#pragma once

#include <cstddef>
#include <vector>

#include "standin/status_reply.h"

namespace velder::tools {

// `count` made-up players with varied pings and clans, at most kMaxPlayers.
std::vector<standin::Player> MadeUpPlayers(std::size_t count);

// The sample server that `velder demo` shows.
standin::ServerSample DemoSample();

}  // namespace velder::tools
