// The velder library as the tool uses it: loaded at run time from beside the
// program, its exports found by name and called the way mIRC calls them.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "host/exports.h"
#include "tools/views.h"

namespace velder::platform {
class LoadedLibrary;  // platform/loaded_library.h, which brings in the system headers
}

namespace velder::tools {

// The dotted IPv4 address of `host`, looked up when it is a name; nothing
// when it does not resolve.
std::optional<std::string> DottedAddress(const std::string& host);

class LibraryClient {
  public:
    LibraryClient();
    ~LibraryClient();
    LibraryClient(const LibraryClient&) = delete;
    LibraryClient& operator=(const LibraryClient&) = delete;

    // Loads `fileName` from the running program's folder and finds both
    // exports. On failure `error` says what went wrong.
    bool Load(const std::string& fileName, std::string& error);

    // Asks the server at HOST:PORT through GetInfo with a kDataCapacity-byte
    // buffer, as a script calls it, after looking the host up to tell an
    // unknown host from a silent server; GetInfo gets the dotted address. May be called from
    // several threads at once: the library keeps no state.
    ServerAnswer GetInfo(const std::string& address) const;

    // IsQuakeActive's answer text.
    std::string IsQuakeActive() const;

  private:
    std::unique_ptr<platform::LoadedLibrary> library_;
    HostExport getInfo_ = nullptr;
    HostExport isQuakeActive_ = nullptr;
};

}  // namespace velder::tools
