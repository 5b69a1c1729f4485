// velder-async's threads racing the host's calls, natively, where
// ThreadSanitizer can watch them (the linux-tsan preset): the host starts,
// takes, cancels and unloads in a seeded random order while workers finish
// and the launcher sends signals. Every signal names a ticket once at most
// and never after the script took or dropped it; a signalled ticket's
// result is there; no more than 16 workers live at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/program.h"
#include "platform/worker_thread.h"
#include "standin/status_reply.h"
#include "tests/mirc_host/mirc_host.h"
#include "tests/support/samples.h"
#include "tests/support/test_server.h"

namespace {

using namespace std::chrono_literals;
using velder::hoststandin::MircHost;

const std::string& AsyncLibrary() {
    static const std::string path = velder::platform::BesideProgram(VELDER_ASYNC_LIBRARY);
    return path;
}

constexpr char kSignalPrefix[] = "/signal race ";

struct Ticket {
    bool open = true;
    // How many commands the host had run when the script took or dropped
    // the ticket: none of its signals may come at or after that.
    std::size_t closedAt = 0;
    int signals = 0;
};

class Race {
  public:
    explicit Race(MircHost& host) : host_(host) {}

    void Start(const std::string& address) {
        const std::string text = host_.Call(AsyncLibrary(), "QueryStart", "race " + address).text;
        if (text == "busy" || text == "full") {
            return;
        }
        ASSERT_FALSE(text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
            << text;
        const std::uint32_t ticket = static_cast<std::uint32_t>(std::stoul(text));
        EXPECT_GT(ticket, last_) << "ticket numbers go up, across unloads too";
        last_ = std::max(last_, ticket);
        tickets_[ticket] = Ticket{};
        ++started_;
    }

    // Takes `ticket`'s result; when `signalled`, it must be there.
    void Take(std::uint32_t ticket, bool signalled) {
        const std::string text =
            host_.Call(AsyncLibrary(), "QueryResult", std::to_string(ticket)).text;
        EXPECT_NE(text, "unknown") << "ticket " << ticket << " was open";
        if (signalled) {
            EXPECT_NE(text, "pending") << "ticket " << ticket << " signalled before its end";
        }
        if (text != "pending") {
            Close(ticket);
            ++taken_;
        }
    }

    void Cancel(std::uint32_t ticket) {
        EXPECT_EQ(host_.Call(AsyncLibrary(), "QueryCancel", std::to_string(ticket)).text,
                  "cancelled");
        Close(ticket);
    }

    void CancelAll() {
        EXPECT_EQ(host_.Call(AsyncLibrary(), "QueryCancel", "all").text, "cancelled");
        CloseAll();
    }

    void Unload() {
        EXPECT_EQ(host_.Unload(AsyncLibrary()), 1);
        CloseAll();
    }

    // An open ticket picked by `pick`, or 0.
    std::uint32_t AnyOpen(std::uint32_t pick) const {
        std::vector<std::uint32_t> open;
        for (const auto& [number, ticket] : tickets_) {
            if (ticket.open) {
                open.push_back(number);
            }
        }
        return open.empty() ? 0 : open[pick % open.size()];
    }

    // Reads the signals the host ran since the last look, and takes the
    // result of each open ticket signalled.
    void ReadSignals() {
        const auto& commands = host_.Commands();
        for (; seen_ < commands.size(); ++seen_) {
            const std::string& text = commands[seen_].text;
            ASSERT_EQ(text.rfind(kSignalPrefix, 0), 0u) << text;
            const auto found = tickets_.find(
                static_cast<std::uint32_t>(std::stoul(text.substr(sizeof kSignalPrefix - 1))));
            ASSERT_NE(found, tickets_.end()) << text << ": no such ticket given";
            Ticket& ticket = found->second;
            EXPECT_EQ(++ticket.signals, 1) << text << ": signalled again";
            EXPECT_TRUE(ticket.open || seen_ < ticket.closedAt)
                << text << ": came after the ticket was taken or dropped";
            if (ticket.open) {
                Take(found->first, true);
            }
            ++signalled_;
        }
    }

    // A new worker carries the launcher's name until it takes its own:
    // workers are counted by their name, and all of the library's threads
    // (the launcher and workers) together.
    void CountThreads() {
        const std::size_t workers =
            velder::hoststandin::LibraryThreads(velder::platform::kWorkerThreadName);
        const std::size_t all =
            workers + velder::hoststandin::LibraryThreads(velder::platform::kLauncherThreadName);
        mostWorkers_ = std::max(mostWorkers_, workers);
        mostThreads_ = std::max(mostThreads_, all);
    }

    std::size_t started_ = 0;
    std::size_t taken_ = 0;
    std::size_t signalled_ = 0;
    std::size_t mostWorkers_ = 0;
    std::size_t mostThreads_ = 0;

  private:
    void Close(std::uint32_t ticket) {
        tickets_[ticket].open = false;
        tickets_[ticket].closedAt = host_.Commands().size();
    }
    void CloseAll() {
        for (auto& [number, ticket] : tickets_) {
            if (ticket.open) {
                Close(number);
            }
        }
    }

    MircHost& host_;
    std::map<std::uint32_t, Ticket> tickets_;
    std::uint32_t last_ = 0;
    std::size_t seen_ = 0;
};

TEST(AsyncRaces, StartsTakesCancelsAndUnloadsRacingTheWorkers) {
    // Servers that answer at once, after 30 ms, and never (a worker then
    // waits out the whole exchange).
    std::vector<std::unique_ptr<velder::support::TestServer>> servers;
    for (const auto delay : {0ms, 0ms, 30ms}) {
        velder::support::ServerOptions options;
        options.reply = velder::standin::BuildStatusReply(velder::support::SmallSample());
        options.delay = delay;
        servers.push_back(std::make_unique<velder::support::TestServer>());
        ASSERT_TRUE(servers.back()->Start(options)) << servers.back()->Error();
    }
    servers.push_back(std::make_unique<velder::support::TestServer>());
    ASSERT_TRUE(servers.back()->Start({})) << servers.back()->Error();

    constexpr unsigned kSeed = 20261209;
    std::mt19937 random(kSeed);
    MircHost host;
    Race race(host);
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    for (int step = 0; step < 600 && std::chrono::steady_clock::now() < deadline; ++step) {
        const unsigned roll = random() % 100;
        const std::uint32_t open = race.AnyOpen(static_cast<std::uint32_t>(random()));
        if (roll < 45) {
            // Mostly the quick servers: their workers end while others start.
            race.Start(servers[random() % 8 < 7 ? random() % 3 : 3]->Address());
        } else if (roll < 60 && open != 0) {
            race.Take(open, false);
        } else if (roll < 75 && open != 0) {
            race.Cancel(open);
        } else if (roll < 78) {
            race.CancelAll();
        } else if (roll < 81) {
            race.Unload();
        } else {
            host.Pump(std::chrono::milliseconds(random() % 15));
        }
        host.Pump(0ms);
        race.ReadSignals();
        race.CountThreads();
        if (::testing::Test::HasFatalFailure()) {
            return;
        }
    }
    race.CancelAll();
    race.Unload();
    EXPECT_TRUE(host.PumpUntil([] { return velder::hoststandin::DllAtRest(AsyncLibrary()); }, 20s))
        << "the library's threads outlived the unload";
    host.Pump(100ms);  // a late signal would come now
    race.ReadSignals();

    std::printf("seed %u: %zu started, %zu signalled, %zu taken; at most %zu workers at once\n",
                kSeed, race.started_, race.signalled_, race.taken_, race.mostWorkers_);
    EXPECT_LE(race.mostWorkers_, static_cast<std::size_t>(velder::platform::kMostWorkers));
    EXPECT_LE(race.mostThreads_, static_cast<std::size_t>(velder::platform::kMostWorkers) + 1)
        << "more than one launcher, or a worker beyond the limit";
    // The race ran: workers overlapped, and signals came and were taken.
    EXPECT_GE(race.mostWorkers_, 2u);
    EXPECT_GT(race.signalled_, 0u);
}

}  // namespace
