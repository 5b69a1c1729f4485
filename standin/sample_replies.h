// Status replies that stand for what servers send, shared by the tests, the
// benchmarks and the fuzz seeds: each written once.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "query/protocol.h"
#include "query/status_format.h"

namespace velder::standin {

// A Quake 4 server's answer to the status request, 900 bytes long: header,
// challenge and protocol, the server's cvars, then 16 player records (client
// number, ping, rate, name, clan) and the closing 20 01 00 00 00.
inline Bytes RealisticStatusReply() {
    static const char* const kCvars[][2] = {
        {"si_name", "^c900Velder ^c999Test ^1Arena ^7| ^3DM"},
        {"si_map", "mp/q4dm7"},
        {"si_gameType", "DM"},
        {"gamename", "q4mp"},
        {"si_version", "Quake4 V1.4.2 win-x86 2008 (build 2147)"},
        {"si_maxPlayers", "16"},
        {"si_numPlayers", "16"},
        {"si_fragLimit", "50"},
        {"si_timeLimit", "15"},
        {"si_pure", "1"},
        {"si_usePass", "0"},
        {"si_spectators", "1"},
        {"si_warmup", "0"},
        {"si_countDown", "10"},
        {"si_teamDamage", "1"},
        {"si_autobalance", "1"},
        {"si_allowVoting", "1"},
        {"net_serverDedicated", "1"},
        {"net_serverPunkbusterEnabled", "1"},
        {"si_mapCycle", "mp/q4dm1;mp/q4dm7;mp/q4dm5"},
    };
    static const char* const kPlayers[16][2] = {
        {"^c090Gr^c999unt", "^1[V]"},
        {"Sarge", ""},
        {"^1Doom^7Guy", "^1[V]"},
        {"^ 2 Strogg^ 7 ", "clan"},
        {"Kane^>", ""},
        {"^c123M^c456a^c789x", "^2Q"},
        {"Rhino", "^4[T]"},
        {"Bidwell ^3Jr", ""},
        {"^5Cortez", "^5xX"},
        {"Morris", ""},
        {"^6Strauss", "^6[S]"},
        {"Anderson", ""},
        {"^7Voss", "^1[V]"},
        {"Makron^0!", ""},
        {"Sledge ^9Hammer", "^9HM"},
        {"Tidus", ""},
    };
    Bytes reply(kStatusReplyHead, kStatusReplyHeadLength);
    reply.append("\x13\x8A\x6C\x2F\x55\x00\x02\x00", 8);  // challenge, protocol 2.85
    for (const auto& cvar : kCvars) {
        reply += cvar[0];
        reply += '\0';
        reply += cvar[1];
        reply += '\0';
    }
    // The message of the day fills the reply up to 900 bytes.
    std::size_t records = sizeof kEndPattern;
    for (std::size_t p = 0; p < 16; ++p) {
        records += 7 + std::string_view(kPlayers[p][0]).size() + 1 +
                   std::string_view(kPlayers[p][1]).size() + 1;
    }
    const std::string motdKey = "si_motd";
    const std::size_t fixed = reply.size() + motdKey.size() + 1 + 1 + 2 + records;
    const std::string motdText = "Welcome! ^2Play fair^7, no camping. Map vote every 3rd map. ";
    std::string motd;
    while (fixed + motd.size() < 900) {
        motd += motdText[motd.size() % motdText.size()];
    }
    reply += motdKey + '\0' + motd + '\0';
    reply.append(2, '\0');  // the empty key and value closing the cvars
    for (std::size_t p = 0; p < 16; ++p) {
        const unsigned ping = 20 + 13 * static_cast<unsigned>(p);
        reply += static_cast<char>(p);
        reply += static_cast<char>(ping & 0xFF);
        reply += static_cast<char>(ping >> 8);
        reply.append("\xA8\x61\x00\x00", 4);  // rate 25000
        reply += kPlayers[p][0];
        reply += '\0';
        reply += kPlayers[p][1];
        reply += '\0';
    }
    reply.append(reinterpret_cast<const char*>(kEndPattern), sizeof kEndPattern);
    return reply;
}

// The reply with the longest text: the section marker at once, a head whose
// number is 65535, 890 bytes that are each escaped, and the 00 that ends the
// field and writes the number. 900 bytes.
inline Bytes LongestTextReply() {
    Bytes reply("\x00\x00\x00\x00\xFF\xFF\x00\x00\x00", 9);
    for (std::size_t k = 0; k < 890; ++k) {
        const auto low = static_cast<unsigned char>(1 + k % 31);  // 01 .. 1F
        const auto high = static_cast<unsigned char>(0x80 + k % 128);
        reply += static_cast<char>(k % 2 == 0 ? high : low);
    }
    reply += '\0';
    return reply;
}

// As long a text the other way round: the number first, then 890 escapes, so
// that the text ends with an escape.
inline Bytes LongestTextEndingInEscape() {
    return Bytes("\x00\x00\x00\x00\xFF\xFF\x00\x00\x00\x00", 10) +
           LongestTextReply().substr(9, 890);
}

// 900 bytes of plain printable text: words and spaces, no colour codes.
inline Bytes PrintableTextReply() {
    const std::string words = "The quick brown fox jumps over the lazy dog; 0123456789 (q4dm7) ";
    Bytes reply;
    while (reply.size() < 900) {
        reply += words[reply.size() % words.size()];
    }
    return reply;
}

}  // namespace velder::standin
