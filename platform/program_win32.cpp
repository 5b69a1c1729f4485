#include "platform/program.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

namespace velder::platform {

std::string ProgramFolder() {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    const std::string self(path, n < sizeof path ? n : 0);
    const std::size_t slash = self.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : self.substr(0, slash + 1);
}

unsigned long ProcessId() {
    return GetCurrentProcessId();
}

void BinaryStandardOutput() {
    _setmode(_fileno(stdout), _O_BINARY);
}

// Windows sets no such limit on sockets.
unsigned long long RaiseOpenFileLimit() {
    return 0;
}

}  // namespace velder::platform
