#include "tools/library_client.h"

#include <algorithm>
#include <asio.hpp>
#include <cstring>
#include <future>
#include <optional>

#include "platform/loaded_library.h"
#include "platform/program.h"
#include "query/protocol.h"

namespace velder::tools {

namespace {

// Calls `function` as the host does, with `in` in its data buffer; `out`
// is the text the buffer then holds up to the first NUL, never past its end.
int CallExport(HostExport function, const std::string& in, std::string& out) {
    std::vector<char> data(kDataCapacity, '\0');
    std::memcpy(data.data(), in.data(), std::min(in.size(), kDataCapacity - 1));
    const int result = function(nullptr, nullptr, data.data(), nullptr, 0, 0);
    out.assign(data.begin(), std::find(data.begin(), data.end(), '\0'));
    return result;
}

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

bool LibraryClient::Load() {
    const std::string path = platform::ProgramFolder() + VELDER_LIBRARY_FILE;
    library_ = std::make_unique<platform::LoadedLibrary>(path);
    getInfo_ = reinterpret_cast<HostExport>(library_->Find("GetInfo"));
    isQuakeActive_ = reinterpret_cast<HostExport>(library_->Find("IsQuakeActive"));
    if (!library_->Loaded()) {
        return Complain(library_->Error());
    }
    return (getInfo_ != nullptr && isQuakeActive_ != nullptr) ||
           Complain(path + " does not export GetInfo and IsQuakeActive");
}

ServerAnswer LibraryClient::GetInfo(const std::string& address) const {
    ServerAnswer answer{.address = address, .outcome = Outcome::kNoSuchHost, .text = ""};
    const std::size_t colon = address.find(':');
    if (const std::optional<std::string> dotted = DottedAddress(address.substr(0, colon))) {
        std::string text;
        const bool data =
            CallExport(getInfo_, *dotted + address.substr(colon), text) == RESULT_DATA;
        answer.text = data ? text : std::string();
        answer.outcome = !data                      ? Outcome::kNoAnswer
                         : text == kUnreadableReply ? Outcome::kUnreadable
                                                    : Outcome::kAnswered;
    }
    return answer;
}

std::string LibraryClient::IsQuakeActive() const {
    std::string answer;
    CallExport(isQuakeActive_, "", answer);
    return answer;
}

InOrderQueries::InOrderQueries(std::size_t threads, Query query) : query_(std::move(query)) {
    if (threads > 0) {
        pool_ = std::make_unique<asio::thread_pool>(threads);
    }
}

InOrderQueries::~InOrderQueries() {
    if (pool_) {
        pool_->join();
    }
}

void InOrderQueries::Add(const std::string& address) {
    const auto ask = [this, address] { return query_(address); };
    if (!pool_) {
        answers_.push_back(std::async(std::launch::deferred, ask));
        return;
    }
    // (Asio takes a bare packaged_task for a completion token.)
    auto task = std::make_shared<std::packaged_task<ServerAnswer()>>(ask);
    answers_.push_back(task->get_future());
    asio::post(*pool_, [task] { (*task)(); });
}

void InOrderQueries::TakeAll(const std::function<void(ServerAnswer answer)>& sink) {
    for (std::future<ServerAnswer>& answer : answers_) {
        sink(answer.get());
    }
    answers_.clear();
}

}  // namespace velder::tools
