#include "platform/host_messages.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

namespace velder::platform {
namespace {

// Mapping numbers: started from the process and tick so that two DLLs in one
// session seldom try the same one, and stepped past any that exist. (No
// function-local static: its guard would bring the C++ runtime's exception
// support into the DLL, and with it, in 32-bit builds, a lock that every
// load leaves open.)
LONG nextIndex = 0;  // 0 until the first command

std::uint32_t TakeIndex() {
    if (nextIndex == 0) {
        const LONG first =
            static_cast<LONG>(((GetCurrentProcessId() * 7919u + GetTickCount()) & 0x3FFFFFFF) | 1);
        InterlockedCompareExchange(&nextIndex, first, 0);
    }
    return static_cast<std::uint32_t>(InterlockedIncrement(&nextIndex)) & 0x7FFFFFFF;
}

// The numbers of the last commands the window ran, newest last. The answers
// come to the sending thread only, so only that thread reads and writes this.
constexpr int kRemembered = 128;
std::uint32_t ran[kRemembered] = {};
int nextRan = 0;

VOID CALLBACK Ran(HWND, UINT, ULONG_PTR index, LRESULT) {
    ran[nextRan] = static_cast<std::uint32_t>(index);
    nextRan = (nextRan + 1) % kRemembered;
}

}  // namespace

bool SendHostCommand(const char* text, void* window, HostCommand* command) {
    const std::size_t length = std::strlen(text);
    if (length >= kCommandMappingSize) {
        return false;
    }
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::uint32_t index = TakeIndex();
        char name[32];
        std::snprintf(name, sizeof name, "mIRC%lu", static_cast<unsigned long>(index));
        HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                            kCommandMappingSize, name);
        if (mapping == nullptr) {
            return false;
        }
        if (GetLastError() == ERROR_ALREADY_EXISTS) {
            CloseHandle(mapping);  // someone else's: never write into it
            continue;
        }
        void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
        if (view == nullptr) {
            CloseHandle(mapping);
            return false;
        }
        std::memcpy(view, text, length + 1);
        *command = HostCommand{mapping, static_cast<char*>(view), index, window};
        // Queued for the window's thread, however long it is busy: it runs
        // the command when it next handles messages, and Ran hears of it.
        if (SendMessageCallbackA(static_cast<HWND>(window), kCommandMessage, kTypedCommand,
                                 static_cast<LPARAM>(index), Ran, index) == 0) {
            ReleaseHostCommand(command);
            return false;
        }
        return true;
    }
    return false;
}

bool HostCommandDone(const HostCommand& command) {
    if (!IsWindow(static_cast<HWND>(command.window))) {
        return true;  // a window destroyed with the message queued never runs it
    }
    for (const std::uint32_t index : ran) {
        if (index == command.index && index != 0) {
            return true;
        }
    }
    return false;
}

void BlankHostCommand(const HostCommand& command) {
    command.view[0] = '\0';
}

void ReleaseHostCommand(HostCommand* command) {
    if (command->view != nullptr) {
        UnmapViewOfFile(command->view);
    }
    if (command->mapping != nullptr) {
        CloseHandle(command->mapping);
    }
    *command = HostCommand{};
}

}  // namespace velder::platform
