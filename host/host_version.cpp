#include "host/host_version.h"

namespace velder::async {

bool AtLeast(std::uint32_t version, std::uint32_t major, std::uint32_t minor) {
    const std::uint32_t hasMajor = version & 0xFFFFu;
    const std::uint32_t hasMinor = version >> 16;
    return hasMajor > major || (hasMajor == major && hasMinor >= minor);
}

std::size_t HostBufferCapacity(std::uint32_t version, std::uint32_t bytes) {
    if (AtLeast(version, 7, 64) && bytes / 2 >= 16) {
        return bytes / 2 < kMostHostCharacters ? bytes / 2 : kMostHostCharacters;
    }
    if (AtLeast(version, 7, 64)) {
        return 10240;
    }
    if (AtLeast(version, 7, 53)) {
        return 4200;
    }
    if (AtLeast(version, 6, 32)) {
        return 4151;
    }
    return 900;
}

}  // namespace velder::async
