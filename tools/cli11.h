// CLI11 for the tool. CLI11 includes <iostream>, whose static initialiser
// sets up the standard streams at every start of the program: half a
// millisecond of each query, for streams the tool never uses (it writes
// through stdio). Its include guard keeps it out; CLI11's own uses of the
// streams (in code the tool never calls) only need them declared.
#pragma once

#include <istream>
#include <ostream>
#define _GLIBCXX_IOSTREAM 1
namespace std {
extern istream cin;
extern ostream cout, cerr, clog;
}  // namespace std
#include <CLI/CLI.hpp>
