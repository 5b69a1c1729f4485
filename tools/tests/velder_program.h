// The velder program beside the test programs, run as a user runs it.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "platform/program.h"
#include "tests/support/child_process.h"

namespace velder::tooltest {

inline const std::string kVelder = platform::BesideProgram(VELDER_CLI_FILE);

// Text the program wrote in text mode: Windows ends its lines with CR LF.
inline std::string Lines(std::string text) {
#if defined(_WIN32)
    for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;) {
        text.erase(at, 1);
    }
#endif
    return text;
}

// Runs velder to its end; its output in Lines() unless `binaryOutput`.
inline ProgramRun Velder(const std::vector<std::string>& args, bool binaryOutput = false,
                         const std::string& input = "") {
    ProgramRun run = RunProgram(kVelder, args, std::chrono::seconds(30), input);
    run.err = Lines(run.err);
    if (!binaryOutput) {
        run.out = Lines(run.out);
    }
    return run;
}

}  // namespace velder::tooltest
