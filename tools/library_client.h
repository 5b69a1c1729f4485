// The velder library as the tool uses it: loaded at run time from beside the
// program, its exports found by name and called the way mIRC calls them,
// many servers at a time.
#pragma once

#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/views.h"
#include "velder/velder.h"

namespace asio {
class thread_pool;
}
namespace velder::platform {
class LoadedLibrary;  // its header brings in the system's
}

namespace velder::tools {

// The dotted IPv4 address of `host`, looked up when it is a name; nothing
// when it does not resolve.
std::optional<std::string> DottedAddress(const std::string& host);

class LibraryClient {
  public:
    LibraryClient();
    ~LibraryClient();

    // Loads the library from the running program's folder and finds both
    // exports; false, and a message on standard error, when it cannot.
    bool Load();

    // Asks the server at HOST:PORT through GetInfo with a kDataCapacity-byte
    // buffer, as a script calls it. The host is looked up here, once, to tell
    // an unknown host from a silent server; GetInfo gets the dotted address.
    // May be called from several threads at once: the library keeps no state.
    ServerAnswer GetInfo(const std::string& address) const;

    std::string IsQuakeActive() const;  // its answer text

  private:
    std::unique_ptr<platform::LoadedLibrary> library_;
    HostExport getInfo_ = nullptr;
    HostExport isQuakeActive_ = nullptr;
};

// Queries run on `threads` threads beside the caller (0: each on the caller's
// thread, when its answer is taken), their answers taken in the order the
// addresses were added. `velder info` adds them all at once, `velder browse`
// as the master's list names them.
class InOrderQueries {
  public:
    using Query = std::function<ServerAnswer(const std::string& address)>;
    InOrderQueries(std::size_t threads, Query query);
    ~InOrderQueries();  // waits for the queries still running

    void Add(const std::string& address);  // asked as soon as a thread is free
    // Calls `sink` for every answer on the calling thread, in the order
    // added, each as soon as it and all before it are done.
    void TakeAll(const std::function<void(ServerAnswer answer)>& sink);

  private:
    Query query_;
    std::unique_ptr<asio::thread_pool> pool_;
    std::vector<std::future<ServerAnswer>> answers_;
};

}  // namespace velder::tools
