// Status replies of the tests' own, each written once, and the texts the
// library makes of them; standin/sample_replies.h holds those the
// benchmarks share.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "standin/sample_replies.h"
#include "standin/status_reply.h"
#include "tests/support/bytes.h"

namespace velder::support {

// The reply of the worked example: two cvars with colour codes, two records.
inline Bytes WorkedExampleReply() {
    return ParseBytes(
        "FF FF 'status' 00 04 03 02 01 'name' 00 '^c900Big ^7Arena' 00 'map' 00 'arena1' 00 00 00"
        " 00 32 00 10 27 00 00 'Ann' 00 '^1Red' 00"
        " 01 2C 01 10 27 00 00 'B^7ob' 00 00"
        " 20 01 00 00 00");
}

// What the worked example's reply becomes, from position 4, without the NUL.
inline Bytes WorkedExampleText() {
    return ParseBytes(
        "FF FF 'status' FF FF FF FF FF 'name' FF 'Big Arena' FF 'map' FF 'arena1' FF FE"
        " '50' FF 'Ann' FF 'Red' FF '300' FF 'Bob' FF ' ' FF FE");
}

// A server as `velder serve --name "^1Red ^7Arena" --maxplayers 8 ...` builds it.
inline standin::ServerSample SmallSample() {
    standin::ServerSample s;
    s.name = "^1Red ^7Arena";
    s.map = "mp/q4dm1";
    s.gameType = "DM";
    s.maxPlayers = 8;
    s.players = {{"^4Kane", "Rhino", 32}, {"Bob", "", 300}};
    return s;
}

// What SmallSample's reply becomes after the round-trip digits, without the NUL.
inline Bytes SmallSampleText() {
    return ParseBytes(
        "FF FF 'infoResponse' FF FF FF FF FF 'U' FF FF FF"
        " 'si_version' FF 'velder stand-in' FF 'si_name' FF 'Red Arena' FF 'si_map' FF 'mp/q4dm1' "
        "FF"
        " 'si_gameType' FF 'DM' FF 'si_maxPlayers' FF '8' FF 'si_usepass' FF '0' FF 'si_pure' FF "
        "'1' FF"
        " 'si_fragLimit' FF '20' FF 'si_timeLimit' FF '10' FF FE"
        " '32' FF 'Kane' FF 'Rhino' FF '300' FF 'Bob' FF ' ' FF FE");
}

}  // namespace velder::support
