// Reads arbitrary datagrams as a master reads a list request and as a client
// reads a list reply, and checks what must hold for every datagram.
//
// Input: the datagram, held in a heap block of exactly its length, so that
// AddressSanitizer reports any read past it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "query/master_list.h"

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "master list fault: %s\n", what);
    std::abort();
}

// A request read back must be the very bytes the same filter builds, but
// for the filter byte's two top bits, which mean nothing and are not read.
void CheckRequest(const unsigned char* bytes, std::size_t size) {
    velder::ServersFilter filter;
    if (!velder::ReadServersRequest(bytes, size, filter)) {
        return;
    }
    unsigned char built[velder::kLongestServersRequest];
    const std::size_t length = velder::BuildServersRequest(filter, built, sizeof built);
    const bool textsFit = std::strlen(filter.game) <= velder::kFilterTextCapacity &&
                          std::strlen(filter.player) <= velder::kFilterTextCapacity &&
                          std::strlen(filter.clan) <= velder::kFilterTextCapacity;
    if (textsFit != (length != 0)) {
        Fail("a request that was read builds only when its texts fit");
    }
    if (length != 0 && (length != size || std::memcmp(built, bytes, size - 1) != 0 ||
                        built[size - 1] != (bytes[size - 1] & 0x3F))) {
        Fail("a request read back builds other bytes");
    }
}

// A reply is the head and whole entries, or nothing at all.
void CheckReply(const unsigned char* bytes, std::size_t size) {
    const int count = velder::CountServerEntries(bytes, size);
    if (count < 0) {
        return;
    }
    if (velder::kServersReplyHeadLength +
            static_cast<std::size_t>(count) * velder::kServerEntryLength !=
        size) {
        Fail("the entries do not fill the reply");
    }
    for (int i = 0; i < count; ++i) {
        const velder::ServerEntry entry = velder::ServerEntryAt(bytes, i);
        char text[velder::kEntryTextCapacity + 1];
        text[velder::kEntryTextCapacity] = '\x5A';
        velder::FormatServerEntry(entry, text);
        if (text[velder::kEntryTextCapacity] != '\x5A' ||
            std::strlen(text) >= velder::kEntryTextCapacity) {
            Fail("an entry's text is longer than its buffer");
        }
        unsigned char written[velder::kServerEntryLength];
        velder::WriteServerEntry(entry, written);
        if (std::memcmp(written,
                        bytes + velder::kServersReplyHeadLength +
                            static_cast<std::size_t>(i) * velder::kServerEntryLength,
                        sizeof written) != 0) {
            Fail("an entry written back differs");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
    std::unique_ptr<unsigned char[]> datagram(new unsigned char[size == 0 ? 1 : size]);
    if (size != 0) {
        std::memcpy(datagram.get(), input, size);
    }
    CheckRequest(datagram.get(), size);
    CheckReply(datagram.get(), size);
    return 0;
}
