#include "tests/mirc_host/mirc_host.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace velder::hoststandin {
namespace {

constexpr char kWindowClass[] = "mIRC";
constexpr UINT kCommandMessage = WM_USER + 200;
constexpr UINT_PTR kTickTimer = 1;
constexpr std::size_t kPage = 4096;
constexpr std::size_t kCanaryBytes = 32;
constexpr unsigned char kCanary = 0xA5;

// mIRC's load structure as mIRC lays it out; before 7.0 only up to mKeep.
struct LoadInfo {
    DWORD mVersion;
    HWND mHwnd;
    BOOL mKeep;
    BOOL mUnicode;
    DWORD mBeta;
    DWORD mBytes;
};

using Export = int(WINAPI*)(HWND, HWND, char*, char*, BOOL, BOOL);
using LoadCallback = void(WINAPI*)(LoadInfo*);
using UnloadCallback = int(WINAPI*)(int);

template <typename F>
F Find(HMODULE module, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

bool AtLeast(Version v, std::uint16_t major, std::uint16_t minor) {
    return v.major > major || (v.major == major && v.minor >= minor);
}

// `size` bytes that end where an inaccessible page begins.
class GuardedBuffer {
  public:
    explicit GuardedBuffer(std::size_t size) {
        const std::size_t pages = (size + kPage - 1) / kPage + 1;
        base_ = static_cast<char*>(
            VirtualAlloc(nullptr, pages * kPage, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        if (base_ == nullptr) {
            return;
        }
        DWORD old = 0;
        VirtualProtect(base_ + (pages - 1) * kPage, kPage, PAGE_NOACCESS, &old);
        data_ = base_ + (pages - 1) * kPage - size;
        std::memset(data_, 0, size);
    }
    ~GuardedBuffer() {
        if (base_ != nullptr) {
            VirtualFree(base_, 0, MEM_RELEASE);
        }
    }
    GuardedBuffer(const GuardedBuffer&) = delete;
    GuardedBuffer& operator=(const GuardedBuffer&) = delete;
    char* Data() const { return data_; }

  private:
    char* base_ = nullptr;
    char* data_ = nullptr;
};

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

}  // namespace

std::size_t MircHost::BufferSize() const {
    if (AtLeast(version_, 7, 64) && version_.bytes != 0) {
        return version_.bytes / 2;
    }
    return DataBufferSize(version_);
}

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
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = Procedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassA(&windowClass);  // fails harmlessly when a previous host registered it
    window_ =
        CreateWindowExA(0, kWindowClass, "mIRC", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                        400, 300, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    if (window_ != nullptr) {
        SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
}

MircHost::~MircHost() {
    while (!modules_.empty()) {
        Unload(modules_.begin()->first);
    }
    CloseWindow();
}

HMODULE MircHost::LoadModule(const std::string& path) {
    auto found = modules_.find(path);
    if (found != modules_.end()) {
        return found->second.handle;
    }
    Module module;
    module.handle = LoadLibraryA(path.c_str());
    if (module.handle == nullptr) {
        return nullptr;
    }
    if (auto load = Find<LoadCallback>(module.handle, "LoadDll")) {
        // A whole LoadInfo and the canary, all canary bytes to start with;
        // the fields mIRC passes are written over the front.
        const std::size_t total = sizeof(LoadInfo) + kCanaryBytes;
        module.passed = LoadInfoBytes(version_);
        module.load = new unsigned char[total];
        std::memset(module.load, kCanary, total);
        LoadInfo fields{};
        fields.mVersion =
            static_cast<DWORD>(version_.major) | (static_cast<DWORD>(version_.minor) << 16);
        fields.mHwnd = window_;
        fields.mKeep = FALSE;     // cleared, to see whether LoadDll sets it
        fields.mUnicode = FALSE;  // ANSI unless LoadDll asks for UTF-16
        fields.mBytes = static_cast<DWORD>(2 * BufferSize());
        std::memcpy(module.load, &fields, module.passed);
        const std::vector<unsigned char> before(module.load, module.load + total);
        load(reinterpret_cast<LoadInfo*>(module.load));
        module.called = true;
        module.intact = true;
        // A DLL may set mKeep, and mUnicode where the version passes it.
        const bool hasUnicode = AtLeast(version_, 7, 0);
        for (std::size_t i = 0; i < total; ++i) {
            const bool settable =
                InField(i, offsetof(LoadInfo, mKeep), sizeof(BOOL)) ||
                (hasUnicode && InField(i, offsetof(LoadInfo, mUnicode), sizeof(BOOL)));
            if (!settable && module.load[i] != before[i]) {
                module.intact = false;
            }
        }
        std::memcpy(&module.keep, module.load + offsetof(LoadInfo, mKeep), sizeof module.keep);
        if (hasUnicode) {
            std::memcpy(&module.unicode, module.load + offsetof(LoadInfo, mUnicode),
                        sizeof module.unicode);
        }
    }
    return modules_.emplace(path, module).first->second.handle;
}

MircHost::LoadCheck MircHost::LoadResult(const std::string& path) const {
    LoadCheck check;
    auto found = modules_.find(path);
    if (found != modules_.end()) {
        check.called = found->second.called;
        check.keep = found->second.keep;
        check.unicode = found->second.unicode != FALSE;
        check.beyondIntact = found->second.intact;
    }
    return check;
}

CallResult MircHost::Call(const std::string& path, const char* function,
                          const std::string& argument) {
    CallResult result;
    HMODULE module = LoadModule(path);
    auto call = module != nullptr ? Find<Export>(module, function) : nullptr;
    if (call == nullptr) {
        result.code = -1;
        return result;
    }
    const std::size_t size = BufferSize();
    if (modules_.at(path).unicode) {
        return CallUnicode(call, argument, size);
    }
    GuardedBuffer data(size);
    GuardedBuffer params(size);
    const std::size_t copied = argument.size() < size ? argument.size() : size - 1;
    std::memcpy(data.Data(), argument.data(), copied);
    data.Data()[copied] = '\0';
    result.code = call(window_, window_, data.Data(), params.Data(), FALSE, FALSE);
    const void* nul = std::memchr(data.Data(), '\0', size);
    const std::size_t length =
        nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - data.Data())
                       : size;
    result.text.assign(data.Data(), length);
    return result;
}

// As mIRC calls a DLL that asked for UTF-16: `size` code units a buffer,
// the argument converted from UTF-8.
CallResult MircHost::CallUnicode(int(WINAPI* call)(HWND, HWND, char*, char*, BOOL, BOOL),
                                 const std::string& argument, std::size_t size) {
    CallResult result;
    result.unicode = true;
    GuardedBuffer data(size * sizeof(wchar_t));
    GuardedBuffer params(size * sizeof(wchar_t));
    auto* const wide = reinterpret_cast<wchar_t*>(data.Data());
    std::wstring text(argument.size(), L'\0');
    text.resize(static_cast<std::size_t>(
        MultiByteToWideChar(CP_UTF8, 0, argument.data(), static_cast<int>(argument.size()),
                            text.data(), static_cast<int>(text.size()))));
    const std::size_t copied = text.size() < size ? text.size() : size - 1;
    std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(copied), wide);
    wide[copied] = L'\0';
    result.code = call(window_, window_, data.Data(), params.Data(), FALSE, FALSE);
    for (std::size_t i = 0; i < size && wide[i] != L'\0'; ++i) {
        result.units.push_back(static_cast<char16_t>(wide[i]));
        result.text.push_back(wide[i] <= 0xFF ? static_cast<char>(wide[i]) : '?');
    }
    return result;
}

int MircHost::Unload(const std::string& path) {
    auto found = modules_.find(path);
    if (found == modules_.end()) {
        return -1;
    }
    int answer = 1;
    if (auto unload = Find<UnloadCallback>(found->second.handle, "UnloadDll")) {
        answer = unload(0);
    }
    FreeLibrary(found->second.handle);
    delete[] found->second.load;
    modules_.erase(found);
    return answer;
}

int MircHost::IdleUnload(const std::string& path) {
    auto found = modules_.find(path);
    if (found == modules_.end()) {
        return -1;
    }
    auto unload = Find<UnloadCallback>(found->second.handle, "UnloadDll");
    const int answer = unload != nullptr ? unload(1) : 1;
    if (answer != 0) {
        FreeLibrary(found->second.handle);
        delete[] found->second.load;
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
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (done()) {
            return true;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= end) {
            return false;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now);
        const DWORD wait = static_cast<DWORD>(left.count() < 20 ? left.count() : 20);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, wait, QS_ALLINPUT);
    }
}

void MircHost::Stall(std::chrono::milliseconds duration) {
    Sleep(static_cast<DWORD>(duration.count()));
}

void MircHost::CloseWindow() {
    if (window_ != nullptr) {
        DestroyWindow(window_);
        window_ = nullptr;
    }
}

void MircHost::StartTicks(unsigned milliseconds) {
    ticking_ = true;
    ticks_ = 0;
    longestGap_ = std::chrono::milliseconds(0);
    lastTick_ = std::chrono::steady_clock::now();
    SetTimer(window_, kTickTimer, milliseconds, nullptr);
}

void MircHost::StopTicks() {
    KillTimer(window_, kTickTimer);
    ticking_ = false;
}

LRESULT MircHost::RunCommand(LPARAM index) {
    if (refuse_) {
        ++refused_;
        return 1;
    }
    char name[32];
    wsprintfA(name, "mIRC%lu", static_cast<unsigned long>(index));
    HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name);
    if (mapping == nullptr) {
        return 1;
    }
    const char* view =
        static_cast<const char*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (view == nullptr) {
        CloseHandle(mapping);
        return 1;
    }
    MEMORY_BASIC_INFORMATION region{};
    VirtualQuery(view, &region, sizeof region);
    const std::size_t size = region.RegionSize < 4096 ? region.RegionSize : 4096;
    const void* nul = std::memchr(view, '\0', size);
    const std::size_t length =
        nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - view) : size;
    if (length > 0) {  // mIRC runs nothing for an empty line
        commands_.push_back({std::string(view, length), std::chrono::steady_clock::now()});
    }
    UnmapViewOfFile(view);
    CloseHandle(mapping);
    return 0;
}

LRESULT CALLBACK MircHost::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* host = reinterpret_cast<MircHost*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (host != nullptr) {
        if (message == kCommandMessage) {
            return host->RunCommand(lParam);
        }
        if (message == WM_TIMER && wParam == kTickTimer && host->ticking_) {
            const auto now = std::chrono::steady_clock::now();
            const auto gap =
                std::chrono::duration_cast<std::chrono::milliseconds>(now - host->lastTick_);
            if (gap > host->longestGap_) {
                host->longestGap_ = gap;
            }
            host->lastTick_ = now;
            ++host->ticks_;
            return 0;
        }
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

std::size_t ThreadCount() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return 0;
    }
    std::size_t count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) {
            ++count;
        }
    }
    CloseHandle(snapshot);
    return count;
}

}  // namespace velder::hoststandin
