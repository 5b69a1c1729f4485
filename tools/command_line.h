// The command line of the `velder` tool, read into plain settings.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "standin/status_reply.h"

namespace velder::tools {

using standin::MadeUpPlayers;
using standin::Player;
using standin::ServerSample;
using standin::kMaxPlayers;

enum class Format { kReadable, kRaw, kJson };

struct InfoOptions {
    Format format = Format::kReadable;
    int jobs = 16;                     // queries running at the same time
    std::vector<std::string> servers;  // HOST:PORT, in the order given
};

struct ServeOptions {
    std::string bind = "127.0.0.1";
    std::uint16_t port = 28004;  // 0: a free port of the system's choosing
    int servers = 1;             // listen on this many consecutive ports
    ServerSample sample;
    std::string replyFile;  // answer with this file's bytes instead
    int delayMs = 0;
    std::size_t count = 0;  // stop after this many answers in all; 0: run on
};

enum class Command { kHelp, kVersion, kInfo, kConsole, kServe, kDemo };

struct CommandLine {
    Command command = Command::kHelp;
    InfoOptions info;
    ServeOptions serve;
    // Set when the command line is wrong: one line naming the problem.
    std::string error;
};

inline constexpr int kMaxJobs = 256;
inline constexpr int kMaxServers = 4096;
inline constexpr int kMaxDelayMs = 60000;

// Reads the arguments after the program name.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

// Why `address` is not a usable HOST:PORT, or nothing when it is.
std::optional<std::string> CheckServerAddress(std::string_view address);

// The usage text shown by `velder help`.
std::string UsageText();

}  // namespace velder::tools
