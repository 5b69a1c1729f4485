#include "platform/worker_thread.h"

#include <windows.h>

#include <cstdlib>

namespace velder::platform {
namespace {

SRWLOCK sharedLock = SRWLOCK_INIT;

struct Work {
    void (*work)(void*);
    void* argument;
};

// The launcher's queue and state, guarded by their own lock so that the
// shared lock's holders may queue work.
SRWLOCK queueLock = SRWLOCK_INIT;
Work queue[kMostQueued];
int queued = 0;
bool launcherRunning = false;
HANDLE wake = nullptr;  // auto-reset; made with a launcher, closed as it ends
bool (*sender)() = nullptr;

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

// Starts `work` on a new pinned thread and gives its handle, or runs it
// here and gives null when no thread can be had.
HANDLE Launch(const Work& work) {
    HMODULE module = PinModule();
    auto* const given =
        module != nullptr ? static_cast<Pinned*>(std::malloc(sizeof(Pinned))) : nullptr;
    if (given != nullptr) {
        *given = Pinned{work, module};
    }
    HANDLE thread =
        given != nullptr ? CreateThread(nullptr, 0, WorkerMain, given, 0, nullptr) : nullptr;
    if (thread != nullptr) {
        return thread;
    }
    std::free(given);
    if (module != nullptr) {
        FreeLibrary(module);
    }
    work.work(work.argument);
    return nullptr;
}

DWORD WINAPI LauncherMain(void* parameter) {
    HMODULE module = static_cast<HMODULE>(parameter);
    HANDLE waits[1 + kMostWorkers];  // the wake event, then the live workers
    int alive = 0;
    DWORD idleSince = GetTickCount();
    for (;;) {
        for (int i = 0; i < alive;) {
            if (WaitForSingleObject(waits[1 + i], 0) == WAIT_OBJECT_0) {
                CloseHandle(waits[1 + i]);
                waits[1 + i] = waits[alive--];
            } else {
                ++i;
            }
        }
        AcquireSRWLockExclusive(&queueLock);
        while (queued > 0 && alive < kMostWorkers) {
            const Work next = queue[0];
            for (int i = 1; i < queued; ++i) {
                queue[i - 1] = queue[i];
            }
            --queued;
            ReleaseSRWLockExclusive(&queueLock);
            if (HANDLE thread = Launch(next)) {
                waits[1 + alive++] = thread;
            }
            AcquireSRWLockExclusive(&queueLock);
        }
        const bool waiting = queued > 0;
        bool (*const senderNow)() = sender;
        waits[0] = wake;
        ReleaseSRWLockExclusive(&queueLock);

        const bool onItsWay = senderNow != nullptr && senderNow();
        if (waiting || onItsWay || alive > 0) {
            idleSince = GetTickCount();
        } else if (GetTickCount() - idleSince >= kLauncherIdleMilliseconds) {
            AcquireSRWLockExclusive(&queueLock);
            if (queued == 0) {
                launcherRunning = false;  // the next call starts another
                CloseHandle(wake);
                wake = nullptr;
                ReleaseSRWLockExclusive(&queueLock);
                FreeLibraryAndExitThread(module, 0);
            }
            ReleaseSRWLockExclusive(&queueLock);
            continue;
        }
        // Answers to what sender sent arrive as messages to this thread; while
        // something is on its way, look for them often.
        MsgWaitForMultipleObjects(static_cast<DWORD>(1 + alive), waits, FALSE,
                                  onItsWay ? 20 : kLauncherIdleMilliseconds, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&message);
        }
    }
}

// Starts the launcher unless one runs; queueLock is held.
bool EnsureLauncher() {
    if (launcherRunning) {
        return true;
    }
    wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HMODULE module = wake != nullptr ? PinModule() : nullptr;
    HANDLE thread =
        module != nullptr ? CreateThread(nullptr, 0, LauncherMain, module, 0, nullptr) : nullptr;
    if (thread == nullptr) {
        if (module != nullptr) {
            FreeLibrary(module);
        }
        if (wake != nullptr) {
            CloseHandle(wake);
            wake = nullptr;
        }
        return false;
    }
    CloseHandle(thread);
    launcherRunning = true;
    return true;
}

}  // namespace

bool RunInBackground(void (*work)(void*), void* argument) {
    AcquireSRWLockExclusive(&queueLock);
    const bool ok = queued < kMostQueued && EnsureLauncher();
    if (ok) {
        queue[queued++] = Work{work, argument};
        SetEvent(wake);
    }
    ReleaseSRWLockExclusive(&queueLock);
    return ok;
}

bool WakeBackground() {
    AcquireSRWLockExclusive(&queueLock);
    const bool ok = EnsureLauncher();
    if (ok) {
        SetEvent(wake);
    }
    ReleaseSRWLockExclusive(&queueLock);
    return ok;
}

void SetBackgroundSender(bool (*given)()) {
    AcquireSRWLockExclusive(&queueLock);
    sender = given;
    ReleaseSRWLockExclusive(&queueLock);
}

void LockShared() {
    AcquireSRWLockExclusive(&sharedLock);
}

void UnlockShared() {
    ReleaseSRWLockExclusive(&sharedLock);
}

}  // namespace velder::platform
