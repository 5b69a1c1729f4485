// The stand-in's POSIX part. There are no windows: the main window is a
// platform::HostWindow whose functions the library calls from its own
// threads, and a queue of command numbers that the host's thread works
// through when it pumps, as a window's thread works through its messages.
// Pages come from mmap, and the command text from the named shared memory
// the library made.
#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <fstream>
#include <mutex>
#include <set>
#include <thread>

#include "platform/host_messages.h"
#include "platform/worker_thread.h"
#include "tests/mirc_host/mirc_host.h"

namespace velder::hoststandin {

// The window as the library sees it, and its queue. `lock` guards the rest:
// the library's threads post and ask, the host's thread takes and runs.
struct MircHost::System {
    platform::HostWindow window;
    std::mutex lock;
    std::condition_variable posted;
    std::deque<std::uint32_t> queue;
    std::set<std::uint32_t> handled;  // run, refused, or found without text
    bool gone = false;
    // The timer: a tick every `period` while set.
    bool timer = false;
    std::chrono::milliseconds period{0};
    std::chrono::steady_clock::time_point nextTick;

    static System& Of(void* context) { return *static_cast<System*>(context); }

    static bool Post(void* context, std::uint32_t index) {
        System& system = Of(context);
        const std::lock_guard<std::mutex> hold(system.lock);
        if (system.gone) {
            return false;
        }
        system.queue.push_back(index);
        system.posted.notify_one();
        return true;
    }
    static bool Ran(void* context, std::uint32_t index) {
        System& system = Of(context);
        const std::lock_guard<std::mutex> hold(system.lock);
        return system.handled.count(index) != 0;
    }
    static bool Gone(void* context) {
        System& system = Of(context);
        const std::lock_guard<std::mutex> hold(system.lock);
        return system.gone;
    }
};

void MircHost::SystemDeleter::operator()(System* system) const {
    delete system;
}

GuardedBuffer::GuardedBuffer(std::size_t size) {
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::size_t pages = (size + page - 1) / page + 1;
    void* base =
        mmap(nullptr, pages * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) {
        return;
    }
    base_ = static_cast<char*>(base);
    length_ = pages * page;
    mprotect(base_ + (pages - 1) * page, page, PROT_NONE);
    data_ = base_ + (pages - 1) * page - size;
    std::memset(data_, 0, size);
}

GuardedBuffer::~GuardedBuffer() {
    if (base_ != nullptr) {
        munmap(base_, length_);
    }
}

void MircHost::OpenMainWindow() {
    system_.reset(new System);
    system_->window.context = system_.get();
    system_->window.post = System::Post;
    system_->window.ran = System::Ran;
    system_->window.gone = System::Gone;
    window_ = &system_->window;
}

void MircHost::CloseWindow() {
    if (window_ == nullptr) {
        return;
    }
    // What was queued is never run; the structure stays for the library to
    // ask until the host is gone.
    const std::lock_guard<std::mutex> hold(system_->lock);
    system_->gone = true;
    system_->queue.clear();
    window_ = nullptr;
}

void MircHost::HandleMessages() {
    System& system = *system_;
    for (;;) {
        std::unique_lock<std::mutex> hold(system.lock);
        const auto now = std::chrono::steady_clock::now();
        const bool tick = system.timer && now >= system.nextTick;
        if (tick) {
            system.nextTick = now + system.period;
        }
        if (system.queue.empty() && !tick) {
            return;
        }
        std::uint32_t index = 0;
        const bool command = !system.queue.empty();
        if (command) {
            index = system.queue.front();
            system.queue.pop_front();
        }
        hold.unlock();
        if (tick) {
            Tick();
        }
        if (command) {
            RunCommand(index);
            // Heard by the sender only now, as SendMessageCallback's answer
            // comes once the window procedure returned.
            hold.lock();
            system.handled.insert(index);
        }
    }
}

void MircHost::WaitForMessages(std::chrono::milliseconds limit) {
    System& system = *system_;
    std::unique_lock<std::mutex> hold(system.lock);
    auto until = std::chrono::steady_clock::now() + limit;
    if (system.timer && system.nextTick < until) {
        until = system.nextTick;
    }
    system.posted.wait_until(hold, until, [&] { return !system.queue.empty(); });
}

bool MircHost::ReadCommand(std::uint32_t index, std::string* text) {
    char name[platform::kCommandNameSize];
    platform::HostCommandName(index, name);
    const int file = shm_open(name, O_RDONLY, 0);
    if (file < 0) {
        return false;
    }
    struct stat status {};
    const std::size_t mapped = fstat(file, &status) == 0 && status.st_size > 0
                                   ? static_cast<std::size_t>(status.st_size)
                                   : 0;
    void* view = mapped > 0 ? mmap(nullptr, mapped, PROT_READ, MAP_SHARED, file, 0) : MAP_FAILED;
    close(file);
    if (view == MAP_FAILED) {
        return false;
    }
    const char* bytes = static_cast<const char*>(view);
    const std::size_t size = mapped < 4096 ? mapped : 4096;
    const void* nul = std::memchr(bytes, '\0', size);
    const std::size_t length =
        nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - bytes) : size;
    text->assign(bytes, length);
    munmap(view, mapped);
    return true;
}

void MircHost::StartTimer(unsigned milliseconds) {
    const std::lock_guard<std::mutex> hold(system_->lock);
    system_->timer = true;
    system_->period = std::chrono::milliseconds(milliseconds);
    system_->nextTick = std::chrono::steady_clock::now() + system_->period;
}

void MircHost::StopTimer() {
    const std::lock_guard<std::mutex> hold(system_->lock);
    system_->timer = false;
}

namespace {

// The name of each thread of this process, from /proc/self/task/*/comm.
std::vector<std::string> ThreadNames() {
    std::vector<std::string> names;
    DIR* tasks = opendir("/proc/self/task");
    if (tasks == nullptr) {
        return names;
    }
    while (const dirent* entry = readdir(tasks)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
        std::string name;
        std::getline(comm, name);
        names.push_back(name);
    }
    closedir(tasks);
    return names;
}

}  // namespace

std::size_t ThreadCount() {
    // ThreadSanitizer starts a thread of its own with the process's first
    // other thread, and keeps it: had here first, it is in every count.
    static const bool helperStarted = [] {
        std::thread([] {}).join();
        return true;
    }();
    (void)helperStarted;
    return ThreadNames().size();
}

std::size_t LibraryThreads(const char* name) {
    std::size_t count = 0;
    for (const std::string& thread : ThreadNames()) {
        count += thread == name ? 1 : 0;
    }
    return count;
}

std::uintptr_t NewHandleValue() {
    const int probe = open("/dev/null", O_RDONLY);
    if (probe >= 0) {
        close(probe);
    }
    return static_cast<std::uintptr_t>(probe);
}

bool DllAtRest(const std::string&) {
    return LibraryThreads(platform::kLauncherThreadName) == 0 &&
           LibraryThreads(platform::kWorkerThreadName) == 0;
}

}  // namespace velder::hoststandin
