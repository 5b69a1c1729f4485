// A shared library loaded at run time, as the host loads velder.dll, and its
// symbols found by name. The tool, the test programs and the benchmarks load
// the library this way; what a symbol is, the caller knows.
#pragma once

#include <string>

namespace velder::platform {

class LoadedLibrary {
  public:
    // Windows: LoadLibrary. POSIX: dlopen, every symbol bound at once.
    explicit LoadedLibrary(const std::string& path);
    ~LoadedLibrary();
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;

    bool Loaded() const { return handle_ != nullptr; }
    // Why the load failed.
    const std::string& Error() const { return error_; }

    // True when the loader accepted the unload.
    bool Unload();

    // The address of the symbol called `name`, or null.
    void* Find(const char* name) const;

  private:
    void* handle_ = nullptr;
    std::string error_;
};

// True while the library at `path` is mapped into this process, by this
// program's loads or anyone else's; it is not loaded by asking.
bool LibraryMapped(const std::string& path);

}  // namespace velder::platform
