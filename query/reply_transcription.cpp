#include "query/reply_transcription.h"

namespace velder {

// NOT YET BUILT: the transcription rules come with the reply transcription work.
std::size_t TranscribeReply(const unsigned char*, std::size_t, char* out, std::size_t start,
                            std::size_t) {
    out[start] = '\0';
    return start;
}

}  // namespace velder
