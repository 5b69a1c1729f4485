#include "platform/replaced_file.h"

#include <windows.h>

#include <cstring>

namespace velder::platform {
namespace {

bool WritePending(ReplacedFile* file) {
    DWORD written = 0;
    if (file->used > 0 && (!WriteFile(file->handle, file->pending, static_cast<DWORD>(file->used),
                                      &written, nullptr) ||
                           written != file->used)) {
        file->failed = true;
    }
    file->used = 0;
    return !file->failed;
}

}  // namespace

bool BeginReplacedFile(const char* target, ReplacedFile* file) {
    const std::size_t length = std::strlen(target);
    if (length == 0 || length > kLongestTargetPath) {
        return false;
    }
    std::memcpy(file->temporary, target, length);
    std::memcpy(file->temporary + length, kTemporarySuffix, sizeof kTemporarySuffix);
    HANDLE handle = CreateFileA(file->temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    file->handle = handle;
    file->used = 0;
    file->failed = false;
    return true;
}

bool AppendToFile(ReplacedFile* file, const char* bytes, std::size_t length) {
    while (length > 0 && !file->failed) {
        if (file->used == sizeof file->pending && !WritePending(file)) {
            break;
        }
        const std::size_t room = sizeof file->pending - file->used;
        const std::size_t taken = length < room ? length : room;
        std::memcpy(file->pending + file->used, bytes, taken);
        file->used += taken;
        bytes += taken;
        length -= taken;
    }
    return !file->failed;
}

bool FinishReplacedFile(ReplacedFile* file, const char* target) {
    WritePending(file);
    const bool closed = CloseHandle(file->handle) != 0;
    file->handle = nullptr;
    if (file->failed || !closed ||
        !MoveFileExA(file->temporary, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(file->temporary);
        return false;
    }
    return true;
}

void AbandonReplacedFile(ReplacedFile* file) {
    if (file->handle != nullptr) {
        CloseHandle(file->handle);
        file->handle = nullptr;
    }
    DeleteFileA(file->temporary);
}

}  // namespace velder::platform
