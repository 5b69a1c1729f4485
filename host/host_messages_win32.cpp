#include "host/host_messages.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

namespace velder {
namespace {

// Mapping numbers: started from the process and tick so that two DLLs in one
// session seldom try the same one, and stepped past any that exist.
LONG nextIndex = 0;

std::uint32_t TakeIndex() {
    static const LONG first =
        static_cast<LONG>((GetCurrentProcessId() * 7919u + GetTickCount()) & 0x3FFFFFFF);
    return static_cast<std::uint32_t>(first + InterlockedIncrement(&nextIndex)) & 0x7FFFFFFF;
}

}  // namespace

bool PrepareHostCommand(const char* text, HostCommand* command) {
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
        command->mapping = mapping;
        command->view = static_cast<char*>(view);
        command->index = index;
        return true;
    }
    return false;
}

// Not SMTO_ABORTIFHUNG: mIRC that ran a long script counts as hung and the
// command would be dropped at once; the timeout alone bounds the wait.
bool DeliverHostCommand(const HostCommand& command, void* window, std::uint32_t milliseconds) {
    DWORD_PTR answer = 0;
    return SendMessageTimeoutA(static_cast<HWND>(window), kCommandMessage, kTypedCommand,
                               static_cast<LPARAM>(command.index), SMTO_BLOCK, milliseconds,
                               &answer) != 0;
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

}  // namespace velder
