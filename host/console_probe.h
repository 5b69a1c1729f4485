// Is the Quake 4 console window open on this machine?
#pragma once

#include <cstdint>

namespace velder {

// The game's console window: both the class and the title must match.
inline constexpr char kConsoleClass[] = "Q4 WinConsole";
inline constexpr char kConsoleTitle[] = "Quake 4";

// Answers whether a top-level window with this class and title exists.
using WindowSearch = bool (*)(const char* className, const char* title);

// Writes "TRUE" or "FALSE" with its NUL at the start of `data`, from what
// `search` finds, and returns RESULT_DATA. Bytes after the NUL are untouched.
std::int32_t ProbeConsole(char* data, WindowSearch search);

}  // namespace velder
