// velder serve: a stand-in Quake 4 server that answers the status request.
#include "tools/commands.h"

#include <asio.hpp>
#include <chrono>
#include <csignal>

#include "tools/cli11.h"
#include "tools/input_files.h"
#include "tools/samples.h"
#include "tools/views.h"

namespace velder::tools {

namespace {

// "name,clan,ping": the last two commas divide, so a name may hold commas.
standin::Player ReadPlayer(const std::string& text) {
    const std::size_t second = text.rfind(',');
    const std::size_t first = second == std::string::npos || second == 0
                                  ? std::string::npos
                                  : text.rfind(',', second - 1);
    if (first == std::string::npos) {
        Refuse("bad player '" + text + "': give it as NAME,CLAN,PING");
    }
    const std::string pingText = text.substr(second + 1);
    const std::optional<long long> ping = ReadNumber(pingText, 0, 65535);
    if (!ping) {
        Refuse("bad ping '" + pingText + "' in player '" + text + "': give 0 to 65535");
    }
    return {.name = text.substr(0, first),
            .clan = text.substr(first + 1, second - first - 1),
            .ping = static_cast<int>(*ping)};
}

int RunServe(const ServeOptions& options) {
    standin::Options serve;
    serve.reply = options.replyFile.empty() ? standin::BuildStatusReply(options.sample)
                                            : ReadReplyFile(options.replyFile);
    if (!serve.reply) {
        return kExitUsage;
    }
    serve.delay = std::chrono::milliseconds(options.delayMs);
    serve.bindAddress = options.bind;
    serve.port = options.port;
    serve.ports = options.servers;
    serve.answerLimit = options.count;
    serve.answersPerSecond =
        AnswersPerSource(options.bind,
                         "whoever reaches it can make it send replies far longer than their "
                         "requests; each source address gets at most " +
                             std::to_string(kAnswersPerSource) + " answers a second");
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
    // Serves until interrupted or, with --count, done.
    asio::signal_set interrupts(server.Context(), SIGINT, SIGTERM);
    interrupts.async_wait([&server](asio::error_code, int) { server.Stop(); });
    server.Wait();

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

CLI::App* AddServeCommand(CLI::App& app, ServeOptions& options, Run& run) {
    CLI::App* serve = app.add_subcommand(
        "serve", "A stand-in Quake 4 server: answers the status request until interrupted.");
    serve
        ->add_option("--bind", options.bind,
                     "address to listen on; any other than 127.0.0.1 draws a warning, and each "
                     "source address then gets at most 4 answers a second")
        ->capture_default_str()
        ->check(CLI::ValidIPV4);
    serve->add_option("--port", options.port, "UDP port (0 for a free one)")
        ->capture_default_str()
        ->transform(Decimal(0, 65535));
    serve->add_option("--servers", options.servers, "listen on N consecutive ports from --port")
        ->transform(Decimal(1, kMaxServers));
    // The players and variables as given, read once the line is read.
    struct Given {
        std::vector<std::string> vars, players;
        std::size_t madeUp = 0;
    };
    const auto given = std::make_shared<Given>();
    standin::ServerSample& sample = options.sample;
    CLI::Option* sampleOptions[] = {
        serve->add_option("--name", sample.name, "si_name, colour codes allowed")
            ->capture_default_str(),
        serve->add_option("--map", sample.map, "si_map")->capture_default_str(),
        serve->add_option("--gametype", sample.gameType, "si_gameType")->capture_default_str(),
        serve->add_option("--maxplayers", sample.maxPlayers, "si_maxPlayers")
            ->capture_default_str()
            ->transform(Decimal(0, 999)),
        serve->add_option("--var", given->vars, "a further server variable (repeatable)")
            ->type_name("KEY=VALUE")
            ->allow_extra_args(false)
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll),
        serve->add_option("--player", given->players, "a player (repeatable, up to 32)")
            ->type_name("NAME,CLAN,PING")
            ->allow_extra_args(false)
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll),
        serve->add_option("--players", given->madeUp, "N made-up players")
            ->transform(Decimal(0, standin::kMaxPlayers)),
        serve
            ->add_option("--os", sample.osMask,
                         "the OS byte that ends the reply (1 Windows; 2 or 7 Linux)")
            ->capture_default_str()
            ->transform(Decimal(0, 0xFFFFFFFF)),
    };
    sampleOptions[5]->excludes(sampleOptions[6]);
    CLI::Option* reply = serve->add_option(
        "--reply", options.replyFile,
        "answer with the bytes of FILE instead (a regular file of at most 65507 bytes)");
    for (CLI::Option* option : sampleOptions) {
        reply->excludes(option);
    }
    serve->add_option("--delay-ms", options.delayMs, "wait N ms before each answer")
        ->transform(Decimal(0, kMaxDelayMs));
    serve
        ->add_option("--count", options.count,
                     "stop after N answers (GetInfo asks twice per query)")
        ->transform(Decimal(1, 1000000000));
    serve->callback([&options, &run, given] {
        std::vector<standin::Player>& players = options.sample.players;
        if (given->madeUp > 0) {
            players = MadeUpPlayers(given->madeUp);
        }
        for (const std::string& text : given->players) {
            players.push_back(ReadPlayer(text));
        }
        for (const std::string& var : given->vars) {
            const std::size_t eq = var.find('=');
            if (eq == std::string::npos || eq == 0) {
                Refuse("bad variable '" + var + "' for --var: give it as KEY=VALUE");
            }
            options.sample.vars.emplace_back(var.substr(0, eq), var.substr(eq + 1));
        }
        if (players.size() > standin::kMaxPlayers) {
            Refuse("too many players: a server has at most " +
                   std::to_string(standin::kMaxPlayers));
        } else if (options.servers > 1 && options.port == 0) {
            Refuse("--servers needs a --port to count from");
        } else if (options.port + options.servers - 1 > 65535) {
            Refuse("--servers " + std::to_string(options.servers) + " from port " +
                   std::to_string(options.port) + " runs past port 65535");
        }
        run = [&options] { return RunServe(options); };
    });
    return serve;
}

}  // namespace velder::tools
