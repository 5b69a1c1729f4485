// A stand-in master server for tests, benchmarks and `velder master`.
//
// It listens on one UDP port (127.0.0.1 unless told otherwise) and answers
// each well-formed list request (FF FF "getServers" 00 ...) with its list,
// as id's master did: FF FF "servers" 00 then six-byte entries, at most 231
// a datagram, as many datagrams as the list needs. Anything else is counted
// and dropped. It is the stand-in server with requests of its own; its
// counts tell lists (answered) and their datagrams apart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "query/master_list.h"
#include "standin/standin_server.h"

namespace velder::standin {

// A server on the master's list. What the master knows of its status lets it
// honour the players and password filters; a server whose status is unknown
// passes them.
struct ListedServer {
    ServerEntry entry;
    int players = -1;     // -1: unknown
    int maxPlayers = -1;  // -1: unknown
    std::optional<bool> password;
};

struct MasterOptions {
    std::vector<ListedServer> servers;  // in the order the list gives them
    std::string bindAddress = kLoopback;
    std::uint16_t port = 0;  // 0 lets the system choose a free port
    // Lists answered per second to one source address; 0 for no limit.
    int answersPerSecond = 0;
    // Told of each datagram as it arrives, as Options::received is.
    std::function<void(std::size_t server, std::string_view datagram, std::uint32_t address,
                       std::uint16_t port)>
        received = nullptr;
};

// "A.B.C.D:PORT" (a dotted IPv4 address, a port from 1) as an entry.
std::optional<ServerEntry> EntryFromText(std::string_view text);

class MasterServer : public Server {
  public:
    // Binds the port and serves on a thread of its own. False when the port
    // cannot be opened or the master already runs; Error() says why.
    bool Start(const MasterOptions& options);
};

}  // namespace velder::standin
