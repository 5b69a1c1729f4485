#include "tools/library_client.h"

#include <algorithm>
#include <cstring>
#include <vector>

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
    DataBuffer data(address);
    const std::int32_t code = getInfo_(nullptr, nullptr, data.bytes.data(), nullptr, 0, 0);
    ServerAnswer answer;
    answer.address = address;
    answer.answered = code == RESULT_DATA;
    if (answer.answered) {
        answer.text = data.Text();
    }
    return answer;
}

std::string LibraryClient::IsQuakeActive() const {
    DataBuffer data("");
    isQuakeActive_(nullptr, nullptr, data.bytes.data(), nullptr, 0, 0);
    return data.Text();
}

}  // namespace velder::tools
