// Background work inside a DLL the host may unload at any time (Windows only:
// velder-async.dll is the one user).
#pragma once

namespace velder::platform {

// Starts `work(argument)` on a thread of its own. The thread holds a
// reference to the module this code lives in from before it starts until its
// last instruction, so that the host's FreeLibrary cannot unmap the code
// under it; the reference is dropped as the thread exits. False when no
// thread could be had; `work` is then never called.
bool StartPinnedWorker(void (*work)(void* argument), void* argument);

// One process-wide lock for the DLL's shared state.
void LockShared();
void UnlockShared();

class SharedLock {
  public:
    SharedLock() { LockShared(); }
    ~SharedLock() { UnlockShared(); }
    SharedLock(const SharedLock&) = delete;
    SharedLock& operator=(const SharedLock&) = delete;
};

}  // namespace velder::platform
