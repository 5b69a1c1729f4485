// Transcribes arbitrary replies into host buffers of arbitrary capacity.
//
// Input: two bytes choosing the capacity (little-endian, 5 to 4096), then the
// reply. The reply is held in a heap block of exactly min(length, 900) bytes
// while its full length is passed on, so AddressSanitizer reports any read past
// the window or past the reply; the text goes into a block of exactly the
// capacity, and once more into a buffer with guard bytes behind it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "query/reply_transcription.h"
#include "tests/literal_transcription.h"

namespace {

constexpr std::size_t kStart = velder::kTranscriptionStart;
constexpr std::size_t kGuard = 16;
constexpr char kUntouched = '\x5A';

[[noreturn]] void Fail(const char* what, std::size_t at) {
    std::fprintf(stderr, "transcription fault: %s (at %zu)\n", what, at);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::size_t capacity = kStart + 1 + (input[0] | input[1] << 8) % 4092;
    const std::size_t length = size - 2;
    const std::size_t held =
        length < velder::kTranscriptionWindow ? length : velder::kTranscriptionWindow;
    std::unique_ptr<unsigned char[]> reply(new unsigned char[held]);
    if (held != 0) {
        std::memcpy(reply.get(), input + 2, held);
    }

    std::unique_ptr<char[]> exact(new char[capacity]);
    const std::size_t nul =
        velder::TranscribeReply(reply.get(), length, exact.get(), kStart, capacity);
    if (nul < kStart || nul >= capacity)
        Fail("NUL outside the capacity", nul);
    if (exact[nul] != '\0')
        Fail("no NUL where reported", nul);
    if (nul - kStart > velder::kLongestTranscription)
        Fail("text longer than the longest", nul);
    if (nul - kStart > 3 * held)
        Fail("more than three text bytes per reply byte", nul);
    for (std::size_t k = kStart; k < nul; ++k) {
        const auto x = static_cast<unsigned char>(exact[k]);
        if (!(x >= 0x20 && x <= 0x7F) && x != 0xFF && x != 0xFE)
            Fail("unexpected text byte", k);
    }

    // The same call into a buffer with guard bytes: same text, nothing else written.
    std::unique_ptr<char[]> guarded(new char[capacity + kGuard]);
    std::memset(guarded.get(), kUntouched, capacity + kGuard);
    if (velder::TranscribeReply(reply.get(), length, guarded.get(), kStart, capacity) != nul) {
        Fail("second call ends elsewhere", nul);
    }
    for (std::size_t k = 0; k < capacity + kGuard; ++k) {
        const bool text = k >= kStart && k <= nul;
        if (!text && guarded[k] != kUntouched)
            Fail("byte written outside the text", k);
        if (text && guarded[k] != exact[k])
            Fail("second call wrote other text", k);
    }

    // The rules read one byte at a time, and the cut after capacity - 1 bytes.
    const std::string literal = velder::testing::TranscribeLiterally(reply.get(), length);
    const std::size_t kept =
        literal.size() < capacity - kStart - 1 ? literal.size() : capacity - kStart - 1;
    if (nul - kStart != kept)
        Fail("text length differs from the rules", nul);
    if (std::memcmp(exact.get() + kStart, literal.data(), kept) != 0) {
        Fail("text differs from the rules", kStart);
    }
    return 0;
}
