#include "query/reply_transcription.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

// The reply is read as a text section, the section marker 00 00 00, then
// records ([6-byte head][head field 00][string 00][string 00]) up to the end
// pattern 20 01 00 00 00. A pattern is tried at every byte that can start it;
// when it fails, that first byte goes to the section's rule and the search goes
// on from the next byte, so a failed partial match costs a few look-ahead reads
// and nothing else. Every read stays below min(length, window).

namespace velder {
namespace {

using Byte = unsigned char;

constexpr Byte kFieldSeparator = 0xFF;
constexpr Byte kSectionMark = 0xFE;
constexpr Byte kEmptyFieldFiller = ' ';
constexpr Byte kPlaceholder = '?';
constexpr Byte kCaret = '^';
constexpr Byte kAngle = '>';
constexpr std::size_t kHeadLength = 6;

constexpr Byte kSectionMarker[] = {0x00, 0x00, 0x00};
constexpr Byte kEndPattern[] = {0x20, 0x01, 0x00, 0x00, 0x00};

// What a section does with a byte when no pattern starts there.
enum ByteClass : Byte {
    kCopied,       // printable and nothing special: written as it is
    kZero,         // may start the section marker; ends a record field
    kSpace,        // may start the end pattern (record section only)
    kColour,       // "^": may start a colour code
    kAngleMark,    // ">": sets the placeholder flag (text section only)
    kUnprintable,  // a separator in the text section, escaped in a record
};

constexpr bool IsPrintable(unsigned x) {
    return x >= 0x20 && x <= 0x7F;
}

constexpr std::array<Byte, 256> MakeClasses(bool records) {
    std::array<Byte, 256> classes{};
    for (unsigned x = 0; x < 256; ++x) {
        classes[x] = IsPrintable(x) ? kCopied : kUnprintable;
    }
    classes[0x00] = kZero;
    classes[kCaret] = kColour;
    if (records) {
        classes[kEndPattern[0]] = kSpace;
    } else {
        classes[kAngle] = kAngleMark;
    }
    return classes;
}

constexpr std::array<Byte, 256> kTextClasses = MakeClasses(false);
constexpr std::array<Byte, 256> kRecordClasses = MakeClasses(true);

// "_" and two lower-case hexadecimal digits for each byte value, and a spare.
constexpr std::array<std::array<Byte, 4>, 256> MakeEscapes() {
    constexpr char kHexDigits[] = "0123456789abcdef";
    std::array<std::array<Byte, 4>, 256> escapes{};
    for (unsigned x = 0; x < 256; ++x) {
        escapes[x] = {'_', static_cast<Byte>(kHexDigits[x >> 4]),
                      static_cast<Byte>(kHexDigits[x & 0x0F]), 0};
    }
    return escapes;
}

constexpr std::array<std::array<Byte, 4>, 256> kEscapes = MakeEscapes();

constexpr bool IsDigit(Byte x) {
    return x >= '0' && x <= '9';
}

// Length of the colour code at reply[i] (a "^"), or 0 when none fits before `end`.
inline std::size_t ColourCodeLength(const Byte* reply, std::size_t i, std::size_t end) {
    const std::size_t left = end - i;
    if (left >= 5 && reply[i + 1] == 'c' && IsDigit(reply[i + 2]) && IsDigit(reply[i + 3]) &&
        IsDigit(reply[i + 4])) {
        return 5;
    }
    if (left >= 4 && reply[i + 1] == ' ' && IsDigit(reply[i + 2]) && reply[i + 3] == ' ') {
        return 4;
    }
    if (left >= 2 && IsDigit(reply[i + 1])) {
        return 2;
    }
    return 0;
}

// Eight bytes at a time: a flag in the top bit of each byte of a word that is
// not plain. Bytes are numbered from the low end (little-endian loads), and
// the lowest flag is always right; flags above it may be spurious, which does
// not matter as only the lowest is used.
constexpr std::uint64_t kOnes = 0x0101010101010101u;
constexpr std::uint64_t kHighBits = 0x8080808080808080u;

constexpr std::uint64_t ZeroBytes(std::uint64_t w) {
    return (w - kOnes) & ~w & kHighBits;
}
constexpr std::uint64_t BytesBelow(std::uint64_t w, unsigned n) {
    return (w - kOnes * n) & ~w & kHighBits;
}

template <bool kRecords>
constexpr std::uint64_t NotPlain(std::uint64_t w) {
    std::uint64_t flags = (w & kHighBits) | ZeroBytes(w ^ (kOnes * kCaret));
    if constexpr (kRecords) {
        flags |= BytesBelow(w, kEndPattern[0] + 1u);
    } else {
        flags |= BytesBelow(w, 0x20) | ZeroBytes(w ^ (kOnes * kAngle));
    }
    return flags;
}

// Copies count < 8 bytes with at most two fixed-size moves each way, writing
// nothing past to[count].
inline void CopyShort(const Byte* from, std::size_t count, Byte* to) {
    if (count >= 4) {
        std::uint32_t head;
        std::uint32_t tail;
        std::memcpy(&head, from, 4);
        std::memcpy(&tail, from + count - 4, 4);
        std::memcpy(to, &head, 4);
        std::memcpy(to + count - 4, &tail, 4);
    } else if (count >= 2) {
        std::uint16_t head;
        std::uint16_t tail;
        std::memcpy(&head, from, 2);
        std::memcpy(&tail, from + count - 2, 2);
        std::memcpy(to, &head, 2);
        std::memcpy(to + count - 2, &tail, 2);
    } else if (count == 1) {
        *to = *from;
    }
}

// Copies the run of plain bytes that starts at reply[i] (one at least).
template <bool kRecords>
inline void CopyPlainRun(const Byte* reply, std::size_t& i, std::size_t end, Byte*& o) {
    const std::array<Byte, 256>& classes = kRecords ? kRecordClasses : kTextClasses;
    if constexpr (std::endian::native == std::endian::little) {
        while (end - i >= 8) {
            std::uint64_t word;
            std::memcpy(&word, reply + i, 8);
            const std::uint64_t flags = NotPlain<kRecords>(word);
            if (flags != 0) {
                const std::size_t plain = static_cast<std::size_t>(std::countr_zero(flags)) / 8;
                CopyShort(reply + i, plain, o);
                i += plain;
                o += plain;
                return;
            }
            std::memcpy(o, &word, 8);
            o += 8;
            i += 8;
        }
    }
    while (i < end && classes[reply[i]] == kCopied) {
        *o++ = reply[i++];
    }
}

enum class Match { kNone, kWhole, kCutOff };

// Whether `pattern` stands at reply[i]; kCutOff when the bytes before `end`
// all match but the pattern goes on past it.
template <std::size_t N>
inline Match MatchAt(const Byte* reply, std::size_t i, std::size_t end, const Byte (&pattern)[N]) {
    for (std::size_t k = 0; k < N; ++k) {
        if (i + k >= end) {
            return Match::kCutOff;
        }
        if (reply[i + k] != pattern[k]) {
            return Match::kNone;
        }
    }
    return Match::kWhole;
}

inline Byte* WriteNumber(Byte* o, unsigned value) {
    Byte digits[5];
    std::size_t count = 0;
    do {
        digits[count++] = static_cast<Byte>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count != 0) {
        *o++ = digits[--count];
    }
    return o;
}

// The record section, from reply[i] to `end`. Returns the new output end.
Byte* TranscribeRecords(const Byte* reply, std::size_t i, std::size_t end, Byte* o) {
    unsigned fieldIndex = 0;
    std::size_t headCount = 0;
    unsigned number = 0;  // head bytes 1 and 2, little-endian
    bool fieldEmpty = true;

    while (i < end) {
        const Byte x = reply[i];
        if (x == kEndPattern[0]) {
            const Match match = MatchAt(reply, i, end, kEndPattern);
            if (match == Match::kWhole) {
                *o++ = kSectionMark;
                return o;
            }
            if (match == Match::kCutOff) {
                return o;
            }
        }
        if (fieldIndex == 0 && headCount < kHeadLength) {
            // A whole head at once when no byte of it could start the end pattern.
            if (headCount == 0 && end - i >= kHeadLength && reply[i + 1] != kEndPattern[0] &&
                reply[i + 2] != kEndPattern[0] && reply[i + 3] != kEndPattern[0] &&
                reply[i + 4] != kEndPattern[0] && reply[i + 5] != kEndPattern[0]) {
                number = reply[i + 1] + 256u * reply[i + 2];
                headCount = kHeadLength;
                i += kHeadLength;
                continue;
            }
            if (headCount == 1) {
                number = x;
            } else if (headCount == 2) {
                number += 256u * x;
            }
            ++headCount;
            ++i;
            continue;
        }
        switch (kRecordClasses[x]) {
            case kCopied:
                fieldEmpty = false;
                CopyPlainRun<true>(reply, i, end, o);
                continue;
            case kZero:
                if (fieldIndex == 0) {
                    o = WriteNumber(o, number);
                    headCount = 0;
                } else if (fieldEmpty) {
                    *o++ = kEmptyFieldFiller;
                }
                *o++ = kFieldSeparator;
                fieldIndex = fieldIndex == 2 ? 0 : fieldIndex + 1;
                fieldEmpty = true;
                ++i;
                continue;
            case kColour:
                fieldEmpty = false;
                if (const std::size_t length = ColourCodeLength(reply, i, end)) {
                    i += length;
                    continue;
                }
                *o++ = x;
                ++i;
                continue;
            case kSpace:
                fieldEmpty = false;
                *o++ = x;
                ++i;
                continue;
            default:  // kUnprintable, often several in a row
                fieldEmpty = false;
                for (Byte y = x;;) {
                    // The fourth byte lands where the next output byte or the
                    // NUL goes, so it is always overwritten.
                    std::memcpy(o, kEscapes[y].data(), 4);
                    o += 3;
                    if (++i == end) {
                        return o;
                    }
                    y = reply[i];
                    if (kRecordClasses[y] != kUnprintable) {
                        break;
                    }
                }
                continue;
        }
    }
    return o;
}

// The whole transcription of reply[0, end) into `out`, which must hold the
// text and one byte more (where the NUL goes). Returns the text's length.
std::size_t Transcribe(const Byte* reply, std::size_t end, Byte* out) {
    Byte* o = out;
    // Just past the last separator this section wrote; only ever equal to o
    // when nothing has been written since.
    const Byte* afterSeparator = nullptr;
    bool sawAngle = false;
    std::size_t i = 0;

    while (i < end) {
        const Byte x = reply[i];
        switch (kTextClasses[x]) {
            case kCopied:
                CopyPlainRun<false>(reply, i, end, o);
                continue;
            case kZero: {
                const Match match = MatchAt(reply, i, end, kSectionMarker);
                if (match == Match::kCutOff) {
                    return static_cast<std::size_t>(o - out);
                }
                if (match == Match::kWhole) {
                    *o++ = kFieldSeparator;
                    *o++ = kSectionMark;
                    o = TranscribeRecords(reply, i + sizeof kSectionMarker, end, o);
                    return static_cast<std::size_t>(o - out);
                }
                break;  // a lone 00 is a separator like any unprintable byte
            }
            case kColour:
                if (const std::size_t length = ColourCodeLength(reply, i, end)) {
                    i += length;
                    continue;
                }
                *o++ = x;
                ++i;
                continue;
            case kAngleMark:
                sawAngle = true;
                ++i;
                continue;
            default:  // kUnprintable
                break;
        }
        if (sawAngle && o == afterSeparator) {
            *o++ = kPlaceholder;
        }
        *o++ = kFieldSeparator;
        afterSeparator = o;
        ++i;
    }
    return static_cast<std::size_t>(o - out);
}

}  // namespace

std::size_t TranscribeReply(const unsigned char* reply, std::size_t length, char* out,
                            std::size_t start, std::size_t capacity) {
    std::size_t written = 0;
    if (start < capacity) {
        const std::size_t end = length < kTranscriptionWindow ? length : kTranscriptionWindow;
        const std::size_t room = capacity - start - 1;  // bytes of text before the NUL
        // A reply of n bytes never yields more than 3n bytes of text: an escape
        // is three bytes for one, and a record's number (six bytes at most with
        // its separator) follows six head bytes that write nothing.
        const std::size_t most = 3 * end < kLongestTranscription ? 3 * end : kLongestTranscription;
        Byte* text = reinterpret_cast<Byte*>(out + start);
        if (most <= room) {
            written = Transcribe(reply, end, text);
        } else {
            Byte whole[kLongestTranscription + 1];
            written = Transcribe(reply, end, whole);
            if (written > room) {
                written = room;
            }
            std::memcpy(text, whole, written);
        }
        text[written] = '\0';
    }
    return start + written;
}

}  // namespace velder
