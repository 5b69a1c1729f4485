// Transcribes arbitrary replies into buffers of arbitrary capacity and
// checks what must hold for every reply, with no second implementation to
// compare against.
//
// Input: two bytes choosing the capacity (little-endian, 1 to 4092), then
// the reply. The reply is held in a heap block of exactly min(length, 900)
// bytes while its full length is passed on, so AddressSanitizer reports any
// read past the window or past the reply; the text goes into a block of
// exactly the capacity, and into roomy buffers with guard bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "query/protocol.h"
#include "query/reply_transcription.h"

namespace {

constexpr std::size_t kRoomy = 4096;
constexpr std::size_t kGuard = 16;
constexpr char kUntouched = '\x5A';

[[noreturn]] void Fail(const char* what, std::size_t at) {
    std::fprintf(stderr, "transcription fault: %s (at %zu)\n", what, at);
    std::abort();
}

// A buffer of `capacity` bytes followed by guard bytes, all set to kUntouched.
std::unique_ptr<char[]> Guarded(std::size_t capacity) {
    std::unique_ptr<char[]> buffer(new char[capacity + kGuard]);
    std::memset(buffer.get(), kUntouched, capacity + kGuard);
    return buffer;
}

// Checks that out[0, capacity + kGuard) holds `length` text bytes, the NUL,
// and nothing written after it.
void CheckWritten(const char* out, std::size_t capacity, std::size_t length) {
    if (length >= capacity)
        Fail("NUL outside the capacity", length);
    if (out[length] != '\0')
        Fail("no NUL where reported", length);
    for (std::size_t k = length + 1; k < capacity + kGuard; ++k) {
        if (out[k] != kUntouched)
            Fail("byte written after the NUL", k);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::size_t capacity = 1 + (input[0] | input[1] << 8) % 4092;
    const std::size_t length = size - 2;
    const std::size_t held =
        length < velder::kTranscriptionWindow ? length : velder::kTranscriptionWindow;
    std::unique_ptr<unsigned char[]> reply(new unsigned char[held]);
    if (held != 0) {
        std::memcpy(reply.get(), input + 2, held);
    }

    // The whole text, twice: the same reply gives the same text.
    const auto whole = Guarded(kRoomy);
    const std::size_t wholeLength =
        velder::TranscribeReply(reply.get(), length, whole.get(), kRoomy);
    CheckWritten(whole.get(), kRoomy, wholeLength);
    const auto again = Guarded(kRoomy);
    if (velder::TranscribeReply(reply.get(), length, again.get(), kRoomy) != wholeLength ||
        std::memcmp(whole.get(), again.get(), kRoomy + kGuard) != 0) {
        Fail("the same reply gave another text", wholeLength);
    }
    if (wholeLength > velder::kLongestTranscription)
        Fail("text longer than the longest", wholeLength);
    if (wholeLength > 3 * held)
        Fail("more than three text bytes per reply byte", wholeLength);
    for (std::size_t k = 0; k < wholeLength; ++k) {
        const auto x = static_cast<unsigned char>(whole[k]);
        if (!(x >= 0x20 && x <= 0x7F) && x != 0xFF && x != 0xFE)
            Fail("unexpected text byte", k);
    }

    // At the chosen capacity: a block of exactly that size, and a guarded
    // one. The text is the whole text's first capacity - 1 bytes at most.
    std::unique_ptr<char[]> exact(new char[capacity]);
    const std::size_t cutLength =
        velder::TranscribeReply(reply.get(), length, exact.get(), capacity);
    const auto guarded = Guarded(capacity);
    if (velder::TranscribeReply(reply.get(), length, guarded.get(), capacity) != cutLength)
        Fail("second call ends elsewhere", cutLength);
    CheckWritten(guarded.get(), capacity, cutLength);
    const std::size_t kept = wholeLength < capacity - 1 ? wholeLength : capacity - 1;
    if (cutLength != kept)
        Fail("cut text has the wrong length", cutLength);
    if (std::memcmp(exact.get(), whole.get(), cutLength) != 0 ||
        std::memcmp(guarded.get(), whole.get(), cutLength) != 0) {
        Fail("cut text is not a prefix of the whole", cutLength);
    }
    return 0;
}
