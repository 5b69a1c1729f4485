// The velder program as a user runs it: real processes, real loopback queries.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "platform/program.h"
#include "query/protocol.h"
#include "standin/standin_server.h"
#include "standin/status_reply.h"
#include "tests/support/child_process.h"
#include "tests/support/samples.h"
#include "tests/support/udp_client.h"
#include "tools/tests/velder_program.h"

namespace {

class Cli : public testing::Test {};

using namespace std::chrono_literals;
using namespace std::string_literals;
using velder::Bytes;
using velder::platform::BesideProgram;
using velder::standin::BuildStatusReply;
using velder::standin::ServerSample;
using velder::support::SmallSample;
using velder::tooltest::ChildProcess;
using velder::tooltest::kVelder;
using velder::tooltest::Lines;
using velder::tooltest::ProgramRun;
using velder::tooltest::RunProgram;
using velder::tooltest::Velder;

// A host name that no resolver takes (its first label is longer than 63
// bytes), so that looking it up never leaves this machine.
const std::string kNoSuchHost = std::string(64, 'x') + ".invalid";

// A file beside the test program, removed again at the end of the test.
class TempFile {
  public:
    TempFile(const std::string& name, const std::string& content) : path_(BesideProgram(name)) {
        std::ofstream(path_, std::ios::binary) << content;
    }
    ~TempFile() { std::remove(path_.c_str()); }
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

// Stand-in servers inside the test, answering every status request with
// `reply` (none: silent) after `delay`.
class StandIn {
  public:
    explicit StandIn(std::optional<Bytes> reply, std::chrono::milliseconds delay = 0ms,
                     int ports = 1) {
        velder::standin::Options options;
        options.reply = std::move(reply);
        options.delay = delay;
        options.ports = ports;
        started_ = server_.Start(std::move(options));
    }
    bool Started() const { return started_; }
    std::string Address(int index = 0) const { return server_.Address(index); }
    std::string Counted() const {
        const auto c = server_.GetCounts();
        return "received " + std::to_string(c.received) + ", answered " +
               std::to_string(c.answered) + ", failed " + std::to_string(c.sendFailed) +
               ", limited " + std::to_string(c.limited);
    }

  private:
    velder::standin::Server server_;
    bool started_ = false;
};

ServerSample WithOsByte(ServerSample sample, std::uint32_t osMask) {
    sample.osMask = osMask;
    return sample;
}

// The round-trip time varies; everything else in the output must not.
std::string WithoutTimes(const std::string& text) {
    // The summary's round trip: five characters after the 21 of the address.
    static const std::regex summary("(^|\n)([^\n]{21})[ 0-9]{5} ms  ");
    static const std::regex fields("answered in [0-9]+ ms");
    static const std::regex json("\"round_trip_ms\":[0-9]+");
    std::string out = std::regex_replace(text, summary, "$1$2    T ms  ");
    out = std::regex_replace(out, fields, "answered in T ms");
    return std::regex_replace(out, json, "\"round_trip_ms\":T");
}

// `address` as the first column of the summary.
std::string Column(std::string address) {
    address.resize(std::max<std::size_t>(address.size(), 21), ' ');
    return address;
}

// The "address" and "status" of every JSON line, in order.
std::vector<std::string> Statuses(const std::string& jsonLines) {
    static const std::regex line(R"re(\{"address":"([^"]*)","status":"([a-z_]*)",[^\n]*\}\n)re");
    std::vector<std::string> seen;
    for (std::sregex_iterator m(jsonLines.begin(), jsonLines.end(), line), end; m != end; ++m) {
        seen.push_back((*m)[1].str() + " " + (*m)[2].str());
    }
    return seen;
}

// What each refused line says is command_line_test's; here, how the program tells it.
TEST_F(Cli, UsageErrorsAreOneLineAndExitWith2) {
    const std::string missing = BesideProgram("no-such-list.txt");
    const struct {
        std::vector<std::string> args;
        std::string names;
    } cases[] = {
        {{"serve", "--port", "x"}, "--port"},
        {{"info", "-f", missing}, "velder: cannot open the server list '" + missing + "'\n"},
    };
    for (const auto& c : cases) {
        const ProgramRun run = Velder(c.args);
        EXPECT_EQ(2, run.exitCode) << c.names;
        EXPECT_EQ(0u, run.err.find("velder: ")) << run.err;
        EXPECT_NE(std::string::npos, run.err.find(c.names)) << run.err;
        EXPECT_EQ(run.err.size() - 1, run.err.find('\n')) << run.err;
        EXPECT_EQ("", run.out) << c.names;
    }
}

TEST_F(Cli, HelpForEveryCommandAndTheVersion) {
    const struct {
        std::vector<std::string> args;
        const char* shows;
    } cases[] = {
        {{"help"}, "address to listen on"},
        {{"--help"}, "read addresses from FILE"},
        {{"info", "--help"}, "read addresses from FILE"},
        {{"info", "127.0.0.1", "-h"}, "Exit status: 0 when every server answered"},
        {{"help", "serve"}, "address to listen on"},
        {{"console", "--help"}, "IsQuakeActive"},
        {{"demo", "--help"}, "stand-in server inside the program"},
        {{"browse", "--help"}, "--playing"},
        {{"--version"}, "velder "},
    };
    for (const auto& c : cases) {
        const ProgramRun run = Velder(c.args);
        EXPECT_EQ(0, run.exitCode) << c.shows;
        EXPECT_NE(std::string::npos, run.out.find(c.shows)) << run.out;
        EXPECT_EQ("", run.err);
    }
    EXPECT_EQ(std::string::npos, Velder({"info", "--help"}).out.find("address to listen on"));
}

// One run meets every outcome, and only answers count as success.
TEST_F(Cli, OutcomesAreToldApart) {
    StandIn answers(BuildStatusReply(SmallSample()));
    StandIn empty{Bytes()};  // a 0-byte datagram: GetInfo cannot receive it
    StandIn silent(std::nullopt);
    ASSERT_TRUE(answers.Started() && empty.Started() && silent.Started());
    const std::vector<std::string> args = {"info", answers.Address(), empty.Address(), kNoSuchHost,
                                           silent.Address()};

    ProgramRun run = Velder(args);
    EXPECT_EQ(1, run.exitCode) << run.err;
    EXPECT_EQ(
        Column(answers.Address()) + "    T ms  2/8      mp/q4dm1        Red Arena\n" +
            Column(empty.Address()) +
            "  unreadable reply (9999): the port is closed, or the reply could not be read\n" +
            Column(kNoSuchHost + ":28004") + "  no such host\n" + Column(silent.Address()) +
            "  no answer\n",
        WithoutTimes(run.out));
    EXPECT_EQ("", run.err);

    run = Velder({"info", "--json", "--jobs", "4", kNoSuchHost, silent.Address(), empty.Address(),
                  answers.Address()});
    EXPECT_EQ(1, run.exitCode);
    EXPECT_EQ((std::vector<std::string>{
                  kNoSuchHost + ":28004 no_such_host", silent.Address() + " no_answer",
                  empty.Address() + " unreadable", answers.Address() + " answered"}),
              Statuses(run.out))
        << run.out;
    EXPECT_EQ("velder: " + kNoSuchHost + ":28004: no such host\nvelder: " + silent.Address() +
                  ": no answer\nvelder: " + empty.Address() +
                  ": unreadable reply (9999): the port is closed, or the reply could not be read\n",
              run.err);

    EXPECT_EQ(0, Velder({"info", answers.Address(), answers.Address()}).exitCode);
}

TEST_F(Cli, AnAddressWithoutPortMeansTheGamesPort) {
    velder::standin::Server server;
    velder::standin::Options options;
    options.reply = BuildStatusReply(SmallSample());
    options.port = 28004;
    if (!server.Start(options)) {
        GTEST_SKIP() << "port 28004 is taken here: " << server.Error();
    }
    const ProgramRun run = Velder({"info", "127.0.0.1"});
    EXPECT_EQ(0, run.exitCode) << run.out << run.err;
    EXPECT_EQ(0u, run.out.find(Column("127.0.0.1:28004") + " ")) << run.out;
    EXPECT_NE(std::string::npos, run.out.find("Red Arena")) << run.out;
}

TEST_F(Cli, ServerListsFromFilesAndStandardInputKeepTheirOrder) {
    StandIn first(BuildStatusReply(SmallSample()), 150ms);  // answers last
    StandIn second(velder::support::WorkedExampleReply());
    StandIn third(std::nullopt);
    ASSERT_TRUE(first.Started() && second.Started() && third.Started());
    const TempFile list("cli_test_servers.txt", "# servers to watch\r\n\r\n  " + first.Address() +
                                                    "  \r\n#" + third.Address() + "\r\n" +
                                                    second.Address() + "\r\n");
    const TempFile input("cli_test_stdin.txt", third.Address() + "\n");

    const ProgramRun run =
        Velder({"info", "--json", second.Address(), "-f", list.Path(), "-f", "-", first.Address()},
               false, input.Path());
    EXPECT_EQ(1, run.exitCode) << run.err;
    EXPECT_EQ(
        (std::vector<std::string>{second.Address() + " answered", first.Address() + " answered",
                                  second.Address() + " answered", third.Address() + " no_answer",
                                  first.Address() + " answered"}),
        Statuses(run.out))
        << run.out;

    const TempFile bad("cli_test_bad.txt", first.Address() + "\n\n" + "host:99999\n");
    const ProgramRun refused = Velder({"info", "-f", bad.Path()});
    EXPECT_EQ(2, refused.exitCode);
    EXPECT_EQ("velder: " + bad.Path() +
                  ":3: bad port '99999' in 'host:99999': give a number from 1 to 65535\n",
              refused.err);
    EXPECT_EQ("", refused.out) << "nothing is asked before the whole list is read";
}

TEST_F(Cli, SummaryWithPlayersAndVariables) {
    StandIn server(BuildStatusReply(SmallSample()));
    ASSERT_TRUE(server.Started());
    const ProgramRun run = Velder({"info", "--players", "--vars", server.Address()});
    EXPECT_EQ(0, run.exitCode) << run.err;
    EXPECT_EQ(Column(server.Address()) +
                  "    T ms  2/8      mp/q4dm1        Red Arena\n"
                  "   ping  name  clan\n"
                  "     32  Kane  Rhino\n"
                  "    300  Bob   \n"
                  "  si_version     velder stand-in\n"
                  "  si_name        Red Arena\n"
                  "  si_map         mp/q4dm1\n"
                  "  si_gameType    DM\n"
                  "  si_maxPlayers  8\n"
                  "  si_usepass     0\n"
                  "  si_pure        1\n"
                  "  si_fragLimit   20\n"
                  "  si_timeLimit   10\n",
              WithoutTimes(run.out));
}

// Many servers at once, each answering late: all answers come, in the order
// given. That they are asked side by side is in_order_test's to check, and
// how long it takes bench/many_servers.sh's to report.
TEST_F(Cli, ManyServersAnswerInTheOrderGiven) {
    constexpr int kServers = 64;
    StandIn servers(BuildStatusReply(SmallSample()), 50ms, kServers);
    ASSERT_TRUE(servers.Started());
    std::vector<std::string> args = {"info", "--json", "--jobs", "64"};
    for (int i = 0; i < kServers; ++i) {
        args.push_back(servers.Address(i));
    }
    const ProgramRun run = Velder(args);
    EXPECT_EQ(0, run.exitCode) << servers.Counted();
    const std::vector<std::string> statuses = Statuses(run.out);
    ASSERT_EQ(static_cast<std::size_t>(kServers), statuses.size());
    for (int i = 0; i < kServers; ++i) {
        EXPECT_EQ(servers.Address(i) + " answered", statuses[i]);
    }
}

TEST_F(Cli, DemoShowsItsSampleServer) {
    const ProgramRun run = Velder({"demo"});
    EXPECT_EQ(0, run.exitCode) << run.err;
    for (const char* part : {"Velder Demo", "mp/q4dm5", "6/", "Kane ", "Rhino", "Strogg"}) {
        EXPECT_NE(std::string::npos, run.out.find(part)) << part << " in\n" << run.out;
    }
    EXPECT_EQ(std::string::npos, run.out.find('^')) << "colour codes must be gone";
}

// `velder serve` as a separate process.
class Serve : public Cli {
  protected:
    // Starts `velder serve ARGS` and reads back the port it announced. With
    // `shell`, the program runs after that shell command (Linux only).
    bool StartServe(std::vector<std::string> args, const std::string& host = "127.0.0.1",
                    const std::string& shell = "") {
        args.insert(args.begin(), "serve");
        bool started = false;
        if (shell.empty()) {
            started = serve_.Start(kVelder, args);
        } else {
            std::string command = shell + " && exec " + kVelder;
            for (const std::string& arg : args) {
                command += " " + arg;
            }
            started = serve_.Start("/bin/sh", {"-c", command});
        }
        if (!started) {
            return false;
        }
        const std::regex announced("answering status requests on " +
                                   std::regex_replace(host, std::regex("\\."), "\\.") +
                                   ":([0-9]+)");
        const auto end = std::chrono::steady_clock::now() + 20s;
        while (std::chrono::steady_clock::now() < end) {
            std::smatch m;
            const std::string out = serve_.Output();
            if (std::regex_search(out, m, announced)) {
                port_ = static_cast<std::uint16_t>(std::stoi(m[1]));
                return true;
            }
            if (serve_.Wait(20ms)) {
                return false;
            }
        }
        return false;
    }

    // Starts `velder serve --port BASE --servers COUNT ARGS` on a run of free
    // ports. The runs are taken below the ports the system hands out by
    // itself (from 32768 on Linux, 49152 on Windows), where the other tests'
    // sockets are not, and below 28004, which one test takes.
    bool StartServers(int count, const std::vector<std::string>& args,
                      const std::string& shell = "") {
        std::mt19937 random(std::random_device{}());
        std::uniform_int_distribution<int> bases(16384, 28003 - count);
        for (int attempt = 0; attempt < 5; ++attempt) {
            const int base = bases(random);
            std::vector<std::string> all = {"--port", std::to_string(base), "--servers",
                                            std::to_string(count)};
            all.insert(all.end(), args.begin(), args.end());
            if (StartServe(all, "127.0.0.1", shell)) {
                return port_ == base;
            }
            serve_.Kill();
        }
        return false;
    }

    // What serve wrote so far, in text mode.
    std::string Said() const { return Lines(serve_.Output()); }

    std::string Address(int offset = 0) const {
        return "127.0.0.1:" + std::to_string(port_ + offset);
    }

    ChildProcess serve_;
    std::uint16_t port_ = 0;
};

const Bytes kRequest(reinterpret_cast<const char*>(velder::kStatusRequest),
                     sizeof velder::kStatusRequest);

TEST_F(Serve, BuildsTheReplyFromItsOptions) {
    ASSERT_TRUE(StartServe({"--port", "0", "--count", "2", "--name", "^1Red ^7Arena", "--map",
                            "mp/q4dm1", "--gametype", "DM", "--maxplayers", "8", "--player",
                            "^4Kane,Rhino,32", "--player", "Bob,,300", "--os", "7"}))
        << serve_.Errors();
    velder::support::Client client;
    ASSERT_TRUE(client.Ready());
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(client.Send(port_, kRequest));
        const std::optional<Bytes> reply = client.Receive(5s);
        ASSERT_TRUE(reply.has_value());
        EXPECT_EQ(BuildStatusReply(WithOsByte(SmallSample(), 7)), *reply);
    }
    ASSERT_TRUE(serve_.Wait(10s)) << "serve did not stop after --count 2";
    EXPECT_EQ(0, serve_.ExitCode());
    EXPECT_NE(std::string::npos, Said().find("velder serve: 2 answers sent\n")) << Said();
}

TEST_F(Serve, FixedReplyFromAFileAfterADelay) {
    const TempFile reply("cli_test_reply.bin", velder::support::WorkedExampleReply());
    ASSERT_TRUE(
        StartServe({"--port", "0", "--reply", reply.Path(), "--delay-ms", "120", "--count", "2"}))
        << serve_.Errors();
    const ProgramRun run = Velder({"info", "--raw", Address()}, true);
    EXPECT_EQ(0, run.exitCode) << run.err;
    ASSERT_GE(run.out.size(), 5u);
    // 120 ms less one step of a 16 ms tick counter, and some.
    EXPECT_GE(std::stoi(run.out.substr(0, 4)), 100) << "the answer came before its delay";
    EXPECT_EQ(velder::support::WorkedExampleText() + "\n", run.out.substr(4));
    EXPECT_TRUE(serve_.Wait(10s));
}

// Which datagrams are requests is the stand-in's own test; here, what the
// summary line says of them.
TEST_F(Serve, SaysWhatItAnsweredAndIgnored) {
    ASSERT_TRUE(StartServe({"--port", "0", "--count", "1"})) << serve_.Errors();
    velder::support::Client client;
    ASSERT_TRUE(client.Ready());
    ASSERT_TRUE(client.Send(port_, "x"s));
    EXPECT_FALSE(client.Receive(150ms).has_value());
    ASSERT_TRUE(client.Send(port_, kRequest));
    EXPECT_TRUE(client.Receive(5s).has_value());
    ASSERT_TRUE(serve_.Wait(10s));
    EXPECT_EQ(0, serve_.ExitCode());
    EXPECT_NE(std::string::npos, Said().find("velder serve: 1 answers sent, 1 datagrams ignored\n"))
        << Said();
}

TEST_F(Serve, BadReplyFilesAreRefused) {
    const TempFile tooLong("cli_test_long.bin", std::string(65508, 'x'));
    const TempFile longest("cli_test_longest.bin", std::string(65507, 'x'));
    const std::string missing = BesideProgram("no-such-reply.bin");
    const std::string folder = BesideProgram("");
    struct Case {
        std::string file;
        std::string message;
    };
    std::vector<Case> cases = {
        {missing, "velder: cannot read the reply file '" + missing + "': no such file\n"},
        {folder, "velder: the reply file '" + folder + "' is not a regular file\n"},
        {tooLong.Path(), "velder: the reply file '" + tooLong.Path() +
                             "' has 65508 bytes: a datagram holds at most 65507\n"},
    };
#if !defined(_WIN32)
    cases.push_back({"/dev/zero", "velder: the reply file '/dev/zero' is not a regular file\n"});
#endif
    for (const Case& c : cases) {
        const ProgramRun run = Velder({"serve", "--port", "0", "--reply", c.file}, false);
        EXPECT_EQ(2, run.exitCode) << c.file;
        EXPECT_EQ(c.message, run.err);
    }
    ASSERT_TRUE(StartServe({"--port", "0", "--reply", longest.Path(), "--count", "1"}))
        << serve_.Errors();
    velder::support::Client client;
    ASSERT_TRUE(client.Send(port_, kRequest));
    const std::optional<Bytes> reply = client.Receive(5s);
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(65507u, reply->size());
}

// Anything but the default address is bound only when asked, with a warning,
// and then each source gets a few answers a second.
TEST_F(Serve, OtherAddressesWarnAndLimitAnswers) {
    ASSERT_TRUE(StartServe({"--port", "0", "--bind", "127.0.0.2"}, "127.0.0.2")) << serve_.Errors();
    EXPECT_NE(std::string::npos, serve_.Errors().find("velder: warning: listening on 127.0.0.2"))
        << serve_.Errors();
    // Counted with a plain socket: under Wine a socket bound to 127.0.0.2
    // sends from 127.0.0.1, and GetInfo rightly drops such answers.
    velder::support::Client client;
    constexpr int kRequests = 12;
    for (int i = 0; i < kRequests; ++i) {
        ASSERT_TRUE(client.SendTo("127.0.0.2", port_, kRequest));
    }
    const int answered = client.ReceiveUpTo(kRequests, 300ms);
    // A burst that straddles the turn of a second may draw two seconds' worth.
    EXPECT_GE(answered, 4);
    EXPECT_LE(answered, 8) << "a source gets a few answers a second";
    serve_.Kill();

    // The default address answers every request.
    ASSERT_TRUE(StartServe({"--port", "0"})) << serve_.Errors();
    EXPECT_EQ("", serve_.Errors());
    std::vector<std::string> args = {"info", "--jobs", "12"};
    args.insert(args.end(), kRequests, Address());
    const ProgramRun run = Velder(args);
    EXPECT_EQ(0, run.exitCode) << run.out;
}

TEST_F(Serve, ConsecutivePorts) {
    ASSERT_TRUE(StartServers(3, {"--count", "6", "--players", "3"})) << serve_.Errors();
    for (int offset = 0; offset < 3; ++offset) {
        const ProgramRun run = Velder({"info", "--players", Address(offset)});
        EXPECT_EQ(0, run.exitCode) << Address(offset);
        EXPECT_NE(std::string::npos, run.out.find("Kane")) << run.out;
    }
    EXPECT_TRUE(serve_.Wait(10s));
    EXPECT_EQ(0, serve_.ExitCode());
}

#if defined(__linux__)
// Resident memory in KiB.
long ResidentKiB(int pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

TEST_F(Serve, JunkDoesNotFillMemory) {
    ASSERT_TRUE(StartServe({"--port", "0"})) << serve_.Errors();
    const long before = ResidentKiB(serve_.Pid());
    velder::support::Client client;
    const Bytes junk(60000, 'j');
    for (int i = 0; i < 1000; ++i) {
        client.Send(port_, junk);  // some may be dropped: that is fine
    }
    ASSERT_TRUE(client.Send(port_, kRequest));
    ASSERT_TRUE(client.Receive(5s).has_value()) << "serve still answers";
    const long grown = ResidentKiB(serve_.Pid()) - before;
    EXPECT_LT(grown, 16 * 1024) << "KiB after 60 MB of junk";
    serve_.Interrupt();
    ASSERT_TRUE(serve_.Wait(10s));
    EXPECT_NE(std::string::npos, Said().find("datagrams ignored")) << Said();
}

// The soft limit on open files is raised to the hard one; past that, a clear error.
TEST_F(Serve, OpenFileLimit) {
    ASSERT_TRUE(StartServers(1000, {"--count", "2"}, "ulimit -Sn 256")) << serve_.Errors();
    EXPECT_EQ(0, Velder({"info", Address(999)}).exitCode);
    ASSERT_TRUE(serve_.Wait(10s));
    EXPECT_EQ(0, serve_.ExitCode()) << serve_.Errors();

    const ProgramRun run = RunProgram("/bin/sh", {"-c", "ulimit -n 256 && exec " + kVelder +
                                                            " serve --servers 1000 --port 20000"});
    EXPECT_EQ(1, run.exitCode);
    EXPECT_EQ(
        "velder: 1000 servers need about 1016 open files; this system allows 256 (ulimit -Hn)\n",
        run.err);
}
#endif

}  // namespace
