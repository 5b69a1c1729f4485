// Runs a program as a child process with its output caught in files, for
// tests of the command-line tool. Works natively and under Wine.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace velder::testing {

class ChildProcess {
  public:
    ChildProcess() = default;
    ~ChildProcess();  // kills the child if it still runs, removes the files
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts `program` with `args`; false when it cannot be started.
    bool Start(const std::string& program, const std::vector<std::string>& args);
    // Waits for the child to end, at most `timeout`; true when it ended.
    bool Wait(std::chrono::milliseconds timeout);
    int ExitCode() const { return exitCode_; }
    // What the child has written so far (all of it once it ended).
    std::string Output() const;
    std::string Errors() const;
    void Kill();

  private:
    std::string outPath_;
    std::string errPath_;
    int exitCode_ = -1;
    bool running_ = false;
#if defined(_WIN32)
    void* process_ = nullptr;
#else
    int pid_ = -1;
#endif
};

struct ProgramRun {
    int exitCode = -1;  // -1 when the program did not end in time
    std::string out;
    std::string err;
};

// Runs the program to its end (at most `timeout`, then it is killed).
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      std::chrono::milliseconds timeout = std::chrono::seconds(30));

// The path of a file beside the running test program.
std::string BesideThisProgram(const std::string& fileName);

}  // namespace velder::testing
