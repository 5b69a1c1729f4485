// The transcription rules followed step by step: one byte at a time, pattern
// counters that step back when a partial match fails, no run copying and no
// look-ahead beyond the colour codes. Slow and plain; the library's
// transcription must agree with it on every reply.
#pragma once

#include <cstddef>
#include <string>

namespace velder::testing {

// The text from position 4 on, without the closing NUL.
inline std::string TranscribeLiterally(const unsigned char* reply, std::size_t n) {
    constexpr std::size_t kWindow = 900;
    constexpr long kStart = 4;
    static const unsigned char kEnd[5] = {0x20, 0x01, 0x00, 0x00, 0x00};

    std::string out;
    int markerMatched = 0;
    int endMatched = 0;
    int fieldIndex = 0;
    int headCount = 0;
    unsigned char head[6] = {};
    int fieldLength = 0;
    long lastSeparator = -2;
    bool sawAngle = false;

    const auto position = [&] { return kStart + static_cast<long>(out.size()); };
    const auto digit = [](unsigned char x) { return x >= '0' && x <= '9'; };
    const auto printable = [](unsigned char x) { return x >= 0x20 && x <= 0x7F; };
    const auto inside = [&](std::size_t k) { return k < n && k < kWindow; };
    const auto colourCode = [&](std::size_t i) -> std::size_t {
        if (reply[i] != '^')
            return 0;
        if (inside(i + 4) && reply[i + 1] == 'c' && digit(reply[i + 2]) && digit(reply[i + 3]) &&
            digit(reply[i + 4]))
            return 5;
        if (inside(i + 3) && reply[i + 1] == ' ' && digit(reply[i + 2]) && reply[i + 3] == ' ')
            return 4;
        if (inside(i + 1) && digit(reply[i + 1]))
            return 2;
        return 0;
    };

    std::size_t i = 0;
    if (n == 0)
        return out;
    do {
        if (i >= kWindow)
            break;
        unsigned char x = reply[i];
        if (markerMatched >= 0) {
            if (x == 0x00) {
                if (++markerMatched == 3) {
                    out += '\xFF';
                    out += '\xFE';
                    markerMatched = -1;
                }
            } else {
                i -= static_cast<std::size_t>(markerMatched);
                markerMatched = 0;
                x = reply[i];
                if (const std::size_t length = colourCode(i)) {
                    i += length - 1;
                } else if (x == '>') {
                    sawAngle = true;
                } else if (printable(x)) {
                    out += static_cast<char>(x);
                } else {
                    if (sawAngle && lastSeparator + 1 == position())
                        out += '?';
                    lastSeparator = position();
                    out += '\xFF';
                }
            }
        } else {
            if (x == kEnd[endMatched]) {
                if (++endMatched == 5) {
                    out += '\xFE';
                    break;
                }
            } else {
                i -= static_cast<std::size_t>(endMatched);
                endMatched = 0;
                x = reply[i];
                if (fieldIndex == 0 && headCount < 6) {
                    head[headCount++] = x;
                } else if (x == 0x00) {
                    if (fieldIndex == 0) {
                        out += std::to_string(head[1] + 256 * head[2]);
                        headCount = 0;
                    } else if (fieldLength == 0) {
                        out += ' ';
                    }
                    out += '\xFF';
                    fieldIndex = (fieldIndex + 1) % 3;
                    fieldLength = 0;
                } else {
                    ++fieldLength;
                    if (const std::size_t length = colourCode(i)) {
                        i += length - 1;
                    } else if (printable(x)) {
                        out += static_cast<char>(x);
                    } else {
                        static const char kHex[] = "0123456789abcdef";
                        out += '_';
                        out += kHex[x >> 4];
                        out += kHex[x & 15];
                    }
                }
            }
        }
        ++i;
    } while (i < n);
    return out;
}

}  // namespace velder::testing
