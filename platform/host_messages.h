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
#pragma once

#include <cstdint>

namespace velder::platform {

inline constexpr unsigned kCommandMessage = 0x0400 + 200;  // WM_USER + 200
inline constexpr unsigned kCommandMappingSize = 4096;
inline constexpr unsigned kTypedCommand = 1;

struct HostCommand {
    void* mapping = nullptr;
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

}  // namespace velder::platform
