// The servers `velder serve --players N` and `velder demo` make up.
#pragma once

#include <cstddef>
#include <vector>

#include "standin/status_reply.h"

namespace velder::tools {

using standin::Player;

// `count` made-up players with varied pings and clans (count <= kMaxPlayers).
std::vector<Player> MadeUpPlayers(std::size_t count);

// The sample server that `velder demo` shows.
standin::ServerSample DemoSample();

}  // namespace velder::tools
