// Nanoseconds per transcription and reply bytes per second, for three kinds
// of reply, each next to a memcpy of the same bytes as the floor.
#include <benchmark/benchmark.h>

#include <cstring>

#include "query/reply_transcription.h"
#include "standin/sample_replies.h"

namespace {

using velder::Bytes;

// The room a host's buffer leaves behind the round-trip digits.
constexpr std::size_t kOutput = 4092;

enum ReplyKind { kRealistic, kLongestText, kPrintableText };

Bytes MakeReply(ReplyKind kind) {
    switch (kind) {
        case kRealistic:
            return velder::standin::RealisticStatusReply();
        case kLongestText:
            return velder::standin::LongestTextReply();
        case kPrintableText:
            return velder::standin::PrintableTextReply();
    }
    return {};
}

void Transcription(benchmark::State& state, ReplyKind kind) {
    const Bytes reply = MakeReply(kind);
    const auto* bytes = velder::Data(reply);
    char out[kOutput];
    std::size_t length = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(bytes);
        length = velder::TranscribeReply(bytes, reply.size(), out, sizeof out);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * reply.size()));
    state.counters["text_bytes"] = static_cast<double>(length);
}

void Copy(benchmark::State& state, ReplyKind kind) {
    const Bytes reply = MakeReply(kind);
    char out[kOutput];
    for (auto _ : state) {
        benchmark::DoNotOptimize(reply.data());
        std::memcpy(out, reply.data(), reply.size());
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * reply.size()));
}

BENCHMARK_CAPTURE(Transcription, realistic_reply, kRealistic);
BENCHMARK_CAPTURE(Copy, realistic_reply, kRealistic);
BENCHMARK_CAPTURE(Transcription, longest_text, kLongestText);
BENCHMARK_CAPTURE(Copy, longest_text, kLongestText);
BENCHMARK_CAPTURE(Transcription, printable_text, kPrintableText);
BENCHMARK_CAPTURE(Copy, printable_text, kPrintableText);

}  // namespace

BENCHMARK_MAIN();
