#include "tools/library_client.h"

#include <algorithm>
#include <asio.hpp>
#include <cstring>
#include <vector>

#include "platform/loaded_library.h"
#include "query/protocol.h"

namespace velder::tools {

using platform::LoadedLibrary;
using platform::ProgramFolder;

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

std::optional<std::string> DottedAddress(const std::string& host) {
    asio::error_code error;
    const asio::ip::address_v4 dotted = asio::ip::make_address_v4(host, error);
    if (!error) {
        return dotted.to_string();  // no name service needed
    }
    asio::io_context io(1);
    asio::ip::udp::resolver resolver(io);
    const auto found = resolver.resolve(asio::ip::udp::v4(), host, "", error);
    if (error || found.empty()) {
        return std::nullopt;
    }
    return found.begin()->endpoint().address().to_string();
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
    // Looked up once, here: GetInfo gets the dotted address.
    const std::size_t colon = address.find(':');
    const std::optional<std::string> dotted = DottedAddress(address.substr(0, colon));
    if (!dotted) {
        answer.outcome = Outcome::kNoSuchHost;
        return answer;
    }
    DataBuffer data(*dotted + address.substr(colon));
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
