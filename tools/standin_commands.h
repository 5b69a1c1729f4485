// The commands that run stand-ins: serve, demo and master.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "query/master_list.h"
#include "query/protocol.h"
#include "standin/standin_server.h"
#include "standin/status_reply.h"
#include "tools/command_basics.h"

namespace velder::tools {

struct ServeOptions {
    std::string bind = standin::kLoopback;
    std::uint16_t port = kGamePort;  // 0: a free port of the system's choosing
    int servers = 1;                 // listen on this many consecutive ports
    standin::ServerSample sample;
    std::string replyFile;  // answer with this file's bytes instead
    int delayMs = 0;
    std::size_t count = 0;  // stop after this many answers in all; 0: run on
};

struct MasterServeOptions {
    std::string bind = standin::kLoopback;
    std::uint16_t port = kMasterPort;      // 0: a free port
    std::string listFile;                  // host:port lines to list
    int servers = 0;                       // or this many stand-ins of its own
    std::uint16_t serverPort = kGamePort;  // the first stand-in's port; 0: free ports
    int delayMs = 0;                       // the stand-ins' delay before each answer
    int players = 6;                       // made-up players on each stand-in
};

void AddServeCommand(CLI::App& app, ServeOptions& options, Run& run);
void AddDemoCommand(CLI::App& app, Run& run);
void AddMasterCommand(CLI::App& app, MasterServeOptions& options, Run& run);

// The made-up servers of `velder serve --players`, `velder master --servers`
// and `velder demo`: `count` players with varied pings and clans (at most
// kMaxPlayers), and the server the demo shows.
std::vector<Player> MadeUpPlayers(std::size_t count);
standin::ServerSample DemoSample();

// A request of a few bytes draws an answer many times longer: from where
// others can send, a stand-in must not answer at any rate. The answers a
// second for each source address, with a warning that says `what` when
// `bind` is not the loopback address; 0 (no limit) on the loopback address.
int AnswersPerSource(const std::string& bind, const std::string& what);
inline constexpr int kAnswersPerSource = 4;

// The options every stand-in command listens by: --bind (any address but
// the loopback one draws the warning `bindHelp` tells of) and --port.
void AddListenOptions(CLI::App& command, std::string& bind, std::uint16_t& port,
                      const std::string& bindHelp);

// Refuses `servers` consecutive ports from `first` when they run past port 65535.
void CheckPortRange(int servers, std::uint16_t first);

// What a stand-in of `velder serve` or `velder master --servers` runs on:
// `ports` consecutive ports from `port` on `bind`, each answering with `reply`.
standin::Options StandInOptions(Bytes reply, int delayMs, const std::string& bind,
                                std::uint16_t port, int ports, int answersPerSecond);

}  // namespace velder::tools
