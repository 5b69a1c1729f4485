#include "standin/status_reply.h"

#include <cstring>

namespace velder::standin {

namespace {

constexpr char kReplyHeader[] = "\xFF\xFFinfoResponse";  // and its NUL
// Protocol version 2.85, as Quake 4 1.4.2 servers send it: minor then major.
constexpr std::uint16_t kProtocolMajor = 2;
constexpr std::uint16_t kProtocolMinor = 85;
constexpr std::uint32_t kPlayerRate = 25000;  // bytes per second a client accepts
constexpr unsigned char kEndOfPlayers = 32;
constexpr char kRequestHeader[] = "\xFF\xFFgetInfo";  // and its NUL
// A request too short to hold a challenge is answered with this one, as
// published captures of id Tech 4 servers show.
constexpr std::uint32_t kNoChallenge = 0xFFFFFFFFu;
static_assert(sizeof kRequestHeader == kRequestChallengeAt);
static_assert(sizeof kReplyHeader == kReplyChallengeAt);

void PutU16(Bytes& out, std::uint16_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>(v >> 8));
}

void PutU32(Bytes& out, std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<char>((v >> shift) & 0xFF));
    }
}

void PutString(Bytes& out, std::string_view s) {
    out += s;
    out.push_back('\0');
}

void SetVar(std::vector<std::pair<std::string, std::string>>& vars, const std::string& key,
            const std::string& value) {
    for (auto& [k, v] : vars) {
        if (k == key) {
            v = value;
            return;
        }
    }
    vars.emplace_back(key, value);
}

}  // namespace

bool IsStatusRequest(const unsigned char* datagram, std::size_t length) {
    return length >= sizeof kRequestHeader && length <= kMaxRequest &&
           std::memcmp(datagram, kRequestHeader, sizeof kRequestHeader) == 0;
}

Challenge RequestChallenge(const unsigned char* datagram, std::size_t length) {
    Challenge challenge;
    challenge.fill('\xFF');
    if (length >= kRequestChallengeAt + kChallengeLength) {
        std::memcpy(challenge.data(), datagram + kRequestChallengeAt, kChallengeLength);
    }
    return challenge;
}

void EchoChallenge(Bytes& reply, const Challenge& challenge) {
    if (reply.size() >= kReplyChallengeAt + kChallengeLength &&
        reply.compare(0, sizeof kReplyHeader, kReplyHeader, sizeof kReplyHeader) == 0) {
        reply.replace(kReplyChallengeAt, kChallengeLength, challenge.data(), kChallengeLength);
    }
}

Bytes BuildStatusReply(const ServerSample& sample) {
    Bytes out;
    out.reserve(512);
    PutString(out, kReplyHeader);
    PutU32(out, kNoChallenge);
    PutU16(out, kProtocolMinor);
    PutU16(out, kProtocolMajor);

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
    for (const auto& [key, value] : sample.vars) {
        SetVar(vars, key, value);
    }
    for (const auto& [key, value] : vars) {
        PutString(out, key);
        PutString(out, value);
    }
    PutString(out, "");
    PutString(out, "");

    for (std::size_t client = 0; client < sample.players.size() && client < kMaxPlayers; ++client) {
        const Player& player = sample.players[client];
        out.push_back(static_cast<char>(client));
        PutU16(out, static_cast<std::uint16_t>(player.ping));
        PutU32(out, kPlayerRate);
        PutString(out, player.name);
        PutString(out, player.clan);
    }
    out.push_back(static_cast<char>(kEndOfPlayers));
    PutU32(out, sample.osMask);
    return out;
}

}  // namespace velder::standin
