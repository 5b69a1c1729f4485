// The exports of velder-async.dll, the DLL that asks servers in the
// background so that mIRC never waits (Windows only).
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
#pragma once

#include <cstdint>

#include "velder/velder.h"

// mIRC's load structure. mIRC before 7.0 passes only the first three fields
// (12 bytes in a 32-bit mIRC): nothing past mKeep is ever read or written.
struct HostLoadInfo {
    std::uint32_t mVersion;  // low word the major version, high word the minor
    WindowHandle mHwnd;
    HostBool mKeep;
    HostBool mUnicode;
    std::uint32_t mBeep;
    std::uint32_t mBytes;
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
