// A master is asked at most once a minute, whatever the script does: what
// it gave (its list, or why there was none) is kept, and a request within
// the minute gets that at once.
#pragma once

#include <cstddef>

#include "host/query_board.h"
#include "query/master_list.h"

namespace velder::async {

// What one master of a request gave: its servers, or the word that says why
// there are none. The entries are the worker's own (malloc'd).
struct MasterList {
    const char* failure = nullptr;
    ServerEntry* entries = nullptr;
    std::size_t count = 0;
    bool kept = false;  // given within the last minute: the master is not asked now
};

// Fills `list` with what `master` gave within the last minute; false when
// it has to be asked. Takes the shared lock itself.
bool TakeKept(const MasterAddress& master, MasterList* list);

// Keeps `list`, the master's own answer, for the minute. Takes the shared
// lock itself; nothing is kept once the DLL is unloaded.
void Keep(const MasterAddress& master, const MasterList& list);

// Forgets every kept list; under the shared lock.
void ForgetKeptLists();

}  // namespace velder::async
