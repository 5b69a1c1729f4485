// Nanoseconds per transcription and reply bytes per second, for three kinds
// of reply, each next to a memcpy of the same bytes as the floor.
#include <benchmark/benchmark.h>

#include <cstring>

#include "host/exports.h"
#include "query/reply_transcription.h"
#include "support/samples.h"

namespace {

using velder::Bytes;

enum ReplyKind { kRealistic, kLongestText, kPrintableText };

Bytes MakeReply(ReplyKind kind) {
    switch (kind) {
        case kRealistic:
            return velder::support::RealisticStatusReply();
        case kLongestText:
            return velder::support::LongestTextReply();
        case kPrintableText:
            return velder::support::PrintableTextReply();
    }
    return {};
}

void Transcription(benchmark::State& state, ReplyKind kind) {
    const Bytes reply = MakeReply(kind);
    const auto* bytes = velder::Data(reply);
    char data[kDataCapacity];
    std::size_t nul = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(bytes);
        nul = velder::TranscribeReply(bytes, reply.size(), data, velder::kTranscriptionStart,
                                      sizeof data);
        benchmark::DoNotOptimize(data);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * reply.size()));
    state.counters["text_bytes"] = static_cast<double>(nul - velder::kTranscriptionStart);
}

void Copy(benchmark::State& state, ReplyKind kind) {
    const Bytes reply = MakeReply(kind);
    char data[kDataCapacity];
    for (auto _ : state) {
        benchmark::DoNotOptimize(reply.data());
        std::memcpy(data + velder::kTranscriptionStart, reply.data(), reply.size());
        benchmark::DoNotOptimize(data);
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
