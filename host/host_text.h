// The text of velder-async.dll's exports in the form mIRC hands it: UTF-16
// code units from mIRC 7.0 on, bytes before. Inside, the DLL works on
// bytes; these turn one form into the other at the exports.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velder {

// A UTF-16 code unit as mIRC's buffers hold them.
using HostUnit = std::uint16_t;

// The UTF-16 text in wide[0, units), up to its NUL, as UTF-8 in
// out[0, capacity) with a NUL. A lone surrogate becomes U+FFFD. Without a
// NUL inside `units`, or when the UTF-8 would not fit with its NUL, `out`
// holds no NUL at all (every reader of it then sees text too long for its
// buffer), and the answer is false.
bool NarrowHostText(const HostUnit* wide, std::size_t units, char* out, std::size_t capacity);

// Each byte of `text` (up to its NUL) as the code unit of the same number,
// into out[0, units) with a NUL: what a query's answer is made of, each
// byte standing for itself. Cut to units - 1 code units.
void WidenBytes(const char* text, HostUnit* out, std::size_t units);

// The UTF-8 `text` as UTF-16 into out[0, units) with a NUL; a byte that
// starts no valid sequence becomes U+FFFD. Cut at a whole character.
void WidenText(const char* text, HostUnit* out, std::size_t units);

}  // namespace velder
