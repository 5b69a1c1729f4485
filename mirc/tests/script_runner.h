// Runs aliases of mirc/velder.mrc as mIRC would, for the part of its
// scripting language that the script's reading and display aliases use, so
// that tests check the script's own lines on recorded answers instead of a
// copy of them in C++.
//
// Text is bytes: $chr(255) is the byte 0xFF. Lines are evaluated word by
// word as mIRC does: %variables, $identifiers with their arguments, $+
// joining its neighbours, and ( ) conditions joined by || and &&. Commands
// the runner does not carry out itself (echo, run, timers, ...) are kept in
// `commands`, evaluated, for the test to read; hash tables, %global
// variables and custom windows' lines it keeps as mIRC does. Identifiers
// that reach outside the script ($dll, $isfile, $ctime, ...) are the test's
// to give in `identifiers`. Anything it does not know is put in `errors`,
// never guessed at.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace velder::mirc {

class ScriptRunner {
  public:
    explicit ScriptRunner(const std::string& script);

    // True when the script defines the alias.
    bool Has(const std::string& alias) const;
    // $alias(args...): what the alias returns.
    std::string Call(const std::string& alias, const std::vector<std::string>& args);
    // Evaluates `text` as the argument of an identifier, with $1, $2, ... as given.
    std::string Evaluate(const std::string& text, const std::vector<std::string>& args = {});

    // "command evaluated-arguments" for each command the aliases ran, in order.
    std::vector<std::string> commands;
    // What the runner met and could not run; empty when it understood every line.
    std::vector<std::string> errors;
    // $name(args) as the test answers it, by lower-case name.
    std::map<std::string, std::function<std::string(const std::vector<std::string>&)>> identifiers;
    // The lines of each custom window, by lower-case name.
    std::map<std::string, std::vector<std::string>> windows;

  private:
    struct Frame;
    enum class Flow { kNext, kReturn, kBreak };

    Flow Run(const std::vector<std::string>& lines, std::size_t begin, std::size_t end,
             Frame& frame);
    Flow Statements(const std::string& text, Frame& frame);
    Flow Statement(const std::string& text, Frame& frame);
    bool Condition(const std::string& text, Frame& frame);
    bool Comparison(const std::string& text, Frame& frame);
    std::string Eval(const std::string& text, Frame& frame);
    std::string Word(const std::string& word, Frame& frame);
    std::string Identifier(const std::string& name, const std::vector<std::string>& args,
                           Frame& frame);

    bool Builtin(const std::string& command, const std::vector<std::string>& words, Frame& frame);

    std::map<std::string, std::vector<std::string>> aliases_;  // lower-case name: body lines
    std::map<std::string, std::string> globals_;               // %name: value, names lower-case
    // Hash tables by lower-case name: lower-case item, its name and value.
    std::map<std::string, std::map<std::string, std::pair<std::string, std::string>>> tables_;
    int depth_ = 0;  // alias calls in progress
};

}  // namespace velder::mirc
