#include "velder/velder_async.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/host_messages.h"
#include "host/query_board.h"
#include "platform/replaced_file.h"
#include "platform/worker_thread.h"
#include "query/master_query.h"
#include "query/status_query.h"

namespace {

using velder::platform::SharedLock;

// How long a worker waits for mIRC to take a /signal command.
constexpr std::uint32_t kSignalTimeoutMilliseconds = 4500;

// The data buffer mIRC hands every call, NUL included, by its version.
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

// Everything below is guarded by the shared lock. It outlives an unload
// while workers pin the module, and a reload then finds it as it was left.
velder::QueryBoard board;
WindowHandle hostWindow = nullptr;
std::uint32_t hostCapacity = HostBufferCapacity(0);
// Counts loads and unloads: a worker that sees it change sends nothing.
std::uint32_t session = 0;
// A list worker is alive (detached or not): one list at a time, so that
// two never write the same file.
bool listRunning = false;
// Commands a worker is delivering right now, blanked on unload.
const velder::HostCommand* delivering[velder::kMostRunning] = {};

void Write(char* data, const char* text) {
    std::memcpy(data, text, std::strlen(text) + 1);
}

bool Register(const velder::HostCommand* command) {
    for (auto& slot : delivering) {
        if (slot == nullptr) {
            slot = command;
            return true;
        }
    }
    return false;
}

void Unregister(const velder::HostCommand* command) {
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
            velder::BlankHostCommand(*slot);
        }
    }
}

// Hands the finished job back to the board and tells the script, unless
// the job was detached.
void Announce(velder::QueryJob* job) {
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
    velder::HostCommand command;
    if (!velder::PrepareHostCommand(text, &command)) {
        return;
    }
    bool send = false;
    {
        SharedLock lock;
        send = session == mySession && Register(&command);
    }
    if (send) {
        velder::DeliverHostCommand(command, window, kSignalTimeoutMilliseconds);
        SharedLock lock;
        Unregister(&command);
    }
    velder::ReleaseHostCommand(&command);
}

void RunQuery(void* argument) {
    auto* const job = static_cast<velder::QueryJob*>(argument);
    velder::QueryStatus(job->buffer, job->capacity);
    Announce(job);
}

// Each server of the list as one "A.B.C.D:PORT" line.
bool WriteEntry(void* context, const velder::ServerEntry& entry) {
    char line[velder::kEntryTextCapacity + 2];
    velder::FormatServerEntry(entry, line);
    const std::size_t length = std::strlen(line);
    std::memcpy(line + length, "\r\n", 2);
    return velder::platform::AppendToFile(static_cast<velder::platform::ReplacedFile*>(context),
                                          line, length + 2);
}

// The list, or the word that says why there is none, as the ticket's result.
const char* FetchList(const velder::ListRequest& request, const char* path, velder::QueryJob* job,
                      std::size_t* servers) {
    auto* const seen = static_cast<velder::SeenServers*>(std::malloc(sizeof(velder::SeenServers)));
    if (seen == nullptr) {
        return "failed";
    }
    velder::platform::ReplacedFile file;
    if (!velder::platform::BeginReplacedFile(path, &file)) {
        std::free(seen);
        return "unwritable";
    }
    velder::ListTally tally;
    const velder::ListOutcome outcome =
        velder::FetchServerList(request.host, request.port, velder::ServersFilter{},
                                velder::MasterWait{}, *seen, {&file, WriteEntry}, tally);
    std::free(seen);
    bool detached = false;
    {
        SharedLock lock;
        detached = job->detached;
    }
    if (outcome != velder::ListOutcome::kListed || detached) {
        velder::platform::AbandonReplacedFile(&file);
    } else if (!velder::platform::FinishReplacedFile(&file, path)) {
        return "unwritable";
    }
    *servers = tally.servers;
    switch (outcome) {
        case velder::ListOutcome::kListed:
            return nullptr;
        case velder::ListOutcome::kNoAnswer:
            return "no_answer";
        case velder::ListOutcome::kNoHost:
            return "no_host";
        case velder::ListOutcome::kSinkRefused:
            return "unwritable";
        case velder::ListOutcome::kNoSocket:
            break;
    }
    return "failed";
}

void RunList(void* argument) {
    auto* const job = static_cast<velder::QueryJob*>(argument);
    // The job's buffer holds "<host:port> <file>", checked by ListStart.
    velder::ListRequest request;
    char path[velder::kLongestListPath + 1] = {};
    std::size_t servers = 0;
    const char* failure = "malformed";
    if (velder::ParseListRequest(job->buffer, std::strlen(job->buffer), &request)) {
        std::memcpy(path, request.file, request.fileLength);
        failure = FetchList(request, path, job, &servers);
    }
    if (failure != nullptr) {
        Write(job->buffer, failure);
    } else {
        std::snprintf(job->buffer, job->capacity, "%lu", static_cast<unsigned long>(servers));
    }
    {
        // The file is in place: the script may start the next list as soon
        // as it hears of this one.
        SharedLock lock;
        listRunning = false;
    }
    Announce(job);
}

// Takes a ticket for `request` and starts `work` on it; leaves the ticket,
// or the refusal word, in `data`. The caller holds the shared lock.
bool StartJob(const velder::StartRequest& request, velder::JobKind kind,
              void (*work)(void* argument), char* data) {
    velder::QueryJob* job = nullptr;
    const char* refusal = nullptr;
    switch (board.Start(request, hostCapacity, &job, kind)) {
        case velder::StartVerdict::kBusy:
            refusal = "busy";
            break;
        case velder::StartVerdict::kFull:
            refusal = "full";
            break;
        case velder::StartVerdict::kNoMemory:
            refusal = "failed";
            break;
        case velder::StartVerdict::kStarted:
            break;
    }
    if (refusal == nullptr) {
        const std::uint32_t ticket = job->ticket;
        if (velder::platform::RunInBackground(work, job)) {
            std::snprintf(data, 11, "%lu", static_cast<unsigned long>(ticket));
            return true;
        }
        board.Abandon(job);
        refusal = "failed";
    }
    Write(data, refusal);
    return false;
}

// Leaves ticket `data`'s result of `kind` in `data`: the result, "pending" or "unknown".
std::int32_t TakeResult(char* data, velder::JobKind kind) {
    SharedLock lock;
    std::uint32_t ticket = 0;
    if (!velder::ParseTicket(data, hostCapacity, &ticket)) {
        Write(data, "unknown");
        return RESULT_DATA;
    }
    switch (board.Take(ticket, data, hostCapacity, kind)) {
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

}  // namespace

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
    StartJob(request, velder::JobKind::kQuery, RunQuery, data);
    return RESULT_DATA;
}

std::int32_t VELDER_CALL ListStart(WindowHandle mainWindow, WindowHandle, char* data, char*,
                                   HostBool, HostBool) {
    SharedLock lock;
    if (hostWindow == nullptr) {
        hostWindow = mainWindow;
    }
    velder::StartRequest request;
    velder::ListRequest list;
    if (!velder::ParseStartRequest(data, hostCapacity, &request) ||
        !velder::ParseListRequest(request.address, request.addressLength, &list)) {
        Write(data, "malformed");
        return RESULT_DATA;
    }
    if (listRunning) {
        Write(data, "busy");
        return RESULT_DATA;
    }
    if (StartJob(request, velder::JobKind::kList, RunList, data)) {
        listRunning = true;
    }
    return RESULT_DATA;
}

std::int32_t VELDER_CALL ListResult(WindowHandle, WindowHandle, char* data, char*, HostBool,
                                    HostBool) {
    return TakeResult(data, velder::JobKind::kList);
}

std::int32_t VELDER_CALL QueryResult(WindowHandle, WindowHandle, char* data, char*, HostBool,
                                     HostBool) {
    return TakeResult(data, velder::JobKind::kQuery);
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
