#include "tools/library_client.h"

#include <algorithm>
#include <cstring>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace velder::tools {

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

std::string ProgramFolder() {
#if defined(_WIN32)
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string self(path, n < sizeof path ? n : 0);
    const std::size_t slash = self.find_last_of("\\/");
#else
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    std::string self(path, n > 0 ? static_cast<std::size_t>(n) : 0);
    const std::size_t slash = self.rfind('/');
#endif
    return slash == std::string::npos ? std::string() : self.substr(0, slash + 1);
}

LibraryClient::~LibraryClient() {
    if (handle_ != nullptr) {
#if defined(_WIN32)
        FreeLibrary(static_cast<HMODULE>(handle_));
#else
        dlclose(handle_);
#endif
    }
}

bool LibraryClient::Load(const std::string& fileName, std::string& error) {
    const std::string path = ProgramFolder() + fileName;
#if defined(_WIN32)
    handle_ = LoadLibraryA(path.c_str());
    if (handle_ == nullptr) {
        error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    const auto find = [this](const char* name) {
        return reinterpret_cast<HostExport>(
            reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name)));
    };
#else
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        error = "cannot load " + path + ": " + dlerror();
        return false;
    }
    const auto find = [this](const char* name) {
        return reinterpret_cast<HostExport>(dlsym(handle_, name));
    };
#endif
    getInfo_ = find("GetInfo");
    isQuakeActive_ = find("IsQuakeActive");
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
