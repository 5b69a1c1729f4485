// The signals on their way to mIRC: each finished ticket is announced with
// "/signal <signal> <ticket>", which waits in mIRC's queue, however long
// mIRC is busy, until mIRC runs it. A signal is blanked when its ticket is
// taken or dropped first, or the DLL unloaded, so that mIRC then runs
// nothing. Call these under the shared lock, except SendSignals.
#pragma once

#include <cstdint>

namespace velder::async {

// Empties the signal of `ticket` (every ticket's for 0) if one is on its way.
void Silence(std::uint32_t ticket);

// The launcher's sender: frees the signals mIRC has run and sends those of
// the tickets that finished since. True while a signal is on its way.
// Takes the shared lock itself.
bool SendSignals();

// Lets go of every signal on its way, never to be asked about again: the
// window it went to may be gone by the launcher's next look.
void ReleaseSignals();

}  // namespace velder::async
