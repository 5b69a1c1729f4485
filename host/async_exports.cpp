#include "velder/velder_async.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/host_text.h"
#include "host/query_board.h"
#include "platform/host_messages.h"
#include "platform/process_counter.h"
#include "platform/replaced_file.h"
#include "platform/tick_counter.h"
#include "platform/worker_thread.h"
#include "query/master_query.h"
#include "query/status_query.h"

namespace {

using velder::platform::SharedLock;

// Where the last ticket number is kept for the process, across unloads.
constexpr char kLastTicket[] = "VELDER_ASYNC_LAST_TICKET";

bool AtLeast(std::uint32_t version, std::uint32_t major, std::uint32_t minor) {
    const std::uint32_t hasMajor = version & 0xFFFFu;
    const std::uint32_t hasMinor = version >> 16;
    return hasMajor > major || (hasMajor == major && hasMinor >= minor);
}

// The most characters of a host's buffer the DLL uses: what it converts a
// UTF-16 argument into lives on the calling thread's stack.
constexpr std::size_t kMostHostCharacters = 16384;

// The characters (bytes in ANSI, code units in UTF-16) of the data buffer
// mIRC hands every call, NUL included: by its version, or from mBytes
// where mIRC says it (7.64 and later, UTF-16).
std::size_t HostBufferCapacity(std::uint32_t version, std::uint32_t bytes) {
    if (AtLeast(version, 7, 64) && bytes / 2 >= 16) {
        return bytes / 2 < kMostHostCharacters ? bytes / 2 : kMostHostCharacters;
    }
    if (AtLeast(version, 7, 64)) {
        return 10240;
    }
    if (AtLeast(version, 7, 53)) {
        return 4200;
    }
    if (AtLeast(version, 6, 32)) {
        return 4151;
    }
    return 900;
}

// Everything below is guarded by the shared lock. It outlives an unload
// while workers pin the module, and a reload then finds it as it was left.
velder::QueryBoard board;
WindowHandle hostWindow = nullptr;
std::size_t hostCapacity = HostBufferCapacity(0, 0);
bool hostUnicode = false;  // the exports' buffers hold UTF-16
// A list worker is alive (detached or not): one list at a time, so that
// two never write the same file.
bool listRunning = false;
// The signals on their way to mIRC: each waits in mIRC's queue, however long
// mIRC is busy, until mIRC runs it. Blanked when its ticket is taken or
// dropped first, or the DLL unloaded, so that mIRC then runs nothing.
struct Delivery {
    std::uint32_t ticket = 0;  // 0: a free slot
    velder::platform::HostCommand command;
};
Delivery deliveries[velder::kMostUnclaimed];

void Write(char* data, const char* text) {
    std::memcpy(data, text, std::strlen(text) + 1);
}

// Empties the signal of `ticket` (every ticket's for 0) if one is on its way.
void Silence(std::uint32_t ticket) {
    for (Delivery& delivery : deliveries) {
        if (delivery.ticket != 0 && (ticket == 0 || delivery.ticket == ticket)) {
            velder::platform::BlankHostCommand(delivery.command);
        }
    }
}

// A new session: every ticket dropped, every signal on its way emptied.
void NewSession() {
    board.Reset();
    Silence(0);
}

// The launcher's tend: frees the signals mIRC has run and sends those of
// the tickets that finished since. True while a signal is on its way.
bool SendSignals() {
    SharedLock lock;
    bool onItsWay = false;
    for (Delivery& delivery : deliveries) {
        // Without a window (unloaded) a signal waits for nothing: it is empty.
        if (delivery.ticket != 0 &&
            (hostWindow == nullptr || velder::platform::HostCommandDone(delivery.command))) {
            velder::platform::ReleaseHostCommand(&delivery.command);
            delivery.ticket = 0;
        }
        onItsWay = onItsWay || delivery.ticket != 0;
    }
    // A signal waits for a free slot (emptied ones go as mIRC runs them).
    for (;;) {
        Delivery* free = nullptr;
        for (Delivery& delivery : deliveries) {
            free = free == nullptr && delivery.ticket == 0 ? &delivery : free;
        }
        std::uint32_t ticket = 0;
        char signal[velder::kLongestSignal + 1];
        if (free == nullptr || hostWindow == nullptr || !board.NextToAnnounce(&ticket, signal)) {
            return onItsWay || free == nullptr;
        }
        // The command is fixed text: the script's own signal name and a number.
        char text[16 + velder::kLongestSignal + 12];
        std::snprintf(text, sizeof text, "/signal %s %lu", signal,
                      static_cast<unsigned long>(ticket));
        // A window that takes no message (gone) gets none, and the result
        // waits for the script's own look.
        if (velder::platform::SendHostCommand(text, hostWindow, &free->command)) {
            free->ticket = ticket;
            onItsWay = true;
        }
    }
}

// Hands the finished job back to the board; the launcher tells the script.
void Finish(velder::QueryJob* job) {
    bool announce = false;
    {
        SharedLock lock;
        announce = board.Finish(job);
    }
    if (announce) {
        velder::platform::WakeBackground();
    }
}

void RunQuery(void* argument) {
    auto* const job = static_cast<velder::QueryJob*>(argument);
    job->answer =
        velder::QueryStatus(job->buffer, job->capacity) == velder::QueryOutcome::kAnswered;
    Finish(job);
}

// A master is asked at most once a minute, whatever the script does: what
// it gave (its list, or why there was none) is kept, and a request within
// the minute gets that at once. Guarded by the shared lock.
constexpr std::uint32_t kMasterRestMilliseconds = 60000;
struct KeptList {
    velder::MasterAddress master;  // an empty host: a free slot
    std::uint32_t askedAt = 0;
    const char* failure = nullptr;  // null: the master listed `count` servers
    velder::ServerEntry* entries = nullptr;
    std::size_t count = 0;
};
KeptList kept[velder::kMostMasters];

void Forget(KeptList& list) {
    std::free(list.entries);
    list = KeptList{};
}

// What the master gave within the last minute, or null.
KeptList* KeptFor(const velder::MasterAddress& master) {
    for (KeptList& list : kept) {
        if (list.master.host[0] != '\0' &&
            velder::platform::TickMilliseconds() - list.askedAt >= kMasterRestMilliseconds) {
            Forget(list);
        }
        if (list.master.host[0] != '\0' && velder::SameMaster(list.master, master)) {
            return &list;
        }
    }
    return nullptr;
}

// The slot for `master`'s answer: its own, a free one, or the oldest.
KeptList& SlotFor(const velder::MasterAddress& master) {
    const std::uint32_t now = velder::platform::TickMilliseconds();
    KeptList* oldest = &kept[0];
    for (KeptList& list : kept) {
        if (list.master.host[0] == '\0' || velder::SameMaster(list.master, master)) {
            return list;
        }
        oldest = now - list.askedAt > now - oldest->askedAt ? &list : oldest;
    }
    return *oldest;
}

// What one master of a request gave: its servers, or the word that says why
// there are none. The entries are the worker's own.
struct MasterList {
    const char* failure = nullptr;
    velder::ServerEntry* entries = nullptr;
    std::size_t count = 0;
    bool kept = false;  // given within the last minute: the master is not asked now
};

// A copy of `count` entries (room for one at least), or null.
velder::ServerEntry* CopyEntries(const velder::ServerEntry* entries, std::size_t count) {
    auto* const copy =
        static_cast<velder::ServerEntry*>(std::malloc(sizeof(velder::ServerEntry) * (count + 1)));
    if (copy != nullptr && count > 0) {
        std::memcpy(copy, entries, sizeof(velder::ServerEntry) * count);
    }
    return copy;
}

// Fills `list` with what `master` gave within the last minute; false when
// it has to be asked.
bool TakeKept(const velder::MasterAddress& master, MasterList* list) {
    SharedLock lock;
    const KeptList* given = KeptFor(master);
    if (given == nullptr) {
        return false;
    }
    list->kept = true;
    list->failure = given->failure;
    if (given->failure == nullptr) {
        list->entries = CopyEntries(given->entries, given->count);
        list->count = given->count;
        list->failure = list->entries == nullptr ? "failed" : nullptr;
    }
    return true;
}

// Keeps `list`, the master's own answer, for the minute.
void Keep(const velder::MasterAddress& master, const MasterList& list) {
    velder::ServerEntry* copy = nullptr;
    if (list.failure == nullptr) {
        copy = CopyEntries(list.entries, list.count);
        if (copy == nullptr) {
            return;  // no memory: the next request asks again
        }
    }
    SharedLock lock;
    if (hostWindow == nullptr) {  // nothing is kept once unloaded
        std::free(copy);
        return;
    }
    KeptList& slot = SlotFor(master);
    Forget(slot);
    slot = KeptList{master, velder::platform::TickMilliseconds(), list.failure, copy, list.count};
}

const char* FailureWord(velder::ListOutcome outcome) {
    switch (outcome) {
        case velder::ListOutcome::kListed:
            return nullptr;
        case velder::ListOutcome::kNoAnswer:
            return "no_answer";
        case velder::ListOutcome::kNoHost:
            return "no_host";
        case velder::ListOutcome::kNoSocket:
        case velder::ListOutcome::kSinkRefused:
            break;
    }
    return "failed";
}

// The fetch's sink: each server into the master's own list. The fetch
// hands on at most kMostListedServers.
struct Collected {
    velder::ServerEntry* entries;
    std::size_t count;
};
bool Collect(void* context, const velder::ServerEntry& entry) {
    auto* const collected = static_cast<Collected*>(context);
    if (collected->count < velder::kMostListedServers) {
        collected->entries[collected->count++] = entry;
    }
    return true;
}

// Asks `master` for every server (protocol 2.85, no filters) into `list`;
// an answer, or its lack, is kept for the minute.
void Ask(const velder::MasterAddress& master, velder::SeenServers& seen, MasterList* list) {
    Collected collected{static_cast<velder::ServerEntry*>(
                            std::malloc(sizeof(velder::ServerEntry) * velder::kMostListedServers)),
                        0};
    if (collected.entries == nullptr) {
        list->failure = "failed";
        return;
    }
    velder::ListTally tally;
    const velder::ListOutcome outcome =
        velder::FetchServerList(master.host, master.port, velder::ServersFilter{},
                                velder::MasterWait{}, seen, {&collected, Collect}, tally);
    // Only what the master sent stays in memory.
    void* const fitted =
        std::realloc(collected.entries, sizeof(velder::ServerEntry) * (collected.count + 1));
    list->entries =
        fitted != nullptr ? static_cast<velder::ServerEntry*>(fitted) : collected.entries;
    list->count = collected.count;
    list->failure = FailureWord(outcome);
    if (outcome == velder::ListOutcome::kListed || outcome == velder::ListOutcome::kNoAnswer ||
        outcome == velder::ListOutcome::kNoHost) {
        Keep(master, *list);
    }
}

bool Detached(const velder::QueryJob* job) {
    SharedLock lock;
    return job->detached;
}

// Each server of the lists once, as "A.B.C.D:PORT" lines, in the masters'
// order; at most kMostListedServers in all, counted in `written`. False
// when the file refused a line.
bool WriteMerged(const MasterList* lists, std::size_t masters, velder::SeenServers& seen,
                 velder::platform::ReplacedFile* file, std::size_t* written) {
    std::memset(seen.slots, 0, sizeof seen.slots);
    *written = 0;
    for (std::size_t m = 0; m < masters; ++m) {
        for (std::size_t i = 0; i < lists[m].count && *written < velder::kMostListedServers; ++i) {
            if (!velder::NoteServer(seen, lists[m].entries[i])) {
                continue;  // another master listed it first
            }
            char line[velder::kEntryTextCapacity + 2];
            velder::FormatServerEntry(lists[m].entries[i], line);
            const std::size_t length = std::strlen(line);
            std::memcpy(line + length, "\r\n", 2);
            if (!velder::platform::AppendToFile(file, line, length + 2)) {
                return false;
            }
            ++*written;
        }
    }
    return true;
}

// Why none of the masters gave a list, in one word: "failed" when a socket
// or memory was not to be had for one, "no_host" when no name could be
// looked up, "no_answer" otherwise. A single master's own word.
const char* NoListWord(const MasterList* lists, std::size_t masters) {
    const char* word = "no_host";
    for (std::size_t m = 0; m < masters; ++m) {
        if (std::strcmp(lists[m].failure, "failed") == 0) {
            return "failed";
        }
        if (std::strcmp(lists[m].failure, "no_host") != 0) {
            word = "no_answer";
        }
    }
    return word;
}

// What a list request comes to: the servers written and which masters
// gave a list, or the word that says why there is no list.
struct ListAnswer {
    const char* failure = nullptr;
    std::size_t servers = 0;
    bool listed[velder::kMostMasters] = {};
};

// The masters' lists merged into `path`: what each gave within the last
// minute, or what it gives now, asked in turn. In turn, not at once: one
// list worker and one socket, and a silent master costs only its first
// wait of 2 s. Nothing is asked when the file cannot be begun, or when
// every master's kept answer says there is no list.
ListAnswer FetchLists(const velder::ListRequest& request, const char* path, velder::QueryJob* job) {
    const std::size_t masters = request.masterCount;
    MasterList lists[velder::kMostMasters];
    bool ask = false;
    bool listed = false;
    for (std::size_t m = 0; m < masters; ++m) {
        const bool given = TakeKept(request.masters[m], &lists[m]);
        ask = ask || !given;
        listed = listed || (given && lists[m].failure == nullptr);
    }
    ListAnswer answer;
    auto* const seen =
        ask || listed ? static_cast<velder::SeenServers*>(std::malloc(sizeof(velder::SeenServers)))
                      : nullptr;
    velder::platform::ReplacedFile file;
    if (!ask && !listed) {
        answer.failure = NoListWord(lists, masters);
    } else if (seen == nullptr) {
        answer.failure = "failed";
    } else if (!velder::platform::BeginReplacedFile(path, &file)) {
        answer.failure = "unwritable";
    } else {
        for (std::size_t m = 0; m < masters; ++m) {
            if (!lists[m].kept && !Detached(job)) {
                Ask(request.masters[m], *seen, &lists[m]);
            } else if (!lists[m].kept) {
                lists[m].failure = "failed";  // cancelled: the rest are not asked
            }
            answer.listed[m] = lists[m].failure == nullptr;
            listed = listed || answer.listed[m];
        }
        if (!listed) {
            answer.failure = NoListWord(lists, masters);
        } else if (!WriteMerged(lists, masters, *seen, &file, &answer.servers)) {
            answer.failure = "unwritable";
        }
    }
    std::free(seen);
    for (MasterList& list : lists) {
        std::free(list.entries);
    }
    const bool detached = Detached(job);
    if (answer.failure == nullptr && !detached &&
        !velder::platform::FinishReplacedFile(&file, path)) {
        answer.failure = "unwritable";
    } else if (file.open && (answer.failure != nullptr || detached)) {
        velder::platform::AbandonReplacedFile(&file);
    }
    return answer;
}

// The ticket's result: the count, and after several masters " answered:"
// and those that gave a list, "host:port" divided by commas (each that
// fits the buffer whole); or the failure word.
void WriteListAnswer(const velder::ListRequest& request, const ListAnswer& answer,
                     velder::QueryJob* job) {
    if (answer.failure != nullptr) {
        Write(job->buffer, answer.failure);
        return;
    }
    std::size_t length = static_cast<std::size_t>(std::snprintf(
        job->buffer, job->capacity, "%lu", static_cast<unsigned long>(answer.servers)));
    if (request.masterCount < 2) {
        return;
    }
    const char* divider = " answered:";
    for (std::size_t m = 0; m < request.masterCount; ++m) {
        if (!answer.listed[m]) {
            continue;
        }
        char name[sizeof " answered:" + velder::kLongestMasterHost + 8];
        const int n = std::snprintf(name, sizeof name, "%s%s:%u", divider, request.masters[m].host,
                                    request.masters[m].port);
        if (n > 0 && length + static_cast<std::size_t>(n) < job->capacity) {
            std::memcpy(job->buffer + length, name, static_cast<std::size_t>(n) + 1);
            length += static_cast<std::size_t>(n);
            divider = ",";
        }
    }
}

void RunList(void* argument) {
    auto* const job = static_cast<velder::QueryJob*>(argument);
    // The job's buffer holds "<host:port>[,<host:port>...] <file>", checked by ListStart.
    velder::ListRequest request;
    char path[velder::kLongestListPath + 1] = {};
    if (velder::ParseListRequest(job->buffer, std::strlen(job->buffer), &request)) {
        std::memcpy(path, request.file, request.fileLength);
        WriteListAnswer(request, FetchLists(request, path, job), job);
    } else {
        Write(job->buffer, "malformed");
    }
    {
        // The file is in place: the script may start the next list as soon
        // as it hears of this one.
        SharedLock lock;
        listRunning = false;
    }
    Finish(job);
}

// Takes a ticket for `request` and starts `work` on it; leaves the ticket,
// or the refusal word, in `data`. The thread that runs it is made, if at
// all, after the shared lock is let go.
bool StartJob(const velder::StartRequest& request, velder::JobKind kind,
              void (*work)(void* argument), char* data) {
    velder::QueryJob* job = nullptr;
    const char* refusal = nullptr;
    {
        SharedLock lock;
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
                velder::platform::WriteProcessCounter(kLastTicket, board.LastTicket());
                break;
        }
    }
    if (refusal == nullptr) {
        const std::uint32_t ticket = job->ticket;
        if (velder::platform::RunInBackground(work, job)) {
            std::snprintf(data, 11, "%lu", static_cast<unsigned long>(ticket));
            return true;
        }
        SharedLock lock;
        board.Abandon(job);
        refusal = "failed";
    }
    Write(data, refusal);
    return false;
}

// What an export leaves in its buffer: text, or a server's answer, whose
// bytes each stand for the character of the same number.
enum class Reply { kText, kAnswer };

// Leaves ticket `data`'s result of `kind` in `data`: the result, "pending" or "unknown".
Reply TakeResult(char* data, velder::JobKind kind) {
    SharedLock lock;
    std::uint32_t ticket = 0;
    bool answer = false;
    if (!velder::ParseTicket(data, hostCapacity, &ticket)) {
        Write(data, "unknown");
        return Reply::kText;
    }
    switch (board.Take(ticket, data, hostCapacity, kind, &answer)) {
        case velder::TakeVerdict::kTaken:
            Silence(ticket);  // the script has it: its signal would say nothing new
            break;
        case velder::TakeVerdict::kPending:
            Write(data, "pending");
            break;
        case velder::TakeVerdict::kUnknown:
            Write(data, "unknown");
            break;
    }
    return answer ? Reply::kAnswer : Reply::kText;
}

// Reads "<signal> <address>" from `data`, as a host of this session hands it.
bool ReadStart(WindowHandle mainWindow, const char* data, velder::StartRequest* request) {
    SharedLock lock;
    if (hostWindow == nullptr) {
        hostWindow = mainWindow;  // a host that never called LoadDll
        velder::platform::SetBackgroundTend(SendSignals);
    }
    return velder::ParseStartRequest(data, hostCapacity, request);
}

Reply StartQuery(WindowHandle mainWindow, char* data) {
    velder::StartRequest request;
    if (!ReadStart(mainWindow, data, &request)) {
        Write(data, "malformed");
        return Reply::kText;
    }
    StartJob(request, velder::JobKind::kQuery, RunQuery, data);
    return Reply::kText;
}

Reply StartList(WindowHandle mainWindow, char* data) {
    velder::StartRequest request;
    velder::ListRequest list;
    if (!ReadStart(mainWindow, data, &request) ||
        !velder::ParseListRequest(request.address, request.addressLength, &list)) {
        Write(data, "malformed");
        return Reply::kText;
    }
    {
        SharedLock lock;
        if (listRunning) {
            Write(data, "busy");
            return Reply::kText;
        }
        listRunning = true;
    }
    if (!StartJob(request, velder::JobKind::kList, RunList, data)) {
        SharedLock lock;
        listRunning = false;
    }
    return Reply::kText;
}

Reply TakeQuery(WindowHandle, char* data) {
    return TakeResult(data, velder::JobKind::kQuery);
}

Reply TakeList(WindowHandle, char* data) {
    return TakeResult(data, velder::JobKind::kList);
}

Reply Cancel(WindowHandle, char* data) {
    SharedLock lock;
    if (std::strncmp(data, "all", 4) == 0) {
        NewSession();
        Write(data, "cancelled");
        return Reply::kText;
    }
    std::uint32_t ticket = 0;
    const bool known = velder::ParseTicket(data, hostCapacity, &ticket) && board.Cancel(ticket);
    if (known) {
        Silence(ticket);  // a finished query's signal may be on its way
    }
    Write(data, known ? "cancelled" : "unknown");
    return Reply::kText;
}

// Runs `work` on the export's text as bytes, and leaves its reply in the
// host's form. An ANSI host's buffer is worked on in place. A UTF-16 one is
// read into bytes on this thread's stack (as UTF-8) and written back: an
// answer byte for byte, any other text as the characters it spells.
std::int32_t Exchange(WindowHandle mainWindow, char* data,
                      Reply (*work)(WindowHandle mainWindow, char* data)) {
    std::size_t capacity = 0;
    bool unicode = false;
    {
        SharedLock lock;
        capacity = hostCapacity;
        unicode = hostUnicode;
    }
    if (!unicode) {
        work(mainWindow, data);
        return RESULT_DATA;
    }
    // mIRC's UTF-16 buffer, seen through the exports' narrow signature.
    auto* const wide = reinterpret_cast<velder::HostUnit*>(data);
    char text[kMostHostCharacters];
    velder::NarrowHostText(wide, capacity, text, capacity);
    if (work(mainWindow, text) == Reply::kAnswer) {
        velder::WidenBytes(text, wide, capacity);
    } else {
        velder::WidenText(text, wide, capacity);
    }
    return RESULT_DATA;
}

}  // namespace

extern "C" {

void VELDER_CALL LoadDll(HostLoadInfo* info) {
    velder::platform::SetBackgroundTend(SendSignals);
    SharedLock lock;
    NewSession();
    board.ContinueTicketsFrom(velder::platform::ReadProcessCounter(kLastTicket));
    hostWindow = info->mHwnd;
    const std::uint32_t version = info->mVersion;
    // Only the fields this version passes are there to be read or set.
    hostUnicode = AtLeast(version, 7, 0);
    hostCapacity = HostBufferCapacity(version, AtLeast(version, 7, 64) ? info->mBytes : 0);
    if (hostUnicode) {
        info->mUnicode = 1;
    }
    info->mKeep = 1;
}

int VELDER_CALL UnloadDll(int timeout) {
    SharedLock lock;
    if (timeout == kUnloadIdle && board.Busy()) {
        return kStayLoaded;
    }
    // From here mIRC unloads the DLL: workers still running keep the module
    // mapped until they end, and announce nothing; signals on their way are
    // emptied and let go now, never asked about again: the window they went
    // to may be gone by the launcher's next look (on POSIX, the structure
    // its handle points at freed).
    NewSession();
    for (Delivery& delivery : deliveries) {
        if (delivery.ticket != 0) {
            velder::platform::ReleaseHostCommand(&delivery.command);
            delivery.ticket = 0;
        }
    }
    hostWindow = nullptr;
    for (KeptList& list : kept) {
        Forget(list);
    }
    return kMayUnload;
}

std::int32_t VELDER_CALL QueryStart(WindowHandle mainWindow, WindowHandle, char* data, char*,
                                    HostBool, HostBool) {
    return Exchange(mainWindow, data, StartQuery);
}

std::int32_t VELDER_CALL ListStart(WindowHandle mainWindow, WindowHandle, char* data, char*,
                                   HostBool, HostBool) {
    return Exchange(mainWindow, data, StartList);
}

std::int32_t VELDER_CALL ListResult(WindowHandle mainWindow, WindowHandle, char* data, char*,
                                    HostBool, HostBool) {
    return Exchange(mainWindow, data, TakeList);
}

std::int32_t VELDER_CALL QueryResult(WindowHandle mainWindow, WindowHandle, char* data, char*,
                                     HostBool, HostBool) {
    return Exchange(mainWindow, data, TakeQuery);
}

std::int32_t VELDER_CALL QueryCancel(WindowHandle mainWindow, WindowHandle, char* data, char*,
                                     HostBool, HostBool) {
    return Exchange(mainWindow, data, Cancel);
}
}
