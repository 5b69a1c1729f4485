// A server's status in the standard library's types, for the programs
// around the library (never a DLL): the stand-in builds its replies from
// these, and the tool reads result texts back into them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velder {

using Bytes = std::string;  // any byte values, NULs included

inline const unsigned char* Data(std::string_view bytes) {
    return reinterpret_cast<const unsigned char*>(bytes.data());
}

// A server has client numbers 0 to 31; 32 marks the end of the player list.
inline constexpr std::size_t kMaxPlayers = 32;

// A player as a status reply lists it, and as the tool reads it back.
struct Player {
    std::string name;
    std::string clan;
    int ping = 0;  // 0 to 65535; read back, -1 when the reply held no plain number
};

}  // namespace velder
