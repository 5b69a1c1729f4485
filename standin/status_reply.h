// What a Quake 4 server answers to a status request, built for the stand-in
// server of `velder serve` and `velder demo`.
//
// Layout of the reply (numbers little-endian):
//   FF FF "infoResponse" 00
//   challenge            4 bytes, echoed from the request (FF FF FF FF when it has none)
//   protocol version     4 bytes: minor 16 bits, then major 16 bits (2.85 from 1.4.2 servers)
//   server variables     key 00 value 00 ..., closed by an empty key and value (00 00)
//   players, each        client number (1 byte), ping (16 bits), rate (32 bits),
//                        name 00, clan 00
//   end of players       client number 32 (0x20)
//   OS mask              4 bytes, 01 00 00 00
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "query/status_format.h"

namespace velder::standin {

struct ServerSample {
    std::string name = "Velder stand-in";
    std::string map = "mp/q4dm1";
    std::string gameType = "DM";
    int maxPlayers = 16;
    // Further server variables: a key already present gets the new value in
    // its place, a new key goes to the end. (An empty value last runs into
    // the two closing zero bytes, so that readers take one zero too many.)
    std::vector<std::pair<std::string, std::string>> vars;
    std::vector<Player> players;  // at most kMaxPlayers
    std::uint32_t osMask = 1;     // ends the reply: 1 on Windows, other values (2, 7) on Linux
};

using Challenge = std::array<char, 4>;

inline constexpr std::size_t kLongestStatusRequest = 64;

// True when the datagram is a status request: FF FF "getInfo" 00 and at
// most kLongestStatusRequest bytes in all, whatever follows the 00.
bool IsStatusRequest(std::string_view datagram);

// The challenge a request carries, as a server reads it: the four bytes
// after "getInfo" 00, or FF FF FF FF when the request is too short to hold
// four (GetInfo's own request carries three).
Challenge RequestChallenge(std::string_view request);

// Writes `challenge` into `reply` where a status reply carries it, when
// `reply` begins as one; any other bytes stay as they are.
void EchoChallenge(Bytes& reply, const Challenge& challenge);

// The server's answer to the status request, with FF FF FF FF as challenge.
Bytes BuildStatusReply(const ServerSample& sample);

}  // namespace velder::standin
