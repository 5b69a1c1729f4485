// velder.dll (libvelder.so elsewhere): the two functions mIRC calls, in its
// DLL-call convention. This header is the library's whole interface.
//
// Every export takes six arguments and returns a 32-bit code. Only `data` is
// used: it carries the argument text in and the result text out. The other
// five are part of the host's calling shape and are never read or written.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define VELDER_CALL __stdcall
#define VELDER_API
#else
#define VELDER_CALL
#define VELDER_API __attribute__((visibility("default")))
#endif

// The host's window handle; a pointer on every platform (HWND on Windows).
using WindowHandle = void*;
// A Windows BOOL: a 32-bit integer.
using HostBool = std::int32_t;

// There is no result; `data` holds what the host put there, unchanged.
inline constexpr int RESULT_CONTINUE = 1;
// `data` now holds the result text, NUL-terminated.
inline constexpr int RESULT_DATA = 3;

#ifndef VELDER_DATA_CAPACITY
#define VELDER_DATA_CAPACITY 4096
#endif

// Bytes the host's `data` buffer is assumed to hold, the closing NUL included.
// mIRC hands out at least 4151 bytes since 6.32 (900 before that); the build
// option VELDER_DATA_CAPACITY lowers this for older hosts. No result text is
// ever written past it.
inline constexpr std::size_t kDataCapacity = VELDER_DATA_CAPACITY;
static_assert(kDataCapacity >= 16, "the data buffer must hold at least a short answer");

extern "C" {

// Asks a Quake 4 server "host:port" for its status; see status_query.h.
VELDER_API std::int32_t VELDER_CALL GetInfo(WindowHandle mainWindow, WindowHandle activeWindow,
                                            char* data, char* params, HostBool show,
                                            HostBool noPause);

// Writes "TRUE" when the game's console window is open, "FALSE" otherwise.
VELDER_API std::int32_t VELDER_CALL IsQuakeActive(WindowHandle mainWindow,
                                                  WindowHandle activeWindow, char* data,
                                                  char* params, HostBool show, HostBool noPause);
}

// The signature shared by both exports, for callers that look them up at run time.
using HostExport = std::int32_t(VELDER_CALL*)(WindowHandle, WindowHandle, char*, char*, HostBool,
                                              HostBool);
