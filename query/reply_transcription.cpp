// The reply is read in two sections. The text section runs up to the section
// marker 00 00 00; the record section follows, up to the end pattern
// 20 01 00 00 00. At every byte the pattern search of the current section
// comes first; when a partial match fails, the scan steps back to the byte
// where the match began, hands that byte to the section's rule, and searches
// again from the byte after it.
#include "query/reply_transcription.h"

#include "query/protocol.h"

namespace velder {
namespace {

constexpr char kPlaceholder = '?';     // between two text separators once ">" was met
constexpr char kEmptyField = ' ';      // an empty record string
constexpr unsigned char kAngle = '>';  // turns the placeholder on; never written
constexpr unsigned char kCaret = '^';  // opens a colour code

bool IsPrintable(unsigned char x) {
    return x >= 0x20 && x <= 0x7F;
}

bool IsDigit(unsigned char x) {
    return x >= '0' && x <= '9';
}

// The text being written, cut before the last byte of the capacity, which
// the NUL keeps. Once a byte did not fit, `full` is set and the scan stops.
struct Output {
    char* out;
    std::size_t room;  // text bytes that fit: the capacity less the NUL's byte
    std::size_t used = 0;
    bool full = false;

    void Put(char c) {
        if (used < room) {
            out[used++] = c;
        } else {
            full = true;
        }
    }
};

// Everything the scan remembers between two bytes.
struct Scan {
    const unsigned char* reply;
    std::size_t end;        // min(length, window): bytes at or past it are never read
    int markerMatched = 0;  // section marker bytes matched; -1 in the record section
    int endMatched = 0;     // end pattern bytes matched
    int fieldIndex = 0;     // 0 the record head, 1 the first string, 2 the second
    int headCount = 0;      // record head bytes collected
    unsigned char head[kRecordHeadLength] = {};
    int fieldLength = 0;      // non-zero bytes met in the current record field
    long lastSeparator = -2;  // where the text-section rule last wrote 0xFF
    bool sawAngle = false;    // a ">" was met in the text section
};

// Length of the colour code starting at i ("^cDDD", "^ D ", "^D"), or 0. A
// form counts only when all its bytes lie before the scan's end.
std::size_t ColourCodeLength(const unsigned char* r, std::size_t end, std::size_t i) {
    if (r[i] != kCaret) {
        return 0;
    }
    if (i + 4 < end && r[i + 1] == 'c' && IsDigit(r[i + 2]) && IsDigit(r[i + 3]) &&
        IsDigit(r[i + 4])) {
        return 5;
    }
    if (i + 3 < end && r[i + 1] == ' ' && IsDigit(r[i + 2]) && r[i + 3] == ' ') {
        return 4;
    }
    if (i + 1 < end && IsDigit(r[i + 1])) {
        return 2;
    }
    return 0;
}

// Writes a record number, 0 to 65535, in decimal without leading zeros.
void PutNumber(Output& o, unsigned value) {
    char digits[5];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count > 0) {
        o.Put(digits[--count]);
    }
}

// The text-section rule for the byte at i. Returns the position of the last
// byte it used (i, or the last byte of a skipped colour code).
std::size_t TextRule(Scan& s, Output& o, std::size_t i) {
    const unsigned char x = s.reply[i];
    if (const std::size_t code = ColourCodeLength(s.reply, s.end, i)) {
        return i + code - 1;
    }
    if (x == kAngle) {
        s.sawAngle = true;
    } else if (IsPrintable(x)) {
        o.Put(static_cast<char>(x));
    } else {
        if (s.sawAngle && s.lastSeparator + 1 == static_cast<long>(o.used)) {
            o.Put(kPlaceholder);
        }
        s.lastSeparator = static_cast<long>(o.used);
        o.Put(kFieldSeparator);
    }
    return i;
}

// The record-section rule for the byte at i; returns as TextRule does.
std::size_t RecordRule(Scan& s, Output& o, std::size_t i) {
    const unsigned char x = s.reply[i];
    if (s.fieldIndex == 0 && s.headCount < static_cast<int>(kRecordHeadLength)) {
        s.head[s.headCount++] = x;
        return i;
    }
    if (x == 0x00) {
        switch (s.fieldIndex) {
            case 0:  // the head field ends: the number is head bytes 1 and 2, little-endian
                PutNumber(o, s.head[1] + 256u * s.head[2]);
                s.headCount = 0;
                o.Put(kFieldSeparator);
                s.fieldIndex = 1;
                break;
            case 1:
                if (s.fieldLength == 0) {
                    o.Put(kEmptyField);
                }
                o.Put(kFieldSeparator);
                s.fieldIndex = 2;
                break;
            default:
                if (s.fieldLength == 0) {
                    o.Put(kEmptyField);
                }
                o.Put(kFieldSeparator);
                s.fieldIndex = 0;
                break;
        }
        s.fieldLength = 0;
        return i;
    }
    ++s.fieldLength;
    if (const std::size_t code = ColourCodeLength(s.reply, s.end, i)) {
        return i + code - 1;
    }
    if (IsPrintable(x)) {
        o.Put(static_cast<char>(x));
    } else {
        static constexpr char kHex[] = "0123456789abcdef";
        o.Put('_');
        o.Put(kHex[x >> 4]);
        o.Put(kHex[x & 0x0F]);
    }
    return i;
}

}  // namespace

std::size_t TranscribeReply(const unsigned char* reply, std::size_t length, char* out,
                            std::size_t capacity) {
    if (capacity == 0) {
        return 0;
    }
    Output o{out, capacity - 1};
    Scan s{reply, length < kTranscriptionWindow ? length : kTranscriptionWindow};

    for (std::size_t i = 0; i < s.end && !o.full; ++i) {
        const unsigned char x = reply[i];
        if (s.markerMatched >= 0) {
            if (x == kReplyRecordsMarker[s.markerMatched]) {
                if (++s.markerMatched == static_cast<int>(sizeof kReplyRecordsMarker)) {
                    o.Put(kFieldSeparator);
                    o.Put(kTextRecordsMark);
                    s.markerMatched = -1;
                }
                continue;
            }
            i -= static_cast<std::size_t>(s.markerMatched);
            s.markerMatched = 0;
            i = TextRule(s, o, i);
        } else {
            if (x == kEndPattern[s.endMatched]) {
                if (++s.endMatched == static_cast<int>(sizeof kEndPattern)) {
                    o.Put(kTextRecordsMark);
                    break;
                }
                continue;
            }
            i -= static_cast<std::size_t>(s.endMatched);
            s.endMatched = 0;
            i = RecordRule(s, o, i);
        }
    }
    out[o.used] = '\0';
    return o.used;
}

}  // namespace velder
