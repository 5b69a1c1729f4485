#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <sys/socket.h>
#endif

#include "tools/library_client.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "query/protocol.h"
#include "support/loaded_library.h"

namespace velder::tools {

using support::LoadedLibrary;
using support::ProgramFolder;

namespace {

// The host's data buffer: the argument text in, the result text out.
struct DataBuffer {
    explicit DataBuffer(const std::string& text) : bytes(kDataCapacity, '\0') {
        std::memcpy(bytes.data(), text.data(), std::min(text.size(), kDataCapacity - 1));
    }
    // The text up to the first NUL, never past the buffer's end.
    std::string Text() const {
        const auto nul = std::find(bytes.begin(), bytes.end(), '\0');
        return std::string(bytes.begin(), nul);
    }
    std::vector<char> bytes;
};

}  // namespace

bool HostResolves(const std::string& host) {
#if defined(_WIN32)
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
        return false;
    }
#endif
    // A dotted address needs no name service: asking for it as a number first
    // keeps the usual query free of the resolver's files.
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    bool resolves = false;
    for (const int flags : {AI_NUMERICHOST, 0}) {
        hints.ai_flags = flags;
        addrinfo* found = nullptr;
        resolves = getaddrinfo(host.c_str(), nullptr, &hints, &found) == 0;
        if (found != nullptr) {
            freeaddrinfo(found);
        }
        if (resolves) {
            break;
        }
    }
#if defined(_WIN32)
    WSACleanup();
#endif
    return resolves;
}

LibraryClient::LibraryClient() = default;
LibraryClient::~LibraryClient() = default;

bool LibraryClient::Load(const std::string& fileName, std::string& error) {
    const std::string path = ProgramFolder() + fileName;
    library_ = std::make_unique<LoadedLibrary>(path);
    if (!library_->Loaded()) {
        error = library_->Error();
        return false;
    }
    getInfo_ = library_->Find("GetInfo");
    isQuakeActive_ = library_->Find("IsQuakeActive");
    if (getInfo_ == nullptr || isQuakeActive_ == nullptr) {
        error = path + " does not export GetInfo and IsQuakeActive";
        return false;
    }
    return true;
}

ServerAnswer LibraryClient::GetInfo(const std::string& address) const {
    ServerAnswer answer;
    answer.address = address;
    if (!HostResolves(address.substr(0, address.find(':')))) {
        answer.outcome = Outcome::kNoSuchHost;
        return answer;
    }
    DataBuffer data(address);
    if (getInfo_(nullptr, nullptr, data.bytes.data(), nullptr, 0, 0) != RESULT_DATA) {
        answer.outcome = Outcome::kNoAnswer;
        return answer;
    }
    answer.text = data.Text();
    answer.outcome = answer.text == kUnreadableReply ? Outcome::kUnreadable : Outcome::kAnswered;
    return answer;
}

std::string LibraryClient::IsQuakeActive() const {
    DataBuffer data("");
    isQuakeActive_(nullptr, nullptr, data.bytes.data(), nullptr, 0, 0);
    return data.Text();
}

}  // namespace velder::tools
