#include "tools/library_client.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using velder::tools::InOrderQueries;
using velder::tools::Outcome;
using velder::tools::ServerAnswer;

std::vector<std::string> Addresses(int n) {
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i) {
        out.push_back("h:" + std::to_string(i + 1));
    }
    return out;
}

// Asks `addresses` through InOrderQueries as `velder info` does, all at once.
void QueryInOrder(const std::vector<std::string>& addresses, std::size_t threads,
                  const InOrderQueries::Query& query,
                  const std::function<void(const ServerAnswer&)>& sink) {
    InOrderQueries queries(threads, query);
    for (const std::string& address : addresses) {
        queries.Add(address);
    }
    queries.TakeAll(sink);
}

class InOrder : public testing::Test {};

TEST_F(InOrder, AnswersComeInTheGivenOrderWhateverOrderTheyFinish) {
    const std::vector<std::string> addresses = Addresses(12);
    std::vector<std::string> seen;
    QueryInOrder(
        addresses, 4,
        [](const std::string& address) {
            // Earlier servers answer later.
            const int port = std::stoi(address.substr(2));
            std::this_thread::sleep_for(std::chrono::milliseconds(2 * (13 - port)));
            return ServerAnswer{address, Outcome::kAnswered, "text " + address};
        },
        [&](const ServerAnswer& a) {
            EXPECT_EQ("text " + a.address, a.text);
            seen.push_back(a.address);
        });
    EXPECT_EQ(addresses, seen);
}

TEST_F(InOrder, RunsAtMostJobsAtOnceAndThatManyIndeed) {
    for (int jobs : {0, 1, 3, 8}) {  // 0: no thread beside the caller
        std::atomic<int> running{0};
        std::atomic<int> most{0};
        int answers = 0;
        QueryInOrder(
            Addresses(16), static_cast<std::size_t>(jobs),
            [&](const std::string& address) {
                const int now = ++running;
                int seen = most.load();
                while (now > seen && !most.compare_exchange_weak(seen, now)) {
                }
                std::this_thread::sleep_for(15ms);
                --running;
                return ServerAnswer{address, Outcome::kAnswered, ""};
            },
            [&](const ServerAnswer&) { ++answers; });
        EXPECT_EQ(16, answers);
        EXPECT_LE(most.load(), std::max(jobs, 1));
        // Sixteen 15 ms sleeps over `jobs` threads overlap when jobs > 1.
        EXPECT_GE(most.load(), std::min(jobs, 2)) << jobs << " jobs";
    }
}

TEST_F(InOrder, MoreJobsThanServersAndNoServers) {
    int answers = 0;
    const auto query = [](const std::string& a) { return ServerAnswer{a, Outcome::kAnswered, ""}; };
    QueryInOrder(Addresses(2), 64, query, [&](const ServerAnswer&) { ++answers; });
    EXPECT_EQ(2, answers);
    QueryInOrder({}, 8, query, [&](const ServerAnswer&) { ++answers; });
    EXPECT_EQ(2, answers);
}

}  // namespace
