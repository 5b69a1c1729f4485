// The loader's entry callback. Nothing is set up at load time: each export
// starts and stops what it needs inside the call.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
