// velder-async.dll's text at its exports: mIRC's UTF-16 read into bytes and
// written back, an answer byte for byte, any other text as its characters.
#include "host/host_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using velder::HostUnit;

std::u16string Units(std::initializer_list<HostUnit> units) {
    return std::u16string(units.begin(), units.end());
}

TEST(HostText, NarrowsUtf16ToUtf8) {
    struct Row {
        const char* name;
        std::u16string wide;  // NUL added, unless `noNul`
        std::size_t capacity;
        bool noNul;
        bool fits;
        std::string narrow;  // when it fits
    };
    const Row rows[] = {
        {"ASCII", u"q4 127.0.0.1:28004", 64, false, true, "q4 127.0.0.1:28004"},
        {"Latin-1 and beyond", u"C:\\J\u00fcrgen\\\u0421\u0435\u0440\u0433\u0435\u0439", 64, false,
         true, "C:\\J\xc3\xbcrgen\\\xd0\xa1\xd0\xb5\xd1\x80\xd0\xb3\xd0\xb5\xd0\xb9"},
        {"a surrogate pair", Units({'a', 0xD83D, 0xDE00, 'b'}), 16, false, true,
         "a\xf0\x9f\x98\x80"
         "b"},
        {"lone surrogates", Units({0xDC00, 'x', 0xD800}), 16, false, true,
         "\xef\xbf\xbdx\xef\xbf\xbd"},
        {"the last byte fits with its NUL", u"abc", 4, false, true, "abc"},
        {"one byte too many", u"abcd", 4, false, false, ""},
        {"a character cut at the end", u"ab\u00fc", 4, false, false, ""},
        {"no NUL within the buffer", u"abcd", 64, true, false, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<HostUnit> wide(row.wide.begin(), row.wide.end());
        if (!row.noNul) {
            wide.push_back(0);
        }
        std::vector<char> out(row.capacity + 8, '\x5A');
        const bool fitted =
            velder::NarrowHostText(wide.data(), wide.size(), out.data(), row.capacity);
        EXPECT_EQ(fitted, row.fits);
        const std::string written(out.data(), row.capacity);
        if (row.fits) {
            EXPECT_EQ(std::string(out.data()), row.narrow);
        } else {
            EXPECT_EQ(written.find('\0'), std::string::npos) << "a NUL would let a cut text pass";
        }
        EXPECT_EQ(std::string(out.data() + row.capacity, 8), std::string(8, '\x5A'))
            << "written past the capacity";
    }
}

TEST(HostText, WidensAnswersByteForByteAndTextByCharacter) {
    std::string everyByte;
    std::u16string everyUnit;
    for (int value = 1; value <= 255; ++value) {
        everyByte.push_back(static_cast<char>(value));
        everyUnit.push_back(static_cast<char16_t>(value));
    }
    struct Row {
        const char* name;
        bool answer;  // WidenBytes, else WidenText
        std::string text;
        std::size_t units;
        std::u16string wide;
    };
    const Row rows[] = {
        {"an answer: every byte value as itself", true, everyByte, 300, everyUnit},
        {"an answer cut to the buffer", true, "0012\xff\xfe", 4, u"001"},
        {"text: UTF-8 read as characters", false, "J\xc3\xbcrgen \xf0\x9f\x98\x80", 64,
         Units({'J', 0xFC, 'r', 'g', 'e', 'n', ' ', 0xD83D, 0xDE00})},
        {"text: a byte that starts nothing valid", false, "a\xff\xc3", 64,
         Units({'a', 0xFFFD, 0xFFFD})},
        {"text: an overlong form and an encoded surrogate", false, "\xc0\xaf\xed\xa0\x80", 64,
         Units({0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD})},
        {"text: a pair that does not fit is left out whole", false, "ab\xf0\x9f\x98\x80", 4, u"ab"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<HostUnit> out(row.units + 8, 0x5A5A);
        if (row.answer) {
            velder::WidenBytes(row.text.c_str(), out.data(), row.units);
        } else {
            velder::WidenText(row.text.c_str(), out.data(), row.units);
        }
        std::u16string written;
        for (std::size_t i = 0; i < row.units && out[i] != 0; ++i) {
            written.push_back(static_cast<char16_t>(out[i]));
        }
        EXPECT_EQ(written, row.wide);
        EXPECT_EQ(out[row.wide.size()], 0) << "no NUL after the text";
        for (std::size_t i = row.units; i < out.size(); ++i) {
            ASSERT_EQ(out[i], 0x5A5A) << "written past the buffer at " << i;
        }
    }
}

}  // namespace
