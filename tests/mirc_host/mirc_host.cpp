// What the stand-in does the same way on every system: the load structure
// and its canary, the buffers of each version, the calls, the unloads, the
// message loop's timing and the log of what mIRC ran.
#include "tests/mirc_host/mirc_host.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <thread>

namespace velder::hoststandin {
namespace {

constexpr std::size_t kCanaryBytes = 32;
constexpr unsigned char kCanary = 0xA5;

#if defined(_WIN32)
#define HOST_CALL __stdcall
#else
#define HOST_CALL
#endif

// mIRC's load structure as mIRC lays it out (DWORD, HWND, BOOL, BOOL,
// DWORD, DWORD); a version passes it only up to LoadInfoBytes.
struct LoadInfo {
    std::uint32_t mVersion;
    WindowHandle mHwnd;
    std::int32_t mKeep;
    std::int32_t mUnicode;
    std::uint32_t mBeta;
    std::uint32_t mBytes;
};

using Export = std::int32_t(HOST_CALL*)(WindowHandle, WindowHandle, char*, char*, std::int32_t,
                                        std::int32_t);
using LoadCallback = void(HOST_CALL*)(LoadInfo*);
using UnloadCallback = int(HOST_CALL*)(int);

template <typename F>
F Find(const platform::LoadedLibrary& library, const char* name) {
    return reinterpret_cast<F>(library.Find(name));
}

bool AtLeast(Version v, std::uint16_t major, std::uint16_t minor) {
    return v.major > major || (v.major == major && v.minor >= minor);
}

// The field at [offset, offset + size) of the load structure holds byte `i`.
bool InField(std::size_t i, std::size_t offset, std::size_t size) {
    return i >= offset && i < offset + size;
}

// The bytes of the load structure mIRC passes, by its version.
std::size_t LoadInfoBytes(Version v) {
    if (AtLeast(v, 7, 64)) {
        return sizeof(LoadInfo);
    }
    if (AtLeast(v, 7, 51)) {
        return offsetof(LoadInfo, mBytes);
    }
    if (AtLeast(v, 7, 0)) {
        return offsetof(LoadInfo, mBeta);
    }
    return offsetof(LoadInfo, mUnicode);
}

// UTF-8 text as UTF-16 code units, as mIRC holds a line; a byte that
// starts no well-formed character becomes U+FFFD.
std::u16string Utf16(const std::string& text) {
    std::u16string units;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80                   ? 1
                                   : lead >= 0xC2 && lead < 0xE0 ? 2
                                   : lead >= 0xE0 && lead < 0xF0 ? 3
                                   : lead >= 0xF0 && lead < 0xF5 ? 4
                                                                 : 0;
        char32_t c = length == 1 ? lead : lead & (0x7F >> length);
        bool wellFormed = length != 0 && i + length <= text.size();
        for (std::size_t k = 1; wellFormed && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            wellFormed = (next & 0xC0) == 0x80;
            c = (c << 6) | (next & 0x3F);
        }
        const char32_t least = length == 3 ? 0x800 : length == 4 ? 0x10000 : 0;
        wellFormed = wellFormed && c >= least && c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
        if (!wellFormed) {
            units.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        if (c >= 0x10000) {
            units.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            units.push_back(static_cast<char16_t>(c));
        }
        i += length;
    }
    return units;
}

// As mIRC calls a DLL that kept ANSI buffers: `size` bytes, the argument's
// bytes as given.
CallResult CallAnsi(Export call, WindowHandle window, const std::string& argument,
                    std::size_t size) {
    CallResult result;
    GuardedBuffer data(size);
    GuardedBuffer params(size);
    const std::size_t copied = argument.size() < size ? argument.size() : size - 1;
    std::memcpy(data.Data(), argument.data(), copied);
    data.Data()[copied] = '\0';
    result.code = call(window, window, data.Data(), params.Data(), 0, 0);
    const void* nul = std::memchr(data.Data(), '\0', size);
    const std::size_t length =
        nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - data.Data())
                       : size;
    result.text.assign(data.Data(), length);
    return result;
}

// As mIRC calls a DLL that asked for UTF-16: `size` code units a buffer,
// the argument converted from UTF-8.
CallResult CallUnicode(Export call, WindowHandle window, const std::string& argument,
                       std::size_t size) {
    CallResult result;
    result.unicode = true;
    GuardedBuffer data(size * sizeof(char16_t));
    GuardedBuffer params(size * sizeof(char16_t));
    auto* const wide = reinterpret_cast<char16_t*>(data.Data());
    const std::u16string text = Utf16(argument);
    const std::size_t copied = text.size() < size ? text.size() : size - 1;
    std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(copied), wide);
    wide[copied] = u'\0';
    result.code = call(window, window, data.Data(), params.Data(), 0, 0);
    for (std::size_t i = 0; i < size && wide[i] != u'\0'; ++i) {
        result.units.push_back(wide[i]);
        result.text.push_back(wide[i] <= 0xFF ? static_cast<char>(wide[i]) : '?');
    }
    return result;
}

}  // namespace

std::size_t DataBufferSize(Version version) {
    if (AtLeast(version, 7, 64)) {
        return 10240;
    }
    if (AtLeast(version, 7, 53)) {
        return 4200;
    }
    if (AtLeast(version, 6, 32)) {
        return 4151;
    }
    return 900;
}

MircHost::MircHost(Version version) : version_(version) {
    OpenMainWindow();
}

MircHost::~MircHost() {
    while (!modules_.empty()) {
        Unload(modules_.begin()->first);
    }
    CloseWindow();
}

std::size_t MircHost::BufferSize() const {
    if (AtLeast(version_, 7, 64) && version_.bytes != 0) {
        return version_.bytes / 2;
    }
    return DataBufferSize(version_);
}

MircHost::Module* MircHost::LoadModule(const std::string& path) {
    auto found = modules_.find(path);
    if (found != modules_.end()) {
        return &found->second;
    }
    Module module;
    module.library = std::make_unique<platform::LoadedLibrary>(path);
    if (!module.library->Loaded()) {
        return nullptr;
    }
    if (auto load = Find<LoadCallback>(*module.library, "LoadDll")) {
        // A whole LoadInfo and the canary, all canary bytes to start with;
        // the fields mIRC passes are written over the front.
        module.passed = LoadInfoBytes(version_);
        module.load.assign(sizeof(LoadInfo) + kCanaryBytes, kCanary);
        LoadInfo fields{};
        fields.mVersion = static_cast<std::uint32_t>(version_.major) |
                          (static_cast<std::uint32_t>(version_.minor) << 16);
        fields.mHwnd = window_;
        fields.mKeep = 0;     // cleared, to see whether LoadDll sets it
        fields.mUnicode = 0;  // ANSI unless LoadDll asks for UTF-16
        fields.mBytes = static_cast<std::uint32_t>(2 * BufferSize());
        std::memcpy(module.load.data(), &fields, module.passed);
        const std::vector<unsigned char> before = module.load;
        load(reinterpret_cast<LoadInfo*>(module.load.data()));
        module.called = true;
        module.intact = true;
        // A DLL may set mKeep, and mUnicode where the version passes it.
        const bool hasUnicode = AtLeast(version_, 7, 0);
        for (std::size_t i = 0; i < module.load.size(); ++i) {
            const bool settable =
                InField(i, offsetof(LoadInfo, mKeep), sizeof(std::int32_t)) ||
                (hasUnicode && InField(i, offsetof(LoadInfo, mUnicode), sizeof(std::int32_t)));
            if (!settable && module.load[i] != before[i]) {
                module.intact = false;
            }
        }
        std::memcpy(&module.keep, module.load.data() + offsetof(LoadInfo, mKeep),
                    sizeof module.keep);
        if (hasUnicode) {
            std::memcpy(&module.unicode, module.load.data() + offsetof(LoadInfo, mUnicode),
                        sizeof module.unicode);
        }
    }
    return &modules_.emplace(path, std::move(module)).first->second;
}

MircHost::LoadCheck MircHost::LoadResult(const std::string& path) const {
    LoadCheck check;
    auto found = modules_.find(path);
    if (found != modules_.end()) {
        check.called = found->second.called;
        check.keep = found->second.keep;
        check.unicode = found->second.unicode != 0;
        check.beyondIntact = found->second.intact;
    }
    return check;
}

CallResult MircHost::Call(const std::string& path, const char* function,
                          const std::string& argument) {
    Module* module = LoadModule(path);
    auto call = module != nullptr ? Find<Export>(*module->library, function) : nullptr;
    if (call == nullptr) {
        CallResult result;
        result.code = -1;
        return result;
    }
    return module->unicode != 0 ? CallUnicode(call, window_, argument, BufferSize())
                                : CallAnsi(call, window_, argument, BufferSize());
}

int MircHost::Unload(const std::string& path) {
    auto found = modules_.find(path);
    if (found == modules_.end()) {
        return -1;
    }
    int answer = 1;
    if (auto unload = Find<UnloadCallback>(*found->second.library, "UnloadDll")) {
        answer = unload(0);
    }
    modules_.erase(found);  // FreeLibrary (dlclose)
    return answer;
}

int MircHost::IdleUnload(const std::string& path) {
    auto found = modules_.find(path);
    if (found == modules_.end()) {
        return -1;
    }
    auto unload = Find<UnloadCallback>(*found->second.library, "UnloadDll");
    const int answer = unload != nullptr ? unload(1) : 1;
    if (answer != 0) {
        modules_.erase(found);
    }
    return answer;
}

void MircHost::Pump(std::chrono::milliseconds duration) {
    PumpUntil([] { return false; }, duration);
}

bool MircHost::PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        HandleMessages();
        if (done()) {
            return true;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= end) {
            return false;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now);
        WaitForMessages(std::min(left, std::chrono::milliseconds(20)));
    }
}

void MircHost::Stall(std::chrono::milliseconds duration) {
    std::this_thread::sleep_for(duration);
}

bool MircHost::RunCommand(std::uint32_t index) {
    if (refuse_) {
        ++refused_;
        return false;
    }
    std::string text;
    if (!ReadCommand(index, &text)) {
        return false;
    }
    if (!text.empty()) {  // mIRC runs nothing for an empty line
        commands_.push_back({text, std::chrono::steady_clock::now()});
    }
    return true;
}

void MircHost::StartTicks(unsigned milliseconds) {
    ticking_ = true;
    ticks_ = 0;
    longestGap_ = std::chrono::milliseconds(0);
    lastTick_ = std::chrono::steady_clock::now();
    StartTimer(milliseconds);
}

void MircHost::StopTicks() {
    StopTimer();
    ticking_ = false;
}

void MircHost::Tick() {
    if (!ticking_) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    const auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(now - lastTick_);
    longestGap_ = std::max(longestGap_, gap);
    lastTick_ = now;
    ++ticks_;
}

}  // namespace velder::hoststandin
