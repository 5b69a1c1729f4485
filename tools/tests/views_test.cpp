#include "tools/views.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using velder::tools::JsonView;
using velder::tools::RawView;
using velder::tools::ReadableView;
using velder::tools::ServerAnswer;

const std::string kAnswerText =
    "0012\xFF\xFFinfoResponse\xFF\xFFsi_name\xFFRed Arena\xFF\xFE"
    "32\xFFKane\xFFRhino\xFF"
    "300\xFF\"Bob\"\xFF \xFF\xFE";

TEST(Views, ReadableShowsFieldsRecordsAndTheEndMark) {
    const ServerAnswer answer{"127.0.0.1:28004", true, kAnswerText};
    EXPECT_EQ(
        "127.0.0.1:28004: answered in 12 ms\n"
        "  fields: 3\n"
        "     1  infoResponse\n"
        "     2  si_name\n"
        "     3  Red Arena\n"
        "  records: 2\n"
        "     #  number  first  second\n"
        "     1  32      Kane   Rhino\n"
        "     2  300     \"Bob\"   \n"
        "  end mark: present\n",
        ReadableView(answer));
}

TEST(Views, ReadableNamesWhatIsMissing) {
    const struct {
        const char* text;
        const char* shows;
    } cases[] = {
        {"0003a\xFF", "  records: none (no record section)\n  end mark: missing\n"},
        {"0003a\xFF\xFE"
         "5\xFFx\xFFy\xFF"
         "6\xFFz",
         "  record cut short: [6] [z]\n  end mark: missing\n"},
        {"9999", "answered, but the reply could not be received (9999)\n"},
    };
    for (const auto& c : cases) {
        const std::string view = ReadableView({"h:1", true, c.text});
        EXPECT_NE(std::string::npos, view.find(c.shows)) << view;
    }
    EXPECT_EQ("h:1: no answer\n", ReadableView({"h:1", false, ""}));
}

TEST(Views, JsonIsOneObjectPerServer) {
    EXPECT_EQ(R"({"address":"127.0.0.1:28004","answered":true,"round_trip_ms":12,)"
              R"("fields":["infoResponse","si_name","Red Arena"],)"
              R"("records":[{"number":"32","first":"Kane","second":"Rhino"},)"
              R"({"number":"300","first":"\"Bob\"","second":" "}],"unfinished":[],"complete":true})"
              "\n",
              JsonView({"127.0.0.1:28004", true, kAnswerText}));
    EXPECT_EQ(R"({"address":"h:1","answered":false,"round_trip_ms":null,"fields":[],"records":[],)"
              R"("unfinished":[],"complete":false})"
              "\n",
              JsonView({"h:1", false, ""}));
}

TEST(Views, RawIsTheExactTextAndANewline) {
    EXPECT_EQ(kAnswerText + "\n", RawView({"h:1", true, kAnswerText}));
    EXPECT_EQ("\n", RawView({"h:1", false, "leftover"}));
}

}  // namespace
