#include "host/list_fetch.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/async_jobs.h"
#include "host/async_state.h"
#include "host/kept_lists.h"
#include "platform/replaced_file.h"
#include "platform/worker_thread.h"
#include "query/master_query.h"

namespace velder::async {
namespace {

using platform::SharedLock;

const char* FailureWord(ListOutcome outcome) {
    switch (outcome) {
        case ListOutcome::kListed:
            return nullptr;
        case ListOutcome::kNoAnswer:
            return "no_answer";
        case ListOutcome::kNoHost:
            return "no_host";
        case ListOutcome::kNoSocket:
        case ListOutcome::kSinkRefused:
            break;
    }
    return "failed";
}

// The fetch's sink: each server into the master's own list. The fetch
// hands on at most kMostListedServers.
struct Collected {
    ServerEntry* entries;
    std::size_t count;
};
bool Collect(void* context, const ServerEntry& entry) {
    auto* const collected = static_cast<Collected*>(context);
    if (collected->count < kMostListedServers) {
        collected->entries[collected->count++] = entry;
    }
    return true;
}

// Asks `master` for every server (protocol 2.85, no filters) into `list`;
// an answer, or its lack, is kept for the minute.
void Ask(const MasterAddress& master, SeenServers& seen, MasterList* list) {
    Collected collected{
        static_cast<ServerEntry*>(std::malloc(sizeof(ServerEntry) * kMostListedServers)), 0};
    if (collected.entries == nullptr) {
        list->failure = "failed";
        return;
    }
    ListTally tally;
    const ListOutcome outcome = FetchServerList(master.name, master.port, ServersFilter{},
                                                MasterWait{}, seen, {&collected, Collect}, tally);
    // Only what the master sent stays in memory.
    void* const fitted =
        std::realloc(collected.entries, sizeof(ServerEntry) * (collected.count + 1));
    list->entries = fitted != nullptr ? static_cast<ServerEntry*>(fitted) : collected.entries;
    list->count = collected.count;
    list->failure = FailureWord(outcome);
    if (outcome == ListOutcome::kListed || outcome == ListOutcome::kNoAnswer ||
        outcome == ListOutcome::kNoHost) {
        Keep(master, *list);
    }
}

bool Detached(const QueryJob* job) {
    SharedLock lock;
    return job->detached;
}

// Each server of the lists once, as "A.B.C.D:PORT" lines, in the masters'
// order; at most kMostListedServers in all, counted in `written`. False
// when the file refused a line.
bool WriteMerged(const MasterList* lists, std::size_t masters, SeenServers& seen,
                 platform::ReplacedFile* file, std::size_t* written) {
    std::memset(seen.slots, 0, sizeof seen.slots);
    *written = 0;
    for (std::size_t m = 0; m < masters; ++m) {
        for (std::size_t i = 0; i < lists[m].count && *written < kMostListedServers; ++i) {
            if (!NoteServer(seen, lists[m].entries[i])) {
                continue;  // another master listed it first
            }
            char line[kEntryTextCapacity + 2];
            FormatServerEntry(lists[m].entries[i], line);
            const std::size_t length = std::strlen(line);
            std::memcpy(line + length, "\r\n", 2);
            if (!platform::AppendToFile(file, line, length + 2)) {
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
    bool listed[kMostMasters] = {};
};

// The masters' lists merged into `path`: what each gave within the last
// minute, or what it gives now, asked in turn. In turn, not at once: one
// list worker and one socket, and a silent master costs only its first
// wait of 2 s. Nothing is asked when the file cannot be begun, or when
// every master's kept answer says there is no list.
ListAnswer FetchLists(const ListRequest& request, const char* path, QueryJob* job) {
    const std::size_t masters = request.masterCount;
    MasterList lists[kMostMasters];
    bool ask = false;
    bool listed = false;
    for (std::size_t m = 0; m < masters; ++m) {
        const bool given = TakeKept(request.masters[m], &lists[m]);
        ask = ask || !given;
        listed = listed || (given && lists[m].failure == nullptr);
    }
    ListAnswer answer;
    auto* const seen =
        ask || listed ? static_cast<SeenServers*>(std::malloc(sizeof(SeenServers))) : nullptr;
    platform::ReplacedFile file;
    if (!ask && !listed) {
        answer.failure = NoListWord(lists, masters);
    } else if (seen == nullptr) {
        answer.failure = "failed";
    } else if (!platform::BeginReplacedFile(path, &file)) {
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
    if (answer.failure == nullptr && !detached && !platform::FinishReplacedFile(&file, path)) {
        answer.failure = "unwritable";
    } else if (file.open && (answer.failure != nullptr || detached)) {
        platform::AbandonReplacedFile(&file);
    }
    return answer;
}

// The ticket's result: the count, and after several masters " answered:"
// and those that gave a list, "host:port" divided by commas (each that
// fits the buffer whole); or the failure word.
void WriteListAnswer(const ListRequest& request, const ListAnswer& answer, QueryJob* job) {
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
        char name[sizeof " answered:" + kLongestMasterName + 8];
        const int n = std::snprintf(name, sizeof name, "%s%s:%u", divider, request.masters[m].name,
                                    request.masters[m].port);
        if (n > 0 && length + static_cast<std::size_t>(n) < job->capacity) {
            std::memcpy(job->buffer + length, name, static_cast<std::size_t>(n) + 1);
            length += static_cast<std::size_t>(n);
            divider = ",";
        }
    }
}

}  // namespace

void RunList(void* argument) {
    auto* const job = static_cast<QueryJob*>(argument);
    // The job's buffer holds "<host:port>[,<host:port>...] <file>", checked by ListStart.
    ListRequest request;
    char path[kLongestListPath + 1] = {};
    if (ParseListRequest(job->buffer, std::strlen(job->buffer), &request)) {
        std::memcpy(path, request.file, request.fileLength);
        WriteListAnswer(request, FetchLists(request, path, job), job);
    } else {
        Write(job->buffer, "malformed");
    }
    {
        // The file is in place: the script may start the next list as soon
        // as it hears of this one.
        SharedLock lock;
        Shared().listRunning = false;
    }
    Finish(job);
}

}  // namespace velder::async
