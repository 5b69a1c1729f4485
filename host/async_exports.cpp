#include "host/async_exports.h"

#include <cstdio>
#include <cstring>

#include "host/query_board.h"
#include "platform/host_messages.h"
#include "platform/worker_thread.h"
#include "query/status_query.h"

namespace {

using velder::platform::SharedLock;

// Everything below is guarded by the shared lock. It outlives an unload
// while workers pin the module, and a reload then finds it as it was left.
velder::QueryBoard board;
WindowHandle hostWindow = nullptr;
std::uint32_t hostCapacity = HostBufferCapacity(0);
// Counts loads and unloads: a worker that sees it change sends nothing.
std::uint32_t session = 0;
// Commands a worker is delivering right now, blanked on unload.
const velder::platform::HostCommand* delivering[velder::kMostRunning] = {};

void Write(char* data, const char* text) {
    std::memcpy(data, text, std::strlen(text) + 1);
}

bool Register(const velder::platform::HostCommand* command) {
    for (auto& slot : delivering) {
        if (slot == nullptr) {
            slot = command;
            return true;
        }
    }
    return false;
}

void Unregister(const velder::platform::HostCommand* command) {
    for (auto& slot : delivering) {
        if (slot == command) {
            slot = nullptr;
        }
    }
}

// A new session: every ticket dropped, every command in delivery emptied.
void NewSession() {
    ++session;
    board.Reset();
    for (auto& slot : delivering) {
        if (slot != nullptr) {
            velder::platform::BlankHostCommand(*slot);
        }
    }
}

void RunQuery(void* argument) {
    auto* const job = static_cast<velder::QueryJob*>(argument);
    velder::QueryStatus(job->buffer, job->capacity);

    // The command is fixed text: the script's own signal name and a number.
    char text[16 + velder::kLongestSignal + 12];
    WindowHandle window = nullptr;
    std::uint32_t mySession = 0;
    {
        SharedLock lock;
        std::snprintf(text, sizeof text, "/signal %s %lu", job->signal,
                      static_cast<unsigned long>(job->ticket));
        if (!board.Finish(job)) {
            return;  // cancelled, or the DLL was unloaded or loaded again
        }
        window = hostWindow;
        mySession = session;
    }
    if (window == nullptr) {
        return;
    }
    velder::platform::HostCommand command;
    if (!velder::platform::PrepareHostCommand(text, &command)) {
        return;
    }
    bool send = false;
    {
        SharedLock lock;
        send = session == mySession && Register(&command);
    }
    if (send) {
        velder::platform::DeliverHostCommand(command, window, kSignalTimeoutMilliseconds);
        SharedLock lock;
        Unregister(&command);
    }
    velder::platform::ReleaseHostCommand(&command);
}

}  // namespace

std::uint32_t HostBufferCapacity(std::uint32_t version) {
    const std::uint32_t major = version & 0xFFFFu;
    const std::uint32_t minor = version >> 16;
    const auto atLeast = [&](std::uint32_t wantMajor, std::uint32_t wantMinor) {
        return major > wantMajor || (major == wantMajor && minor >= wantMinor);
    };
    if (atLeast(7, 64)) {
        return 10240;
    }
    if (atLeast(7, 53)) {
        return 4200;
    }
    if (atLeast(6, 32)) {
        return 4151;
    }
    return 900;
}

extern "C" {

void VELDER_CALL LoadDll(HostLoadInfo* info) {
    SharedLock lock;
    NewSession();
    hostWindow = info->mHwnd;
    hostCapacity = HostBufferCapacity(info->mVersion);
    info->mKeep = 1;
}

int VELDER_CALL UnloadDll(int timeout) {
    SharedLock lock;
    if (timeout == kUnloadIdle && board.Busy()) {
        return kStayLoaded;
    }
    // From here mIRC unloads the DLL: workers still running keep the module
    // mapped until they end, and announce nothing.
    NewSession();
    hostWindow = nullptr;
    return kMayUnload;
}

std::int32_t VELDER_CALL QueryStart(WindowHandle mainWindow, WindowHandle, char* data, char*,
                                    HostBool, HostBool) {
    SharedLock lock;
    if (hostWindow == nullptr) {
        hostWindow = mainWindow;  // a host that never called LoadDll
    }
    velder::StartRequest request;
    if (!velder::ParseStartRequest(data, hostCapacity, &request)) {
        Write(data, "malformed");
        return RESULT_DATA;
    }
    velder::QueryJob* job = nullptr;
    switch (board.Start(request, hostCapacity, &job)) {
        case velder::StartVerdict::kBusy:
            Write(data, "busy");
            return RESULT_DATA;
        case velder::StartVerdict::kFull:
            Write(data, "full");
            return RESULT_DATA;
        case velder::StartVerdict::kNoMemory:
            Write(data, "failed");
            return RESULT_DATA;
        case velder::StartVerdict::kStarted:
            break;
    }
    const std::uint32_t ticket = job->ticket;
    if (!velder::platform::RunInBackground(RunQuery, job)) {
        board.Abandon(job);
        Write(data, "failed");
        return RESULT_DATA;
    }
    std::snprintf(data, 11, "%lu", static_cast<unsigned long>(ticket));
    return RESULT_DATA;
}

std::int32_t VELDER_CALL QueryResult(WindowHandle, WindowHandle, char* data, char*, HostBool,
                                     HostBool) {
    SharedLock lock;
    std::uint32_t ticket = 0;
    if (!velder::ParseTicket(data, hostCapacity, &ticket)) {
        Write(data, "unknown");
        return RESULT_DATA;
    }
    switch (board.Take(ticket, data, hostCapacity)) {
        case velder::TakeVerdict::kTaken:
            break;
        case velder::TakeVerdict::kPending:
            Write(data, "pending");
            break;
        case velder::TakeVerdict::kUnknown:
            Write(data, "unknown");
            break;
    }
    return RESULT_DATA;
}

std::int32_t VELDER_CALL QueryCancel(WindowHandle, WindowHandle, char* data, char*, HostBool,
                                     HostBool) {
    SharedLock lock;
    if (std::strncmp(data, "all", 4) == 0) {
        board.Reset();
        Write(data, "cancelled");
        return RESULT_DATA;
    }
    std::uint32_t ticket = 0;
    const bool known = velder::ParseTicket(data, hostCapacity, &ticket) && board.Cancel(ticket);
    Write(data, known ? "cancelled" : "unknown");
    return RESULT_DATA;
}
}
