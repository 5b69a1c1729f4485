// The master server's list exchange, as Quake 4 clients speak it: one
// request naming the protocol and the filters, and one or more reply
// datagrams of six-byte entries. Integers are little-endian, strings end
// with a NUL. The list has no count and no end mark: it is complete when
// no more datagrams arrive for a while.
#pragma once

#include <cstddef>
#include <cstdint>

#include "query/protocol.h"

namespace velder {

// Masters listen here unless told otherwise.
inline constexpr std::uint16_t kMasterPort = 27650;

// Four address bytes in dotted order, then the port, little-endian.
inline constexpr std::size_t kServerEntryLength = 6;
// id's master sent at most this many entries in one datagram (1,396 bytes).
inline constexpr std::size_t kEntriesPerDatagram = 231;
inline constexpr std::size_t kLongestServersReply =
    kServersReplyHeadLength + kEntriesPerDatagram * kServerEntryLength;
// The longest filter string (game, player name, clan) a request carries, NUL not counted.
inline constexpr std::size_t kFilterTextCapacity = 64;
inline constexpr std::size_t kLongestServersRequest =
    kServersRequestHeadLength + 4 + 3 * (kFilterTextCapacity + 1) + 1;

// The filter byte: bits 0-1 password, bits 2-3 players, bits 4-5 game type.
// 0 everywhere asks for every server.
enum class PasswordFilter : std::uint8_t { kAny = 0, kWith = 1, kWithout = 2 };
enum class PlayersFilter : std::uint8_t { kAny = 0, kNotFull = 1, kNotFullNotEmpty = 2 };
enum class GameTypeFilter : std::uint8_t {
    kAny = 0,
    kDeathmatch = 1,
    kTourney = 2,
    kTeamDeathmatch = 3
};

struct ServersFilter {
    std::uint16_t protocolMajor = kProtocolMajor;
    std::uint16_t protocolMinor = kProtocolMinor;
    const char* game = "";    // fs_game; empty for the base game
    const char* player = "";  // servers where a player of this name plays
    const char* clan = "";    // servers where a player of this clan plays
    PasswordFilter password = PasswordFilter::kAny;
    PlayersFilter players = PlayersFilter::kAny;
    GameTypeFilter gameType = GameTypeFilter::kAny;
};

// The filter byte of `filter`.
std::uint8_t FilterByte(const ServersFilter& filter);

// Writes the request for `filter` into `out`; returns its length, or 0 when
// a filter text is longer than kFilterTextCapacity or `capacity` is too small.
std::size_t BuildServersRequest(const ServersFilter& filter, unsigned char* out,
                                std::size_t capacity);

// The request as a master reads it back: false unless `bytes` is a whole
// request. The texts point into `bytes`.
bool ReadServersRequest(const unsigned char* bytes, std::size_t length, ServersFilter& filter);

struct ServerEntry {
    unsigned char address[4] = {};
    std::uint16_t port = 0;
};

// The number of entries in a reply datagram, or -1 when it does not start
// with the reply head or its length is not the head plus whole entries.
int CountServerEntries(const unsigned char* bytes, std::size_t length);

// Entry `index` of a reply whose count CountServerEntries gave.
ServerEntry ServerEntryAt(const unsigned char* bytes, int index);

// Writes `entry` as its six reply bytes.
void WriteServerEntry(const ServerEntry& entry, unsigned char* out);

// "A.B.C.D:PORT" with its NUL; 22 bytes always hold it.
inline constexpr std::size_t kEntryTextCapacity = 22;
void FormatServerEntry(const ServerEntry& entry, char* out);

}  // namespace velder
