#include "platform/replaced_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace velder::platform {

bool WritePending(ReplacedFile* file) {
    const unsigned char* next = file->pending;
    std::size_t left = file->failed ? 0 : file->used;
    while (left > 0) {
        const ssize_t written = write(static_cast<int>(file->handle), next, left);
        if (written <= 0) {
            file->failed = true;
            break;
        }
        next += written;
        left -= static_cast<std::size_t>(written);
    }
    file->used = 0;
    return !file->failed;
}

bool OpenTemporary(ReplacedFile* file) {
    const int descriptor = open(file->temporary, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (descriptor < 0) {
        return false;
    }
    file->handle = descriptor;
    file->open = true;
    return true;
}

bool FinishReplacedFile(ReplacedFile* file, const char* target) {
    WritePending(file);
    const bool synced = file->failed || fsync(static_cast<int>(file->handle)) == 0;
    const bool closed = close(static_cast<int>(file->handle)) == 0;
    file->open = false;
    if (file->failed || !synced || !closed || std::rename(file->temporary, target) != 0) {
        unlink(file->temporary);
        return false;
    }
    return true;
}

void AbandonReplacedFile(ReplacedFile* file) {
    if (file->open) {
        close(static_cast<int>(file->handle));
        file->open = false;
    }
    unlink(file->temporary);
}

}  // namespace velder::platform
