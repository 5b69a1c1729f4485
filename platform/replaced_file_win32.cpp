#include "platform/replaced_file.h"

#include <windows.h>

namespace velder::platform {
namespace {

HANDLE Handle(const ReplacedFile* file) {
    return reinterpret_cast<HANDLE>(file->handle);
}

}  // namespace

bool WritePending(ReplacedFile* file) {
    DWORD written = 0;
    if (file->used > 0 && (!WriteFile(Handle(file), file->pending, static_cast<DWORD>(file->used),
                                      &written, nullptr) ||
                           written != file->used)) {
        file->failed = true;
    }
    file->used = 0;
    return !file->failed;
}

bool OpenTemporary(ReplacedFile* file) {
    HANDLE handle = CreateFileA(file->temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    file->handle = reinterpret_cast<std::intptr_t>(handle);
    file->open = true;
    return true;
}

bool FinishReplacedFile(ReplacedFile* file, const char* target) {
    WritePending(file);
    const bool closed = CloseHandle(Handle(file)) != 0;
    file->open = false;
    if (file->failed || !closed ||
        !MoveFileExA(file->temporary, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(file->temporary);
        return false;
    }
    return true;
}

void AbandonReplacedFile(ReplacedFile* file) {
    if (file->open) {
        CloseHandle(Handle(file));
        file->open = false;
    }
    DeleteFileA(file->temporary);
}

}  // namespace velder::platform
