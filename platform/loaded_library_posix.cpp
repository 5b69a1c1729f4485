#include "platform/loaded_library.h"

#include <dlfcn.h>

namespace velder::platform {

LoadedLibrary::LoadedLibrary(const std::string& path) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        error_ = "cannot load " + path + ": " + dlerror();
    }
}

LoadedLibrary::~LoadedLibrary() {
    Unload();
}

bool LoadedLibrary::Unload() {
    if (handle_ == nullptr) {
        return true;
    }
    const bool ok = dlclose(handle_) == 0;
    handle_ = nullptr;
    return ok;
}

void* LoadedLibrary::Find(const char* name) const {
    return handle_ == nullptr ? nullptr : dlsym(handle_, name);
}

bool LibraryMapped(const std::string& path) {
    // RTLD_NOLOAD gives a handle only to a library already in the process,
    // and counts a reference on it that is given back at once.
    void* handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (handle == nullptr) {
        return false;
    }
    dlclose(handle);
    return true;
}

}  // namespace velder::platform
