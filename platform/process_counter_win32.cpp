#include "platform/process_counter.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace velder::platform {

std::uint32_t ReadProcessCounter(const char* name) {
    char text[16];
    const DWORD length = GetEnvironmentVariableA(name, text, sizeof text);
    return length > 0 && length < sizeof text
               ? static_cast<std::uint32_t>(std::strtoul(text, nullptr, 10))
               : 0;
}

void WriteProcessCounter(const char* name, std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%lu", static_cast<unsigned long>(value));
    SetEnvironmentVariableA(name, text);
}

}  // namespace velder::platform
