#include "tools/result_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using velder::tools::ParseResultText;
using velder::tools::Record;
using velder::tools::ResultText;

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
    std::vector<Record> records;
    std::vector<std::string> unfinished;
    bool complete;
};

const ParseCase kCases[] = {
    {"a whole answer with empty fields between separators",
     "0012||status|||||name|Big Arena|map|arena1|#50|Ann|Red|300|Bob| |#",
     12,
     {"status", "name", "Big Arena", "map", "arena1"},
     true,
     {{"50", "Ann", "Red"}, {"300", "Bob", " "}},
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
     {{"12", "", "clan"}, {"34", "name", ""}},
     {},
     true},
    {"a record cut short by the end of the window",
     "0040a|#10|Ann|Red|20|Bo",
     40,
     {"a"},
     true,
     {{"10", "Ann", "Red"}},
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
        ASSERT_EQ(c.records.size(), r.records.size());
        for (std::size_t i = 0; i < c.records.size(); ++i) {
            EXPECT_EQ(c.records[i].number, r.records[i].number) << "record " << i;
            EXPECT_EQ(c.records[i].first, r.records[i].first) << "record " << i;
            EXPECT_EQ(c.records[i].second, r.records[i].second) << "record " << i;
        }
        EXPECT_EQ(c.unfinished, r.unfinished);
        EXPECT_EQ(c.complete, r.complete);
    }
}

TEST(ResultText, KeepsTheRoundTripCharactersAsWritten) {
    EXPECT_EQ("0042", ParseResultText(Text("0042|x")).roundTrip);
    EXPECT_EQ("12", ParseResultText("12").roundTrip);
}

TEST(ResultText, HighBytesInStringsPassThrough) {
    const ResultText r = ParseResultText(Text("0001\x7F\xE9|#1|\xC0|z|#"));
    EXPECT_EQ(std::vector<std::string>{"\x7F\xE9"}, r.fields);
    ASSERT_EQ(1u, r.records.size());
    EXPECT_EQ("\xC0", r.records[0].first);
}

}  // namespace
