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
//   $dll(velder-async.dll, ListStart, <signal> <master host:port> <file>)
//       a ticket number at once (the same numbering as queries), or "busy"
//       (a list is being fetched: one at a time), "full", "malformed" (the
//       signal as for QueryStart; a host of letters, digits, '.' and '-', a
//       port from 1 to 65535, one space and a path of 1 to 250 bytes, spaces
//       allowed) or "failed". The worker asks the master for every server
//       (protocol 2.85, no filters; a master asked less than a minute ago
//       is not asked again: what it gave then is the answer), writes one
//       host:port per line to
//       "<file>.part" and moves it over <file>, so that the file is only
//       ever read whole; then mIRC is sent "/signal <signal> <ticket>".
//   $dll(velder-async.dll, ListResult, <ticket>)
//       "pending", "unknown", the number of servers written, or why there is
//       no list: "no_answer" (the master did not answer: it is down, or lists
//       no server), "no_host" (its name
//       could not be looked up), "unwritable" (the file could not be written
//       or moved into place) or "failed" (no socket or memory). Taken once.
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
