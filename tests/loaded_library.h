// The built library, loaded at run time the way the host loads it.
#pragma once

#include <string>

#include "support/loaded_library.h"

namespace velder::testing {

// The library file sits beside the test program (VELDER_LIBRARY_PATH is its name).
inline std::string LibraryPath() {
    return support::ProgramFolder() + VELDER_LIBRARY_PATH;
}

class LoadedLibrary : public support::LoadedLibrary {
  public:
    LoadedLibrary() : support::LoadedLibrary(LibraryPath()) {}
};

}  // namespace velder::testing
