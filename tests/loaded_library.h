// The built library, loaded at run time the way the host loads it.
#pragma once

#include <string>

#include "tools/loaded_library.h"

namespace velder::testing {

// The library file sits beside the test program (VELDER_LIBRARY_PATH is its name).
inline std::string LibraryPath() {
    return tools::ProgramFolder() + VELDER_LIBRARY_PATH;
}

class LoadedLibrary : public tools::LoadedLibrary {
  public:
    LoadedLibrary() : tools::LoadedLibrary(LibraryPath()) {}
};

}  // namespace velder::testing
