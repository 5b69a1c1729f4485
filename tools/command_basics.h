// What every command of the `velder` program shares: its exit status, its
// limits, and how a command that has read its line runs.
#pragma once

#include <functional>
#include <string>

namespace CLI {
class App;
}

namespace velder::tools {

// The program's exit status, one for each meaning.
inline constexpr int kExitOk = 0;
// A server or the master did not answer, or the command could not run.
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitNoLibrary = 3;

inline constexpr int kMaxJobs = 256;
inline constexpr int kMaxServers = 4096;
inline constexpr int kMaxDelayMs = 60000;

// The command a command line chose, ready to run; it returns the exit status.
using Run = std::function<int()>;

// Stops reading the command line with `problem` as the usage error.
[[noreturn]] void ThrowUsageError(const std::string& problem);

}  // namespace velder::tools
