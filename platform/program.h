// What a program of the project needs of the system it runs on: its own
// folder and process id, a standard output that passes bytes as they are,
// and enough open files.
#pragma once

#include <string>

namespace velder::platform {

// The folder the running program was started from, ending in a separator;
// empty when the system does not say.
std::string ProgramFolder();

// A file in the running program's folder, such as the built library beside
// a test program.
inline std::string BesideProgram(const std::string& fileName) {
    return ProgramFolder() + fileName;
}

// This process's id, as the system numbers processes.
unsigned long ProcessId();

// Standard output passes bytes as they are: on Windows, "\n" stays one byte.
void BinaryStandardOutput();

// Raises the soft limit on open files (sockets among them) to the hard one
// and returns it; 0 where the system sets none or does not say.
unsigned long long RaiseOpenFileLimit();

}  // namespace velder::platform
