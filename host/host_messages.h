// Commands handed to mIRC through its SendMessage interface (Windows only).
//
// The text goes into a file mapping named "mIRC<N>" of kCommandMappingSize
// bytes; the message WM_MCOMMAND (WM_USER + 200) with wParam 1 ("as if
// typed in the edit box") and lParam N tells mIRC's main window to run it.
// Every command gets a mapping of its own, with an N no other mapping in
// the session holds, so that commands sent from two threads never share one.
#pragma once

#include <cstdint>

namespace velder {

inline constexpr unsigned kCommandMessage = 0x0400 + 200;  // WM_USER + 200
inline constexpr unsigned kCommandMappingSize = 4096;
inline constexpr unsigned kTypedCommand = 1;

struct HostCommand {
    void* mapping = nullptr;
    char* view = nullptr;
    std::uint32_t index = 0;
};

// Makes a fresh mapping holding `text` (shorter than the mapping). False
// when the system gives none; nothing is left open then.
bool PrepareHostCommand(const char* text, HostCommand* command);
// Sends the message and waits for mIRC to handle it, at most `milliseconds`.
// True when mIRC handled it in time.
bool DeliverHostCommand(const HostCommand& command, void* window, std::uint32_t milliseconds);
// Empties the command's text: if mIRC reads the mapping later, it runs
// nothing.
void BlankHostCommand(const HostCommand& command);
// Closes the mapping.
void ReleaseHostCommand(HostCommand* command);

}  // namespace velder
