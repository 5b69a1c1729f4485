#include <windows.h>

#include "platform/tick_counter.h"

namespace velder::platform {

std::uint32_t TickMilliseconds() {
    return GetTickCount();
}

}  // namespace velder::platform
