// The desktop's top-level window search.
#pragma once

namespace velder::platform {

// True when a top-level window has exactly this class name and title.
// Without a Windows window manager there is no such window: always false.
bool TopLevelWindowExists(const char* className, const char* title);

}  // namespace velder::platform
