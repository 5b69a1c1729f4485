#include "tools/views.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using velder::tools::JsonString;

TEST(Json, EscapesWhatJsonRequiresAndHighBytesAsLatin1) {
    const struct {
        std::string in;
        const char* out;
    } cases[] = {
        {"plain ^text", R"("plain ^text")"},
        {"", R"("")"},
        {"say \"hi\" \\ bye", R"("say \"hi\" \\ bye")"},
        {"tab\tnl\ncr\r", R"("tab\tnl\ncr\r")"},
        {std::string("\x00\x01\x1F", 3), R"("\u0000\u0001\u001f")"},
        {"\x7F", R"("\u007f")"},
        {"caf\xE9", R"("caf\u00e9")"},
        {"\x80\xFE\xFF", R"("\u0080\u00fe\u00ff")"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.out, JsonString(c.in)) << "input of " << c.in.size() << " bytes";
    }
}

}  // namespace
