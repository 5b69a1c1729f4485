#include "platform/loaded_library.h"

#include <windows.h>

namespace velder::platform {

LoadedLibrary::LoadedLibrary(const std::string& path) {
    handle_ = LoadLibraryA(path.c_str());
    if (handle_ == nullptr) {
        error_ = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
    }
}

LoadedLibrary::~LoadedLibrary() {
    Unload();
}

bool LoadedLibrary::Unload() {
    if (handle_ == nullptr) {
        return true;
    }
    const bool ok = FreeLibrary(static_cast<HMODULE>(handle_)) != 0;
    handle_ = nullptr;
    return ok;
}

void* LoadedLibrary::Find(const char* name) const {
    if (handle_ == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

bool LibraryMapped(const std::string& path) {
    // Takes no reference: the module stays as loaded as it was.
    return GetModuleHandleA(path.c_str()) != nullptr;
}

}  // namespace velder::platform
