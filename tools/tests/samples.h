// Replies and the result texts the library makes of them, shared by the tests.
#pragma once

#include <string>
#include <vector>

#include "standin/status_reply.h"

namespace velder::testing {

using namespace std::string_literals;
using Bytes = std::vector<unsigned char>;

inline Bytes ToBytes(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// A short reply in the Quake 4 layout with colour codes in names.
inline const Bytes kArenaReply = ToBytes(
    "\xFF\xFFstatus\0\x04\x03\x02\x01name\0^c900Big ^7Arena\0map\0arena1\0\0\0"
    "\x00\x32\x00\x10\x27\x00\x00"
    "Ann\0^1Red\0"
    "\x01\x2C\x01\x10\x27\x00\x00"
    "B^7ob\0\0"
    "\x20\x01\x00\x00\x00"s);

// Its result text from the fifth character on (after the round-trip digits).
inline const std::string kArenaText =
    "\xFF\xFFstatus\xFF\xFF\xFF\xFF\xFFname\xFF"
    "Big Arena\xFFmap\xFF"
    "arena1\xFF\xFE"
    "50\xFF"
    "Ann\xFFRed\xFF"
    "300\xFF"
    "Bob\xFF \xFF\xFE"s;

// A server as `velder serve` builds it.
inline standin::ServerSample SmallSample() {
    standin::ServerSample s;
    s.name = "^1Red ^7Arena";
    s.map = "mp/q4dm1";
    s.gameType = "DM";
    s.maxPlayers = 8;
    s.players = {{"^4Kane", "Rhino", 32}, {"Bob", "", 300}};
    return s;
}

// The result text of SmallSample's reply from the fifth character on.
inline const std::string kSmallSampleText =
    "\xFF\xFFinfoResponse\xFF\xFF\xFF\xFF\xFF"
    "V\xFF\xFF\xFF"
    "si_version\xFFvelder stand-in\xFFsi_name\xFFRed Arena\xFFsi_map\xFFmp/q4dm1\xFF"
    "si_gameType\xFF"
    "DM\xFFsi_maxPlayers\xFF"
    "8\xFFsi_usePass\xFF"
    "0\xFF"
    "si_pure\xFF"
    "1\xFFsi_fragLimit\xFF"
    "20\xFFsi_timeLimit\xFF"
    "10\xFF\xFE"
    "32\xFFKane\xFFRhino\xFF"
    "300\xFF"
    "Bob\xFF \xFF\xFE"s;

}  // namespace velder::testing
