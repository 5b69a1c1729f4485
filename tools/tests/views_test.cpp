#include "tools/views.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using velder::tools::FieldsView;
using velder::tools::JsonView;
using velder::tools::Outcome;
using velder::tools::RawView;
using velder::tools::ServerAnswer;
using velder::tools::SummaryView;

const std::string kAnswerText =
    "0012\xFF\xFFinfoResponse\xFF\xFF\xFF\xFF\xFFU\xFF\xFF\xFF"
    "si_name\xFFRed Arena\xFFsi_map\xFFmp/q4dm1\xFFsi_maxPlayers\xFF"
    "8\xFF\xFE"
    "32\xFFKane\xFFRhino\xFF"
    "300\xFF\"Bob\"\xFF \xFF\xFE";

const ServerAnswer kAnswer{"127.0.0.1:28004", Outcome::kAnswered, kAnswerText};

// A server whose last variable is empty: its players come out one byte off.
const ServerAnswer kEmptyLastValue{"127.0.0.1:28004", Outcome::kAnswered,
                                   "0012\xFF\xFFinfoResponse\xFF\xFF\xFF\xFF\xFFU\xFF\xFF\xFF"
                                   "si_map\xFFmp/q4dm1\xFFsi_name\xFFRed Arena\xFFsi_serverURL\xFF"
                                   "\xFE"
                                   "12800\xFFKane\xFF_a8a\xFF"};

// The same server's text as far as the window reached.
ServerAnswer Cut(std::size_t length) {
    return {"127.0.0.1:28004", Outcome::kAnswered, kAnswerText.substr(0, length)};
}

TEST(Views, SummaryNamesEveryOutcomeAndAnUncertainPlayerCount) {
    const std::size_t recordsOpen = kAnswerText.find('\xFE') + 1;
    const struct {
        ServerAnswer answer;
        const char* shows;
    } cases[] = {
        {{"h:1", Outcome::kNoAnswer, ""}, "h:1                    no answer\n"},
        {{"nowhere:28004", Outcome::kNoSuchHost, ""}, "nowhere:28004          no such host\n"},
        {{"h:1", Outcome::kUnreadable, "9999"}, "h:1                    unreadable reply (9999)"},
        // The window ends in the variables: the count is unknown, not 0.
        {Cut(recordsOpen - 2), "  ?/8 "},
        {Cut(recordsOpen - 2),
         "\n  players: unknown: the player list does not begin within the 900 bytes"},
        {Cut(recordsOpen + 16), "  1+/8 "},
        {Cut(recordsOpen + 16), "\n  players: 1 or more: the 900 bytes GetInfo reads end inside"},
        // Whole records and no closing mark: as a Linux server ends its reply.
        {Cut(kAnswerText.size() - 1), "  2/8 "},
        {kEmptyLastValue, "  ?/?      mp/q4dm1        Red Arena\n  players: unknown: the last"},
    };
    for (const auto& c : cases) {
        const std::string view = SummaryView(c.answer, false, false);
        EXPECT_NE(std::string::npos, view.find(c.shows)) << view;
    }
    EXPECT_EQ(std::string::npos,
              SummaryView(Cut(kAnswerText.size() - 1), false, false).find("players:"));
    EXPECT_NE(std::string::npos,
              SummaryView(Cut(kAnswerText.size() - 1), true, false).find("no closing mark"));
}

TEST(Views, FieldsNameWhatIsMissing) {
    const struct {
        const char* text;
        const char* shows;
    } cases[] = {
        // Numbered from 1, as $gettok counts the tokens between the marks.
        {"0003status\xFFname\xFF"
         "Big Arena\xFF",
         "  fields: 3\n     1  status\n     2  name\n     3  Big Arena\n"},
        {"0003a\xFF",
         "  players: none (no player list within the 900 bytes GetInfo reads)\n"
         "  end mark: missing\n"},
        {"0003a\xFF\xFE"
         "5\xFFx\xFFy\xFF"
         "6\xFFz",
         "  players: 1\n   ping  name  clan\n      5  x     y\n"
         "  player cut short: [6] [z]\n  end mark: missing\n"},
    };
    for (const auto& c : cases) {
        const std::string view = FieldsView({"h:1", Outcome::kAnswered, c.text});
        EXPECT_NE(std::string::npos, view.find(c.shows)) << view;
    }
    EXPECT_EQ("h:1: no answer\n", FieldsView({"h:1", Outcome::kNoAnswer, ""}));
    EXPECT_EQ("h:1: no such host\n", FieldsView({"h:1", Outcome::kNoSuchHost, ""}));
}

TEST(Views, JsonIsOneObjectPerServer) {
    EXPECT_EQ(R"({"address":"127.0.0.1:28004","status":"answered","round_trip_ms":12,)"
              R"("vars":{"si_name":"Red Arena","si_map":"mp/q4dm1","si_maxPlayers":"8"},)"
              R"("players":[{"ping":32,"name":"Kane","clan":"Rhino"},)"
              R"({"ping":300,"name":"\"Bob\"","clan":""}],"player_count":2,)"
              R"("player_list":"complete","fields":["infoResponse","U","si_name","Red Arena",)"
              R"("si_map","mp/q4dm1","si_maxPlayers","8"],)"
              R"("unfinished":[],"complete":true})"
              "\n",
              JsonView(kAnswer));
    const struct {
        ServerAnswer answer;
        const char* shows;
    } cases[] = {
        {{"h:1", Outcome::kNoAnswer, ""},
         R"({"address":"h:1","status":"no_answer","round_trip_ms":null,"vars":{},"players":[],)"
         R"("player_count":null,"player_list":null,"fields":[],"unfinished":[],)"
         R"("complete":false})"},
        {{"h:1", Outcome::kNoSuchHost, ""}, R"("status":"no_such_host","round_trip_ms":null,)"},
        {{"h:1", Outcome::kUnreadable, "9999"}, R"("status":"unreadable","round_trip_ms":null,)"},
        {Cut(kAnswerText.find('\xFE') - 1), R"("player_count":null,"player_list":"not_reached")"},
        {Cut(kAnswerText.size() - 1), R"("player_count":2,"player_list":"open")"},
        {{"h:1", Outcome::kAnswered, "0001a|b\xFF\xFE_0132\xFFx\xFF \xFF"},
         R"("players":[{"ping":null,"name":"x","clan":""}])"},
        {Cut(kAnswerText.find('\xFE') + 17), R"("player_count":1,"player_list":"cut")"},
        {kEmptyLastValue, R"("players":[],"player_count":null,"player_list":"unreadable")"},
    };
    for (const auto& c : cases) {
        const std::string json = JsonView(c.answer);
        EXPECT_NE(std::string::npos, json.find(c.shows)) << json;
    }
}

TEST(Views, RawIsTheExactTextAndANewline) {
    EXPECT_EQ(kAnswerText + "\n", RawView(kAnswer));
    EXPECT_EQ("9999\n", RawView({"h:1", Outcome::kUnreadable, "9999"}));
    EXPECT_EQ("\n", RawView({"h:1", Outcome::kNoAnswer, "leftover"}));
    EXPECT_EQ("\n", RawView({"h:1", Outcome::kNoSuchHost, ""}));
}

}  // namespace
