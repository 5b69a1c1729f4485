#include "tools/result_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using velder::tools::ParseResultText;
using velder::tools::PlayerList;
using velder::tools::ReadServerStatus;
using velder::tools::ResultText;
using velder::tools::ServerStatus;

// Result texts are written here with '|' for 0xFF and '#' for 0xFE.
std::string Text(std::string s) {
    for (char& c : s) {
        if (c == '|') {
            c = '\xFF';
        } else if (c == '#') {
            c = '\xFE';
        }
    }
    return s;
}

struct ParseCase {
    const char* label;
    const char* text;
    int roundTripMs;
    std::vector<std::string> fields;
    bool recordSection;
    std::vector<std::string> records;  // three a record: ping, name, clan
    std::vector<std::string> unfinished;
    bool complete;
};

const ParseCase kCases[] = {
    {"a whole answer with empty fields between separators",
     "0012||status|||||name|Big Arena|map|arena1|#50|Ann|Red|300|Bob| |#",
     12,
     {"status", "name", "Big Arena", "map", "arena1"},
     true,
     {"50", "Ann", "Red", "300", "Bob", " "},
     {},
     true},
    {"only the round trip: the reply could not be received",
     "9999",
     9999,
     {},
     false,
     {},
     {},
     false},
    {"no section marker in the reply", "0003abc|def", 3, {"abc", "def"}, false, {}, {}, false},
    {"a record section without records", "0001x|#", 1, {"x"}, true, {}, {}, false},
    {"no records but the end mark", "0001x|##", 1, {"x"}, true, {}, {}, true},
    {"a string of colour codes only is an empty field, kept in its place",
     "0007k|v|#12||clan|34|name||#",
     7,
     {"k", "v"},
     true,
     {"12", "", "clan", "34", "name", ""},
     {},
     true},
    {"a record cut short by the end of the window",
     "0040a|#10|Ann|Red|20|Bo",
     40,
     {"a"},
     true,
     {"10", "Ann", "Red"},
     {"20", "Bo"},
     false},
    {"a record cut right after a closed string",
     "0040a|#10|Ann|",
     40,
     {"a"},
     true,
     {},
     {"10", "Ann"},
     false},
    {"placeholders after a '>' are fields", "0005a|?|b|#", 5, {"a", "?", "b"}, true, {}, {}, false},
    {"round trip that is not four digits", "12x4|a", -1, {"a"}, false, {}, {}, false},
    {"empty text", "", -1, {}, false, {}, {}, false},
};

TEST(ResultText, SplitsLikeAScript) {
    for (const ParseCase& c : kCases) {
        SCOPED_TRACE(c.label);
        const ResultText r = ParseResultText(Text(c.text));
        EXPECT_EQ(c.roundTripMs, r.roundTripMs);
        EXPECT_EQ(c.fields, r.fields);
        EXPECT_EQ(c.recordSection, r.recordSection);
        EXPECT_EQ(c.records, r.records);
        EXPECT_EQ(c.unfinished, r.unfinished);
        EXPECT_EQ(c.complete, r.complete);
    }
}

TEST(ResultText, KeepsTheTextSectionWithItsEmptyFields) {
    EXPECT_EQ(Text("||a|||b|"), ParseResultText(Text("0042||a|||b|#1|x|y|#")).textSection);
    EXPECT_EQ(Text("a|"), ParseResultText(Text("0042a|")).textSection);
    EXPECT_EQ("", ParseResultText("12").textSection);
}

// The head of a Quake 4 reply as the text shows it: FF FF "infoResponse" 00,
// a challenge of FF FF FF FF and the protocol version 55 00 02 00.
const std::string kHead = "||infoResponse|||||U|||";

struct StatusCase {
    const char* label;
    std::string text;
    std::vector<std::pair<std::string, std::string>> vars;
    std::vector<std::string> players;  // "ping name clan" with '.' for an empty text
    PlayerList list;
};

const StatusCase kStatusCases[] = {
    {"every player read and the closing mark",
     "0001" + kHead + "si_name|Red Arena|si_map|q4dm1|#32|Kane|Rhino|300|Bob| |#",
     {{"si_name", "Red Arena"}, {"si_map", "q4dm1"}},
     {"32 Kane Rhino", "300 Bob ."},
     PlayerList::kComplete},
    {"a Linux server: the OS byte leaves the closing mark out",
     "0001" + kHead + "si_name|x|#32|Kane|Rhino|",
     {{"si_name", "x"}},
     {"32 Kane Rhino"},
     PlayerList::kOpen},
    {"no players, from a Linux server",
     "0001" + kHead + "a|b|#",
     {{"a", "b"}},
     {},
     PlayerList::kOpen},
    {"no players, closing mark",
     "0001" + kHead + "a|b|##",
     {{"a", "b"}},
     {},
     PlayerList::kComplete},
    {"the window ends inside a record",
     "0001" + kHead + "a|b|#32|Kane|Rhino|45|Sar",
     {{"a", "b"}},
     {"32 Kane Rhino"},
     PlayerList::kCut},
    {"the window ends inside the variables: a name without its value is left out",
     "0001" + kHead + "si_name|x|si_mapCycle|q4dm1;q4dm2|si_",
     {{"si_name", "x"}, {"si_mapCycle", "q4dm1;q4dm2"}},
     {},
     PlayerList::kNotReached},
    {"an empty last value: its name stays, the players after it are one byte off and not read",
     "0001" + kHead + "si_name|x|si_serverURL|#12800|Kane|_a8a|#",
     {{"si_name", "x"}, {"si_serverURL", ""}},
     {},
     PlayerList::kUnreadable},
    {"an empty value in the middle stays empty",
     "0001" + kHead + "a||b|2|#",
     {{"a", ""}, {"b", "2"}},
     {},
     PlayerList::kOpen},
    {"after a '>' an empty value reads as '?'",
     "0001" + kHead + "a|x|b|?|c|3|#",
     {{"a", "x"}, {"b", "?"}, {"c", "3"}},
     {},
     PlayerList::kOpen},
    {"a name of colour codes only is empty, a lone space is an empty clan",
     "0001" + kHead + "a|b|#7||x|8|y| |#",
     {{"a", "b"}},
     {"7 . x", "8 y ."},
     PlayerList::kComplete},
    {"bytes before the number in a record head leave no ping",
     "0001" + kHead + "a|b|#_01300|x|y|#",
     {{"a", "b"}},
     {"-1 x y"},
     PlayerList::kComplete},
    {"not a Quake 4 reply: no variables are read", "0001status|a|b|#", {}, {}, PlayerList::kOpen},
    {"only the round trip", "9999", {}, {}, PlayerList::kNotReached},
};

TEST(ServerStatus, ReadsVariablesAndPlayersAndKnowsHowMuchItSaw) {
    for (const StatusCase& c : kStatusCases) {
        SCOPED_TRACE(c.label);
        const ServerStatus status = ReadServerStatus(ParseResultText(Text(c.text)));
        EXPECT_EQ(c.vars, status.vars);
        std::vector<std::string> players;
        for (const auto& p : status.players) {
            players.push_back(std::to_string(p.ping) + " " + (p.name.empty() ? "." : p.name) + " " +
                              (p.clan.empty() ? "." : p.clan));
        }
        EXPECT_EQ(c.players, players);
        EXPECT_EQ(c.list, status.playerList);
    }
}

TEST(ServerStatus, VarFindsAValueByName) {
    const ServerStatus status =
        ReadServerStatus(ParseResultText(Text("0001" + kHead + "si_map|q4dm1|si_name|N|#")));
    EXPECT_EQ("N", status.Var("si_name"));
    EXPECT_EQ("q4dm1", status.Var("si_map"));
    EXPECT_EQ("", status.Var("si_maxPlayers"));
}

TEST(ResultText, HighBytesInStringsPassThrough) {
    const ResultText r = ParseResultText(Text("0001\x7F\xE9|#1|\xC0|z|#"));
    EXPECT_EQ(std::vector<std::string>{"\x7F\xE9"}, r.fields);
    ASSERT_EQ(3u, r.records.size());
    EXPECT_EQ("\xC0", r.records[1]);
}

}  // namespace
