#include "host/signal_delivery.h"

#include <cstdio>

#include "host/async_state.h"
#include "platform/host_messages.h"
#include "platform/worker_thread.h"

namespace velder::async {
namespace {

// A signal on its way, guarded by the shared lock.
struct Delivery {
    std::uint32_t ticket = 0;  // 0: a free slot
    platform::HostCommand command;
};
Delivery deliveries[kMostUnclaimed];

}  // namespace

void Silence(std::uint32_t ticket) {
    for (Delivery& delivery : deliveries) {
        if (delivery.ticket != 0 && (ticket == 0 || delivery.ticket == ticket)) {
            platform::BlankHostCommand(delivery.command);
        }
    }
}

bool SendSignals() {
    platform::SharedLock lock;
    State& state = Shared();
    bool onItsWay = false;
    for (Delivery& delivery : deliveries) {
        // Without a window (unloaded) a signal waits for nothing: it is empty.
        if (delivery.ticket != 0 &&
            (state.hostWindow == nullptr || platform::HostCommandDone(delivery.command))) {
            platform::ReleaseHostCommand(&delivery.command);
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
        char signal[kLongestSignal + 1];
        if (free == nullptr || state.hostWindow == nullptr ||
            !state.board.NextToAnnounce(&ticket, signal)) {
            return onItsWay || free == nullptr;
        }
        // The command is fixed text: the script's own signal name and a number.
        char text[16 + kLongestSignal + 12];
        std::snprintf(text, sizeof text, "/signal %s %lu", signal,
                      static_cast<unsigned long>(ticket));
        // A window that takes no message (gone) gets none, and the result
        // waits for the script's own look.
        if (platform::SendHostCommand(text, state.hostWindow, &free->command)) {
            free->ticket = ticket;
            onItsWay = true;
        }
    }
}

void ReleaseSignals() {
    for (Delivery& delivery : deliveries) {
        if (delivery.ticket != 0) {
            platform::ReleaseHostCommand(&delivery.command);
            delivery.ticket = 0;
        }
    }
}

}  // namespace velder::async
