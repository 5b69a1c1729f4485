#include "host/async_jobs.h"

#include <cstdio>
#include <cstring>

#include "host/async_state.h"
#include "host/host_text.h"
#include "host/list_fetch.h"
#include "host/signal_delivery.h"
#include "platform/process_counter.h"
#include "platform/worker_thread.h"
#include "query/status_query.h"

namespace velder::async {

using platform::SharedLock;

void Finish(QueryJob* job) {
    bool announce = false;
    {
        SharedLock lock;
        announce = Shared().board.Finish(job);
    }
    if (announce) {
        platform::WakeBackground();
    }
}

void NewSession() {
    Shared().board.Reset();
    Silence(0);
}

namespace {

void RunQuery(void* argument) {
    auto* const job = static_cast<QueryJob*>(argument);
    job->bytes = QueryStatus(job->buffer, job->capacity) == QueryOutcome::kAnswered;
    Finish(job);
}

// Takes a ticket for `request` and starts `work` on it; leaves the ticket,
// or the refusal word, in `data`. The thread that runs it is made, if at
// all, after the shared lock is let go.
bool StartJob(const StartRequest& request, JobKind kind, void (*work)(void* argument), char* data) {
    QueryJob* job = nullptr;
    const char* refusal = nullptr;
    {
        SharedLock lock;
        State& state = Shared();
        switch (state.board.Start(request, state.hostCapacity, &job, kind)) {
            case StartVerdict::kBusy:
                refusal = "busy";
                break;
            case StartVerdict::kFull:
                refusal = "full";
                break;
            case StartVerdict::kNoMemory:
                refusal = "failed";
                break;
            case StartVerdict::kStarted:
                platform::WriteProcessCounter(kLastTicket, state.board.LastTicket());
                break;
        }
    }
    if (refusal == nullptr) {
        const std::uint32_t ticket = job->ticket;
        if (platform::RunInBackground(work, job)) {
            std::snprintf(data, 11, "%lu", static_cast<unsigned long>(ticket));
            return true;
        }
        SharedLock lock;
        Shared().board.Abandon(job);
        refusal = "failed";
    }
    Write(data, refusal);
    return false;
}

// Leaves ticket `data`'s result of `kind` in `data`: the result, "pending" or "unknown".
ResultForm TakeResult(char* data, JobKind kind) {
    SharedLock lock;
    State& state = Shared();
    std::uint32_t ticket = 0;
    bool answer = false;
    if (!ParseTicket(data, state.hostCapacity, &ticket)) {
        Write(data, "unknown");
        return ResultForm::kText;
    }
    switch (state.board.Take(ticket, data, state.hostCapacity, kind, &answer)) {
        case TakeVerdict::kTaken:
            Silence(ticket);  // the script has it: its signal would say nothing new
            break;
        case TakeVerdict::kPending:
            Write(data, "pending");
            break;
        case TakeVerdict::kUnknown:
            Write(data, "unknown");
            break;
    }
    return answer ? ResultForm::kBytes : ResultForm::kText;
}

// Reads "<signal> <address>" from `data`, as a host of this session hands it.
bool ReadStart(WindowHandle mainWindow, const char* data, StartRequest* request) {
    SharedLock lock;
    State& state = Shared();
    if (state.hostWindow == nullptr) {
        state.hostWindow = mainWindow;  // a host that never called LoadDll
        platform::SetBackgroundSender(SendSignals);
    }
    return ParseStartRequest(data, state.hostCapacity, request);
}

}  // namespace

ResultForm StartQuery(WindowHandle mainWindow, char* data) {
    StartRequest request;
    if (!ReadStart(mainWindow, data, &request)) {
        Write(data, "malformed");
        return ResultForm::kText;
    }
    StartJob(request, JobKind::kQuery, RunQuery, data);
    return ResultForm::kText;
}

ResultForm StartList(WindowHandle mainWindow, char* data) {
    StartRequest request;
    ListRequest list;
    if (!ReadStart(mainWindow, data, &request) ||
        !ParseListRequest(request.address, request.addressLength, &list)) {
        Write(data, "malformed");
        return ResultForm::kText;
    }
    {
        SharedLock lock;
        if (Shared().listRunning) {
            Write(data, "busy");
            return ResultForm::kText;
        }
        Shared().listRunning = true;
    }
    if (!StartJob(request, JobKind::kList, RunList, data)) {
        SharedLock lock;
        Shared().listRunning = false;
    }
    return ResultForm::kText;
}

ResultForm TakeQuery(WindowHandle, char* data) {
    return TakeResult(data, JobKind::kQuery);
}

ResultForm TakeList(WindowHandle, char* data) {
    return TakeResult(data, JobKind::kList);
}

ResultForm Cancel(WindowHandle, char* data) {
    SharedLock lock;
    if (std::strncmp(data, "all", 4) == 0) {
        NewSession();
        Write(data, "cancelled");
        return ResultForm::kText;
    }
    std::uint32_t ticket = 0;
    const bool known =
        ParseTicket(data, Shared().hostCapacity, &ticket) && Shared().board.Cancel(ticket);
    if (known) {
        Silence(ticket);  // a finished query's signal may be on its way
    }
    Write(data, known ? "cancelled" : "unknown");
    return ResultForm::kText;
}

std::int32_t Exchange(WindowHandle mainWindow, char* data,
                      ResultForm (*work)(WindowHandle mainWindow, char* data)) {
    std::size_t capacity = 0;
    bool unicode = false;
    {
        SharedLock lock;
        capacity = Shared().hostCapacity;
        unicode = Shared().hostUnicode;
    }
    if (!unicode) {
        work(mainWindow, data);
        return RESULT_DATA;
    }
    // mIRC's UTF-16 buffer, seen through the exports' narrow signature.
    auto* const wide = reinterpret_cast<HostUnit*>(data);
    char text[kMostHostCharacters];
    NarrowHostText(wide, capacity, text, capacity);
    if (work(mainWindow, text) == ResultForm::kBytes) {
        WidenBytes(text, wide, capacity);
    } else {
        WidenText(text, wide, capacity);
    }
    return RESULT_DATA;
}

}  // namespace velder::async
