// A number the process keeps for this DLL, so that it outlives the module:
// the host may unmap the DLL and map it again, and the number is still
// there. Kept as an environment variable of the process.
#pragma once

#include <cstdint>

namespace velder::platform {

// The number under `name`; 0 when none was written in this process.
std::uint32_t ReadProcessCounter(const char* name);
void WriteProcessCounter(const char* name, std::uint32_t value);

}  // namespace velder::platform
