// Runs a fuzz entry once over each of its committed seeds, so that every
// build replays them without libFuzzer. A finding aborts inside the entry.
// The build names the entry's suite and seed folder.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size);

namespace {

TEST(VELDER_FUZZ_SUITE, EverySeedPassesTheChecks) {
    int replayed = 0;
    for (const auto& entry : std::filesystem::directory_iterator(VELDER_FUZZ_SEEDS)) {
        std::ifstream file(entry.path(), std::ios::binary);
        ASSERT_TRUE(file) << "cannot open " << entry.path();
        const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(file), {}};
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
        ++replayed;
    }
    EXPECT_GT(replayed, 0) << "no seeds in " << VELDER_FUZZ_SEEDS;
}

}  // namespace
