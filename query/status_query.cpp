#include "query/status_query.h"

#include <cstring>

#include "host/exports.h"
#include "platform/tick_counter.h"
#include "query/reply_transcription.h"

namespace velder {
namespace {

// Space and the control characters tab to carriage return.
bool IsWhiteSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Reads a decimal number as the C library's atoi does on a 32-bit int:
// leading white space, one optional sign, digits up to the first non-digit;
// no digits give 0. Overflow wraps instead of being undefined. The port is
// the low 16 bits of that number ("-1" is 65535, "65537" is 1).
std::uint16_t ParsePort(const char* text) {
    while (IsWhiteSpace(*text)) {
        ++text;
    }
    bool negative = false;
    if (*text == '+' || *text == '-') {
        negative = *text == '-';
        ++text;
    }
    std::uint32_t value = 0;  // unsigned, so that wrapping is defined
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10u + static_cast<std::uint32_t>(*text - '0');
    }
    if (negative) {
        value = 0u - value;
    }
    return static_cast<std::uint16_t>(value);
}

// Writes the round-trip time as "%04d" would, capped at 9999, with its NUL.
void WriteRoundTrip(char* data, std::uint32_t milliseconds) {
    if (milliseconds > kRoundTripCeiling) {
        milliseconds = kRoundTripCeiling;
    }
    for (int i = 3; i >= 0; --i) {
        data[i] = static_cast<char>('0' + milliseconds % 10u);
        milliseconds /= 10u;
    }
    data[4] = '\0';
}

// What needs undoing when a query ends.
struct Resources {
    platform::SocketHandle socket = 0;
    bool socketOpen = false;
};

// Steps from reading the argument text to transcribing the reply. Returns
// the result code; QueryStatus releases what `held` records.
std::int32_t Exchange(char* data, const NetworkOps& ops, Resources& held) {
    void* const context = ops.context;

    const char* colon = std::strchr(data, ':');
    if (colon == nullptr) {
        return RESULT_CONTINUE;
    }
    const auto hostLength = static_cast<std::size_t>(colon - data);
    if (hostLength >= kHostNameCapacity) {
        return RESULT_CONTINUE;
    }
    char hostName[kHostNameCapacity];
    std::memcpy(hostName, data, hostLength);
    hostName[hostLength] = '\0';
    const std::uint16_t port = ParsePort(colon + 1);

    held.socket = ops.openSocket(context);
    held.socketOpen = true;

    platform::Ipv4Address address{};
    if (!ops.lookUpHost(context, hostName, &address)) {
        return RESULT_CONTINUE;
    }

    const std::uint32_t startTick = ops.tickMilliseconds(context);
    ops.sendDatagram(context, held.socket, kStatusRequest, sizeof kStatusRequest, address, port);
    ops.sendDatagram(context, held.socket, kStatusRequest, sizeof kStatusRequest, address, port);

    if (ops.waitReadable(context, held.socket, kReplyWaitMilliseconds) <= 0) {
        return RESULT_CONTINUE;
    }

    // From here on there is a result: at least "9999".
    std::memcpy(data, "9999", 5);
    const std::uint32_t endTick = ops.tickMilliseconds(context);
    unsigned char reply[kReceiveCapacity];
    const std::int32_t length = ops.receiveDatagram(context, held.socket, reply, sizeof reply);
    if (length <= 0 || static_cast<std::size_t>(length) > sizeof reply) {
        return RESULT_DATA;
    }

    WriteRoundTrip(data, endTick - startTick);  // unsigned: right across a wrap
    TranscribeReply(reply, static_cast<std::size_t>(length), data, kTranscriptionStart,
                    kDataCapacity);
    return RESULT_DATA;
}

const NetworkOps kSystemOps = {
    nullptr,
    [](void*) { platform::StartSockets(); },
    [](void*) { platform::StopSockets(); },
    [](void*) { return platform::OpenUdpSocket(); },
    [](void*, const char* name, platform::Ipv4Address* address) {
        return platform::LookUpHost(name, address);
    },
    [](void*, platform::SocketHandle socket, const unsigned char* bytes, std::size_t length,
       const platform::Ipv4Address& address,
       std::uint16_t port) { platform::SendDatagram(socket, bytes, length, address, port); },
    [](void*, platform::SocketHandle socket, std::uint32_t milliseconds) {
        return platform::WaitReadable(socket, milliseconds);
    },
    [](void*, platform::SocketHandle socket, unsigned char* buffer, std::size_t capacity) {
        return platform::ReceiveDatagram(socket, buffer, capacity);
    },
    [](void*, platform::SocketHandle socket) { platform::CloseSocket(socket); },
    [](void*) { return platform::TickMilliseconds(); },
};

}  // namespace

const NetworkOps& SystemNetworkOps() {
    return kSystemOps;
}

std::int32_t QueryStatus(char* data, const NetworkOps& ops) {
    ops.startSockets(ops.context);
    Resources held;
    const std::int32_t result = Exchange(data, ops, held);
    if (held.socketOpen) {
        ops.closeSocket(ops.context, held.socket);
    }
    ops.stopSockets(ops.context);
    return result;
}

std::int32_t QueryStatus(char* data) {
    return QueryStatus(data, kSystemOps);
}

}  // namespace velder
