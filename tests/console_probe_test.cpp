#include "host/console_probe.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "velder/velder.h"

namespace {

// What the injected window search was asked, and what it answers.
std::string askedClass;
std::string askedTitle;
bool windowPresent = false;

bool FakeSearch(const char* className, const char* title) {
    askedClass = className;
    askedTitle = title;
    return windowPresent;
}

struct ProbeCase {
    bool present;
    const char* answer;
};

class ConsoleProbe : public testing::TestWithParam<ProbeCase> {};

TEST_P(ConsoleProbe, WritesTheAnswerAndItsNulOnly) {
    windowPresent = GetParam().present;
    char data[16];
    std::memset(data, '#', sizeof data);

    EXPECT_EQ(RESULT_DATA, velder::ProbeConsole(data, FakeSearch));

    const std::size_t len = std::strlen(GetParam().answer);
    EXPECT_EQ(std::string(GetParam().answer), std::string(data, len));
    EXPECT_EQ('\0', data[len]);
    for (std::size_t i = len + 1; i < sizeof data; ++i) {
        EXPECT_EQ('#', data[i]) << "byte " << i << " after the answer was written";
    }
    EXPECT_EQ("Q4 WinConsole", askedClass);
    EXPECT_EQ("Quake 4", askedTitle);
}

INSTANTIATE_TEST_SUITE_P(Answers, ConsoleProbe,
                         testing::Values(ProbeCase{true, "TRUE"}, ProbeCase{false, "FALSE"}));

TEST(ConsoleProbe, IgnoresTheArgumentText) {
    windowPresent = false;
    char data[16] = "TRUE:garbage";
    EXPECT_EQ(RESULT_DATA, velder::ProbeConsole(data, FakeSearch));
    EXPECT_STREQ("FALSE", data);
    EXPECT_STREQ("arbage", data + 6) << "only the answer and its NUL are written";
}

}  // namespace
