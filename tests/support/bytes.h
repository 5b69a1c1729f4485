// Byte strings for the tests, the tool, the stand-in server and the
// benchmarks, and a short notation for writing them: two hexadecimal digits
// per byte, text in single quotes, separated by spaces or commas
// ("FF FF 'status' 00").
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "query/status_format.h"

namespace velder {

// The bytes a notation stands for; a text in angle brackets when it is malformed.
inline Bytes ParseBytes(std::string_view notation) {
    const auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        return -1;
    };
    Bytes bytes;
    std::size_t i = 0;
    while (i < notation.size()) {
        const char c = notation[i];
        if (c == ' ' || c == ',') {
            ++i;
        } else if (c == '\'') {
            const std::size_t close = notation.find('\'', i + 1);
            if (close == std::string_view::npos)
                return "<unclosed quote>";
            bytes.append(notation.substr(i + 1, close - i - 1));
            i = close + 1;
        } else if (i + 1 < notation.size() && hex(c) >= 0 && hex(notation[i + 1]) >= 0) {
            bytes.push_back(static_cast<char>(hex(c) * 16 + hex(notation[i + 1])));
            i += 2;
        } else {
            return "<bad notation at " + std::to_string(i) + ">";
        }
    }
    return bytes;
}

// The same notation back, for readable comparisons: printable runs quoted.
inline std::string ShowBytes(std::string_view bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string shown;
    bool inText = false;
    for (const char c : bytes) {
        const auto x = static_cast<unsigned char>(c);
        const bool text = x >= 0x20 && x < 0x7F && x != '\'';
        if (text != inText && inText)
            shown += '\'';
        if (!shown.empty() && (!text || !inText))
            shown += ' ';
        if (text && !inText)
            shown += '\'';
        if (text) {
            shown += c;
        } else {
            shown += kHex[x >> 4];
            shown += kHex[x & 15];
        }
        inText = text;
    }
    if (inText)
        shown += '\'';
    return shown;
}

}  // namespace velder
