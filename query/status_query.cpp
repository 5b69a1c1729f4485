#include "query/status_query.h"

#include <cstring>

#include "query/protocol.h"
#include "query/reply_transcription.h"

namespace velder {
namespace {

// Space and the control characters tab to carriage return.
bool IsWhiteSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Reads a decimal number from [text, end) as the C library's atoi does on a
// 32-bit int: leading white space, one optional sign, digits up to the first
// non-digit; no digits give 0. Overflow wraps instead of being undefined.
// The port is the low 16 bits of that number ("-1" is 65535, "65537" is 1).
std::uint16_t ParsePort(const char* text, const char* end) {
    while (text < end && IsWhiteSpace(*text)) {
        ++text;
    }
    bool negative = false;
    if (text < end && (*text == '+' || *text == '-')) {
        negative = *text == '-';
        ++text;
    }
    std::uint32_t value = 0;  // unsigned, so that wrapping is defined
    for (; text < end && *text >= '0' && *text <= '9'; ++text) {
        value = value * 10u + static_cast<std::uint32_t>(*text - '0');
    }
    if (negative) {
        value = 0u - value;
    }
    return static_cast<std::uint16_t>(value);
}

// Writes the round-trip time as "%04d" would, capped at 9999.
void WriteRoundTrip(char* data, std::uint32_t milliseconds) {
    if (milliseconds > kRoundTripCeiling) {
        milliseconds = kRoundTripCeiling;
    }
    for (int i = static_cast<int>(kRoundTripDigits) - 1; i >= 0; --i) {
        data[i] = static_cast<char>('0' + milliseconds % 10u);
        milliseconds /= 10u;
    }
}

// Steps from reading the argument text to transcribing the reply. QueryStatus
// releases what `held` records.
QueryOutcome Exchange(char* data, std::size_t capacity, const NetworkOps& ops, HeldSockets& held) {
    void* const context = ops.context;

    held.socketsStarted = ops.startSockets(context);
    if (!held.socketsStarted) {
        return QueryOutcome::kNoResult;
    }

    // The argument text ends at its NUL or at the buffer's end, whichever comes first.
    const auto* nul = static_cast<const char*>(std::memchr(data, '\0', capacity));
    const char* const textEnd = nul != nullptr ? nul : data + capacity;
    const char* const colon =
        static_cast<const char*>(std::memchr(data, ':', static_cast<std::size_t>(textEnd - data)));
    if (colon == nullptr) {
        return QueryOutcome::kNoResult;
    }
    const auto hostLength = static_cast<std::size_t>(colon - data);
    if (hostLength >= kServerNameCapacity) {
        return QueryOutcome::kNoResult;
    }
    char hostName[kServerNameCapacity];
    std::memcpy(hostName, data, hostLength);
    hostName[hostLength] = '\0';
    const std::uint16_t port = ParsePort(colon + 1, textEnd);

    platform::Ipv4Address address{};
    if (OpenSocketFor(ops, hostName, held, &address) != Reach::kReady) {
        return QueryOutcome::kNoResult;
    }

    const std::uint32_t startTick = ops.tickMilliseconds(context);
    ops.sendDatagram(context, held.socket, kStatusRequest, sizeof kStatusRequest, address, port);
    ops.sendDatagram(context, held.socket, kStatusRequest, sizeof kStatusRequest, address, port);

    // Wait for the server's datagram. Anyone else's is dropped, and the wait
    // goes on for what is left of the 650 ms.
    unsigned char reply[kReceiveCapacity];
    std::uint32_t endTick = startTick;
    std::int32_t length = -1;
    for (std::uint32_t left = kReplyWaitMilliseconds;;) {
        if (ops.waitReadable(context, held.socket, left) <= 0) {
            return QueryOutcome::kNoResult;
        }
        endTick = ops.tickMilliseconds(context);
        platform::Sender sender;
        length = ops.receiveDatagram(context, held.socket, reply, sizeof reply, &sender);
        const bool fromDestination = CameFrom(sender, address, port);
        // A failed receive that names no sender is taken as the server's.
        if (fromDestination || (length <= 0 && !sender.known)) {
            break;
        }
        const std::uint32_t waited = endTick - startTick;  // unsigned: right across a wrap
        if (waited >= kReplyWaitMilliseconds) {
            return QueryOutcome::kNoResult;
        }
        left = kReplyWaitMilliseconds - waited;
    }

    // From here on there is a result: at least "9999".
    std::memcpy(data, kUnreadableReply, sizeof kUnreadableReply);
    if (length <= 0 || static_cast<std::size_t>(length) > sizeof reply) {
        return QueryOutcome::kUnreadable;
    }
    WriteRoundTrip(data, endTick - startTick);
    TranscribeReply(reply, static_cast<std::size_t>(length), data + kRoundTripDigits,
                    capacity - kRoundTripDigits);
    return QueryOutcome::kAnswered;
}

}  // namespace

QueryOutcome QueryStatus(char* data, std::size_t capacity, const NetworkOps& ops) {
    // The smallest buffer that holds "9999" and its NUL.
    if (capacity < sizeof kUnreadableReply) {
        return QueryOutcome::kNoResult;
    }
    HeldSockets held;
    const QueryOutcome outcome = Exchange(data, capacity, ops, held);
    ReleaseSockets(ops, held);
    return outcome;
}

QueryOutcome QueryStatus(char* data, std::size_t capacity) {
    return QueryStatus(data, capacity, SystemNetworkOps());
}

}  // namespace velder
