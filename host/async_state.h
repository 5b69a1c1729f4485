// What velder-async.dll's exports and workers share. Every field is guarded
// by the shared lock (platform/worker_thread.h). It outlives an unload while
// workers pin the module, and a reload then finds it as it was left.
#pragma once

#include <cstddef>
#include <cstring>

#include "host/host_version.h"
#include "host/query_board.h"
#include "velder/velder.h"

namespace velder::async {

// Where the last ticket number is kept for the process, across unloads.
inline constexpr char kLastTicket[] = "VELDER_ASYNC_LAST_TICKET";

struct State {
    QueryBoard board;
    WindowHandle hostWindow = nullptr;
    std::size_t hostCapacity = HostBufferCapacity(0, 0);
    bool hostUnicode = false;  // the exports' buffers hold UTF-16
    // A list worker is alive (detached or not): one list at a time, so that
    // two never write the same file.
    bool listRunning = false;
};

// The one State of the process; hold the shared lock to touch it.
State& Shared();

// Leaves `text` and its NUL in `data`.
inline void Write(char* data, const char* text) {
    std::memcpy(data, text, std::strlen(text) + 1);
}

}  // namespace velder::async
