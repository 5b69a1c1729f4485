// The tool's commands, each returning the program's exit status.
#pragma once

#include "tools/command_line.h"

namespace velder::tools {

inline constexpr int kExitOk = 0;
inline constexpr int kExitNoAnswer = 1;  // a server did not answer
inline constexpr int kExitFailure = 1;   // serve or demo could not run
inline constexpr int kExitUsage = 2;
inline constexpr int kExitNoLibrary = 3;

int RunInfo(const InfoOptions& options);
int RunConsole();
int RunServe(const ServeOptions& options);
int RunDemo();

}  // namespace velder::tools
