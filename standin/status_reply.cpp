#include "standin/status_reply.h"

#include <algorithm>

#include "query/protocol.h"

namespace velder::standin {

namespace {

constexpr std::uint32_t kPlayerRate = 25000;  // bytes per second a client accepts
constexpr char kEndOfPlayers = 32;

// `value` in `size` bytes, least significant first.
void Put(Bytes& out, std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i) {
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
}

}  // namespace

bool IsStatusRequest(std::string_view datagram) {
    return datagram.size() <= kLongestStatusRequest &&
           datagram.starts_with(std::string_view(kStatusRequestHead, sizeof kStatusRequestHead));
}

Challenge RequestChallenge(std::string_view request) {
    // A request too short to hold one is answered with FF FF FF FF, as
    // published captures of id Tech 4 servers show.
    Challenge challenge;
    challenge.fill('\xFF');
    if (request.size() >= sizeof kStatusRequestHead + challenge.size()) {
        request.copy(challenge.data(), challenge.size(), sizeof kStatusRequestHead);
    }
    return challenge;
}

void EchoChallenge(Bytes& reply, const Challenge& challenge) {
    if (reply.size() >= sizeof kStatusReplyHead + challenge.size() &&
        reply.compare(0, sizeof kStatusReplyHead, kStatusReplyHead, sizeof kStatusReplyHead) == 0) {
        reply.replace(sizeof kStatusReplyHead, challenge.size(), challenge.data(),
                      challenge.size());
    }
}

Bytes BuildStatusReply(const ServerSample& sample) {
    Bytes out(kStatusReplyHead, sizeof kStatusReplyHead);
    Put(out, 0xFFFFFFFFu, 4);  // no challenge yet
    Put(out, kProtocolMinor, 2);
    Put(out, kProtocolMajor, 2);

    std::vector<std::pair<std::string, std::string>> vars = {
        {"si_version", "velder stand-in"},
        {"si_name", sample.name},
        {"si_map", sample.map},
        {"si_gameType", sample.gameType},
        {"si_maxPlayers", std::to_string(sample.maxPlayers)},
        {"si_usepass", "0"},
        {"si_pure", "1"},
        {"si_fragLimit", "20"},
        {"si_timeLimit", "10"},
    };
    for (const auto& var : sample.vars) {
        const auto same = std::find_if(vars.begin(), vars.end(),
                                       [&var](const auto& v) { return v.first == var.first; });
        if (same == vars.end()) {
            vars.push_back(var);
        } else {
            same->second = var.second;
        }
    }
    vars.emplace_back("", "");  // closes the list
    for (const auto& [key, value] : vars) {
        out.append(key).push_back('\0');
        out.append(value).push_back('\0');
    }
    for (std::size_t client = 0; client < sample.players.size() && client < kMaxPlayers; ++client) {
        const Player& player = sample.players[client];
        Put(out, static_cast<std::uint32_t>(client), 1);
        Put(out, static_cast<std::uint16_t>(player.ping), 2);
        Put(out, kPlayerRate, 4);
        out.append(player.name).push_back('\0');
        out.append(player.clan).push_back('\0');
    }
    out.push_back(kEndOfPlayers);
    Put(out, sample.osMask, 4);
    return out;
}

}  // namespace velder::standin
