// The list file velder-async.dll writes: whole or not at all, never half.
#include "platform/replaced_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

using velder::platform::ReplacedFile;

// A UTF-8 path as the system names the file.
std::filesystem::path Native(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// The file's bytes, or "<missing>".
std::string Contents(const std::string& path) {
    std::ifstream in(Native(path), std::ios::binary);
    if (!in) {
        return "<missing>";
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct ReplaceCase {
    const char* name;
    const char* target;  // UTF-8
    std::size_t length;  // bytes appended, in pieces of 1000
    bool finish;         // Finish; otherwise Abandon
    const char* left;    // what the target holds afterwards; null: the bytes appended
};

constexpr char kTarget[] = "replaced_file_test.txt";
const ReplaceCase kReplaceCases[] = {
    {.name = "a short file", .target = kTarget, .length = 10, .finish = true, .left = nullptr},
    {.name = "nothing appended", .target = kTarget, .length = 0, .finish = true, .left = nullptr},
    {.name = "more than is held back",
     .target = kTarget,
     .length = 10000,
     .finish = true,
     .left = nullptr},
    {.name = "abandoned",
     .target = kTarget,
     .length = 5000,
     .finish = false,
     .left = "the old list\n"},
    // A folder under a user name in another script: mIRC 7 hands UTF-8.
    {.name = "a name beyond ASCII",
     .target = "replaced J\xc3\xbcrgen \xd0\x96\xd1\x83\xd0\xba.txt",
     .length = 10,
     .finish = true,
     .left = nullptr},
};

TEST(ReplacedFile, TheTargetIsTheOldFileOrTheWholeNewOne) {
    for (const ReplaceCase& c : kReplaceCases) {
        const std::string target = c.target;
        {
            std::ofstream old(Native(target), std::ios::binary | std::ios::trunc);
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
        std::filesystem::remove(Native(target));
    }
}

TEST(ReplacedFile, RefusesAPathLongerThanItTakes) {
    ReplacedFile file;
    const std::string tooLong(velder::platform::kLongestTargetPath + 1, 'x');
    EXPECT_FALSE(velder::platform::BeginReplacedFile(tooLong.c_str(), &file));
    EXPECT_FALSE(velder::platform::BeginReplacedFile("", &file));
}

}  // namespace
