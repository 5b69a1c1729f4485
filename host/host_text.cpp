#include "host/host_text.h"

#include <cstring>

namespace velder {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsLowSurrogate(char32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// `c` as UTF-8 into out; the number of bytes (1 to 4).
std::size_t EncodeUtf8(char32_t c, unsigned char* out) {
    if (c < 0x80) {
        out[0] = static_cast<unsigned char>(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = static_cast<unsigned char>(0xC0 | (c >> 6));
        out[1] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        out[0] = static_cast<unsigned char>(0xE0 | (c >> 12));
        out[1] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
        out[2] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = static_cast<unsigned char>(0xF0 | (c >> 18));
    out[1] = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
    out[2] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
    out[3] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    return 4;
}

// The character that starts at text[*at] (a NUL not among them), and *at
// moved past it; an ill-formed sequence gives U+FFFD for its first byte.
char32_t DecodeUtf8(const unsigned char* text, std::size_t* at) {
    const unsigned char lead = text[*at];
    std::size_t length = 0;
    char32_t c = 0;
    char32_t least = 0;  // the smallest character of this length: shorter is overlong
    if (lead < 0x80) {
        ++*at;
        return lead;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, c = lead & 0x1F, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, c = lead & 0x0F, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, c = lead & 0x07, least = 0x10000;
    } else {
        ++*at;
        return kReplacement;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const unsigned char next = text[*at + i];  // a NUL ends the loop here
        if ((next & 0xC0) != 0x80) {
            ++*at;
            return kReplacement;
        }
        c = (c << 6) | (next & 0x3F);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        ++*at;
        return kReplacement;
    }
    *at += length;
    return c;
}

}  // namespace

bool NarrowHostText(const HostUnit* wide, std::size_t units, char* out, std::size_t capacity) {
    auto* const bytes = reinterpret_cast<unsigned char*>(out);
    std::size_t used = 0;
    for (std::size_t i = 0; i < units;) {
        char32_t c = wide[i++];
        if (c == 0) {
            bytes[used] = 0;
            return true;
        }
        if (IsHighSurrogate(c) && i < units && IsLowSurrogate(wide[i])) {
            c = 0x10000 + ((c - 0xD800) << 10) + (wide[i++] - 0xDC00);
        } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
            c = kReplacement;
        }
        unsigned char encoded[4];
        const std::size_t length = EncodeUtf8(c, encoded);
        if (used + length >= capacity) {
            break;
        }
        std::memcpy(bytes + used, encoded, length);
        used += length;
    }
    // Too long, or no NUL: no NUL inside `out` either.
    std::memset(bytes + used, '?', capacity - used);
    return false;
}

void WidenBytes(const char* text, HostUnit* out, std::size_t units) {
    std::size_t i = 0;
    for (; i + 1 < units && text[i] != '\0'; ++i) {
        out[i] = static_cast<unsigned char>(text[i]);
    }
    out[i] = 0;
}

void WidenText(const char* text, HostUnit* out, std::size_t units) {
    const auto* const bytes = reinterpret_cast<const unsigned char*>(text);
    std::size_t used = 0;
    for (std::size_t at = 0; bytes[at] != 0;) {
        const char32_t c = DecodeUtf8(bytes, &at);
        const std::size_t length = c < 0x10000 ? 1 : 2;
        if (used + length >= units) {
            break;
        }
        if (length == 1) {
            out[used++] = static_cast<HostUnit>(c);
        } else {
            out[used++] = static_cast<HostUnit>(0xD800 + ((c - 0x10000) >> 10));
            out[used++] = static_cast<HostUnit>(0xDC00 + ((c - 0x10000) & 0x3FF));
        }
    }
    out[used] = 0;
}

}  // namespace velder
