#include "platform/replaced_file.h"

#include <windows.h>

namespace velder::platform {
namespace {

HANDLE Handle(const ReplacedFile* file) {
    return reinterpret_cast<HANDLE>(file->handle);
}

// A path in the system's own UTF-16 form. It is read as UTF-8 (what mIRC 7
// hands), or in the ANSI code page when it is not UTF-8 (what mIRC 6
// hands). Every path taken fits: kLongestTargetPath bytes never make more
// characters.
struct WidePath {
    explicit WidePath(const char* path) {
        if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, text, MAX_PATH) == 0 &&
            MultiByteToWideChar(CP_ACP, 0, path, -1, text, MAX_PATH) == 0) {
            text[0] = L'\0';  // names no file: every call on it fails
        }
    }
    wchar_t text[MAX_PATH];
};

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
    HANDLE handle = CreateFileW(WidePath(file->temporary).text, GENERIC_WRITE, 0, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
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
    const WidePath temporary(file->temporary);
    if (file->failed || !closed ||
        !MoveFileExW(temporary.text, WidePath(target).text,
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(temporary.text);
        return false;
    }
    return true;
}

void AbandonReplacedFile(ReplacedFile* file) {
    if (file->open) {
        CloseHandle(Handle(file));
        file->open = false;
    }
    DeleteFileW(WidePath(file->temporary).text);
}

}  // namespace velder::platform
