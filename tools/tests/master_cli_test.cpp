// velder list, browse and master as a user runs them, against the stand-in
// master and against a master played by the test, all on loopback.
#include <gtest/gtest.h>

#include <algorithm>
#include <asio.hpp>
#include <chrono>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/program.h"
#include "query/master_query.h"
#include "query/protocol.h"
#include "standin/master_server.h"
#include "standin/standin_server.h"
#include "standin/status_reply.h"
#include "tests/support/bytes.h"
#include "tests/support/child_process.h"
#include "tests/support/listed_servers.h"
#include "tools/tests/velder_program.h"

namespace {

using namespace std::chrono_literals;
using asio::ip::udp;
using velder::Bytes;
using velder::ParseBytes;
using velder::platform::BesideProgram;
using velder::standin::ListedServer;
using velder::standin::MasterServer;
using velder::tooltest::ChildProcess;
using velder::tooltest::kVelder;
using velder::tooltest::Lines;
using velder::tooltest::ProgramRun;
using velder::tooltest::RunProgram;
using velder::tooltest::Velder;

std::string Lines(const std::vector<ListedServer>& servers) {
    std::string lines;
    for (const ListedServer& server : servers) {
        char text[velder::kEntryTextCapacity];
        velder::FormatServerEntry(server.entry, text);
        lines += std::string(text) + "\n";
    }
    return lines;
}

TEST(MasterCli, ListPrintsExactlyTheMastersList) {
    for (const int count : {1, 231, 232, 5000}) {
        SCOPED_TRACE(count);
        MasterServer master;
        velder::standin::MasterOptions options;
        options.servers = velder::support::ListedServers(count, "127.1");  // asked by no test
        ASSERT_TRUE(master.Start(options)) << master.Error();
        const ProgramRun run = Velder({"list", "--master", master.Address(), "--wait-ms", "300"});
        EXPECT_EQ(0, run.exitCode) << run.err;
        EXPECT_EQ(Lines(options.servers), run.out);
        EXPECT_EQ("", run.err);
        EXPECT_EQ(1u, master.GetCounts().answered);
    }
}

// A master played by the test: it sees each request and its sender, and
// sends whatever the test wants.
class FakeMaster {
  public:
    FakeMaster() : socket_(io_, udp::endpoint(asio::ip::make_address_v4("127.0.0.1"), 0)) {}
    std::string Address() const {
        return "127.0.0.1:" + std::to_string(socket_.local_endpoint().port());
    }
    // The next datagram within `timeout`; its sender becomes the one Send answers.
    std::optional<Bytes> Receive(std::chrono::milliseconds timeout) {
        Bytes buffer(2048, '\0');
        std::optional<Bytes> got;
        socket_.async_receive_from(asio::buffer(buffer), client_,
                                   [&](asio::error_code ec, std::size_t length) {
                                       if (!ec) {
                                           got = buffer.substr(0, length);
                                       }
                                   });
        io_.restart();
        io_.run_for(timeout);
        socket_.cancel();
        io_.restart();
        io_.run();
        return got;
    }
    void Send(const Bytes& bytes) { socket_.send_to(asio::buffer(bytes), client_); }
    const udp::endpoint& Client() const { return client_; }

  private:
    asio::io_context io_;
    udp::socket socket_;
    udp::endpoint client_;
};

TEST(MasterCli, FiltersGoIntoTheRequest) {
    struct Row {
        std::vector<std::string> options;
        const char* request;
    };
    // Each filter's bytes are master_list_test's, which options become which
    // filter command_line_test's; here, that every one reaches the request.
    const Row rows[] = {
        {.options = {"--game", "q4ctf", "--player", "Sarge", "--clan", "[Q]", "--password", "no",
                     "--not-empty", "--protocol", "1.2"},
         .request = "FF FF 'getServers' 00 02 00 01 00 'q4ctf' 00 'Sarge' 00 '[Q]' 00 0A"},
    };
    for (const Row& row : rows) {
        FakeMaster master;
        std::vector<std::string> args = {"list", "--master", master.Address(), "--wait-ms", "200"};
        args.insert(args.end(), row.options.begin(), row.options.end());
        ChildProcess list;
        ASSERT_TRUE(list.Start(kVelder, args));
        const std::optional<Bytes> request = master.Receive(10s);
        ASSERT_TRUE(request.has_value());
        EXPECT_EQ(ParseBytes(row.request), *request);
        master.Send(ParseBytes("FF FF 'servers' 00 7F 00 00 01 64 6D"));
        ASSERT_TRUE(list.Wait(10s));
        EXPECT_EQ(0, list.ExitCode());
        EXPECT_EQ("127.0.0.1:28004\n", Lines(list.Output()));
    }
}

TEST(MasterCli, DropsAndCountsWhatDoesNotBelongToTheList) {
    FakeMaster master;
    ChildProcess list;
    ASSERT_TRUE(list.Start(kVelder, {"list", "--master", master.Address(), "--wait-ms", "500"}));
    ASSERT_TRUE(master.Receive(10s).has_value());
    master.Send(ParseBytes("FF FF 'servers' 00 7F 00 00 01 64 6D 7F 00 00 02 00 00"));
    // A good reply from another port, then a malformed one from the master.
    asio::io_context io;
    udp::socket stranger(io, udp::endpoint(asio::ip::make_address_v4("127.0.0.1"), 0));
    stranger.send_to(asio::buffer(ParseBytes("FF FF 'servers' 00 7F 00 00 09 64 6D")),
                     master.Client());
    master.Send(ParseBytes("FF FF 'servers' 00 7F 00 00 08 64"));
    master.Send(ParseBytes("FF FF 'servers' 00 7F 00 00 03 64 6D 7F 00 00 01 64 6D"));
    ASSERT_TRUE(list.Wait(10s));
    EXPECT_EQ(0, list.ExitCode());
    EXPECT_EQ("127.0.0.1:28004\n127.0.0.3:28004\n", Lines(list.Output()));
    EXPECT_NE(std::string::npos, Lines(list.Errors())
                                     .find("dropped 1 datagrams from elsewhere than the master, 1 "
                                           "malformed replies, 1 entries with port 0"))
        << Lines(list.Errors());
}

TEST(MasterCli, AListLongerThanAnyMastersIsCutWithAWarning) {
    FakeMaster master;
    ChildProcess list;
    ASSERT_TRUE(list.Start(kVelder, {"list", "--master", master.Address(), "--wait-ms", "2000"}));
    ASSERT_TRUE(master.Receive(10s).has_value());
    const auto printed = [&] {
        const std::string out = list.Output();
        return static_cast<std::size_t>(std::count(out.begin(), out.end(), '\n'));
    };
    // 300 datagrams of new servers, 69,300 in all, sent 20 at a time: each
    // step waits until the tool has printed what came, so that no datagram
    // is lost to a full receive buffer on a busy machine.
    constexpr std::size_t kStep = 20;
    for (std::size_t next = 0, d = 0; d < 300; ++d) {
        Bytes reply(velder::kServersReplyHead, velder::kServersReplyHeadLength);
        for (std::size_t i = 0; i < velder::kEntriesPerDatagram; ++i, ++next) {
            unsigned char entry[velder::kServerEntryLength];
            velder::WriteServerEntry(
                {{10, static_cast<unsigned char>(next >> 16), static_cast<unsigned char>(next >> 8),
                  static_cast<unsigned char>(next)},
                 28004},
                entry);
            reply.append(reinterpret_cast<const char*>(entry), sizeof entry);
        }
        master.Send(reply);
        if ((d + 1) % kStep == 0) {
            const std::size_t sent = std::min(next, velder::kMostListedServers);
            for (int wait = 0; wait < 500 && printed() < sent; ++wait) {
                std::this_thread::sleep_for(10ms);
            }
        }
    }
    ASSERT_TRUE(list.Wait(30s));
    EXPECT_EQ(0, list.ExitCode());
    const std::string out = Lines(list.Output());
    EXPECT_EQ(65536, std::count(out.begin(), out.end(), '\n'));
    EXPECT_EQ(
        "velder: warning: the list was cut at 65536 servers, more than any real master "
        "lists\n",
        Lines(list.Errors()));
}

// Masters asked together: each server once, as it first came; one that
// sends nothing is named, and the others' list still counts.
TEST(MasterCli, SeveralMastersListEachServerOnce) {
    MasterServer first;
    MasterServer second;
    velder::standin::MasterOptions a;
    velder::standin::MasterOptions b;
    a.servers = velder::support::ListedServers(300, "127.1");
    b.servers = velder::support::ListedServers(400, "127.1");  // the first 300 again
    ASSERT_TRUE(first.Start(a)) << first.Error();
    ASSERT_TRUE(second.Start(b)) << second.Error();
    FakeMaster silent;
    const std::vector<std::string> masters = {
        "--master", first.Address(),  "--master",  second.Address(),
        "--master", silent.Address(), "--wait-ms", "300"};
    std::vector<std::string> args = {"list"};
    args.insert(args.end(), masters.begin(), masters.end());
    const ProgramRun run = Velder(args);
    EXPECT_EQ(0, run.exitCode) << run.err;
    std::vector<std::string> lines;
    std::istringstream out(run.out);
    for (std::string line; std::getline(out, line);) {
        lines.push_back(line);
    }
    EXPECT_EQ(400u, lines.size());
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines.end(), std::adjacent_find(lines.begin(), lines.end())) << "a server twice";
    EXPECT_NE(std::string::npos,
              run.err.find("warning: the master " + silent.Address() + " did not answer"))
        << run.err;
    // When no master answers, nothing is listed and the exit status says so.
    const ProgramRun none = Velder({"list", "--master", silent.Address(), "--wait-ms", "100"});
    EXPECT_EQ(1, none.exitCode);
    EXPECT_EQ("", none.out);

    args.push_back("--json");
    const ProgramRun json = Velder(args);
    EXPECT_NE(std::string::npos,
              json.out.find("\"masters\":[{\"master\":\"" + first.Address() +
                            "\",\"answered\":true},{\"master\":\"" + second.Address() +
                            "\",\"answered\":true},{" + "\"master\":\"" + silent.Address() +
                            "\",\"answered\":false}]"))
        << json.out;
}

// Two stand-ins with players and two without, behind the stand-in master.
class Browse : public testing::Test {
  protected:
    void SetUp() override {
        velder::standin::MasterOptions options;
        for (int group = 0; group < 2; ++group) {
            velder::standin::ServerSample sample;
            sample.name = group == 0 ? "Busy" : "Quiet";
            sample.players.resize(group == 0 ? 3 : 0, {"Kane", "Rhino", 40});
            velder::standin::Options serve;
            serve.reply = velder::standin::BuildStatusReply(sample);
            serve.ports = 2;
            ASSERT_TRUE(servers_[group].Start(serve)) << servers_[group].Error();
        }
        // Listed quiet first, so that sorting shows.
        for (const int group : {1, 0}) {
            for (int i = 0; i < 2; ++i) {
                options.servers.emplace_back().entry =
                    *velder::standin::EntryFromText(servers_[group].Address(i));
                addresses_.push_back(servers_[group].Address(i));
            }
        }
        ASSERT_TRUE(master_.Start(options));
    }
    // The address starting each output line.
    static std::vector<std::string> Addresses(const std::string& out) {
        std::vector<std::string> addresses;
        std::istringstream lines(out);
        for (std::string line; std::getline(lines, line);) {
            addresses.push_back(line.substr(0, line.find(' ')));
        }
        return addresses;
    }
    std::vector<std::string> Browsed(std::vector<std::string> options) {
        std::vector<std::string> args = {"browse", "--master", master_.Address(), "--wait-ms",
                                         "300"};
        args.insert(args.end(), options.begin(), options.end());
        const ProgramRun run = Velder(args);
        EXPECT_EQ(0, run.exitCode) << run.err;
        EXPECT_NE(std::string::npos, run.err.find("4 servers listed, 4 answered")) << run.err;
        return Addresses(run.out);
    }

    velder::standin::Server servers_[2];
    MasterServer master_;
    std::vector<std::string> addresses_;  // in list order: quiet, quiet, busy, busy
};

TEST_F(Browse, ShowsEveryServerInListOrderUnlessSorted) {
    using V = std::vector<std::string>;
    const V& a = addresses_;
    EXPECT_EQ(a, Browsed({"--jobs", "1"}));
    EXPECT_EQ(a, Browsed({"--jobs", "4"}));
    EXPECT_EQ((V{a[2], a[3], a[0], a[1]}), Browsed({"--sort", "players"}));
    EXPECT_EQ((V{a[2], a[3], a[0], a[1]}), Browsed({"--sort", "name"}));  // Busy, then Quiet
    EXPECT_EQ((V{a[2], a[3]}), Browsed({"--playing"}));
}

TEST_F(Browse, GivesWhatListPipedIntoInfoGives) {
    const ProgramRun list = Velder({"list", "--master", master_.Address(), "--wait-ms", "300"});
    ASSERT_EQ(0, list.exitCode);
    const std::string file = BesideProgram("master_cli_list.txt");
    std::ofstream(file) << list.out;
    const ProgramRun info = Velder({"info", "--json", "-f", "-"}, false, file);
    std::remove(file.c_str());
    const ProgramRun browse =
        Velder({"browse", "--json", "--master", master_.Address(), "--wait-ms", "300"});
    const std::regex time("\"round_trip_ms\":[0-9]+");
    EXPECT_EQ(0, info.exitCode);
    EXPECT_EQ(std::regex_replace(info.out, time, "T"), std::regex_replace(browse.out, time, "T"));
    EXPECT_EQ(4u, Addresses(info.out).size());
}

}  // namespace
