#include <pthread.h>
#include <time.h>

#include <cstdint>

#include "platform/worker_thread.h"

// The library is linked with -z nodelete (CMakeLists.txt): the host's
// dlclose never unmaps it, so no thread here needs to hold it mapped, and
// its state (these locks among it) lives as long as the process.
namespace velder::platform {
namespace {

pthread_mutex_t sharedLock = PTHREAD_MUTEX_INITIALIZER;

struct Work {
    void (*work)(void*);
    void* argument;
};

// A worker thread's place. `work` and `thread` are the launcher's alone;
// `ended` is written by the worker and read by the launcher, under queueLock.
struct Worker {
    Work work{};
    pthread_t thread{};
    bool busy = false;
    bool ended = false;
};

// The launcher's queue and state, guarded by their own lock so that the
// shared lock's holders may queue work.
pthread_mutex_t queueLock = PTHREAD_MUTEX_INITIALIZER;
Work queue[kMostQueued];
int queued = 0;
bool launcherRunning = false;
// The launcher's wake-up: `woken` set and `wake` signalled, consumed by the
// launcher's wait. The condition waits on the monotonic clock, which needs
// it made at run time: once, by the first launcher's start.
pthread_cond_t wake;
bool wakeMade = false;
bool woken = false;
bool (*sender)() = nullptr;
Worker workers[kMostWorkers];

std::uint64_t NowMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000u +
           static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
}

void NameThisThread(const char* name) {
#if defined(__linux__)
    pthread_setname_np(pthread_self(), name);
#else
    (void)name;
#endif
}

// Wakes the launcher; queueLock is held.
void Wake() {
    woken = true;
    pthread_cond_signal(&wake);
}

void* WorkerMain(void* parameter) {
    auto* const worker = static_cast<Worker*>(parameter);
    NameThisThread(kWorkerThreadName);
    worker->work.work(worker->work.argument);
    pthread_mutex_lock(&queueLock);
    worker->ended = true;
    Wake();
    pthread_mutex_unlock(&queueLock);
    return nullptr;
}

// Starts `work` on a thread in a free worker place, or runs it here when
// no thread can be had; queueLock is not held.
void Launch(const Work& work) {
    for (Worker& worker : workers) {
        if (!worker.busy) {
            worker.work = work;
            worker.ended = false;
            if (pthread_create(&worker.thread, nullptr, WorkerMain, &worker) == 0) {
                worker.busy = true;
                return;
            }
            break;
        }
    }
    work.work(work.argument);
}

// Joins the workers that ended and gives the number still alive; queueLock
// is held, and let go while joining (an ended worker only has to return).
int Reap() {
    pthread_t ended[kMostWorkers];
    int count = 0;
    int alive = 0;
    for (Worker& worker : workers) {
        if (worker.busy && worker.ended) {
            ended[count++] = worker.thread;
            worker.busy = false;
            worker.ended = false;
        } else if (worker.busy) {
            ++alive;
        }
    }
    if (count > 0) {
        pthread_mutex_unlock(&queueLock);
        for (int i = 0; i < count; ++i) {
            pthread_join(ended[i], nullptr);
        }
        pthread_mutex_lock(&queueLock);
    }
    return alive;
}

void* LauncherMain(void*) {
    NameThisThread(kLauncherThreadName);
    std::uint64_t idleSince = NowMilliseconds();
    pthread_mutex_lock(&queueLock);
    for (;;) {
        woken = false;  // whatever comes from here on is seen below or wakes the wait
        int alive = Reap();
        while (queued > 0 && alive < kMostWorkers) {
            const Work next = queue[0];
            for (int i = 1; i < queued; ++i) {
                queue[i - 1] = queue[i];
            }
            --queued;
            pthread_mutex_unlock(&queueLock);
            Launch(next);
            pthread_mutex_lock(&queueLock);
            alive = Reap();
        }
        const bool waiting = queued > 0;
        bool (*const senderNow)() = sender;
        pthread_mutex_unlock(&queueLock);

        const bool onItsWay = senderNow != nullptr && senderNow();
        pthread_mutex_lock(&queueLock);
        if (waiting || onItsWay || alive > 0) {
            idleSince = NowMilliseconds();
        } else if (NowMilliseconds() - idleSince >= kLauncherIdleMilliseconds) {
            if (queued == 0 && !woken) {
                launcherRunning = false;  // the next call starts another
                pthread_mutex_unlock(&queueLock);
                return nullptr;
            }
            continue;
        }
        // What sender sent is answered by the host's own thread, which the
        // next sender asks about: while something is on its way, ask often.
        if (!woken) {
            const std::uint64_t wait = onItsWay ? 20 : kLauncherIdleMilliseconds;
            timespec until{};
            clock_gettime(CLOCK_MONOTONIC, &until);
            until.tv_sec += static_cast<time_t>(wait / 1000);
            until.tv_nsec += static_cast<long>(wait % 1000) * 1000000L;
            if (until.tv_nsec >= 1000000000L) {
                until.tv_sec += 1;
                until.tv_nsec -= 1000000000L;
            }
            pthread_cond_timedwait(&wake, &queueLock, &until);
        }
    }
}

// Starts the launcher unless one runs; queueLock is held.
bool EnsureLauncher() {
    if (launcherRunning) {
        return true;
    }
    if (!wakeMade) {
        pthread_condattr_t attributes;
        if (pthread_condattr_init(&attributes) != 0) {
            return false;
        }
        pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
        wakeMade = pthread_cond_init(&wake, &attributes) == 0;
        pthread_condattr_destroy(&attributes);
        if (!wakeMade) {
            return false;
        }
    }
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) {
        return false;
    }
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    const bool started = pthread_create(&thread, &attributes, LauncherMain, nullptr) == 0;
    pthread_attr_destroy(&attributes);
    launcherRunning = started;
    return started;
}

}  // namespace

bool RunInBackground(void (*work)(void*), void* argument) {
    pthread_mutex_lock(&queueLock);
    const bool ok = queued < kMostQueued && EnsureLauncher();
    if (ok) {
        queue[queued++] = Work{work, argument};
        Wake();
    }
    pthread_mutex_unlock(&queueLock);
    return ok;
}

bool WakeBackground() {
    pthread_mutex_lock(&queueLock);
    const bool ok = EnsureLauncher();
    if (ok) {
        Wake();
    }
    pthread_mutex_unlock(&queueLock);
    return ok;
}

void SetBackgroundSender(bool (*given)()) {
    pthread_mutex_lock(&queueLock);
    sender = given;
    pthread_mutex_unlock(&queueLock);
}

void LockShared() {
    pthread_mutex_lock(&sharedLock);
}

void UnlockShared() {
    pthread_mutex_unlock(&sharedLock);
}

}  // namespace velder::platform
