// Commands handed to the host's main window without waiting for it: mIRC's
// SendMessage interface.
//
// The text goes into a file mapping named "mIRC<N>" of kCommandMappingSize
// bytes; the message WM_MCOMMAND (WM_USER + 200) with wParam 1 ("as if
// typed in the edit box") and lParam N tells mIRC's main window to run it.
// Every command gets a mapping of its own, with an N no other mapping in
// the process has held, so that commands never share one. The message
// waits in the window's queue for as long as the window is busy; the
// mapping must stay open until the window has run it.
//
// Where there are no windows (POSIX) the same exchange runs on what the
// loading program provides: the "window" handle points at its HostWindow
// (below), the text is in POSIX shared memory named from N, and the host's
// own thread opens that by name and runs it, as mIRC does.
#pragma once

#include <cstdint>

namespace velder::platform {

inline constexpr unsigned kCommandMessage = 0x0400 + 200;  // WM_USER + 200
inline constexpr unsigned kCommandMappingSize = 4096;
inline constexpr unsigned kTypedCommand = 1;

struct HostCommand {
    void* mapping = nullptr;  // the mapping's handle (Windows; POSIX names it by `index`)
    char* view = nullptr;
    std::uint32_t index = 0;
    void* window = nullptr;
};

// Makes a fresh mapping holding `text` (shorter than the mapping) and sends
// `window` the message that runs it, returning at once. False when the
// system gives no mapping or the window takes no message (it is gone);
// nothing is left open then.
bool SendHostCommand(const char* text, void* window, HostCommand* command);
// True once the window has run the command, or is gone. The answer comes
// back to the thread that sent it, while that thread handles its messages.
bool HostCommandDone(const HostCommand& command);
// Empties the command's text: if the window runs it later, it runs nothing.
void BlankHostCommand(const HostCommand& command);
// Closes the mapping.
void ReleaseHostCommand(HostCommand* command);

#if !defined(_WIN32)
// --- POSIX only: the host's side, where there are no windows -------------
//
// The window handle the host passes (LoadDll's mHwnd, every call's first
// argument) points at a HostWindow the loading program owns. It must stay
// valid from the first call until UnloadDll has returned. Its functions may
// be called from any thread, several at once.
struct HostWindow {
    void* context = nullptr;  // handed to each function
    // Queues "run command N" (WM_MCOMMAND with lParam N) for the host's own
    // thread, which runs it whenever it next handles its queue. False when
    // the window takes no message: it is gone.
    bool (*post)(void* context, std::uint32_t index) = nullptr;
    // True once the host has run command N (an empty one runs nothing), or
    // dropped it without running it.
    bool (*ran)(void* context, std::uint32_t index) = nullptr;
    // True once the window is gone (IsWindow false): what was queued for it
    // never runs.
    bool (*gone)(void* context) = nullptr;
};

// The name of command N's shared memory object (shm_open), which the host
// opens to read the text: "/mIRC<N>.<process id>". The process id keeps
// the names of two processes apart, as Windows keeps sessions apart.
inline constexpr unsigned kCommandNameSize = 32;
void HostCommandName(std::uint32_t index, char (&name)[kCommandNameSize]);
#endif

}  // namespace velder::platform
