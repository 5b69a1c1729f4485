#include "host/query_board.h"

#include <cstdlib>
#include <cstring>

namespace velder {
namespace {

bool IsSignalChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-' || c == '.';
}

bool IsHostChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-';
}

// The text's length within the buffer: up to its NUL, or the whole buffer.
std::size_t TextLength(const char* data, std::size_t capacity) {
    const void* nul = std::memchr(data, '\0', capacity);
    return nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - data)
                          : capacity;
}

// Jobs and buffers come from malloc, not new: the DLL then carries none of
// the C++ runtime's exception support.
void FreeJob(QueryJob* job) {
    std::free(job->buffer);
    std::free(job);
}

}  // namespace

bool ParseStartRequest(const char* data, std::size_t capacity, StartRequest* request) {
    const std::size_t length = TextLength(data, capacity);
    if (length == capacity) {
        return false;  // no NUL: the address would not fit a buffer of this size
    }
    std::size_t i = 0;
    while (i < length && IsSignalChar(data[i])) {
        ++i;
    }
    if (i == 0 || i > kLongestSignal || i == length || data[i] != ' ') {
        return false;
    }
    const char* address = data + i + 1;
    const std::size_t addressLength = length - i - 1;
    if (addressLength == 0 || std::memchr(address, ':', addressLength) == nullptr) {
        return false;
    }
    request->signal = data;
    request->signalLength = i;
    request->address = address;
    request->addressLength = addressLength;
    return true;
}

bool SameMaster(const MasterAddress& a, const MasterAddress& b) {
    if (a.port != b.port) {
        return false;
    }
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    std::size_t i = 0;
    while (a.name[i] != '\0' && lower(a.name[i]) == lower(b.name[i])) {
        ++i;
    }
    return a.name[i] == b.name[i];
}

bool ParseListRequest(const char* text, std::size_t length, ListRequest* request) {
    std::size_t i = 0;
    request->masterCount = 0;
    // Each master, up to the space before the file.
    for (bool more = true; more;) {
        if (request->masterCount == kMostMasters) {
            return false;
        }
        const std::size_t hostFrom = i;
        while (i < length && i - hostFrom <= kLongestMasterName && IsHostChar(text[i])) {
            ++i;
        }
        const std::size_t hostLength = i - hostFrom;
        if (hostLength == 0 || hostLength > kLongestMasterName || i == length || text[i] != ':') {
            return false;
        }
        std::uint32_t port = 0;
        const std::size_t digitsFrom = ++i;
        while (i < length && i - digitsFrom < 6 && text[i] >= '0' && text[i] <= '9') {
            port = port * 10 + static_cast<std::uint32_t>(text[i++] - '0');
        }
        if (i == digitsFrom || port == 0 || port > 65535 || i == length ||
            (text[i] != ' ' && text[i] != ',')) {
            return false;
        }
        more = text[i++] == ',';
        MasterAddress& master = request->masters[request->masterCount];
        std::memcpy(master.name, text + hostFrom, hostLength);
        master.name[hostLength] = '\0';
        master.port = static_cast<std::uint16_t>(port);
        for (std::size_t k = 0; k < request->masterCount; ++k) {
            if (SameMaster(request->masters[k], master)) {
                return false;  // named twice: it would be asked twice
            }
        }
        ++request->masterCount;
    }
    const char* file = text + i;
    const std::size_t fileLength = length - i;
    if (fileLength == 0 || fileLength > kLongestListPath) {
        return false;
    }
    for (std::size_t k = 0; k < fileLength; ++k) {
        if (static_cast<unsigned char>(file[k]) < 0x20 || file[k] == 0x7F) {
            return false;
        }
    }
    request->file = file;
    request->fileLength = fileLength;
    return true;
}

bool ParseTicket(const char* data, std::size_t capacity, std::uint32_t* ticket) {
    const std::size_t length = TextLength(data, capacity);
    if (length == 0 || length > 10) {
        return false;
    }
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < length; ++i) {
        if (data[i] < '0' || data[i] > '9') {
            return false;
        }
        value = value * 10 + static_cast<std::uint64_t>(data[i] - '0');
    }
    if (value == 0 || value > UINT32_MAX) {
        return false;
    }
    *ticket = static_cast<std::uint32_t>(value);
    return true;
}

QueryBoard::~QueryBoard() {
    Reset();
}

StartVerdict QueryBoard::Start(const StartRequest& request, std::size_t capacity, QueryJob** job,
                               JobKind kind) {
    if (running_ >= kMostRunning) {
        return StartVerdict::kBusy;
    }
    Slot* free = nullptr;
    for (Slot& slot : slots_) {
        if (slot.job == nullptr) {
            free = &slot;
            break;
        }
    }
    if (free == nullptr || lastTicket_ == UINT32_MAX) {
        return StartVerdict::kFull;
    }
    if (request.addressLength >= capacity || request.signalLength > kLongestSignal) {
        return StartVerdict::kNoMemory;  // ParseStartRequest keeps this from happening
    }
    auto* made = static_cast<QueryJob*>(std::calloc(1, sizeof(QueryJob)));
    if (made == nullptr) {
        return StartVerdict::kNoMemory;
    }
    made->buffer = static_cast<char*>(std::calloc(capacity, 1));
    if (made->buffer == nullptr) {
        std::free(made);
        return StartVerdict::kNoMemory;
    }
    made->capacity = capacity;
    made->kind = kind;
    std::memcpy(made->buffer, request.address, request.addressLength);
    std::memcpy(made->signal, request.signal, request.signalLength);
    made->ticket = ++lastTicket_;
    free->job = made;
    free->finished = false;
    free->announced = false;
    ++running_;
    *job = made;
    return StartVerdict::kStarted;
}

void QueryBoard::Abandon(QueryJob* job) {
    --running_;
    if (!job->detached) {
        if (Slot* slot = Find(job->ticket)) {
            slot->job = nullptr;
        }
    }
    FreeJob(job);
}

bool QueryBoard::Finish(QueryJob* job) {
    --running_;
    if (job->detached) {
        FreeJob(job);
        return false;
    }
    Slot* slot = Find(job->ticket);
    slot->finished = true;
    return true;
}

TakeVerdict QueryBoard::Take(std::uint32_t ticket, char* data, std::size_t capacity, JobKind kind,
                             bool* answer) {
    Slot* slot = Find(ticket);
    if (slot == nullptr || slot->job->kind != kind) {
        return TakeVerdict::kUnknown;
    }
    if (!slot->finished) {
        return TakeVerdict::kPending;
    }
    // Both buffers have the host's capacity, and the query left a NUL inside it.
    const QueryJob& job = *slot->job;
    const std::size_t length = TextLength(job.buffer, job.capacity);
    const std::size_t copied = length < capacity ? length : capacity - 1;
    std::memcpy(data, job.buffer, copied);
    data[copied] = '\0';
    if (answer != nullptr) {
        *answer = job.bytes;
    }
    Drop(*slot);
    return TakeVerdict::kTaken;
}

bool QueryBoard::Cancel(std::uint32_t ticket) {
    Slot* slot = Find(ticket);
    if (slot == nullptr) {
        return false;
    }
    Drop(*slot);
    return true;
}

void QueryBoard::Reset() {
    for (Slot& slot : slots_) {
        if (slot.job != nullptr) {
            Drop(slot);
        }
    }
}

bool QueryBoard::NextToAnnounce(std::uint32_t* ticket, char (&signal)[kLongestSignal + 1]) {
    Slot* next = nullptr;
    for (Slot& slot : slots_) {
        if (slot.job != nullptr && slot.finished && !slot.announced &&
            (next == nullptr || slot.job->ticket < next->job->ticket)) {
            next = &slot;
        }
    }
    if (next == nullptr) {
        return false;
    }
    next->announced = true;
    *ticket = next->job->ticket;
    std::memcpy(signal, next->job->signal, sizeof signal);
    return true;
}

void QueryBoard::ContinueTicketsFrom(std::uint32_t last) {
    lastTicket_ = last > lastTicket_ ? last : lastTicket_;
}

bool QueryBoard::Busy() const {
    for (const Slot& slot : slots_) {
        if (slot.job != nullptr) {
            return true;
        }
    }
    return false;
}

QueryBoard::Slot* QueryBoard::Find(std::uint32_t ticket) {
    for (Slot& slot : slots_) {
        if (slot.job != nullptr && slot.job->ticket == ticket) {
            return &slot;
        }
    }
    return nullptr;
}

// A finished job is freed now; a running one is left to its worker, which
// frees it in Finish.
void QueryBoard::Drop(Slot& slot) {
    if (slot.finished) {
        FreeJob(slot.job);
    } else {
        slot.job->detached = true;
    }
    slot.job = nullptr;
    slot.finished = false;
}

}  // namespace velder
