// velder-async.dll's bookkeeping, without threads or sockets: the board is
// driven as the exports and workers drive it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/query_board.h"

namespace {

using velder::QueryBoard;
using velder::QueryJob;
using velder::StartVerdict;
using velder::TakeVerdict;

velder::StartRequest Request(const char* text, std::size_t capacity = 900) {
    velder::StartRequest request;
    EXPECT_TRUE(velder::ParseStartRequest(text, capacity, &request)) << text;
    return request;
}

QueryJob* Started(QueryBoard& board, std::size_t capacity = 900) {
    QueryJob* job = nullptr;
    EXPECT_EQ(board.Start(Request("q4 127.0.0.1:28004"), capacity, &job), StartVerdict::kStarted);
    return job;
}

// What a worker does: writes a result over the address and hands the job back.
bool Answer(QueryBoard& board, QueryJob* job, const std::string& text) {
    std::memcpy(job->buffer, text.c_str(), text.size() + 1);
    return board.Finish(job);
}

std::string Taken(QueryBoard& board, std::uint32_t ticket, TakeVerdict want,
                  std::size_t capacity = 900) {
    std::vector<char> data(capacity, 'z');
    EXPECT_EQ(board.Take(ticket, data.data(), capacity), want);
    return want == TakeVerdict::kTaken ? std::string(data.data()) : std::string();
}

TEST(QueryBoardParsing, StartRequests) {
    struct Case {
        const char* text;
        std::size_t capacity;
        const char* signal;  // null: refused
        const char* address;
    };
    const Case cases[] = {
        {"q4 127.0.0.1:28004", 900, "q4", "127.0.0.1:28004"},
        {"a.b-c_9 host name:1 x", 900, "a.b-c_9", "host name:1 x"},
        {"abcdefghijabcdefghijabcdefghijab h:1", 900, "abcdefghijabcdefghijabcdefghijab", "h:1"},
        {"abcdefghijabcdefghijabcdefghijabc h:1", 900, nullptr, nullptr},
        {"q4 host", 900, nullptr, nullptr},
        {"q4  :1", 900, "q4", " :1"},
        {"q4:1", 900, nullptr, nullptr},
        {"q$ h:1", 900, nullptr, nullptr},
        {"q4 h:1", 7, "q4", "h:1"},
        {"q4 h:12", 7, nullptr, nullptr},  // no NUL inside the buffer
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<char> buffer(c.text, c.text + std::strlen(c.text) + 1);
        velder::StartRequest request;
        const bool parsed = velder::ParseStartRequest(buffer.data(), c.capacity, &request);
        ASSERT_EQ(parsed, c.signal != nullptr);
        if (parsed) {
            EXPECT_EQ(std::string(request.signal, request.signalLength), c.signal);
            EXPECT_EQ(std::string(request.address, request.addressLength), c.address);
        }
    }
}

TEST(QueryBoardParsing, Tickets) {
    struct Case {
        const char* text;
        bool valid;
        std::uint32_t ticket;
    };
    const Case cases[] = {
        {"1", true, 1},           {"4294967295", true, 4294967295u},
        {"4294967296", false, 0}, {"0", false, 0},
        {"", false, 0},           {"12 ", false, 0},
        {"-3", false, 0},         {"00000000017", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::uint32_t ticket = 0;
        EXPECT_EQ(velder::ParseTicket(c.text, std::strlen(c.text) + 1, &ticket), c.valid);
        if (c.valid) {
            EXPECT_EQ(ticket, c.ticket);
        }
    }
}

TEST(QueryBoardParsing, ListRequests) {
    const std::string longestPath(velder::kLongestListPath, 'p');
    const std::string longestHost(velder::kLongestMasterName, 'h');
    struct Case {
        std::string text;
        std::string masters;  // as read back, "host:port" divided by commas; empty: refused
        std::string file = "";
    };
    const Case cases[] = {
        {.text = "master.example:27650 C:\\my lists\\q4.txt",
         .masters = "master.example:27650",
         .file = "C:\\my lists\\q4.txt"},
        {.text = "127.0.0.1:65535 a", .masters = "127.0.0.1:65535", .file = "a"},
        {.text = longestHost + ":1 " + longestPath,
         .masters = longestHost + ":1",
         .file = longestPath},
        {.text = "a.example:27650,b.example:27651 my list.txt",
         .masters = "a.example:27650,b.example:27651",
         .file = "my list.txt"},
        {.text = "a:1,b:2,c:3,d:4 f", .masters = "a:1,b:2,c:3,d:4", .file = "f"},
        {.text = "a:1,A:2 f", .masters = "a:1,A:2", .file = "f"},
        {.text = longestHost + "h:1 f", .masters = ""},
        {.text = "h:1 " + longestPath + "p", .masters = ""},
        {.text = "h:0 f", .masters = ""},
        {.text = "h:65536 f", .masters = ""},
        {.text = "h:0000027650 f", .masters = ""},
        {.text = "h:27650", .masters = ""},
        {.text = "h:27650 ", .masters = ""},
        {.text = "h:27650 a\rb", .masters = ""},
        {.text = ":27650 f", .masters = ""},
        {.text = "h$x:27650 f", .masters = ""},
        {.text = "h :27650 f", .masters = ""},
        {.text = "a:1,b:2,c:3,d:4,e:5 f", .masters = ""},  // five masters
        {.text = "a:1,,b:2 f", .masters = ""},             // an empty master between commas
        {.text = "a:1,b:0 f", .masters = ""},              // a bad port in the second
        {.text = "a:1,b:x f", .masters = ""},
        {.text = "a:1, b:2 f", .masters = ""},
        {.text = "a:1,b:2, f", .masters = ""},
        {.text = "a:1,b:2,A:1 f", .masters = ""},  // the same master twice
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        velder::ListRequest request;
        const bool parsed = velder::ParseListRequest(c.text.c_str(), c.text.size(), &request);
        ASSERT_EQ(parsed, !c.masters.empty());
        if (parsed) {
            std::string masters;
            for (std::size_t m = 0; m < request.masterCount; ++m) {
                masters += m == 0 ? "" : ",";
                masters += request.masters[m].name;
                masters += ':';
                masters += std::to_string(request.masters[m].port);
            }
            EXPECT_EQ(masters, c.masters);
            EXPECT_EQ(std::string(request.file, request.fileLength), c.file);
        }
    }
}

TEST(QueryBoardLife, AListTicketIsUnknownToQueryResultAndTheOtherWay) {
    QueryBoard board;
    QueryJob* list = nullptr;
    ASSERT_EQ(board.Start(Request("q4 m:1 f"), 900, &list, velder::JobKind::kList),
              StartVerdict::kStarted);
    QueryJob* query = Started(board);
    EXPECT_EQ(query->ticket, list->ticket + 1) << "one numbering for both";
    EXPECT_TRUE(Answer(board, list, "12"));
    EXPECT_TRUE(Answer(board, query, "0012 answer"));
    Taken(board, list->ticket, TakeVerdict::kUnknown);
    std::vector<char> data(900);
    EXPECT_EQ(board.Take(query->ticket, data.data(), 900, velder::JobKind::kList),
              TakeVerdict::kUnknown);
    EXPECT_EQ(board.Take(list->ticket, data.data(), 900, velder::JobKind::kList),
              TakeVerdict::kTaken);
    EXPECT_STREQ(data.data(), "12");
}

TEST(QueryBoardLife, AResultIsPendingThenTakenOnceWithinTheCapacity) {
    QueryBoard board;
    QueryJob* job = Started(board, 16);
    EXPECT_STREQ(job->buffer, "127.0.0.1:28004");
    EXPECT_STREQ(job->signal, "q4");
    const std::uint32_t ticket = job->ticket;
    Taken(board, ticket, TakeVerdict::kPending, 16);
    EXPECT_TRUE(board.Busy());
    EXPECT_TRUE(Answer(board, job, "0012 answer"));
    EXPECT_TRUE(board.Busy());
    EXPECT_EQ(Taken(board, ticket, TakeVerdict::kTaken, 16), "0012 answer");
    Taken(board, ticket, TakeVerdict::kUnknown, 16);
    EXPECT_FALSE(board.Busy());
}

TEST(QueryBoardLife, SixteenRunAtOnceAndSixtyFourWaitAtMost) {
    QueryBoard board;
    std::vector<QueryJob*> running;
    for (std::size_t i = 0; i < velder::kMostRunning; ++i) {
        running.push_back(Started(board));
    }
    QueryJob* refused = nullptr;
    EXPECT_EQ(board.Start(Request("q4 h:1"), 900, &refused), StartVerdict::kBusy);
    for (QueryJob* job : running) {
        EXPECT_TRUE(Answer(board, job, "9999"));
    }
    // 16 finished and unclaimed; fill up to 64 tickets.
    for (std::size_t i = velder::kMostRunning; i < velder::kMostUnclaimed; ++i) {
        EXPECT_TRUE(Answer(board, Started(board), "9999"));
    }
    EXPECT_EQ(board.Start(Request("q4 h:1"), 900, &refused), StartVerdict::kFull);
    // Taking one makes room for one.
    Taken(board, 1, TakeVerdict::kTaken);
    QueryJob* next = Started(board);
    EXPECT_EQ(next->ticket, velder::kMostUnclaimed + 1);
    EXPECT_TRUE(Answer(board, next, "9999"));
}

TEST(QueryBoardLife, CancelAndResetDetachRunningJobsAndKeepNumbering) {
    QueryBoard board;
    QueryJob* cancelled = Started(board);
    QueryJob* reset = Started(board);
    QueryJob* finished = Started(board);
    EXPECT_TRUE(Answer(board, finished, "0001"));
    EXPECT_TRUE(board.Cancel(cancelled->ticket));
    EXPECT_FALSE(board.Cancel(cancelled->ticket));
    board.Reset();
    EXPECT_FALSE(board.Busy());
    // The workers still run and count until they hand their jobs back.
    EXPECT_EQ(board.Running(), 2u);
    EXPECT_FALSE(Answer(board, cancelled, "0002"));
    EXPECT_FALSE(Answer(board, reset, "0003"));
    EXPECT_EQ(board.Running(), 0u);
    Taken(board, 3, TakeVerdict::kUnknown);
    QueryJob* after = Started(board);
    EXPECT_EQ(after->ticket, 4u);
    EXPECT_TRUE(Answer(board, after, "9999"));
}

}  // namespace
