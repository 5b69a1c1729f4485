// The velder program as a user runs it: real processes, real loopback queries.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "host/exports.h"
#include "standin/standin_server.h"
#include "standin/status_reply.h"
#include "standin/udp_client.h"
#include "tests/loaded_library.h"
#include "tools/tests/child_process.h"
#include "tools/tests/samples.h"

namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using velder::testing::BesideThisProgram;
using velder::testing::Bytes;
using velder::testing::ChildProcess;
using velder::testing::ProgramRun;
using velder::testing::RunProgram;

const std::string kVelder = BesideThisProgram(VELDER_CLI_FILE);

// Text written in text mode: Windows ends its lines with CR LF.
std::string Lines(std::string text) {
#if defined(_WIN32)
    for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;) {
        text.erase(at, 1);
    }
#endif
    return text;
}

// Runs velder. Standard error is always text; standard output is text
// unless `binaryOutput` (--raw, which must come out byte for byte).
ProgramRun Velder(const std::vector<std::string>& args, bool binaryOutput = false) {
    ProgramRun run = RunProgram(kVelder, args);
    run.err = Lines(run.err);
    if (!binaryOutput) {
        run.out = Lines(run.out);
    }
    return run;
}

// A stand-in server inside the test that answers status requests with `reply`.
class StandIn {
  public:
    explicit StandIn(Bytes reply, velder::standin::Answer answer = velder::standin::Answer::kReply,
                     std::chrono::milliseconds delay = 0ms) {
        velder::standin::Options options;
        options.reply = std::move(reply);
        options.answer = answer;
        options.delay = delay;
        started_ = server_.Start(std::move(options));
    }
    bool Started() const { return started_; }
    std::string Address() const { return server_.Address(); }

  private:
    velder::standin::Server server_;
    bool started_ = false;
};

// The round-trip time varies; everything else in the output must not.
std::string WithoutTimes(const std::string& text) {
    static const std::regex readable("answered in [0-9]+ ms");
    static const std::regex json("\"round_trip_ms\":[0-9]+");
    return std::regex_replace(std::regex_replace(text, readable, "answered in T ms"), json,
                              "\"round_trip_ms\":T");
}

bool IsFourDigits(const std::string& s) {
    return std::regex_match(s, std::regex("[0-9]{4}"));
}

TEST(Cli, UsageErrorsNameTheProblemAndExitWith2) {
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"info", "127.0.0.1"}, "velder: server '127.0.0.1' has no colon: give it as HOST:PORT\n"},
        {{"info", "127.0.0.1:port"},
         "velder: bad port 'port' in '127.0.0.1:port': give a number from 1 to 65535\n"},
        {{"info", "--verbose", "127.0.0.1:28004"},
         "velder: unknown option '--verbose' for 'velder info'\n"},
        {{"info"}, "velder: no server given: velder info HOST:PORT...\n"},
        {{"info", "--json"}, "velder: no server given: velder info HOST:PORT...\n"},
        {{}, "velder: no command given: try 'velder help'\n"},
        {{"serve", "--port", "x"},
         "velder: bad value 'x' for --port: give a number from 0 to 65535\n"},
    };
    for (const auto& c : cases) {
        const ProgramRun run = Velder(c.args);
        EXPECT_EQ(2, run.exitCode) << c.message;
        EXPECT_EQ(c.message, run.err);
        EXPECT_EQ("", run.out) << c.message;
    }
}

TEST(Cli, ReadableViewOfAKnownReply) {
    StandIn server(velder::testing::kArenaReply);
    ASSERT_TRUE(server.Started());
    const ProgramRun run = Velder({"info", server.Address()});
    EXPECT_EQ(0, run.exitCode) << run.err;
    EXPECT_EQ(server.Address() +
                  ": answered in T ms\n"
                  "  fields: 5\n"
                  "     1  status\n"
                  "     2  name\n"
                  "     3  Big Arena\n"
                  "     4  map\n"
                  "     5  arena1\n"
                  "  records: 2\n"
                  "     #  number  first  second\n"
                  "     1  50      Ann    Red\n"
                  "     2  300     Bob     \n"
                  "  end mark: present\n",
              WithoutTimes(run.out));
    EXPECT_EQ("", run.err);
}

TEST(Cli, RawIsTheResultTextByteForByte) {
    StandIn server(velder::testing::kArenaReply);
    ASSERT_TRUE(server.Started());
    const ProgramRun run = Velder({"info", "--raw", server.Address()}, true);
    EXPECT_EQ(0, run.exitCode) << run.err;
    ASSERT_GE(run.out.size(), 5u);
    EXPECT_TRUE(IsFourDigits(run.out.substr(0, 4))) << run.out.substr(0, 4);
    EXPECT_EQ(velder::testing::kArenaText + "\n", run.out.substr(4));
}

TEST(Cli, JsonOfAKnownReply) {
    StandIn server(velder::testing::kArenaReply);
    ASSERT_TRUE(server.Started());
    const ProgramRun run = Velder({"info", "--json", server.Address()});
    EXPECT_EQ(0, run.exitCode) << run.err;
    EXPECT_EQ("{\"address\":\"" + server.Address() +
                  "\",\"answered\":true,\"round_trip_ms\":T,"
                  "\"fields\":[\"status\",\"name\",\"Big Arena\",\"map\",\"arena1\"],"
                  "\"records\":[{\"number\":\"50\",\"first\":\"Ann\",\"second\":\"Red\"},"
                  "{\"number\":\"300\",\"first\":\"Bob\",\"second\":\" \"}],"
                  "\"unfinished\":[],\"complete\":true}\n",
              WithoutTimes(run.out));
}

TEST(Cli, ServersAreShownInTheGivenOrderAndSilenceGivesExit1) {
    StandIn first(velder::testing::kArenaReply, velder::standin::Answer::kReply, 150ms);
    StandIn silent({}, velder::standin::Answer::kSilent);
    StandIn last(velder::testing::ToBytes("\xFF\xFFlast\0\0\0\x20\x01\0\0\0"s));
    ASSERT_TRUE(first.Started() && silent.Started() && last.Started());
    const std::vector<std::string> addresses = {first.Address(), silent.Address(), last.Address()};

    ProgramRun run = Velder({"info", "--json", addresses[0], addresses[1], addresses[2]});
    EXPECT_EQ(1, run.exitCode);
    EXPECT_EQ("velder: no answer from " + addresses[1] + "\n", run.err);
    const std::regex line(R"re(\{"address":"([^"]*)","answered":(true|false),[^\n]*\}\n)re");
    std::vector<std::string> order;
    std::vector<std::string> answered;
    for (std::sregex_iterator m(run.out.begin(), run.out.end(), line), end; m != end; ++m) {
        order.push_back((*m)[1]);
        answered.push_back((*m)[2]);
    }
    EXPECT_EQ(addresses, order) << run.out;
    EXPECT_EQ((std::vector<std::string>{"true", "false", "true"}), answered);

    run = Velder({"info", "--jobs", "1", addresses[2], addresses[1]});
    EXPECT_EQ(1, run.exitCode);
    EXPECT_NE(std::string::npos, run.out.find(addresses[1] + ": no answer\n")) << run.out;
    EXPECT_LT(run.out.find(addresses[2] + ": "), run.out.find(addresses[1] + ": ")) << run.out;

    run = Velder({"info", "--raw", addresses[1], addresses[2]}, true);
    EXPECT_EQ(1, run.exitCode);
    ASSERT_GE(run.out.size(), 6u);
    EXPECT_EQ('\n', run.out[0]) << "an empty line stands for the silent server";
    EXPECT_EQ("\xFF\xFFlast\xFF\xFE\xFE\n"s, run.out.substr(5));
}

TEST(Cli, ConsoleAnswersFalseWithoutTheGame) {
    const ProgramRun run = Velder({"console"});
    EXPECT_EQ(0, run.exitCode);
    EXPECT_EQ("FALSE\n", run.out);
}

TEST(Cli, DemoShowsItsSampleServer) {
    const ProgramRun run = Velder({"demo"});
    EXPECT_EQ(0, run.exitCode) << run.err;
    for (const char* part : {"Velder Demo", "mp/q4dm5", "records: 6", "Kane ", "Rhino", "Strogg",
                             "end mark: present"}) {
        EXPECT_NE(std::string::npos, run.out.find(part)) << part << " in\n" << run.out;
    }
    EXPECT_EQ(std::string::npos, run.out.find('^')) << "colour codes must be gone";
}

// `velder serve` as a separate process, queried through the library.
class Serve : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(library_.Loaded());
        getInfo_ = library_.Find("GetInfo");
        ASSERT_NE(nullptr, getInfo_);
    }

    // Starts `velder serve ARGS --port 0` and reads back the port it took.
    bool StartServe(std::vector<std::string> args) {
        args.insert(args.begin(), "serve");
        if (!serve_.Start(kVelder, args)) {
            return false;
        }
        static const std::regex announced(R"(answering status requests on 127\.0\.0\.1:([0-9]+))");
        const auto end = std::chrono::steady_clock::now() + 20s;
        while (std::chrono::steady_clock::now() < end) {
            std::smatch m;
            const std::string out = serve_.Output();
            if (std::regex_search(out, m, announced)) {
                port_ = std::stoi(m[1]);
                return true;
            }
            if (serve_.Wait(20ms)) {
                return false;
            }
        }
        return false;
    }

    // GetInfo as mIRC calls it; the result text, or nothing for RESULT_CONTINUE.
    std::optional<std::string> GetInfo(int port) {
        std::vector<char> data(kDataCapacity, '\0');
        const std::string address = "127.0.0.1:" + std::to_string(port);
        address.copy(data.data(), address.size());
        if (getInfo_(nullptr, nullptr, data.data(), nullptr, 0, 0) != RESULT_DATA) {
            return std::nullopt;
        }
        return std::string(data.data());
    }

    velder::testing::LoadedLibrary library_;
    HostExport getInfo_ = nullptr;
    ChildProcess serve_;
    int port_ = 0;
};

TEST_F(Serve, BuiltReplyGivesTheExpectedResultText) {
    ASSERT_TRUE(StartServe({"--port", "0", "--count", "2", "--name", "^1Red ^7Arena", "--map",
                            "mp/q4dm1", "--gametype", "DM", "--maxplayers", "8", "--player",
                            "^4Kane,Rhino,32", "--player", "Bob,,300"}))
        << serve_.Errors();
    const std::optional<std::string> text = GetInfo(port_);
    ASSERT_TRUE(text.has_value());
    ASSERT_GE(text->size(), 4u);
    EXPECT_TRUE(IsFourDigits(text->substr(0, 4)));
    EXPECT_EQ(velder::testing::kSmallSampleText, text->substr(4));

    // GetInfo sends its request twice: that is the two answers --count allows.
    ASSERT_TRUE(serve_.Wait(10s)) << "serve did not stop after --count 2";
    EXPECT_EQ(0, serve_.ExitCode());
    EXPECT_NE(std::string::npos, serve_.Output().find("2 answers sent")) << serve_.Output();
}

TEST_F(Serve, FixedReplyFromAFileAfterADelay) {
    const std::string path = BesideThisProgram("cli_test_reply.bin");
    {
        std::ofstream file(path, std::ios::binary);
        const Bytes& reply = velder::testing::kArenaReply;
        file.write(reinterpret_cast<const char*>(reply.data()),
                   static_cast<std::streamsize>(reply.size()));
    }
    ASSERT_TRUE(StartServe({"--port", "0", "--reply", path, "--delay-ms", "120", "--count", "2"}))
        << serve_.Errors();
    const std::optional<std::string> text = GetInfo(port_);
    std::remove(path.c_str());
    ASSERT_TRUE(text.has_value());
    // 120 ms less one step of a 16 ms tick counter, and some.
    EXPECT_GE(std::stoi(text->substr(0, 4)), 100) << "the answer came before its delay";
    EXPECT_EQ(velder::testing::kArenaText, text->substr(4));
    EXPECT_TRUE(serve_.Wait(10s));
}

TEST_F(Serve, AnswersOnlyStatusRequests) {
    ASSERT_TRUE(StartServe({"--port", "0", "--count", "1"})) << serve_.Errors();
    velder::standin::Client client;
    ASSERT_TRUE(client.Ready());
    const auto port = static_cast<std::uint16_t>(port_);
    for (const std::string& other : {"\xFF\xFFgetStatus\0"s, "\xFF\xFF\xFF\xFFgetinfo\0"s, "x"s}) {
        ASSERT_TRUE(client.Send(port, velder::testing::ToBytes(other)));
        EXPECT_FALSE(client.Receive(200ms).has_value()) << other;
    }
    // Only the leading FF FF "getInfo" counts.
    ASSERT_TRUE(client.Send(port, velder::testing::ToBytes("\xFF\xFFgetInfo"s)));
    const std::optional<Bytes> reply = client.Receive(5s);
    ASSERT_TRUE(reply.has_value());
    const std::string head = "\xFF\xFFinfoResponse\0\xFF\xFF\xFF\xFF"s;
    EXPECT_EQ(head, std::string(reply->begin(), reply->begin() + head.size()));
    EXPECT_TRUE(serve_.Wait(10s));
    EXPECT_EQ(0, serve_.ExitCode());
}

TEST_F(Serve, ConsecutivePorts) {
    // Three free ports in a row: try from ports the system hands out.
    bool started = false;
    int base = 0;
    for (int attempt = 0; attempt < 5 && !started; ++attempt) {
        {
            velder::standin::Server probe;
            ASSERT_TRUE(probe.Start({}));
            base = probe.Port();
        }
        if (base + 2 > 65535) {
            continue;
        }
        started = StartServe(
            {"--port", std::to_string(base), "--servers", "3", "--count", "6", "--players", "3"});
        if (!started) {
            serve_.Kill();
        }
    }
    ASSERT_TRUE(started) << serve_.Errors();
    EXPECT_EQ(base, port_);
    for (int port = base; port < base + 3; ++port) {
        const std::optional<std::string> text = GetInfo(port);
        ASSERT_TRUE(text.has_value()) << "port " << port;
        EXPECT_NE(std::string::npos, text->find("Kane")) << "port " << port;
    }
    EXPECT_TRUE(serve_.Wait(10s));
    EXPECT_EQ(0, serve_.ExitCode());
}

}  // namespace
