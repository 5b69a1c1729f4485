#include "query/master_list.h"

#include <cstdio>
#include <cstring>

namespace velder {
namespace {

// Appends `text` and its NUL; false when it is too long or does not fit.
bool PutText(const char* text, unsigned char* out, std::size_t capacity, std::size_t& used) {
    const std::size_t length = std::strlen(text);
    if (length > kFilterTextCapacity || capacity - used < length + 1) {
        return false;
    }
    std::memcpy(out + used, text, length + 1);
    used += length + 1;
    return true;
}

// Reads a NUL-ended text at `at`; false when no NUL ends it in time.
bool TakeText(const unsigned char* bytes, std::size_t length, std::size_t& at, const char*& text) {
    const void* end = std::memchr(bytes + at, 0, length - at);
    if (end == nullptr) {
        return false;
    }
    text = reinterpret_cast<const char*>(bytes + at);
    at = static_cast<std::size_t>(static_cast<const unsigned char*>(end) - bytes) + 1;
    return true;
}

}  // namespace

std::uint8_t FilterByte(const ServersFilter& filter) {
    return static_cast<std::uint8_t>((static_cast<unsigned>(filter.password) & 3) |
                                     (static_cast<unsigned>(filter.players) & 3) << 2 |
                                     (static_cast<unsigned>(filter.gameType) & 3) << 4);
}

std::size_t BuildServersRequest(const ServersFilter& filter, unsigned char* out,
                                std::size_t capacity) {
    if (capacity < kServersRequestHeadLength + 4) {
        return 0;
    }
    std::size_t used = kServersRequestHeadLength;
    std::memcpy(out, kServersRequestHead, used);
    out[used++] = static_cast<unsigned char>(filter.protocolMinor & 0xFF);
    out[used++] = static_cast<unsigned char>(filter.protocolMinor >> 8);
    out[used++] = static_cast<unsigned char>(filter.protocolMajor & 0xFF);
    out[used++] = static_cast<unsigned char>(filter.protocolMajor >> 8);
    if (!PutText(filter.game, out, capacity, used) ||
        !PutText(filter.player, out, capacity, used) ||
        !PutText(filter.clan, out, capacity, used) || used == capacity) {
        return 0;
    }
    out[used++] = FilterByte(filter);
    return used;
}

bool ReadServersRequest(const unsigned char* bytes, std::size_t length, ServersFilter& filter) {
    if (length < kServersRequestHeadLength + 4 ||
        std::memcmp(bytes, kServersRequestHead, kServersRequestHeadLength) != 0) {
        return false;
    }
    std::size_t at = kServersRequestHeadLength;
    filter.protocolMinor = static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
    filter.protocolMajor = static_cast<std::uint16_t>(bytes[at + 2] | bytes[at + 3] << 8);
    at += 4;
    if (!TakeText(bytes, length, at, filter.game) || !TakeText(bytes, length, at, filter.player) ||
        !TakeText(bytes, length, at, filter.clan) || at + 1 != length) {
        return false;
    }
    const unsigned flags = bytes[at];
    filter.password = static_cast<PasswordFilter>(flags & 3);
    filter.players = static_cast<PlayersFilter>(flags >> 2 & 3);
    filter.gameType = static_cast<GameTypeFilter>(flags >> 4 & 3);
    return true;
}

int CountServerEntries(const unsigned char* bytes, std::size_t length) {
    if (length < kServersReplyHeadLength ||
        std::memcmp(bytes, kServersReplyHead, kServersReplyHeadLength) != 0 ||
        (length - kServersReplyHeadLength) % kServerEntryLength != 0) {
        return -1;
    }
    return static_cast<int>((length - kServersReplyHeadLength) / kServerEntryLength);
}

ServerEntry ServerEntryAt(const unsigned char* bytes, int index) {
    const unsigned char* at =
        bytes + kServersReplyHeadLength + static_cast<std::size_t>(index) * kServerEntryLength;
    ServerEntry entry;
    std::memcpy(entry.address, at, 4);
    entry.port = static_cast<std::uint16_t>(at[4] | at[5] << 8);
    return entry;
}

void WriteServerEntry(const ServerEntry& entry, unsigned char* out) {
    std::memcpy(out, entry.address, 4);
    out[4] = static_cast<unsigned char>(entry.port & 0xFF);
    out[5] = static_cast<unsigned char>(entry.port >> 8);
}

void FormatServerEntry(const ServerEntry& entry, char* out) {
    std::snprintf(out, kEntryTextCapacity, "%u.%u.%u.%u:%u", entry.address[0], entry.address[1],
                  entry.address[2], entry.address[3], static_cast<unsigned>(entry.port));
}

}  // namespace velder
