// The system's millisecond tick counter.
#pragma once

#include <cstdint>

namespace velder::platform {

// Milliseconds since an arbitrary start, 32 bits wide: it wraps to 0 every
// 49.7 days, so only differences between two readings mean anything.
// Windows: GetTickCount. POSIX: CLOCK_MONOTONIC cut to its low 32 bits.
std::uint32_t TickMilliseconds();

}  // namespace velder::platform
