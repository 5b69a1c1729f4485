// Loads the built library at run time, the way the host does, and looks up
// its exports by name.
#pragma once

#include <string>

#include "host/exports.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace velder::testing {

// The library file sits beside the test program (VELDER_LIBRARY_PATH is its name).
inline std::string LibraryPath() {
#if defined(_WIN32)
    return VELDER_LIBRARY_PATH;
#else
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) {
        return VELDER_LIBRARY_PATH;
    }
    std::string dir(self, static_cast<std::size_t>(n));
    return dir.substr(0, dir.rfind('/') + 1) + VELDER_LIBRARY_PATH;
#endif
}

class LoadedLibrary {
  public:
    LoadedLibrary() {
#if defined(_WIN32)
        handle_ = LoadLibraryA(LibraryPath().c_str());
#else
        handle_ = dlopen(LibraryPath().c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
    }
    ~LoadedLibrary() {
        Unload();
    }
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;

    bool Loaded() const {
        return handle_ != nullptr;
    }

    // True when the loader accepted the unload.
    bool Unload() {
        if (handle_ == nullptr) {
            return true;
        }
#if defined(_WIN32)
        const bool ok = FreeLibrary(static_cast<HMODULE>(handle_)) != 0;
#else
        const bool ok = dlclose(handle_) == 0;
#endif
        handle_ = nullptr;
        return ok;
    }

    HostExport Find(const char* name) const {
        if (handle_ == nullptr) {
            return nullptr;
        }
#if defined(_WIN32)
        return reinterpret_cast<HostExport>(
            reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name)));
#else
        return reinterpret_cast<HostExport>(dlsym(handle_, name));
#endif
    }

  private:
    void* handle_ = nullptr;
};

}  // namespace velder::testing
