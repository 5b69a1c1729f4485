// A stand-in for mIRC's side of the DLL contract, for tests and figures: on
// Windows (under Wine) around velder-async.dll, on POSIX around
// libvelder-async.so.
//
// It does what mIRC does with a DLL, on the thread that created it:
//   - a main window whose messages that thread handles: on Windows a
//     top-level window of class "mIRC"; on POSIX, which has no windows, a
//     platform::HostWindow (platform/host_messages.h) whose message queue
//     Pump, PumpUntil and Stall drive on the same thread;
//   - loads a DLL on its first call and hands LoadDll a load structure of
//     mIRC's size for the emulated version (12 bytes in a 32-bit process
//     before 7.0, 16 from 7.0, 20 from 7.51, 24 from 7.64, mBytes then
//     twice the buffer's characters), with canary bytes after it to catch
//     writes past it;
//   - from 7.0, hands a DLL whose LoadDll set mUnicode UTF-16 buffers, an
//     ANSI one bytes (the argument as given: a test's UTF-8 text);
//   - calls every function with a fresh `data` buffer of the emulated
//     version's size that ends where an inaccessible page begins, so that a
//     read or write past it crashes the program;
//   - reads return code 3 as "data holds the result" and 1 as "no result,
//     data as given";
//   - runs WM_MCOMMAND by opening the named mapping (POSIX: the named
//     shared memory) and logging its text;
//   - unloads as mIRC does, never during a call: UnloadDll, then FreeLibrary
//     (dlclose).
// Switches make it refuse the SendMessage interface or close its window; a
// test keeps its message loop busy by simply not pumping (Stall).
//
// What both systems share is in mirc_host.cpp; the window, its queue and
// the guarded pages in mirc_host_win32.cpp and mirc_host_posix.cpp.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/loaded_library.h"

namespace velder::hoststandin {

struct Version {
    std::uint16_t major = 7;
    std::uint16_t minor = 85;
    // mBytes as this host reports it (7.64 and later); 0: twice the
    // characters of DataBufferSize. A buffer holds mBytes / 2 characters.
    std::uint32_t bytes = 0;
};

// The characters of the data buffer mIRC hands a DLL, NUL included, as
// mIRC's versions grew it: bytes in ANSI, code units in UTF-16.
std::size_t DataBufferSize(Version version);

struct CallResult {
    int code = 0;
    // The buffer's text up to its NUL (or its end): its bytes, or each
    // UTF-16 code unit as the byte of the same number ('?' past 0xFF).
    std::string text;
    std::u16string units;  // a UTF-16 buffer's code units up to its NUL
    bool unicode = false;  // the buffer held UTF-16
};

struct LoggedCommand {
    std::string text;
    std::chrono::steady_clock::time_point when;
};

// The main window's handle as a DLL gets it: an HWND on Windows, a
// platform::HostWindow* on POSIX.
using WindowHandle = void*;

class MircHost {
  public:
    explicit MircHost(Version version = {});
    ~MircHost();
    MircHost(const MircHost&) = delete;
    MircHost& operator=(const MircHost&) = delete;

    bool Ready() const { return window_ != nullptr; }
    WindowHandle Window() const { return window_; }
    // Characters of each data buffer, NUL included.
    std::size_t BufferSize() const;

    // $dll(path, function, argument): loads the DLL first if it is not.
    CallResult Call(const std::string& path, const char* function, const std::string& argument);
    bool Loaded(const std::string& path) const { return modules_.count(path) != 0; }

    // What LoadDll did to the load structure of `path`: mKeep as it left it,
    // and whether every byte past the fields mIRC passes kept its value.
    struct LoadCheck {
        bool called = false;
        std::int32_t keep = 0;
        bool unicode = false;  // mUnicode as it left it (7.0 and later)
        bool beyondIntact = false;
    };
    LoadCheck LoadResult(const std::string& path) const;

    // /dll -u (or exit): UnloadDll(0), then FreeLibrary. The DLL's answer.
    int Unload(const std::string& path);
    // The ten-minute idle check: UnloadDll(1); FreeLibrary when it agrees.
    int IdleUnload(const std::string& path);

    // Handles messages for `duration`.
    void Pump(std::chrono::milliseconds duration);
    // Handles messages until `done()` or `limit` passes; true when done.
    bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);
    // Keeps the thread from handling messages for `duration`.
    void Stall(std::chrono::milliseconds duration);

    // Switches: answer WM_MCOMMAND with a refusal without reading it; close
    // the window (as mIRC does on exit).
    void RefuseCommands(bool refuse) { refuse_ = refuse; }
    void CloseWindow();

    const std::vector<LoggedCommand>& Commands() const { return commands_; }
    std::size_t Refused() const { return refused_; }

    // A timer message every `milliseconds`; the longest gap seen between two.
    void StartTicks(unsigned milliseconds);
    void StopTicks();
    std::chrono::milliseconds LongestTickGap() const { return longestGap_; }
    std::size_t Ticks() const { return ticks_; }

  private:
    struct Module {
        std::unique_ptr<platform::LoadedLibrary> library;
        std::vector<unsigned char> load;  // the load structure and its canary
        std::size_t passed = 0;           // bytes of it handed to LoadDll as fields
        bool called = false;
        bool intact = false;
        std::int32_t keep = 0;
        std::int32_t unicode = 0;
    };
    // The window and its queue, each system's own (mirc_host_SYSTEM.cpp).
    struct System;
    struct SystemDeleter {
        void operator()(System* system) const;
    };

    Module* LoadModule(const std::string& path);
    // The command numbered `index` as mIRC runs it: its text logged, unless
    // refused or empty. False when it was refused or had no mapping.
    bool RunCommand(std::uint32_t index);
    void Tick();

    // Each system's part.
    void OpenMainWindow();
    // Runs what waits in the window's queue, timers included.
    void HandleMessages();
    // Waits at most `limit` for a message.
    void WaitForMessages(std::chrono::milliseconds limit);
    // The text of command `index`, read from its named mapping as mIRC
    // reads it; false when there is none by that name.
    static bool ReadCommand(std::uint32_t index, std::string* text);
    void StartTimer(unsigned milliseconds);
    void StopTimer();

    Version version_;
    WindowHandle window_ = nullptr;
    std::unique_ptr<System, SystemDeleter> system_;
    std::map<std::string, Module> modules_;
    std::vector<LoggedCommand> commands_;
    std::size_t refused_ = 0;
    bool refuse_ = false;
    bool ticking_ = false;
    std::chrono::steady_clock::time_point lastTick_;
    std::chrono::milliseconds longestGap_{0};
    std::size_t ticks_ = 0;
};

// `size` bytes that end where an inaccessible page begins, zeroed.
class GuardedBuffer {
  public:
    explicit GuardedBuffer(std::size_t size);
    ~GuardedBuffer();
    GuardedBuffer(const GuardedBuffer&) = delete;
    GuardedBuffer& operator=(const GuardedBuffer&) = delete;
    char* Data() const { return data_; }

  private:
    char* base_ = nullptr;
    std::size_t length_ = 0;  // of the whole allocation, guard page included
    char* data_ = nullptr;
};

// Threads in this process now.
std::size_t ThreadCount();

// Nothing of the DLL at `path` runs any more, once the host has unloaded
// it: on Windows it is unmapped (its last thread let go of it); on POSIX,
// where the library is never unmapped, none of its threads is alive.
bool DllAtRest(const std::string& path);

// The value a handle made now gets (a descriptor on POSIX), closed again:
// the system gives the lowest free one, so a handle left open per cycle of
// some work pushes it up.
std::uintptr_t NewHandleValue();

#if !defined(_WIN32)
// Threads of this process named `name` (platform/worker_thread.h names the
// library's own); Linux only.
std::size_t LibraryThreads(const char* name);
#endif

}  // namespace velder::hoststandin
