#include "velder/velder_async.h"

#include "host/async_jobs.h"
#include "host/async_state.h"
#include "host/kept_lists.h"
#include "host/signal_delivery.h"
#include "platform/process_counter.h"
#include "platform/worker_thread.h"

using namespace velder::async;

extern "C" {

void VELDER_CALL LoadDll(HostLoadInfo* info) {
    velder::platform::SetBackgroundSender(SendSignals);
    velder::platform::SharedLock lock;
    State& state = Shared();
    NewSession();
    state.board.ContinueTicketsFrom(velder::platform::ReadProcessCounter(kLastTicket));
    state.hostWindow = info->mHwnd;
    const std::uint32_t version = info->mVersion;
    // Only the fields this version passes are there to be read or set.
    state.hostUnicode = AtLeast(version, 7, 0);
    state.hostCapacity = HostBufferCapacity(version, AtLeast(version, 7, 64) ? info->mBytes : 0);
    if (state.hostUnicode) {
        info->mUnicode = 1;
    }
    info->mKeep = 1;
}

int VELDER_CALL UnloadDll(int timeout) {
    velder::platform::SharedLock lock;
    State& state = Shared();
    if (timeout == kUnloadIdle && state.board.Busy()) {
        return kStayLoaded;
    }
    // From here mIRC unloads the DLL: workers still running keep the module
    // mapped until they end, and announce nothing; signals on their way are
    // emptied and let go now, never asked about again: the window they went
    // to may be gone by the launcher's next look (on POSIX, the structure
    // its handle points at freed).
    NewSession();
    ReleaseSignals();
    state.hostWindow = nullptr;
    ForgetKeptLists();
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
