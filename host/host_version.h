// What a version of mIRC hands velder-async.dll: the size of the data buffer
// every call gets.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velder::async {

// True when mIRC's `version` (low word the major version, high word the
// minor) is major.minor or later.
bool AtLeast(std::uint32_t version, std::uint32_t major, std::uint32_t minor);

// The most characters of a host's buffer the DLL uses: what it converts a
// UTF-16 argument into lives on the calling thread's stack.
inline constexpr std::size_t kMostHostCharacters = 16384;

// The characters (bytes in ANSI, code units in UTF-16) of the data buffer
// mIRC hands every call, NUL included: by its version, or from mBytes
// where mIRC says it (7.64 and later, UTF-16).
std::size_t HostBufferCapacity(std::uint32_t version, std::uint32_t bytes);

}  // namespace velder::async
