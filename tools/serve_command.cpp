// velder serve: a stand-in Quake 4 server that answers the status request.
#include "tools/standin_commands.h"

#include <chrono>
#include <optional>
#include <utility>

#include "tools/cli11.h"
#include "tools/input_files.h"
#include "tools/views.h"

namespace velder::tools {

namespace {

// "name,clan,ping": the last two commas divide, so a name may hold commas.
Player ReadPlayer(const std::string& text) {
    const std::size_t second = text.rfind(',');
    const std::size_t first = second == std::string::npos || second == 0
                                  ? std::string::npos
                                  : text.rfind(',', second - 1);
    if (first == std::string::npos) {
        ThrowUsageError("bad player '" + text + "': give it as NAME,CLAN,PING");
    }
    const std::string pingText = text.substr(second + 1);
    const std::optional<long long> ping = ReadNumber(pingText, 0, 65535);
    if (!ping) {
        ThrowUsageError("bad ping '" + pingText + "' in player '" + text + "': give 0 to 65535");
    }
    return {.name = text.substr(0, first),
            .clan = text.substr(first + 1, second - first - 1),
            .ping = static_cast<int>(*ping)};
}

int RunServe(const ServeOptions& options) {
    const std::optional<Bytes> reply = options.replyFile.empty()
                                           ? standin::BuildStatusReply(options.sample)
                                           : ReadReplyFile(options.replyFile);
    if (!reply) {
        return kExitUsage;
    }
    standin::Options serve = StandInOptions(
        *reply, options.delayMs, options.bind, options.port, options.servers,
        AnswersPerSource(options.bind,
                         "whoever reaches it can make it send replies far longer than their "
                         "requests; each source address gets at most " +
                             std::to_string(kAnswersPerSource) + " answers a second"));
    serve.answerLimit = options.count;
    standin::Server server;
    if (!server.Start(serve)) {
        Complain(server.Error());
        return kExitFailure;
    }
    Say("velder serve: answering status requests on " + options.bind + ":" +
        std::to_string(server.Port()) +
        (options.servers > 1 ? " and the next " + std::to_string(options.servers - 1) + " ports"
                             : std::string()) +
        "\n");
    server.Wait();  // until interrupted or, with --count, done

    const standin::Counts counts = server.GetCounts();
    std::string summary = "velder serve: " + std::to_string(counts.answered) + " answers sent";
    for (const auto& [count, what] : {std::pair{counts.ignored, " datagrams ignored"},
                                      {counts.limited, " requests over the limit"},
                                      {counts.sendFailed, " answers the system refused to send"}}) {
        summary += count > 0 ? ", " + std::to_string(count) + what : "";
    }
    Say(summary + "\n");
    return counts.sendFailed == 0 ? kExitOk : kExitFailure;
}

}  // namespace

int AnswersPerSource(const std::string& bind, const std::string& what) {
    if (bind == standin::kLoopback) {
        return 0;
    }
    Complain("warning: listening on " + bind + ", not on " + standin::kLoopback + ": " + what);
    return kAnswersPerSource;
}

void AddListenOptions(CLI::App& command, std::string& bind, std::uint16_t& port,
                      const std::string& bindHelp) {
    command.add_option("--bind", bind, bindHelp)->capture_default_str()->check(CLI::ValidIPV4);
    NumberOption(command, "--port", port, 0, 65535, "UDP port (0 for a free one)");
}

void CheckPortRange(int servers, std::uint16_t first) {
    if (!standin::PortsFit(first, servers)) {
        ThrowUsageError("--servers " + std::to_string(servers) + " from port " +
                        std::to_string(first) + " runs past port 65535");
    }
}

standin::Options StandInOptions(Bytes reply, int delayMs, const std::string& bind,
                                std::uint16_t port, int ports, int answersPerSecond) {
    standin::Options options;
    options.reply = std::move(reply);
    options.delay = std::chrono::milliseconds(delayMs);
    options.bindAddress = bind;
    options.port = port;
    options.ports = ports;
    options.answersPerSecond = answersPerSecond;
    return options;
}

void AddServeCommand(CLI::App& app, ServeOptions& options, Run& run) {
    CLI::App* serve = app.add_subcommand(
        "serve", "A stand-in Quake 4 server: answers the status request until interrupted.");
    AddListenOptions(*serve, options.bind, options.port,
                     "address to listen on; any other than 127.0.0.1 draws a warning, and each "
                     "source address then gets at most 4 answers a second");
    NumberOption(*serve, "--servers", options.servers, 1, kMaxServers,
                 "listen on N consecutive ports from --port");
    CLI::Option* reply = serve->add_option(
        "--reply", options.replyFile,
        "answer with the bytes of FILE instead (a regular file of at most 65507 bytes)");
    CLI::App* sample = serve->add_option_group("sample", "the reply, unless --reply");
    sample->add_option("--name", options.sample.name, "si_name, colour codes allowed")
        ->capture_default_str();
    sample->add_option("--map", options.sample.map, "si_map")->capture_default_str();
    sample->add_option("--gametype", options.sample.gameType, "si_gameType")->capture_default_str();
    NumberOption(*sample, "--maxplayers", options.sample.maxPlayers, 0, 999, "si_maxPlayers");
    sample->add_option("--var", "a further server variable (repeatable)")
        ->type_name("KEY=VALUE")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->each([&vars = options.sample.vars](const std::string& var) {
            const std::size_t eq = var.find('=');
            if (eq == std::string::npos || eq == 0) {
                ThrowUsageError("bad variable '" + var + "' for --var: give it as KEY=VALUE");
            }
            vars.emplace_back(var.substr(0, eq), var.substr(eq + 1));
        });
    std::vector<Player>& players = options.sample.players;
    CLI::Option* given =
        sample->add_option("--player", "a player (repeatable, up to 32)")
            ->type_name("NAME,CLAN,PING")
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
            ->each([&players](const std::string& text) { players.push_back(ReadPlayer(text)); });
    sample
        ->add_option_function<std::size_t>(
            "--players", [&players](std::size_t count) { players = MadeUpPlayers(count); },
            "N made-up players")
        ->transform(Decimal(0, kMaxPlayers))
        ->excludes(given);
    NumberOption(*sample, "--os", options.sample.osMask, 0, 0xFFFFFFFF,
                 "the OS byte that ends the reply (1 Windows; 2 or 7 Linux)");
    sample->excludes(reply);
    NumberOption(*serve, "--delay-ms", options.delayMs, 0, kMaxDelayMs,
                 "wait N ms before each answer");
    serve
        ->add_option("--count", options.count,
                     "stop after N answers (GetInfo asks twice per query)")
        ->transform(Decimal(1, 1000000000));
    serve->callback([&options, &run] {
        if (options.sample.players.size() > kMaxPlayers) {
            ThrowUsageError("too many players: a server has at most " +
                            std::to_string(kMaxPlayers));
        } else if (options.servers > 1 && options.port == 0) {
            ThrowUsageError("--servers needs a --port to count from");
        }
        CheckPortRange(options.servers, options.port);
        run = [&options] { return RunServe(options); };
    });
}

}  // namespace velder::tools
