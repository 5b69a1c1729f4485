#include "tests/support/child_process.h"

#include "platform/program.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
extern char** environ;
#endif

namespace velder::tooltest {

namespace {

std::string ReadWhole(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

#if defined(_WIN32)
std::string TempFile() {
    char folder[MAX_PATH];
    char path[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    GetTempFileNameA(folder, "vlt", 0, path);
    return path;
}

// One argument quoted for the Windows command line.
std::string Quote(const std::string& arg) {
    std::string out = "\"";
    std::size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\');
    out += '"';
    return out;
}

HANDLE OpenForChild(const std::string& path) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}
#else
std::string TempFile() {
    const char* folder = std::getenv("TMPDIR");
    std::string path = std::string(folder != nullptr ? folder : "/tmp") + "/velder-test-XXXXXX";
    const int fd = mkstemp(path.data());
    if (fd >= 0) {
        close(fd);
    }
    return path;
}
#endif

}  // namespace

ChildProcess::~ChildProcess() {
    Kill();
    if (!outPath_.empty()) {
        std::remove(outPath_.c_str());
        std::remove(errPath_.c_str());
    }
}

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& args,
                         const std::string& input) {
    outPath_ = TempFile();
    errPath_ = TempFile();
#if defined(_WIN32)
    std::string commandLine = Quote(program);
    for (const std::string& arg : args) {
        commandLine += ' ';
        commandLine += Quote(arg);
    }
    HANDLE out = OpenForChild(outPath_);
    HANDLE err = OpenForChild(errPath_);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE in = input.empty() ? nullptr
                              : CreateFileA(input.c_str(), GENERIC_READ, FILE_SHARE_READ, &inherit,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION info{};
    const BOOL started = CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                        0, nullptr, nullptr, &startup, &info);
    CloseHandle(out);
    CloseHandle(err);
    if (in != nullptr) {
        CloseHandle(in);
    }
    if (!started) {
        return false;
    }
    CloseHandle(info.hThread);
    process_ = info.hProcess;
#else
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, input.empty() ? "/dev/null" : input.c_str(),
                                     O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath_.c_str(), O_WRONLY | O_TRUNC, 0);
    posix_spawn_file_actions_addopen(&actions, 2, errPath_.c_str(), O_WRONLY | O_TRUNC, 0);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int failed = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        return false;
    }
    pid_ = pid;
#endif
    running_ = true;
    return true;
}

bool ChildProcess::Wait(std::chrono::milliseconds timeout) {
    if (!running_) {
        return true;
    }
#if defined(_WIN32)
    if (WaitForSingleObject(process_, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
        return false;
    }
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    exitCode_ = static_cast<int>(code);
    CloseHandle(process_);
    process_ = nullptr;
#else
    const auto end = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    pid_ = -1;
#endif
    running_ = false;
    return true;
}

void ChildProcess::Kill() {
    if (!running_) {
        return;
    }
#if defined(_WIN32)
    TerminateProcess(process_, 137);
#else
    kill(pid_, SIGKILL);
#endif
    Wait(std::chrono::seconds(10));
}

#if !defined(_WIN32)
void ChildProcess::Interrupt() {
    if (running_) {
        kill(pid_, SIGINT);
    }
}
#endif

std::string ChildProcess::Output() const {
    return ReadWhole(outPath_);
}
std::string ChildProcess::Errors() const {
    return ReadWhole(errPath_);
}

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      std::chrono::milliseconds timeout, const std::string& input) {
    ProgramRun run;
    ChildProcess child;
    if (!child.Start(program, args, input)) {
        run.err = "cannot start " + program;
        return run;
    }
    if (child.Wait(timeout)) {
        run.exitCode = child.ExitCode();
    } else {
        child.Kill();
    }
    run.out = child.Output();
    run.err = child.Errors();
    return run;
}

}  // namespace velder::tooltest
