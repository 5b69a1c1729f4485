// The stand-in's Windows part: a real top-level window of class "mIRC"
// whose messages the host's thread handles, and pages from VirtualAlloc.
#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>

#include <cstring>

#include "tests/mirc_host/mirc_host.h"

namespace velder::hoststandin {
namespace {

constexpr char kWindowClass[] = "mIRC";
constexpr UINT kCommandMessage = WM_USER + 200;
constexpr UINT_PTR kTickTimer = 1;
constexpr std::size_t kPage = 4096;

}  // namespace

struct MircHost::System {
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* host = reinterpret_cast<MircHost*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (host != nullptr) {
            if (message == kCommandMessage) {
                return host->RunCommand(static_cast<std::uint32_t>(lParam)) ? 0 : 1;
            }
            if (message == WM_TIMER && wParam == kTickTimer) {
                host->Tick();
                return 0;
            }
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }
};

void MircHost::SystemDeleter::operator()(System* system) const {
    delete system;
}

GuardedBuffer::GuardedBuffer(std::size_t size) {
    const std::size_t pages = (size + kPage - 1) / kPage + 1;
    base_ = static_cast<char*>(
        VirtualAlloc(nullptr, pages * kPage, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (base_ == nullptr) {
        return;
    }
    length_ = pages * kPage;
    DWORD old = 0;
    VirtualProtect(base_ + (pages - 1) * kPage, kPage, PAGE_NOACCESS, &old);
    data_ = base_ + (pages - 1) * kPage - size;
    std::memset(data_, 0, size);
}

GuardedBuffer::~GuardedBuffer() {
    if (base_ != nullptr) {
        VirtualFree(base_, 0, MEM_RELEASE);
    }
}

void MircHost::OpenMainWindow() {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = System::Procedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassA(&windowClass);  // fails harmlessly when a previous host registered it
    HWND window =
        CreateWindowExA(0, kWindowClass, "mIRC", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                        400, 300, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    if (window != nullptr) {
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    window_ = window;
}

void MircHost::CloseWindow() {
    if (window_ != nullptr) {
        DestroyWindow(static_cast<HWND>(window_));
        window_ = nullptr;
    }
}

void MircHost::HandleMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

void MircHost::WaitForMessages(std::chrono::milliseconds limit) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(limit.count()), QS_ALLINPUT);
}

bool MircHost::ReadCommand(std::uint32_t index, std::string* text) {
    char name[32];
    wsprintfA(name, "mIRC%lu", static_cast<unsigned long>(index));
    HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name);
    if (mapping == nullptr) {
        return false;
    }
    const char* view =
        static_cast<const char*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (view == nullptr) {
        CloseHandle(mapping);
        return false;
    }
    MEMORY_BASIC_INFORMATION region{};
    VirtualQuery(view, &region, sizeof region);
    const std::size_t size = region.RegionSize < 4096 ? region.RegionSize : 4096;
    const void* nul = std::memchr(view, '\0', size);
    const std::size_t length =
        nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - view) : size;
    text->assign(view, length);
    UnmapViewOfFile(view);
    CloseHandle(mapping);
    return true;
}

void MircHost::StartTimer(unsigned milliseconds) {
    SetTimer(static_cast<HWND>(window_), kTickTimer, milliseconds, nullptr);
}

void MircHost::StopTimer() {
    KillTimer(static_cast<HWND>(window_), kTickTimer);
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

std::uintptr_t NewHandleValue() {
    HANDLE probe = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    CloseHandle(probe);
    return reinterpret_cast<std::uintptr_t>(probe);
}

bool DllAtRest(const std::string& path) {
    // By its file name, as the loader lists modules.
    const std::size_t slash = path.find_last_of("\\/");
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return GetModuleHandleA(name.c_str()) == nullptr;
}

}  // namespace velder::hoststandin
