#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "platform/host_messages.h"

namespace velder::platform {
namespace {

// Command numbers, counted up for the process: the library is never
// unmapped (-z nodelete), so a reload goes on from where the last load was.
std::atomic<std::uint32_t> lastIndex{0};

std::uint32_t TakeIndex() {
    for (;;) {
        const std::uint32_t index = (lastIndex.fetch_add(1) + 1) & 0x7FFFFFFF;
        if (index != 0) {
            return index;
        }
    }
}

const HostWindow* Host(void* window) {
    return static_cast<const HostWindow*>(window);
}

}  // namespace

void HostCommandName(std::uint32_t index, char (&name)[kCommandNameSize]) {
    std::snprintf(name, sizeof name, "/mIRC%lu.%ld", static_cast<unsigned long>(index),
                  static_cast<long>(getpid()));
}

bool SendHostCommand(const char* text, void* window, HostCommand* command) {
    const std::size_t length = std::strlen(text);
    const HostWindow* host = Host(window);
    if (length >= kCommandMappingSize || host == nullptr) {
        return false;
    }
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::uint32_t index = TakeIndex();
        char name[kCommandNameSize];
        HostCommandName(index, name);
        const int file = shm_open(name, O_RDWR | O_CREAT | O_EXCL, 0600);
        if (file < 0 && errno == EEXIST) {
            continue;  // someone else's (left by an ended process of this id): never write into it
        }
        if (file < 0) {
            return false;
        }
        void* view =
            ftruncate(file, kCommandMappingSize) == 0
                ? mmap(nullptr, kCommandMappingSize, PROT_READ | PROT_WRITE, MAP_SHARED, file, 0)
                : MAP_FAILED;
        close(file);  // the mapping and the name keep the object
        if (view == MAP_FAILED) {
            shm_unlink(name);
            return false;
        }
        std::memcpy(view, text, length + 1);
        *command = HostCommand{nullptr, static_cast<char*>(view), index, window};
        // Queued for the host's thread, however long it is busy.
        if (!host->post(host->context, index)) {
            ReleaseHostCommand(command);
            return false;
        }
        return true;
    }
    return false;
}

bool HostCommandDone(const HostCommand& command) {
    const HostWindow* host = Host(command.window);
    // A window destroyed with the command queued never runs it.
    return host->gone(host->context) || host->ran(host->context, command.index);
}

void BlankHostCommand(const HostCommand& command) {
    command.view[0] = '\0';
}

void ReleaseHostCommand(HostCommand* command) {
    if (command->view != nullptr) {
        munmap(command->view, kCommandMappingSize);
        // Gone by name: a command the host comes to only now runs nothing.
        char name[kCommandNameSize];
        HostCommandName(command->index, name);
        shm_unlink(name);
    }
    *command = HostCommand{};
}

}  // namespace velder::platform
