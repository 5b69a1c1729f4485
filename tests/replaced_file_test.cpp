// The list file velder-async.dll writes: whole or not at all, never half.
#include "platform/replaced_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace {

using velder::platform::ReplacedFile;

// The file's bytes, or "<missing>".
std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return "<missing>";
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct ReplaceCase {
    const char* name;
    std::size_t length;  // bytes appended, in pieces of 1000
    bool finish;         // Finish; otherwise Abandon
    const char* left;    // what the target holds afterwards; null: the bytes appended
};

const ReplaceCase kReplaceCases[] = {
    {.name = "a short file", .length = 10, .finish = true, .left = nullptr},
    {.name = "nothing appended", .length = 0, .finish = true, .left = nullptr},
    {.name = "more than is held back", .length = 10000, .finish = true, .left = nullptr},
    {.name = "abandoned", .length = 5000, .finish = false, .left = "the old list\n"},
};

TEST(ReplacedFile, TheTargetIsTheOldFileOrTheWholeNewOne) {
    const std::string target = "replaced_file_test.txt";
    for (const ReplaceCase& c : kReplaceCases) {
        {
            std::ofstream old(target, std::ios::binary | std::ios::trunc);
            old << "the old list\n";
        }
        std::string bytes;
        for (std::size_t i = 0; i < c.length; ++i) {
            bytes.push_back(static_cast<char>('a' + i % 26));
        }
        ReplacedFile file;
        ASSERT_TRUE(velder::platform::BeginReplacedFile(target.c_str(), &file)) << c.name;
        for (std::size_t at = 0; at < bytes.size(); at += 1000) {
            const std::string piece = bytes.substr(at, 1000);
            EXPECT_TRUE(velder::platform::AppendToFile(&file, piece.data(), piece.size()))
                << c.name;
        }
        EXPECT_EQ("the old list\n", Contents(target)) << c.name << ": replaced before Finish";
        if (c.finish) {
            EXPECT_TRUE(velder::platform::FinishReplacedFile(&file, target.c_str())) << c.name;
        } else {
            velder::platform::AbandonReplacedFile(&file);
        }
        EXPECT_EQ(c.left != nullptr ? std::string(c.left) : bytes, Contents(target)) << c.name;
        EXPECT_EQ("<missing>", Contents(target + velder::platform::kTemporarySuffix)) << c.name;
    }
    std::remove(target.c_str());
}

TEST(ReplacedFile, RefusesAPathLongerThanItTakes) {
    ReplacedFile file;
    const std::string tooLong(velder::platform::kLongestTargetPath + 1, 'x');
    EXPECT_FALSE(velder::platform::BeginReplacedFile(tooLong.c_str(), &file));
    EXPECT_FALSE(velder::platform::BeginReplacedFile("", &file));
}

}  // namespace
