#include <windows.h>

#include "platform/window_search.h"

namespace velder::platform {

bool TopLevelWindowExists(const char* className, const char* title) {
    return FindWindowA(className, title) != nullptr;
}

}  // namespace velder::platform
