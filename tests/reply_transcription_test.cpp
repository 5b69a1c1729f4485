#include "query/reply_transcription.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "query/protocol.h"
#include "tests/support/samples.h"

namespace {

using velder::Bytes;
using velder::Data;
using velder::kLongestTranscription;
using velder::kTranscriptionWindow;
using velder::ParseBytes;
using velder::ShowBytes;
using velder::TranscribeReply;

constexpr char kUntouched = '\x5A';
constexpr std::size_t kRoomy = 4096;

// Transcribes into a roomy buffer and returns the text, after checking the
// returned length, the NUL and that nothing after the NUL was written.
std::string Transcribe(const Bytes& reply) {
    std::vector<char> out(kRoomy + 64, kUntouched);
    const std::size_t length = TranscribeReply(Data(reply), reply.size(), out.data(), kRoomy);
    EXPECT_LT(length, kRoomy);
    if (length >= kRoomy)
        return "<NUL outside>";
    EXPECT_EQ('\0', out[length]);
    for (std::size_t k = length + 1; k < out.size(); ++k) {
        if (out[k] != kUntouched) {
            ADD_FAILURE() << "byte " << k << " written after the NUL at " << length;
            break;
        }
    }
    return std::string(out.data(), length);
}

struct Case {
    const char* name;
    const char* reply;     // byte notation
    const char* expected;  // from position 4, without the NUL
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class TranscriptionCase : public testing::TestWithParam<Case> {};

TEST_P(TranscriptionCase, GivesTheExpectedText) {
    const Bytes reply = ParseBytes(GetParam().reply);
    const Bytes expected = ParseBytes(GetParam().expected);
    EXPECT_EQ(ShowBytes(expected), ShowBytes(Transcribe(reply)));
}

std::string CaseName(const testing::TestParamInfo<Case>& info) {
    return info.param.name;
}

TEST(Transcription, WorkedExampleByteForByte) {
    EXPECT_EQ(ShowBytes(velder::support::WorkedExampleText()),
              ShowBytes(Transcribe(velder::support::WorkedExampleReply())));
}

// Text section: separators, the section marker and its step back, ">" and "?".
const Case kTextCases[] = {
    {"AngleGivesPlaceholder", "'a>b' 00 01 'c'", "'ab' FF '?' FF 'c'"},
    {"NoAngleNoPlaceholder", "'ab' 00 01 'c'", "'ab' FF FF 'c'"},
    {"FirstSeparatorNeverGetsPlaceholder", "'>' 01 02", "FF '?' FF"},
    {"AngleMetBetweenSeparators", "01 '>' 02 03", "FF '?' FF '?' FF"},
    {"SkippedCodeAndAngleWriteNothing", "'>' 01 '^1>^c123' 02", "FF '?' FF"},
    {"WrittenByteNeedsNoPlaceholder", "'>' 01 'x' 02", "FF 'x' FF"},
    {"PlaceholderBetweenZeroSeparators", "'>x' 00 00 'y' 01 02", "'x' FF '?' FF 'y' FF '?' FF"},
    {"TwoZerosAreTwoSeparators", "00 00 'A'", "FF FF 'A'"},
    {"TwoZerosBeforeUnprintable", "00 00 05", "FF FF FF"},
    {"PartialMarkerAtEndIsDropped", "'ab' 00 00", "'ab'"},
    {"OneZeroAtEndIsDropped", "'ab' 00", "'ab'"},
    {"MarkerAtOnce", "00 00 00", "FF FE"},
    {"FourthZeroIsFirstHeadByte", "00 00 00 00 07 00 00 00 00 00", "FF FE '7' FF"},
    {"UnprintableBytesAreSeparators", "'a' 80 'b' FF 'c' 1F 'd' 09", "'a' FF 'b' FF 'c' FF 'd' FF"},
    {"DeleteIsPrintable", "'a' 7F 'b'", "'a' 7F 'b'"},
    {"ThreeColourForms", "'^c123A^ 4 B^5C'", "'ABC'"},
    {"CaretWithoutCode", "'^x^c1x3^ 4x^ x '", "'^x^c1x3^ 4x^ x '"},
    {"CaretBeforeCode", "'^^1x'", "'^x'"},
    {"CaretAtReplyEnd", "'a^'", "'a^'"},
    {"LongCodeCutByReplyEnd", "'ab^c12'", "'ab^c12'"},
    {"SpacedCodeCutByReplyEnd", "'ab^ 1'", "'ab^ 1'"},
    {"CodeBeforeMarker", "'x^1' 00 00 00", "'x' FF FE"},
};
INSTANTIATE_TEST_SUITE_P(TextSection, TranscriptionCase, testing::ValuesIn(kTextCases), CaseName);

// Record section; every reply starts with the section marker.
const Case kRecordCases[] = {
    {"NumberIsLittleEndian", "00 00 00  09 10 27 00 00 00 00 'x' 01 E9 'y' 00 00",
     "FF FE '10000' FF 'x_01_e9y' FF ' ' FF"},
    {"NumberExtremes", "00 00 00  00 FF FF 00 00 00 00 00 00  00 00 00 00 00 00 00",
     "FF FE '65535' FF ' ' FF ' ' FF '0' FF"},
    {"HeadKeepsCaretsAndZeros", "00 00 00  '^' '1' 00 00 00 00 00", "FF FE '49' FF"},
    {"HeadFieldBytesBeforeNumber", "00 00 00  00 05 00 00 00 00 'k' 80 '^1' 00",
     "FF FE 'k_805' FF"},
    {"EmptyStringsBecomeSpaces", "00 00 00  00 01 00 00 00 00 00 00 00",
     "FF FE '1' FF ' ' FF ' ' FF"},
    {"ColourCodeOnlyFieldIsEmptyNotSpace", "00 00 00  00 02 00 00 00 00 00 '^1' 00 'b' 00",
     "FF FE '2' FF FF 'b' FF"},
    {"AngleAndDeleteAreOrdinary", "00 00 00  00 03 00 00 00 00 00 '>a' 7F 00",
     "FF FE '3' FF '>a' 7F FF"},
    {"UnprintableBytesAreEscaped", "00 00 00  00 04 00 00 00 00 00 80 1F FF 0A 00",
     "FF FE '4' FF '_80_1f_ff_0a' FF"},
    {"EndPatternInsideString", "00 00 00  00 05 00 00 00 00 00 'ab' 20 01 00 00 00 'zz' 00",
     "FF FE '5' FF 'ab' FE"},
    {"EndPatternInsideHead", "00 00 00  07 20 01 00 00 00 'x'", "FF FE FE"},
    {"EndPatternAtHeadStart", "00 00 00  20 01 00 00 00", "FF FE FE"},
    {"EndPatternRightAfterMarker", "00 00 00 20 01 00 00 00 00", "FF FE FE"},
    {"PartialEndPatternStepsBack", "00 00 00  00 06 00 00 00 00 00 'a' 20 01 00 'b' 00",
     "FF FE '6' FF 'a _01' FF 'b' FF"},
    {"LongPartialEndPatternStepsBack", "00 00 00  00 06 00 00 00 00 00 'a' 20 01 00 00 41",
     "FF FE '6' FF 'a _01' FF ' ' FF"},
    {"SpaceBeforeEndPattern", "00 00 00  00 06 00 00 00 00 00 'a' 20 20 01 00 00 00",
     "FF FE '6' FF 'a ' FE"},
    {"PartialEndPatternInHeadStepsBack", "00 00 00  20 01 00 00 41 00 00 'a' 00 00",
     "FF FE '1' FF 'a' FF ' ' FF"},
    {"SpacedCodeSpaceStartsNoEndPattern", "00 00 00  00 06 00 00 00 00 00 'x^ 1 ' 01 00 00 00",
     "FF FE '6' FF 'x_01' FF ' ' FF"},
    {"OpenEndPatternAtReplyEndIsDropped", "00 00 00  00 06 00 00 00 00 00 'a' 20 01 00",
     "FF FE '6' FF 'a'"},
    {"HeadCutShortWritesNothing", "00 00 00  05 06 07", "FF FE"},
    {"RecordCutShortHasNoClosingSeparator", "00 00 00  00 08 00 00 00 00 00 'ab'",
     "FF FE '8' FF 'ab'"},
    {"ColourCodeCutByReplyEnd", "00 00 00  00 08 00 00 00 00 00 'ab^c1'", "FF FE '8' FF 'ab^c1'"},
    {"TwoRecords",
     "00 00 00  00 0A 00 00 00 00 00 'A' 00 'B' 00  01 0B 00 00 00 00 00 'C' 00 'D' 00",
     "FF FE '10' FF 'A' FF 'B' FF '11' FF 'C' FF 'D' FF"},
};
INSTANTIATE_TEST_SUITE_P(RecordSection, TranscriptionCase, testing::ValuesIn(kRecordCases),
                         CaseName);

// Window edge: `before` filler bytes, then `at` from that position, then `after`
// (which lies past the window when it starts at byte 900).
struct EdgeCase {
    const char* name;
    bool records;  // filler after a marker and a record head, inside a string
    std::size_t position;
    const char* at;
    const char* after;
    const char* expectedTail;  // what follows the filler's text
};

void PrintTo(const EdgeCase& c, std::ostream* os) {
    *os << c.name;
}

class WindowEdge : public testing::TestWithParam<EdgeCase> {};

TEST_P(WindowEdge, NothingFromByte900On) {
    const EdgeCase& c = GetParam();
    Bytes reply = c.records ? ParseBytes("00 00 00  00 09 00 00 00 00 00") : Bytes();
    const std::size_t lead = reply.size();
    reply.append(c.position - lead, 'x');
    reply += ParseBytes(c.at);
    reply += ParseBytes(c.after);
    ASSERT_GT(reply.size(), kTranscriptionWindow) << "the case must reach past the window";

    const Bytes expected = (c.records ? ParseBytes("FF FE '9' FF") : Bytes()) +
                           std::string(c.position - lead, 'x') + ParseBytes(c.expectedTail);
    EXPECT_EQ(ShowBytes(expected), ShowBytes(Transcribe(reply)));
}

const EdgeCase kEdgeCases[] = {
    {"Byte899IsLast", false, 899, "'A'", "'B' 'C'", "'A'"},
    {"ShortCodeEndingAt899", false, 898, "'^1'", "'zz'", ""},
    {"ShortCodeReaching900", false, 899, "'^'", "'1zz'", "'^'"},
    {"LongCodeEndingAt899", false, 895, "'^c123'", "'zz'", ""},
    {"LongCodeReaching900", false, 896, "'^c12'", "'3zz'", "'^c12'"},
    {"SpacedCodeEndingAt899", false, 896, "'^ 1 '", "'zz'", ""},
    {"SpacedCodeReaching900", false, 897, "'^ 1'", "' zz'", "'^ 1'"},
    {"MarkerEndingAt899", false, 897, "00 00 00", "00 05", "FF FE"},
    {"PartialMarkerOpenAt899", false, 898, "00 00", "00 00 00", ""},
    {"UnprintableAt899", false, 899, "01", "02", "FF"},
    {"EndPatternEndingAt899", true, 895, "20 01 00 00 00", "'zz'", "FE"},
    {"PartialEndPatternOpenAt899", true, 896, "20 01 00 00", "00 'zz'", ""},
    {"EscapeAt899", true, 899, "80", "81", "'_80'"},
    {"RecordCodeReaching900", true, 897, "'^c1'", "'23'", "'^c1'"},
    {"FieldEndAt899", true, 898, "'y' 00", "'zz' 00", "'y' FF"},
};
INSTANTIATE_TEST_SUITE_P(Transcription, WindowEdge, testing::ValuesIn(kEdgeCases),
                         [](const testing::TestParamInfo<EdgeCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(Transcription, SampleRepliesAreWhatTheyClaim) {
    const Bytes realistic = velder::standin::RealisticStatusReply();
    ASSERT_EQ(900u, realistic.size());
    const std::string text = Transcribe(realistic);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ('\xFE', text.back()) << "the end pattern lies inside the window";
    EXPECT_NE(std::string::npos, text.find("Velder Test Arena | DM")) << ShowBytes(text);
    EXPECT_NE(std::string::npos, text.find("\xFE"
                                           "20\xFF"
                                           "Grunt\xFF[V]\xFF"))
        << ShowBytes(text);
}

// The longest text is as long as can be, and the 4096-byte buffer a host
// hands out holds it whole behind the four round-trip digits.
TEST(TranscriptionCapacity, LongestTextIsTheLongest) {
    static_assert(4096 >= velder::kRoundTripDigits + kLongestTranscription + 1);
    const Bytes numberLast = velder::standin::LongestTextReply();
    const Bytes numberFirst = velder::standin::LongestTextEndingInEscape();
    for (const Bytes& reply : {numberLast, numberFirst}) {
        ASSERT_EQ(kTranscriptionWindow, reply.size());
        const std::string text = Transcribe(reply);
        EXPECT_EQ(2678u, kLongestTranscription);
        EXPECT_EQ(kLongestTranscription, text.size());
        EXPECT_EQ("\xFF\xFE", text.substr(0, 2));
    }
    EXPECT_EQ("65535\xFF", Transcribe(numberLast).substr(2672));
    EXPECT_EQ("65535\xFF_", Transcribe(numberFirst).substr(2, 7));
}

// Small buffers, each allocated to its exact size (AddressSanitizer sees a
// write past it) and also checked with guard bytes behind it: the text is
// cut to capacity - 1 bytes, a prefix of the whole, and the NUL stays inside.
TEST(TranscriptionCapacity, CutTextIsAPrefixAndStaysInside) {
    const Bytes replies[] = {
        velder::support::WorkedExampleReply(), velder::standin::RealisticStatusReply(),
        velder::standin::LongestTextReply(), velder::standin::LongestTextEndingInEscape(),
        ParseBytes("'>' 01 02 03 04")};
    const std::size_t capacities[] = {1, 2, 3, 4, 5, 9, 60, 96, 895, 896, 897, 2677, 2678, 2679};
    constexpr std::size_t kGuard = 32;
    for (const Bytes& reply : replies) {
        const std::string whole = Transcribe(reply);
        for (const std::size_t capacity : capacities) {
            SCOPED_TRACE("capacity " + std::to_string(capacity));
            const std::size_t kept = std::min(whole.size(), capacity - 1);

            auto exact = std::make_unique<char[]>(capacity);
            EXPECT_EQ(kept, TranscribeReply(Data(reply), reply.size(), exact.get(), capacity));

            std::vector<char> guarded(capacity + kGuard, kUntouched);
            EXPECT_EQ(kept, TranscribeReply(Data(reply), reply.size(), guarded.data(), capacity));
            EXPECT_EQ(whole.substr(0, kept), std::string(guarded.data(), kept));
            EXPECT_EQ('\0', guarded[kept]);
            EXPECT_EQ(std::string(guarded.size() - kept - 1, kUntouched),
                      std::string(guarded.data() + kept + 1, guarded.size() - kept - 1));
        }
    }
}

TEST(TranscriptionCapacity, NoRoomWritesNothing) {
    char out[4];
    std::memset(out, kUntouched, sizeof out);
    const Bytes reply = ParseBytes("'abc'");
    EXPECT_EQ(0u, TranscribeReply(Data(reply), reply.size(), out, 0));
    EXPECT_EQ(std::string(4, kUntouched), std::string(out, 4));
    EXPECT_EQ(0u, TranscribeReply(Data(reply), reply.size(), out, 1));
    EXPECT_EQ('\0', out[0]);
    EXPECT_EQ(kUntouched, out[1]);
}

TEST(TranscriptionCapacity, EmptyReplyGivesTheNulOnly) {
    char out[4];
    std::memset(out, kUntouched, sizeof out);
    EXPECT_EQ(0u, TranscribeReply(nullptr, 0, out, sizeof out));
    EXPECT_EQ('\0', out[0]);
    EXPECT_EQ(kUntouched, out[1]);
}

// Replies held in heap blocks of exactly their own size, or of exactly the
// window when the reply is longer: under AddressSanitizer any read past the
// length or past byte 899 fails the test.
std::string TranscribeHeld(const Bytes& reply, std::size_t claimedLength,
                           std::size_t capacity = kRoomy) {
    const std::size_t held = std::min(reply.size(), kTranscriptionWindow);
    std::unique_ptr<unsigned char[]> block(new unsigned char[held]);
    std::memcpy(block.get(), reply.data(), held);
    std::vector<char> out(capacity);
    const std::size_t length = TranscribeReply(block.get(), claimedLength, out.data(), capacity);
    return std::string(out.data(), length);
}

TEST(TranscriptionBounds, LongReplyIsReadUpToByte899Only) {
    // Each reply's byte 899 ends something that byte 900 would complete.
    struct Tail {
        bool records;
        const char* upTo899;
        const char* from900;
    };
    const Tail tails[] = {
        {false, "'^c12'", "'3'"}, {false, "'^ 1'", "' '"},     {false, "'^'", "'1'"},
        {false, "00 00", "00"},   {false, "00", "00 00"},      {true, "'^c12'", "'3'"},
        {true, "'^ 1'", "' '"},   {true, "20 01 00 00", "00"}, {true, "20", "01 00 00 00"},
    };
    for (const Tail& tail : tails) {
        SCOPED_TRACE(std::string(tail.upTo899) + (tail.records ? " in a record" : " in the text"));
        Bytes reply = tail.records ? ParseBytes("00 00 00 00 01 00 00 00 00 00") : Bytes();
        const Bytes end = ParseBytes(tail.upTo899);
        reply.append(kTranscriptionWindow - reply.size() - end.size(), 'q');
        reply += end;
        ASSERT_EQ(kTranscriptionWindow, reply.size());
        const Bytes longer = reply + ParseBytes(tail.from900) + Bytes(600, 'w');
        EXPECT_EQ(ShowBytes(Transcribe(reply)), ShowBytes(TranscribeHeld(longer, 10240)));
    }
}

// Only printable bytes, 0xFF and 0xFE reach the text.
bool OnlyTextBytes(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) {
        const auto x = static_cast<unsigned char>(c);
        return (x >= 0x20 && x <= 0x7F) || x == 0xFF || x == 0xFE;
    });
}

// Every shortened sample, read from a block of exactly its length.
TEST(TranscriptionBounds, EveryShortenedReplyIsReadUpToItsLength) {
    const Bytes replies[] = {velder::standin::RealisticStatusReply(),
                             velder::support::WorkedExampleReply(),
                             velder::standin::LongestTextReply()};
    for (const Bytes& whole : replies) {
        for (std::size_t n = 1; n <= whole.size(); ++n) {
            const std::string text = TranscribeHeld(whole.substr(0, n), n);
            if (!OnlyTextBytes(text) || text.size() > 3 * n) {
                ADD_FAILURE() << "length " << n << ": " << ShowBytes(text);
                break;
            }
        }
    }
}

// Random replies over the bytes that matter to the rules: the same reply
// gives the same text, a smaller buffer gives a prefix of it, and no text is
// longer than the longest. Bounded: a fixed seed and count.
TEST(TranscriptionBounds, RandomRepliesKeepTheTextsProperties) {
    static const unsigned char kAlphabet[] = {0x00, 0x00, 0x00, 0x00, 0x20, 0x20, 0x01, '^',
                                              '^',  'c',  '1',  '9',  ' ',  '>',  'a',  0x7F,
                                              0x80, 0xFF, 0x1F, 0x27, 0x10, 'Z'};
    std::mt19937 random(20240611);
    std::uniform_int_distribution<std::size_t> length(1, 1100);
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kAlphabet - 1);
    std::uniform_int_distribution<std::size_t> capacity(1, 3000);
    for (int round = 0; round < 2000; ++round) {
        Bytes reply(length(random), '\0');
        for (char& c : reply)
            c = static_cast<char>(kAlphabet[pick(random)]);
        const std::string text = TranscribeHeld(reply, reply.size());
        const std::size_t small = capacity(random);
        const std::string cut = TranscribeHeld(reply, reply.size(), small);
        const bool ok = text == TranscribeHeld(reply, reply.size()) &&
                        cut == text.substr(0, std::min(text.size(), small - 1)) &&
                        text.size() <= kLongestTranscription && OnlyTextBytes(text);
        if (!ok) {
            ADD_FAILURE() << "reply " << ShowBytes(reply) << "\ngives " << ShowBytes(text)
                          << "\ncut at " << small << ": " << ShowBytes(cut);
            break;
        }
    }
}

}  // namespace
