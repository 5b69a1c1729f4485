// Made-up lists for the stand-in master, shared by its tests.
#pragma once

#include <string>
#include <vector>

#include "standin/master_server.h"

namespace velder::support {

// `count` servers at NETWORK.B.C (250 a block, from NETWORK.0.1), port 20000 + I.
inline std::vector<standin::ListedServer> ListedServers(int count, const std::string& network) {
    std::vector<standin::ListedServer> servers(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        servers[i].entry =
            *standin::EntryFromText(network + "." + std::to_string(i / 250) + "." +
                                    std::to_string(i % 250 + 1) + ":" + std::to_string(20000 + i));
    }
    return servers;
}

}  // namespace velder::support
