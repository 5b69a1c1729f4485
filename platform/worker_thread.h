// Background work inside a library the host may unload at any time.
//
// One background thread, the launcher, makes a thread for each piece of work
// queued with RunInBackground, at most kMostWorkers alive at once (more
// wait their turn in the queue), and between times calls the sender function
// given to SetBackgroundSender, which sends what the workers left for the
// host and says whether anything it sent is still on its way. Answers to
// commands sent from the launcher (host_messages.h) come back while it
// waits. The host's unload must never unmap the code under a running
// thread: on Windows every thread holds a reference to the module from
// before it starts until its last instruction (FreeLibraryAndExitThread);
// on POSIX the shared library is linked never to be unmapped (-z nodelete,
// see CMakeLists.txt), so a reload finds its state as it was left. The
// launcher ends once no work is queued, no worker lives and nothing is on
// its way for kLauncherIdleMilliseconds; the next call here starts another.
// No thread is made on the calling thread but the launcher, and none under
// the caller's locks but queueLock's own: never while the caller holds the
// shared lock.
#pragma once

namespace velder::platform {

inline constexpr int kMostQueued = 32;
inline constexpr int kMostWorkers = 16;
inline constexpr unsigned kLauncherIdleMilliseconds = 100;
// What the threads are called where the system names threads (on Linux,
// /proc/self/task/*/comm), so that the loading program can tell them from
// its own.
inline constexpr char kLauncherThreadName[] = "velder-launch";
inline constexpr char kWorkerThreadName[] = "velder-work";

// Queues `work(argument)` for a thread of its own and returns at once. When
// no thread can be had, the launcher runs the work itself. False when the
// queue is full or no launcher could be started; `work` is then never
// called.
bool RunInBackground(void (*work)(void* argument), void* argument);
// Has the launcher call the sender function soon. False when no launcher
// could be started.
bool WakeBackground();
// The launcher's sender function (none before this is called): true while
// something it sent is on its way.
void SetBackgroundSender(bool (*sender)());

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
