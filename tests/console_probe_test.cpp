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
    const char* name;
    bool present;
    const char* text;  // what the host left in `data`
    const char* answer;
};

// Whatever the argument text, only the answer and its NUL are written, and
// the window asked for is the game console's.
const ProbeCase kProbeCases[] = {
    {.name = "window open", .present = true, .text = "", .answer = "TRUE"},
    {.name = "no window", .present = false, .text = "", .answer = "FALSE"},
    {.name = "no window, text saying TRUE",
     .present = false,
     .text = "TRUE:garbage",
     .answer = "FALSE"},
    {.name = "window open, an address as text",
     .present = true,
     .text = "127.0.0.1:28004",
     .answer = "TRUE"},
};

TEST(ConsoleProbe, WritesTheAnswerAndItsNulOnly) {
    for (const ProbeCase& c : kProbeCases) {
        windowPresent = c.present;
        askedClass.clear();
        askedTitle.clear();
        char data[24];
        std::memset(data, '#', sizeof data);
        std::memcpy(data, c.text, std::strlen(c.text));
        char before[sizeof data];
        std::memcpy(before, data, sizeof data);

        EXPECT_EQ(RESULT_DATA, velder::ProbeConsole(data, FakeSearch)) << c.name;

        const std::size_t len = std::strlen(c.answer);
        EXPECT_EQ(std::string(c.answer), std::string(data, len)) << c.name;
        EXPECT_EQ('\0', data[len]) << c.name;
        EXPECT_EQ(0, std::memcmp(before + len + 1, data + len + 1, sizeof data - len - 1))
            << c.name << ": bytes after the answer's NUL were written";
        EXPECT_EQ("Q4 WinConsole", askedClass) << c.name;
        EXPECT_EQ("Quake 4", askedTitle) << c.name;
    }
}

}  // namespace
