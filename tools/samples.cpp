#include "tools/standin_commands.h"

#include <iterator>
#include <string>

namespace velder::tools {

std::vector<Player> MadeUpPlayers(std::size_t count) {
    static const char* const kNames[] = {"Kane",    "^2Rhino",  "Cortez",   "Bidwell",
                                         "Sledge",  "Anderson", "Morris",   "^1Voss",
                                         "Strauss", "Harper",   "^3Lanier", "Bishop"};
    static const char* const kClans[] = {"Rhino", "", "^4Strogg", "Marines"};
    constexpr std::size_t kNameCount = std::size(kNames);
    std::vector<Player> players;
    for (std::size_t i = 0; i < count && i < kMaxPlayers; ++i) {
        const std::string number = i >= kNameCount ? std::to_string(i / kNameCount + 1) : "";
        players.push_back({.name = kNames[i % kNameCount] + number,
                           .clan = kClans[i % 4],
                           .ping = static_cast<int>(15 + (i * 37) % 180)});
    }
    return players;
}

standin::ServerSample DemoSample() {
    standin::ServerSample sample;
    sample.name = "^1Velder ^7Demo";
    sample.map = "mp/q4dm5";
    sample.gameType = "Team DM";
    sample.maxPlayers = 12;
    sample.players = {
        {"^4Kane", "Rhino", 32},   {"Cortez", "Rhino", 48}, {"Bidwell", "Rhino", 57},
        {"Strauss", "Strogg", 71}, {"Voss", "Strogg", 90},  {"Makron", "Strogg", 124},
    };
    return sample;
}

}  // namespace velder::tools
