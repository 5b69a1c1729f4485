// Runs a program as a child process with its output caught in files, for
// tests of the command-line tool. Works natively and under Wine.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace velder::tooltest {

class ChildProcess {
  public:
    ChildProcess() = default;
    ~ChildProcess();  // kills the child if it still runs, removes the files
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts `program` with `args`, its standard input read from the file
    // `input` (none when empty); false when it cannot be started.
    bool Start(const std::string& program, const std::vector<std::string>& args,
               const std::string& input = "");
    // Waits for the child to end, at most `timeout`; true when it ended.
    bool Wait(std::chrono::milliseconds timeout);
    int ExitCode() const { return exitCode_; }
    // What the child has written so far (all of it once it ended).
    std::string Output() const;
    std::string Errors() const;
    void Kill();
#if !defined(_WIN32)
    int Pid() const {
        return pid_;
    }
    // Asks the child to stop, as Ctrl-C does.
    void Interrupt();
#endif

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
                      std::chrono::milliseconds timeout = std::chrono::seconds(30),
                      const std::string& input = "");

}  // namespace velder::tooltest
