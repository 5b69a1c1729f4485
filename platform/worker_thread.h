// Background work inside a DLL the host may unload at any time (Windows only:
// velder-async.dll is the one user).
#pragma once

namespace velder::platform {

// Queues `work(argument)` to run on a thread of its own and returns at once:
// a launcher thread makes the worker threads, so that the caller never waits
// for the system to make one. Every thread holds a reference to the module
// this code lives in from before it starts until its last instruction, so
// that the host's FreeLibrary cannot unmap the code under it; the launcher
// ends after half a second with nothing to do. When no worker thread can be
// had, the launcher runs the work itself. False when the queue is full
// (kMostQueued) or no launcher could be started; `work` is then never called.
inline constexpr int kMostQueued = 32;
bool RunInBackground(void (*work)(void* argument), void* argument);

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
