// What a Quake 4 server answers to a status request, built for the stand-in
// server of `velder serve` and `velder demo`.
//
// Layout of the reply (numbers little-endian):
//   FF FF "infoResponse" 00
//   challenge            4 bytes, echoed from the request (FF FF FF FF when it has none)
//   protocol version     4 bytes: minor 16 bits, then major 16 bits
//   server variables     key 00 value 00 ..., closed by an empty key and value (00 00)
//   players, each        client number (1 byte), ping (16 bits), rate (32 bits),
//                        name 00, clan 00
//   end of players       client number 32 (0x20)
//   OS mask              4 bytes, 01 00 00 00
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "query/protocol.h"
#include "support/bytes.h"

namespace velder::standin {

// A server has client numbers 0 to 31; 32 marks the end of the player list.
inline constexpr std::size_t kMaxPlayers = 32;

struct Player {
    std::string name;
    std::string clan;
    std::uint16_t ping = 0;
};

struct ServerSample {
    std::string name = "Velder stand-in";
    std::string map = "mp/q4dm1";
    std::string gameType = "DM";
    int maxPlayers = 16;
    // Further server variables: a key already present gets the new value in
    // its place, a new key goes to the end. An empty value last in the list
    // would run into the two closing zero bytes, and readers that look for
    // three zero bytes would then take one zero too many.
    std::vector<std::pair<std::string, std::string>> vars;
    std::vector<Player> players;  // at most kMaxPlayers
    // The OS mask that closes the reply: 1 from servers on Windows; servers
    // on Linux send other values (2, 7), so that their replies never end in
    // 20 01 00 00 00.
    std::uint32_t osMask = 1;
};

// True when the datagram is exactly the 13-byte status request.
bool IsStatusRequest(const unsigned char* datagram, std::size_t length);

// The server's answer to the status request.
Bytes BuildStatusReply(const ServerSample& sample);

// `count` made-up players with varied pings and clans (count <= kMaxPlayers).
std::vector<Player> MadeUpPlayers(std::size_t count);

// The sample server that `velder demo` shows.
ServerSample DemoSample();

}  // namespace velder::standin
