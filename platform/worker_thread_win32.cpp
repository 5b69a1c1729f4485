#include "platform/worker_thread.h"

#include <windows.h>

#include <cstdlib>

namespace velder::platform {
namespace {

constexpr DWORD kLauncherIdleMilliseconds = 500;

SRWLOCK sharedLock = SRWLOCK_INIT;

struct Work {
    void (*work)(void*);
    void* argument;
};

// The launcher's queue, guarded by its own lock so that the shared lock's
// holders may queue work.
SRWLOCK queueLock = SRWLOCK_INIT;
Work queue[kMostQueued];
int queued = 0;
bool launcherRunning = false;
HANDLE wake = nullptr;  // auto-reset; made once, lives as long as the process

// A reference to this module, taken before a thread starts.
HMODULE PinModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCWSTR>(&PinModule), &module);
    return module;
}

struct Pinned {
    Work work;
    HMODULE module;
};

DWORD WINAPI WorkerMain(void* parameter) {
    auto* const given = static_cast<Pinned*>(parameter);
    const Pinned pinned = *given;
    std::free(given);
    pinned.work.work(pinned.work.argument);
    // Drops the reference and ends the thread without returning into code
    // that may be unmapped by then.
    FreeLibraryAndExitThread(pinned.module, 0);
}

// Runs `work` on a new pinned thread, or here when none can be had.
void Launch(const Work& work) {
    HMODULE module = PinModule();
    auto* const given =
        module != nullptr ? static_cast<Pinned*>(std::malloc(sizeof(Pinned))) : nullptr;
    if (given != nullptr) {
        *given = Pinned{work, module};
    }
    HANDLE thread =
        given != nullptr ? CreateThread(nullptr, 0, WorkerMain, given, 0, nullptr) : nullptr;
    if (thread != nullptr) {
        CloseHandle(thread);
        return;
    }
    std::free(given);
    if (module != nullptr) {
        FreeLibrary(module);
    }
    work.work(work.argument);
}

DWORD WINAPI LauncherMain(void* parameter) {
    HMODULE module = static_cast<HMODULE>(parameter);
    for (;;) {
        AcquireSRWLockExclusive(&queueLock);
        if (queued == 0) {
            ReleaseSRWLockExclusive(&queueLock);
            if (WaitForSingleObject(wake, kLauncherIdleMilliseconds) == WAIT_OBJECT_0) {
                continue;
            }
            AcquireSRWLockExclusive(&queueLock);
            if (queued == 0) {
                launcherRunning = false;  // the next RunInBackground starts another
                ReleaseSRWLockExclusive(&queueLock);
                FreeLibraryAndExitThread(module, 0);
            }
        }
        const Work next = queue[0];
        for (int i = 1; i < queued; ++i) {
            queue[i - 1] = queue[i];
        }
        --queued;
        ReleaseSRWLockExclusive(&queueLock);
        Launch(next);
    }
}

}  // namespace

bool RunInBackground(void (*work)(void*), void* argument) {
    AcquireSRWLockExclusive(&queueLock);
    bool ok = queued < kMostQueued;
    if (ok && wake == nullptr) {
        wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        ok = wake != nullptr;
    }
    if (ok && !launcherRunning) {
        HMODULE module = PinModule();
        HANDLE thread = module != nullptr
                            ? CreateThread(nullptr, 0, LauncherMain, module, 0, nullptr)
                            : nullptr;
        if (thread != nullptr) {
            CloseHandle(thread);
            launcherRunning = true;
        } else {
            if (module != nullptr) {
                FreeLibrary(module);
            }
            ok = false;
        }
    }
    if (ok) {
        queue[queued++] = Work{work, argument};
        SetEvent(wake);
    }
    ReleaseSRWLockExclusive(&queueLock);
    return ok;
}

void LockShared() {
    AcquireSRWLockExclusive(&sharedLock);
}

void UnlockShared() {
    ReleaseSRWLockExclusive(&sharedLock);
}

}  // namespace velder::platform
