#include "host/kept_lists.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "host/async_state.h"
#include "platform/tick_counter.h"
#include "platform/worker_thread.h"

namespace velder::async {
namespace {

constexpr std::uint32_t kMasterRestMilliseconds = 60000;

// Guarded by the shared lock.
struct KeptList {
    MasterAddress master;  // an empty host: a free slot
    std::uint32_t askedAt = 0;
    const char* failure = nullptr;  // null: the master listed `count` servers
    ServerEntry* entries = nullptr;
    std::size_t count = 0;
};
KeptList kept[kMostMasters];

void Forget(KeptList& list) {
    std::free(list.entries);
    list = KeptList{};
}

// What the master gave within the last minute, or null.
KeptList* KeptFor(const MasterAddress& master) {
    for (KeptList& list : kept) {
        if (list.master.name[0] != '\0' &&
            platform::TickMilliseconds() - list.askedAt >= kMasterRestMilliseconds) {
            Forget(list);
        }
        if (list.master.name[0] != '\0' && SameMaster(list.master, master)) {
            return &list;
        }
    }
    return nullptr;
}

// The slot for `master`'s answer: its own, a free one, or the oldest.
KeptList& SlotFor(const MasterAddress& master) {
    const std::uint32_t now = platform::TickMilliseconds();
    KeptList* oldest = &kept[0];
    for (KeptList& list : kept) {
        if (list.master.name[0] == '\0' || SameMaster(list.master, master)) {
            return list;
        }
        oldest = now - list.askedAt > now - oldest->askedAt ? &list : oldest;
    }
    return *oldest;
}

// A copy of `count` entries (room for one at least), or null.
ServerEntry* CopyEntries(const ServerEntry* entries, std::size_t count) {
    auto* const copy = static_cast<ServerEntry*>(std::malloc(sizeof(ServerEntry) * (count + 1)));
    if (copy != nullptr && count > 0) {
        std::memcpy(copy, entries, sizeof(ServerEntry) * count);
    }
    return copy;
}

}  // namespace

bool TakeKept(const MasterAddress& master, MasterList* list) {
    platform::SharedLock lock;
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

void Keep(const MasterAddress& master, const MasterList& list) {
    ServerEntry* copy = nullptr;
    if (list.failure == nullptr) {
        copy = CopyEntries(list.entries, list.count);
        if (copy == nullptr) {
            return;  // no memory: the next request asks again
        }
    }
    platform::SharedLock lock;
    if (Shared().hostWindow == nullptr) {  // nothing is kept once unloaded
        std::free(copy);
        return;
    }
    KeptList& slot = SlotFor(master);
    Forget(slot);
    slot = KeptList{master, platform::TickMilliseconds(), list.failure, copy, list.count};
}

void ForgetKeptLists() {
    for (KeptList& list : kept) {
        Forget(list);
    }
}

}  // namespace velder::async
