// Turns a game server's raw status reply into the result text scripts split.
#pragma once

#include <cstddef>

namespace velder {

// Transcribes reply[0, length) into out[0, capacity) and closes the text
// with a NUL. Only the first min(length, kTranscriptionWindow) reply bytes
// are read. Nothing is written at or past out[capacity]: text that would
// not fit is cut so that the NUL is the last byte inside the capacity, and
// the cut text is a prefix of the whole. Returns the number of text bytes
// before the NUL; with a capacity of 0 nothing is written and 0 is returned.
std::size_t TranscribeReply(const unsigned char* reply, std::size_t length, char* out,
                            std::size_t capacity);

}  // namespace velder
