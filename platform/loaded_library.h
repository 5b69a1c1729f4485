// Loads the velder library at run time, as the host does, and finds its
// exports by name. Header-only: the tool, the test programs and the
// benchmarks all load the library this way. Also what the tool needs of
// the running program: its folder, a binary standard output and enough
// open files.
#pragma once

#include <cstdio>
#include <string>

#include "host/exports.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <dlfcn.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace velder::platform {

// The folder the running program was started from, ending in a separator;
// empty when the system does not say.
inline std::string ProgramFolder() {
#if defined(_WIN32)
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    const std::string self(path, n < sizeof path ? n : 0);
    const std::size_t slash = self.find_last_of("\\/");
#else
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    const std::string self(path, n > 0 ? static_cast<std::size_t>(n) : 0);
    const std::size_t slash = self.rfind('/');
#endif
    return slash == std::string::npos ? std::string() : self.substr(0, slash + 1);
}

// A file in the running program's folder, such as the built library beside
// a test program.
inline std::string BesideProgram(const std::string& fileName) {
    return ProgramFolder() + fileName;
}

class LoadedLibrary {
  public:
    explicit LoadedLibrary(const std::string& path) {
#if defined(_WIN32)
        handle_ = LoadLibraryA(path.c_str());
        if (handle_ == nullptr) {
            error_ = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
        }
#else
        handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle_ == nullptr) {
            error_ = "cannot load " + path + ": " + dlerror();
        }
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
    // Why the load failed.
    const std::string& Error() const {
        return error_;
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

    // The export called `name`, or null.
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
    std::string error_;
};

// Standard output passes bytes as they are: on Windows, "\n" stays one byte.
inline void BinaryStandardOutput() {
#if defined(_WIN32)
    _setmode(_fileno(stdout), _O_BINARY);
#endif
}

// Raises the soft limit on open files (sockets among them) to the hard one
// and returns it; 0 where the system sets none or does not say.
inline unsigned long long RaiseOpenFileLimit() {
#if defined(_WIN32)
    return 0;
#else
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return 0;
    }
    return limit.rlim_cur;
#endif
}

}  // namespace velder::platform
