#include "platform/process_counter.h"

#include <cstdio>
#include <cstdlib>

namespace velder::platform {

std::uint32_t ReadProcessCounter(const char* name) {
    const char* text = std::getenv(name);
    return text != nullptr ? static_cast<std::uint32_t>(std::strtoul(text, nullptr, 10)) : 0;
}

void WriteProcessCounter(const char* name, std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%lu", static_cast<unsigned long>(value));
    setenv(name, text, 1);
}

}  // namespace velder::platform
