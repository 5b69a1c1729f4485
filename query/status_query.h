// GetInfo's work: one status request to one game server, and its answer.
#pragma once

#include <cstdint>

namespace velder {

// Reads "host:port" from `data`, queries the server and writes the result
// text over `data`. Returns RESULT_DATA or RESULT_CONTINUE.
std::int32_t QueryStatus(char* data);

}  // namespace velder
