// Turns a game server's raw status reply into the result text scripts split.
#pragma once

#include <cstddef>

#include "query/protocol.h"

namespace velder {

// GetInfo writes the transcription after its four-digit round-trip field.
inline constexpr std::size_t kTranscriptionStart = 4;

// Transcribes reply[0, length) into out[start, ...) and closes it with a NUL.
// Only reply[0, min(length, kTranscriptionWindow)) is read. Nothing is written
// at or past out[capacity]; text that would not fit is cut so that the NUL is
// the last byte inside the capacity (the cut text is a prefix of the whole).
// Returns the position of the closing NUL. Needs start < capacity; otherwise
// nothing is written and start is returned.
std::size_t TranscribeReply(const unsigned char* reply, std::size_t length, char* out,
                            std::size_t start, std::size_t capacity);

}  // namespace velder
