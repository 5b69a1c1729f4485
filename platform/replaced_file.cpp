#include "platform/replaced_file.h"

#include <cstring>

namespace velder::platform {

bool BeginReplacedFile(const char* target, ReplacedFile* file) {
    const std::size_t length = std::strlen(target);
    if (length == 0 || length > kLongestTargetPath) {
        return false;
    }
    std::memcpy(file->temporary, target, length);
    std::memcpy(file->temporary + length, kTemporarySuffix, sizeof kTemporarySuffix);
    file->used = 0;
    file->failed = false;
    return OpenTemporary(file);
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

}  // namespace velder::platform
