// The exports of velder-async.dll, the DLL that asks servers in the
// background so that mIRC never waits (on Linux libvelder-async.so, which
// its tests load; the window handle then points at a platform::HostWindow,
// see platform/host_messages.h).
//
//   $dll(velder-async.dll, QueryStart, <signal> <host:port>)
//       a ticket number at once, or "busy" (16 queries run), "full" (64
//       tickets not taken yet), "malformed" (not a signal name of 1 to 32
//       letters, digits, '_', '-' or '.', one space and an address with a
//       colon) or "failed" (no memory or thread to be had). When the query
//       ends, mIRC is sent the command "/signal <signal> <ticket>".
//   $dll(velder-async.dll, QueryResult, <ticket>)
//       "pending", "unknown" (never given, already taken, cancelled, or from
//       before the DLL was last loaded), or the text GetInfo would have left:
//       the answer, "9999", or the address unchanged. A result is taken once.
//   $dll(velder-async.dll, QueryCancel, <ticket>|all)
//       "cancelled" or "unknown"; a cancelled query (or list) announces
//       nothing.
//   $dll(velder-async.dll, ListStart, <signal> <host:port>[,<host:port>...] <file>)
//       a ticket number at once (the same numbering as queries), or "busy"
//       (a list is being fetched: one at a time), "full", "malformed" (the
//       signal as for QueryStart; 1 to 4 masters divided by commas, each
//       named once, each a host of letters, digits, '.' and '-' and a port
//       from 1 to 65535; one space and a path of 1 to 250 bytes, spaces
//       allowed) or "failed". The worker asks each master in turn for every
//       server (protocol 2.85, no filters). A master asked less than a
//       minute ago is not asked again: what it gave then, its list or its
//       silence, is its answer. Each server goes in once, however many
//       masters list it: one host:port per line, to "<file>.part", which is
//       then moved over <file>, so that the file is only ever read whole;
//       then mIRC is sent "/signal <signal> <ticket>".
//   $dll(velder-async.dll, ListResult, <ticket>)
//       "pending", "unknown", or for one master: the number of servers
//       written, or why there is no list: "no_answer" (the master sent no
//       readable reply: it is down, or it lists no server, since some
//       masters send nothing at all for an empty list), "no_host" (its name
//       could not be looked up), "unwritable" (the file could not be written
//       or moved into place) or "failed" (no socket or memory). For several
//       masters the number is followed by " answered:" and the masters that
//       gave a list, as named in the request, divided by commas
//       ("12 answered:a.example:27650,b.example:27650"); a master left out
//       gave none (it sent nothing, or its name could not be looked up).
//       A word stands alone: "unwritable" as for one master, the others
//       only when no master gave a list: "no_host" when no master's name
//       could be looked up, "failed" when a socket or memory was not to be
//       had, "no_answer" otherwise. Taken once.
//
// LoadDll and UnloadDll are mIRC's load and unload callbacks.
//
// Text. mIRC 7.0 and later hand every export UTF-16 buffers (LoadDll asks
// for them): the argument is read as UTF-16, and a query's answer comes back
// with each byte GetInfo would have written as the character of the same
// number, so that $chr(255) and $chr(254) divide it whatever the system's
// code page; every other result (tickets, words, an address given back, a
// list's file name) is the text itself. A buffer holds mBytes / 2
// characters where mIRC says (7.64 and later), as many characters as the
// ANSI buffer held bytes before. mIRC before 7.0 hands ANSI buffers, and
// gets bytes back as velder.dll gives them. A list's file name is read as
// UTF-8 (what mIRC 7 hands), or in the system's ANSI code page when it is
// not UTF-8 (mIRC 6).
#pragma once

#include <cstdint>

#include "velder/velder.h"

// mIRC's load structure, which grew with mIRC: before 7.0 it ends after
// mKeep (12 bytes in a 32-bit mIRC), before 7.51 after mUnicode, before
// 7.64 after mBeta. No field past the version's end is read or written.
struct HostLoadInfo {
    std::uint32_t mVersion;  // low word the major version, high word the minor
    WindowHandle mHwnd;
    HostBool mKeep;
    HostBool mUnicode;     // 7.0: set by the DLL for UTF-16 buffers
    std::uint32_t mBeta;   // 7.51: the public beta's number
    std::uint32_t mBytes;  // 7.64: the data buffer's size in bytes, as UTF-16
};

// mIRC's idle unload asks with kUnloadIdle, /dll -u and exit with kUnloadNow.
inline constexpr int kUnloadNow = 0;
inline constexpr int kUnloadIdle = 1;
// What UnloadDll answers.
inline constexpr int kStayLoaded = 0;
inline constexpr int kMayUnload = 1;

extern "C" {
VELDER_API void VELDER_CALL LoadDll(HostLoadInfo* info);
VELDER_API int VELDER_CALL UnloadDll(int timeout);
VELDER_API std::int32_t VELDER_CALL QueryStart(WindowHandle mainWindow, WindowHandle activeWindow,
                                               char* data, char* params, HostBool show,
                                               HostBool noPause);
VELDER_API std::int32_t VELDER_CALL QueryResult(WindowHandle mainWindow, WindowHandle activeWindow,
                                                char* data, char* params, HostBool show,
                                                HostBool noPause);
VELDER_API std::int32_t VELDER_CALL ListStart(WindowHandle mainWindow, WindowHandle activeWindow,
                                              char* data, char* params, HostBool show,
                                              HostBool noPause);
VELDER_API std::int32_t VELDER_CALL ListResult(WindowHandle mainWindow, WindowHandle activeWindow,
                                               char* data, char* params, HostBool show,
                                               HostBool noPause);
VELDER_API std::int32_t VELDER_CALL QueryCancel(WindowHandle mainWindow, WindowHandle activeWindow,
                                                char* data, char* params, HostBool show,
                                                HostBool noPause);
}

using HostLoad = void(VELDER_CALL*)(HostLoadInfo*);
using HostUnload = int(VELDER_CALL*)(int);
