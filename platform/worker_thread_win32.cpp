#include "platform/worker_thread.h"

#include <windows.h>

#include <new>

namespace velder::platform {
namespace {

SRWLOCK sharedLock = SRWLOCK_INIT;

struct Work {
    void (*work)(void*);
    void* argument;
    HMODULE module;
};

DWORD WINAPI WorkerMain(void* parameter) {
    auto* const given = static_cast<Work*>(parameter);
    const Work work = *given;
    delete given;
    work.work(work.argument);
    // Drops the reference and ends the thread without returning into code
    // that may be unmapped by then.
    FreeLibraryAndExitThread(work.module, 0);
}

}  // namespace

bool StartPinnedWorker(void (*work)(void*), void* argument) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&WorkerMain), &module)) {
        return false;
    }
    auto* const given = new (std::nothrow) Work{work, argument, module};
    if (given == nullptr) {
        FreeLibrary(module);
        return false;
    }
    HANDLE thread = CreateThread(nullptr, 0, WorkerMain, given, 0, nullptr);
    if (thread == nullptr) {
        delete given;
        FreeLibrary(module);
        return false;
    }
    CloseHandle(thread);
    return true;
}

void LockShared() {
    AcquireSRWLockExclusive(&sharedLock);
}

void UnlockShared() {
    ReleaseSRWLockExclusive(&sharedLock);
}

}  // namespace velder::platform
