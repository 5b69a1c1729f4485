// The bookkeeping of velder-async.dll: which tickets exist, which queries
// still run, which results wait to be taken. It does no I/O and takes no
// lock of its own; the exports call it under one lock.
//
// A query's life: Start gives it a ticket and a job (its own buffer holding
// the address text); a worker runs the status query on that buffer and hands
// it back with Finish; Take copies the result out once. Cancel and Reset
// detach jobs from their tickets: a detached job's worker still ends, but its
// result is thrown away and nothing is announced for it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/replaced_file.h"

namespace velder {

// Queries whose workers are alive at once, detached ones included.
inline constexpr std::size_t kMostRunning = 16;
// Tickets not yet taken (running or finished) at once.
inline constexpr std::size_t kMostUnclaimed = 64;
// The longest signal name the script may choose.
inline constexpr std::size_t kLongestSignal = 32;

// What a ticket stands for: a server's status, or a master's list.
enum class JobKind { kQuery, kList };

// One query's work, owned by the board until a worker takes it and by the
// worker until Finish hands it back.
struct QueryJob {
    std::uint32_t ticket = 0;
    char signal[kLongestSignal + 1] = {};
    char* buffer = nullptr;  // `capacity` bytes: the address, then the result
    std::size_t capacity = 0;
    JobKind kind = JobKind::kQuery;
    bool bytes = false;     // the result is a server's answer: bytes, not text
    bool detached = false;  // cancelled, or the DLL was reset or unloaded
};

// "<signal> <host:port>" read from a buffer of `capacity` bytes: the signal
// is 1 to 32 letters, digits, '_', '-' or '.', then one space, then an
// address holding a colon. The address is the rest of the text, shorter
// than `capacity`.
struct StartRequest {
    const char* signal = nullptr;
    std::size_t signalLength = 0;
    const char* address = nullptr;
    std::size_t addressLength = 0;
};
bool ParseStartRequest(const char* data, std::size_t capacity, StartRequest* request);

// The rest of a list request, "<host:port>[,<host:port>...] <file>": 1 to
// kMostMasters masters divided by commas, each named once, each a host of 1
// to 255 letters, digits, '.' or '-' and a port of 1 to 65535 in decimal
// digits; then one space, then the file's path (the rest of the text,
// spaces allowed, no control characters, at most kLongestListPath bytes).
inline constexpr std::size_t kMostMasters = 4;
inline constexpr std::size_t kLongestMasterName = 255;
inline constexpr std::size_t kLongestListPath = platform::kLongestTargetPath;
struct MasterAddress {
    char name[kLongestMasterName + 1] = {};
    std::uint16_t port = 0;
};
// The same master: the same port, and the same host whatever its letters' case.
bool SameMaster(const MasterAddress& a, const MasterAddress& b);
struct ListRequest {
    MasterAddress masters[kMostMasters];
    std::size_t masterCount = 0;
    const char* file = nullptr;
    std::size_t fileLength = 0;
};
bool ParseListRequest(const char* text, std::size_t length, ListRequest* request);

// A ticket number as the script writes it: decimal digits, 1 to 4294967295.
bool ParseTicket(const char* data, std::size_t capacity, std::uint32_t* ticket);

enum class StartVerdict { kStarted, kBusy, kFull, kNoMemory };

enum class TakeVerdict { kTaken, kPending, kUnknown };

class QueryBoard {
  public:
    QueryBoard() = default;
    ~QueryBoard();
    QueryBoard(const QueryBoard&) = delete;
    QueryBoard& operator=(const QueryBoard&) = delete;

    // Makes a job for `request` with a buffer of `capacity` bytes and a new
    // ticket. On kStarted `*job` is the worker's to run; the caller must
    // either hand it to a worker or give it back with Abandon.
    StartVerdict Start(const StartRequest& request, std::size_t capacity, QueryJob** job,
                       JobKind kind = JobKind::kQuery);
    // The worker could not be started: forget the job and its ticket.
    void Abandon(QueryJob* job);
    // The worker is done with `job`. True when the result is kept for its
    // ticket and the script should be told; false when the job was detached,
    // in which case it is freed here.
    bool Finish(QueryJob* job);

    // Copies the result for `ticket` into data[0, capacity) with its NUL and
    // forgets the ticket; `*answer` (when given) says whether it is a
    // server's answer. A ticket of another kind is unknown here.
    TakeVerdict Take(std::uint32_t ticket, char* data, std::size_t capacity,
                     JobKind kind = JobKind::kQuery, bool* answer = nullptr);
    // Drops a running or finished ticket. False when it is not known.
    bool Cancel(std::uint32_t ticket);
    // Drops every ticket; running workers go on detached. Ticket numbers
    // keep counting up.
    void Reset();

    // The next finished ticket whose script has not been told yet, oldest
    // first, and the signal to tell it with; each is given once. False when
    // there is none.
    bool NextToAnnounce(std::uint32_t* ticket, char (&signal)[kLongestSignal + 1]);

    // Ticket numbers go on from `last`: those of an earlier load of the DLL
    // in this process are never given again.
    void ContinueTicketsFrom(std::uint32_t last);
    std::uint32_t LastTicket() const { return lastTicket_; }

    // True while a ticket is running or waits to be taken.
    bool Busy() const;
    std::size_t Running() const { return running_; }

  private:
    struct Slot {
        QueryJob* job = nullptr;
        bool finished = false;
        bool announced = false;
    };
    Slot* Find(std::uint32_t ticket);
    void Drop(Slot& slot);

    Slot slots_[kMostUnclaimed];
    std::size_t running_ = 0;  // live workers, detached ones included
    std::uint32_t lastTicket_ = 0;
};

}  // namespace velder
