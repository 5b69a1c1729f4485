#include "mirc/tests/script_runner.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <utility>

namespace velder::mirc {

namespace {

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string Trim(const std::string& s) {
    const std::size_t first = s.find_first_not_of(" \t\r");
    return first == std::string::npos ? ""
                                      : s.substr(first, s.find_last_not_of(" \t\r") + 1 - first);
}

bool StartsWith(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

// Splits at `separator` where no parenthesis is open.
std::vector<std::string> SplitOutside(const std::string& text, char separator) {
    std::vector<std::string> parts(1);
    int depth = 0;
    for (const char c : text) {
        depth += c == '(' ? 1 : c == ')' ? -1 : 0;
        if (c == separator && depth == 0) {
            parts.emplace_back();
        } else {
            parts.back() += c;
        }
    }
    return parts;
}

// The words of a line, spaces inside parentheses included in their word.
std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    for (const std::string& part : SplitOutside(text, ' ')) {
        if (!part.empty()) {
            words.push_back(part);
        }
    }
    return words;
}

std::string Join(const std::vector<std::string>& words, std::size_t from, std::size_t to) {
    std::string out;
    for (std::size_t i = from; i < to && i < words.size(); ++i) {
        out += (out.empty() ? "" : " ") + words[i];
    }
    return out;
}

// The position of the parenthesis that closes the one at `open`, or npos.
std::size_t Closing(const std::string& text, std::size_t open) {
    int depth = 0;
    for (std::size_t i = open; i < text.size(); ++i) {
        depth += text[i] == '(' ? 1 : text[i] == ')' ? -1 : 0;
        if (depth == 0) {
            return i;
        }
    }
    return std::string::npos;
}

std::vector<std::string> Tokens(const std::string& text, char c) {
    std::vector<std::string> tokens;
    std::string token;
    for (const char x : text + c) {
        if (x != c) {
            token += x;
        } else if (!token.empty()) {
            tokens.push_back(token);
            token.clear();
        }
    }
    return tokens;
}

std::string JoinTokens(const std::vector<std::string>& tokens, char c) {
    std::string out;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        out += (i == 0 ? "" : std::string(1, c)) + tokens[i];
    }
    return out;
}

bool IsNumber(const std::string& s) {
    std::size_t i = s.size() > 1 && s[0] == '-' ? 1 : 0;
    bool digits = false;
    bool dot = false;
    for (; i < s.size(); ++i) {
        if (std::isdigit(static_cast<unsigned char>(s[i]))) {
            digits = true;
        } else if (s[i] == '.' && !dot) {
            dot = true;
        } else {
            return false;
        }
    }
    return digits;
}

double Number(const std::string& s) {
    return IsNumber(s) ? std::strtod(s.c_str(), nullptr) : 0;
}

std::string NumberText(double value) {
    if (std::floor(value) == value && std::fabs(value) < 1e15) {
        return std::to_string(static_cast<long long>(value));
    }
    char text[64];
    std::snprintf(text, sizeof text, "%.6f", value);
    std::string out = text;
    out.erase(out.find_last_not_of('0') + 1);
    return out;
}

bool Truthy(const std::string& value) {
    return !value.empty() && value != "0" && Lower(value) != "$false";
}

// $calc's arithmetic: + - * / % and parentheses over numbers.
class Arithmetic {
  public:
    explicit Arithmetic(std::string text) : text_(std::move(text)) {}
    double Value() {
        const double value = Sum();
        Skip();
        ok_ = ok_ && at_ == text_.size();
        return ok_ ? value : 0;
    }
    bool Ok() const { return ok_; }

  private:
    void Skip() {
        while (at_ < text_.size() && text_[at_] == ' ') {
            ++at_;
        }
    }
    bool Take(char c) {
        Skip();
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    double Sum() {
        double value = Product();
        for (;;) {
            if (Take('+')) {
                value += Product();
            } else if (Take('-')) {
                value -= Product();
            } else {
                return value;
            }
        }
    }
    double Product() {
        double value = Unit();
        for (;;) {
            if (Take('*')) {
                value *= Unit();
            } else if (Take('/')) {
                const double d = Unit();
                value = d == 0 ? 0 : value / d;
            } else if (Take('%')) {
                const double d = Unit();
                value = d == 0 ? 0 : std::fmod(value, d);
            } else {
                return value;
            }
        }
    }
    double Unit() {
        if (Take('(')) {
            const double value = Sum();
            ok_ = ok_ && Take(')');
            return value;
        }
        if (Take('-')) {
            return -Unit();
        }
        Skip();
        const std::size_t start = at_;
        while (at_ < text_.size() &&
               (std::isdigit(static_cast<unsigned char>(text_[at_])) || text_[at_] == '.')) {
            ++at_;
        }
        ok_ = ok_ && at_ > start;
        return at_ > start ? std::strtod(text_.substr(start, at_ - start).c_str(), nullptr) : 0;
    }

    std::string text_;
    std::size_t at_ = 0;
    bool ok_ = true;
};

}  // namespace

struct ScriptRunner::Frame {
    std::vector<std::string> args;
    std::map<std::string, std::string> vars;  // lower-case names, '%' included
    std::string returned;
    bool chainTaken = true;  // whether the last if or elseif ran its body
};

ScriptRunner::ScriptRunner(const std::string& script) {
    std::istringstream in(script);
    std::string line;
    std::vector<std::string>* body = nullptr;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (body != nullptr) {
            if (line == "}") {
                body = nullptr;
            } else if (const std::string trimmed = Trim(line);
                       !trimmed.empty() && trimmed[0] != ';') {
                body->push_back(trimmed);
            }
            continue;
        }
        const std::vector<std::string> words = Words(line);
        if (words.size() >= 3 && words[0] == "alias" && words.back() == "{") {
            const std::string& name = words[1] == "-l" ? words[2] : words[1];
            body = &aliases_[Lower(name)];
        } else if (words.size() == 3 && words[0] == "on" && words[2] == "{") {
            // on <level>:<EVENT>:<target>: { ... }, kept as the alias "on:event:target".
            const std::vector<std::string> parts = Tokens(words[1] + " ", ':');
            body = &aliases_["on:" + Lower(parts.size() > 1 ? parts[1] : "") + ":" +
                             Lower(parts.size() > 2 ? Trim(parts[2]) : "")];
        } else if (words.size() == 3 && words[0] == "menu" && words[2] == "{") {
            body = &menus_[Lower(words[1])];
        }
    }
}

std::size_t ScriptRunner::LineLimit(const std::string& version) {
    const double v = Number(version);
    return v < 6.32 ? 950 : v < 7.53 ? 4150 : v < 7.62 ? 8292 : 10240;
}

void ScriptRunner::Activate(const std::string& window) {
    if (Lower(window) != Lower(active)) {
        lactive = active;
        lactiveCid = activeCid;
        active = window;
    }
}

void ScriptRunner::Event(const std::string& event, const std::string& target,
                         const std::vector<std::string>& args) {
    const std::string name = "on:" + Lower(event) + ":" + Lower(target);
    if (Has(name)) {
        Call(name, args);
    }
}

void ScriptRunner::Menu(const std::string& window, const std::string& label) {
    Activate(window);
    halted_ = false;
    cid_ = activeCid;
    for (const std::string& item : menus_[Lower(window)]) {
        const std::size_t colon = item.find(':');
        if (colon == std::string::npos) {
            continue;  // "-", a divider
        }
        Frame frame;
        const std::string shown = Lower(Trim(item.substr(0, colon))) == "dclick"
                                      ? "dclick"
                                      : Eval(Trim(item.substr(0, colon)), frame);
        if (shown == label) {
            Statements(Trim(item.substr(colon + 1)), frame);
            return;
        }
    }
    errors.push_back("no menu item " + label + " in " + window);
}

// mIRC halts the script at a line or variable longer than its limit.
bool ScriptRunner::Fits(const std::string& line) {
    if (line.size() <= lineLimit) {
        return true;
    }
    errors.push_back("line too long (" + std::to_string(line.size()) + " > " +
                     std::to_string(lineLimit) + "): " + line.substr(0, 60));
    halted_ = true;
    return false;
}

// The value /var or /set gives: "number operator number" is computed unless -n or -p.
std::string ScriptRunner::Assign(const std::string& name, std::string value, bool plain) {
    const std::vector<std::string> parts = Tokens(value, ' ');
    if (!plain && parts.size() == 3 && IsNumber(parts[0]) && IsNumber(parts[2]) &&
        parts[1].size() == 1 && std::string("+-*/%^").find(parts[1]) != std::string::npos) {
        const double a = Number(parts[0]);
        const double b = Number(parts[2]);
        const char op = parts[1][0];
        value = NumberText(op == '+'   ? a + b
                           : op == '-' ? a - b
                           : op == '*' ? a * b
                           : op == '^' ? std::pow(a, b)
                           : b == 0    ? 0
                           : op == '/' ? a / b
                                       : std::fmod(a, b));
    }
    Fits(name + " " + value);
    return value;
}

const ScriptRunner::Connection* ScriptRunner::Current() const {
    for (const Connection& c : connections) {
        if (c.cid == cid_) {
            return &c;
        }
    }
    return nullptr;
}

bool ScriptRunner::Has(const std::string& alias) const {
    return aliases_.count(Lower(alias)) > 0;
}

std::string ScriptRunner::Call(const std::string& alias, const std::vector<std::string>& args) {
    const auto found = aliases_.find(Lower(alias));
    if (found == aliases_.end()) {
        errors.push_back("no alias " + alias);
        return "";
    }
    if (depth_ > 50) {
        errors.push_back("aliases call each other too deep at " + alias);
        return "";
    }
    if (depth_ == 0) {
        halted_ = false;
        cid_ = activeCid;
    }
    Frame frame;
    frame.args = args;
    ++depth_;
    Run(found->second, 0, found->second.size(), frame);
    --depth_;
    return halted_ ? "" : frame.returned;
}

std::string ScriptRunner::Evaluate(const std::string& text, const std::vector<std::string>& args) {
    Frame frame;
    frame.args = args;
    return Eval(text, frame);
}

// Runs lines[begin, end): statements, and blocks opened by a line that ends in "{".
ScriptRunner::Flow ScriptRunner::Run(const std::vector<std::string>& lines, std::size_t begin,
                                     std::size_t end, Frame& frame) {
    for (std::size_t i = begin; i < end; ++i) {
        if (halted_) {
            return Flow::kReturn;
        }
        const std::string& line = lines[i];
        const bool opens = line.size() > 1 && line.back() == '{';
        if (!opens) {
            if (line == "}") {
                errors.push_back("unmatched } in an alias");
                continue;
            }
            const Flow flow = Statements(line, frame);
            if (flow != Flow::kNext) {
                return flow;
            }
            continue;
        }
        // The block's lines, up to its closing "}".
        std::size_t close = i + 1;
        for (int depth = 1; close < end; ++close) {
            const std::string& inner = lines[close];
            depth += inner.size() > 1 && inner.back() == '{' ? 1 : inner == "}" ? -1 : 0;
            if (depth == 0) {
                break;
            }
        }
        const std::string head = Trim(line.substr(0, line.size() - 1));
        const std::vector<std::string> words = Words(head);
        const std::string keyword = words.empty() ? "" : Lower(words[0]);
        const std::string condition = Join(words, 1, words.size());
        Flow flow = Flow::kNext;
        if (keyword == "while") {
            int rounds = 0;
            while (Condition(condition, frame)) {
                if (++rounds > 100000) {
                    errors.push_back("a while loop ran 100,000 times: " + line);
                    break;
                }
                flow = Run(lines, i + 1, close, frame);
                if (flow == Flow::kBreak) {
                    flow = Flow::kNext;
                    break;
                }
                if (flow == Flow::kReturn) {
                    break;
                }
            }
        } else if (keyword == "if" || keyword == "elseif" || keyword == "else") {
            const bool skip = keyword != "if" && frame.chainTaken;
            const bool run = !skip && (keyword == "else" || Condition(condition, frame));
            if (run) {
                flow = Run(lines, i + 1, close, frame);
            }
            frame.chainTaken = skip || run;
        } else {
            errors.push_back("a block this runner does not know: " + line);
        }
        if (flow != Flow::kNext) {
            return flow;
        }
        i = close;
    }
    return Flow::kNext;
}

// One line: statements divided by " | ", as written inside braces.
ScriptRunner::Flow ScriptRunner::Statements(const std::string& text, Frame& frame) {
    std::vector<std::string> parts(1);
    int braces = 0;
    for (const std::string& word : Words(text)) {
        braces += word == "{" ? 1 : word == "}" ? -1 : 0;
        if (word == "|" && braces == 0) {
            parts.emplace_back();
        } else {
            parts.back() += (parts.back().empty() ? "" : " ") + word;
        }
    }
    for (const std::string& part : parts) {
        if (halted_) {
            return Flow::kReturn;
        }
        const Flow flow = part.empty() ? Flow::kNext : Statement(part, frame);
        if (flow != Flow::kNext) {
            return flow;
        }
    }
    return Flow::kNext;
}

ScriptRunner::Flow ScriptRunner::Statement(const std::string& text, Frame& frame) {
    std::vector<std::string> words = Words(text);
    std::string command = Lower(words[0]);
    command.erase(0, command.find_first_not_of("./"));

    if (command == "if" || command == "elseif" || command == "else" || command == "while") {
        // "if (a) || (b) { body }" or "if (a) command": the condition is the
        // run of ( ) groups joined by || and &&.
        std::size_t at = 1;
        if (command != "else") {
            while (at < words.size() && words[at][0] == '(') {
                ++at;
                if (at < words.size() && (words[at] == "||" || words[at] == "&&")) {
                    ++at;
                } else {
                    break;
                }
            }
        }
        const std::string condition = Join(words, 1, at);
        std::string body = Join(words, at, words.size());
        if (StartsWith(body, "{")) {
            if (body.back() != '}') {
                errors.push_back("a block that does not close on its line: " + text);
                return Flow::kNext;
            }
            body = Trim(body.substr(1, body.size() - 2));
        }
        if (command == "while") {
            for (int rounds = 0; Condition(condition, frame); ++rounds) {
                if (rounds == 100000) {
                    errors.push_back("a while loop ran 100,000 times: " + text);
                }
                const Flow flow = rounds < 100000 ? Statements(body, frame) : Flow::kBreak;
                if (flow != Flow::kNext) {
                    return flow == Flow::kBreak ? Flow::kNext : flow;
                }
            }
            return Flow::kNext;
        }
        const bool skip = command != "if" && frame.chainTaken;
        const bool run = !skip && (command == "else" || Condition(condition, frame));
        const Flow flow = run ? Statements(body, frame) : Flow::kNext;
        frame.chainTaken = skip || run;
        return flow;
    }
    frame.chainTaken = true;
    const std::string rest = Join(words, 1, words.size());
    if (command == "return") {
        frame.returned = Eval(rest, frame);
        return Flow::kReturn;
    }
    if (command == "break") {
        return Flow::kBreak;
    }
    if (command == "noop") {
        Eval(rest, frame);
        return Flow::kNext;
    }
    if (command == "var") {
        // var [-n|-p] %a, %b = value, %c = value
        const std::string switches = rest[0] == '-' ? Lower(Words(rest)[0]) : "";
        const bool plain = switches.find_first_of("np") != std::string::npos;
        for (const std::string& part :
             SplitOutside(switches.empty() ? rest : Trim(rest.substr(switches.size())), ',')) {
            const std::vector<std::string> declared = Words(part);
            if (declared.empty() || declared[0][0] != '%') {
                errors.push_back("a var without a %name: " + text);
                continue;
            }
            const bool valued = declared.size() >= 2 && declared[1] == "=";
            frame.vars[Lower(declared[0])] = Assign(
                declared[0], valued ? Eval(Join(declared, 2, declared.size()), frame) : "", plain);
        }
        return Flow::kNext;
    }
    if (command == "set" || command == "unset") {
        // set [-n] %name value: the name is not evaluated.
        const bool plain = words.size() > 1 && Lower(words[1]) == "-n";
        const std::size_t at = plain ? 2 : 1;
        const std::string name = at < words.size() ? Lower(words[at]) : "";
        if (command == "unset") {
            globals_.erase(name);
        } else {
            globals_[name] = Assign(name, Eval(Join(words, at + 1, words.size()), frame), plain);
        }
        return Flow::kNext;
    }
    if (command == "inc" || command == "dec") {
        const std::string name = words.size() > 1 ? Lower(words[1]) : "";
        const double by = words.size() > 2 ? Number(Eval(Join(words, 2, words.size()), frame)) : 1;
        const double now = Number(frame.vars[name]);
        frame.vars[name] = NumberText(command == "inc" ? now + by : now - by);
        return Flow::kNext;
    }
    if (command.empty() || command[0] == '%' || command[0] == '$') {
        errors.push_back("a command named by a variable: " + text);
        return Flow::kNext;
    }
    const std::string evaluated = Eval(rest, frame);
    if (halted_ || !Fits(command + " " + evaluated)) {
        return Flow::kReturn;
    }
    if (Has(command)) {
        Call(command, Tokens(evaluated, ' '));
        return Flow::kNext;
    }
    if (!Builtin(command, Tokens(evaluated, ' '), frame)) {
        commands.push_back(command + (rest.empty() ? "" : " " + evaluated));
    }
    return Flow::kNext;
}

namespace {

// mIRC's wildcard match: * any run of characters, ? one, case ignored.
bool Matches(const std::string& pattern, const std::string& text) {
    if (pattern.empty()) {
        return text.empty();
    }
    if (pattern[0] == '*') {
        for (std::size_t skip = 0; skip <= text.size(); ++skip) {
            if (Matches(pattern.substr(1), text.substr(skip))) {
                return true;
            }
        }
        return false;
    }
    return !text.empty() &&
           (pattern[0] == '?' || std::tolower(static_cast<unsigned char>(pattern[0])) ==
                                     std::tolower(static_cast<unsigned char>(text[0]))) &&
           Matches(pattern.substr(1), text.substr(1));
}

}  // namespace

// The commands the runner carries out itself: hash tables, %globals and
// custom windows. The switches they take here are the script's.
bool ScriptRunner::Builtin(const std::string& command, const std::vector<std::string>& words,
                           Frame&) {
    constexpr std::size_t npos = std::string::npos;
    std::vector<std::string> args = words;
    std::string switches;
    if (!args.empty() && args[0].size() > 1 && args[0][0] == '-' && command != "aline") {
        switches = args[0];
        args.erase(args.begin());
    }
    const auto rest = [&](std::size_t from) {
        return JoinTokens(
            std::vector<std::string>(args.begin() + std::min(from, args.size()), args.end()), ' ');
    };
    const std::string name = args.empty() ? "" : Lower(args[0]);
    if (command == "hadd") {
        if (args.size() < 2 || (switches.find('m') == std::string::npos && !tables_.count(name))) {
            errors.push_back("hadd to a table that is not there: " + rest(0));
            return true;
        }
        tables_[name][Lower(args[1])] = {args[1], rest(2)};
        return true;
    }
    if (command == "hdel") {
        auto& table = tables_[name];
        for (auto at = table.begin(); at != table.end();) {
            const bool gone = args.size() > 1 && (switches.find('w') != std::string::npos
                                                      ? Matches(args[1], at->first)
                                                      : at->first == Lower(args[1]));
            at = gone ? table.erase(at) : std::next(at);
        }
        return true;
    }
    if (command == "hfree") {
        tables_.erase(name);
        return true;
    }
    const auto has = [&](char c) { return switches.find(c) != npos; };
    if (command == "window" || command == "clear") {
        commands.push_back(command + " " + JoinTokens(words, ' '));
        if (command == "window" && has('c')) {
            windows.erase(name);
            return true;
        }
        if (command == "clear" || !windows.count(name)) {
            windows[name].clear();
            selected.erase(name);
        }
        if (command == "window") {
            sorted_[name] = sorted_[name] || has('s');
            if (has('a') || (!has('h') && !has('n'))) {
                Activate(args[0]);
            }
        }
        return true;
    }
    if (command == "aline" || command == "rline" || command == "sline" || command == "titlebar") {
        if (!windows.count(name)) {
            errors.push_back(command + " to a window that is not open: " + rest(0));
        }
        std::vector<std::string>& lines = windows[name];
        const auto n = static_cast<std::size_t>(Number(args.size() > 1 ? args[1] : ""));
        if (command == "rline" && n >= 1 && n <= lines.size()) {
            lines[n - 1] = rest(2);
            commands.push_back("rline " + args[0] + " " + args[1]);
        } else if (command == "rline") {
            errors.push_back("rline past the window's lines: " + rest(0));
        } else if (command == "sline") {
            selected[name] = n;
        } else if (command == "titlebar") {
            titlebars[name] = rest(1);
        } else {
            // A sorted window keeps its lines in order, case ignored.
            const std::string line = rest(1);
            auto at = lines.end();
            if (sorted_[name]) {
                at = std::upper_bound(
                    lines.begin(), lines.end(), line,
                    [](const std::string& a, const std::string& b) { return Lower(a) < Lower(b); });
            }
            lines.insert(at, line);
        }
        return true;
    }
    if (command == "scid") {
        if (args.empty() && has('r')) {
            cid_ = activeCid;
        } else if (std::none_of(connections.begin(), connections.end(),
                                [&](const Connection& c) { return c.cid == Number(name); })) {
            errors.push_back("scid to no connection: " + rest(0));
        } else {
            cid_ = static_cast<int>(Number(name));
        }
        return true;
    }
    if (command == "echo") {
        // echo [-a|-s] [-c colour] [window] text: into the window, when it is a custom one.
        if (has('c') && !args.empty()) {
            args.erase(args.begin());
        }
        std::string target = has('a') ? active : has('s') ? "Status Window" : "";
        if (target.empty() && !args.empty()) {
            target = args[0];
            args.erase(args.begin());
        }
        if (StartsWith(target, "@") && !windows.count(Lower(target))) {
            errors.push_back("echo to a window that is not open: " + target);
        } else if (StartsWith(target, "@")) {
            windows[Lower(target)].push_back(rest(0));
        }
        return false;
    }
    return false;
}

// ( ) groups joined by || and &&, taken from left to right as mIRC does; a
// group after the outcome is known is not evaluated.
bool ScriptRunner::Condition(const std::string& text, Frame& frame) {
    const std::vector<std::string> words = Words(text);
    bool value = false;
    std::string joiner = "||";
    for (const std::string& word : words) {
        if (word == "||" || word == "&&") {
            joiner = word;
            continue;
        }
        if (word.front() != '(' || Closing(word, 0) != word.size() - 1) {
            errors.push_back("a condition that is not in ( ): " + text);
            return false;
        }
        if (joiner == "||" ? !value : value) {
            value = Comparison(word.substr(1, word.size() - 2), frame);
        }
    }
    return value;
}

// "a == b", "a isnum 1-5", "!$x", "%x": one comparison, or one value's truth.
bool ScriptRunner::Comparison(const std::string& text, Frame& frame) {
    static const char* const kOperators[] = {
        "==", "===", "!=", "<", ">", "<=", ">=", "isin", "isnum", "ison", "ischan", "isalnum"};
    std::vector<std::string> words = Words(text);
    if (!words.empty() && words[0][0] == '(' && Closing(words[0], 0) == words[0].size() - 1) {
        return Condition(text, frame);  // groups within the group
    }
    for (std::size_t k = 1; k < words.size(); ++k) {
        std::string op = Lower(words[k]);
        // A leading ! negates the operator after it: !== is "not ==".
        const bool negated = op.size() > 1 && op[0] == '!' && op != "!=";
        if (negated) {
            op.erase(0, 1);
        }
        if (std::find(std::begin(kOperators), std::end(kOperators), op) == std::end(kOperators)) {
            continue;
        }
        const std::string left = Eval(Join(words, 0, k), frame);
        const std::string right = Eval(Join(words, k + 1, words.size()), frame);
        bool result = false;
        const Connection* on = Current();
        if (op == "==" || op == "!=") {
            result = (Lower(left) == Lower(right)) == (op == "==");
        } else if (op == "===") {
            result = left == right;
        } else if (op == "ison" || op == "ischan") {
            const std::string channel = Lower(op == "ison" ? right : left);
            result = on != nullptr && (op == "ischan" || Lower(left) == Lower(on->me)) &&
                     std::any_of(on->channels.begin(), on->channels.end(),
                                 [&](const std::string& c) { return Lower(c) == channel; });
        } else if (op == "isin") {
            result = Lower(right).find(Lower(left)) != std::string::npos;
        } else if (op == "isalnum") {
            result = !left.empty() && std::all_of(left.begin(), left.end(), [](unsigned char c) {
                return std::isalnum(c) != 0;
            });
        } else if (op == "isnum") {
            const std::size_t dash = right.find('-', 1);
            result = IsNumber(left) &&
                     (right.empty() || (Number(left) >= Number(right.substr(0, dash)) &&
                                        (dash == std::string::npos || dash + 1 == right.size() ||
                                         Number(left) <= Number(right.substr(dash + 1)))));
        } else {
            const double a = Number(left);
            const double b = Number(right);
            result = op == "<" ? a < b : op == ">" ? a > b : op == "<=" ? a <= b : a >= b;
        }
        return result != negated;
    }
    if (words.size() == 1 && words[0].size() > 1 && words[0][0] == '!') {
        return !Truthy(Eval(words[0].substr(1), frame));
    }
    return Truthy(Eval(text, frame));
}

// A line's words evaluated and joined by one space; "$+" joins without one.
std::string ScriptRunner::Eval(const std::string& text, Frame& frame) {
    std::string out;
    bool glue = true;
    for (const std::string& word : Words(text)) {
        if (word == "$+") {
            glue = true;
            continue;
        }
        const std::string value = Word(word, frame);
        if (!glue && !value.empty() && !out.empty()) {
            out += ' ';
        }
        out += value;
        glue = false;
    }
    return out;
}

std::string ScriptRunner::Word(const std::string& word, Frame& frame) {
    if (word[0] == '%' && word.size() > 1) {
        const auto found = frame.vars.find(Lower(word));
        if (found != frame.vars.end()) {
            return found->second;
        }
        const auto global = globals_.find(Lower(word));
        return global == globals_.end() ? "" : global->second;
    }
    if (word[0] != '$' || word.size() == 1) {
        return word;
    }
    if (StartsWith(word, "$$") && word.size() > 2) {
        const std::string value = Word(word.substr(1), frame);
        halted_ = halted_ || value.empty();
        return value;
    }
    if (word[1] == '!') {
        return "$" + word.substr(2);  // $!name: the text "$name"
    }
    // $~name: the built-in, never an alias; this runner has no alias of such a name.
    const std::size_t tilde = word[1] == '~' ? 1 : 0;
    // $name, $1, $2- and $+(a, b), the joining identifier.
    const auto namePart = [&](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_';
    };
    std::size_t end = 1 + tilde;
    if (word[1] == '+') {
        end = 2;
    } else {
        while (end < word.size() && namePart(word[end])) {
            ++end;
        }
        const bool numbered = std::isdigit(static_cast<unsigned char>(word[1])) != 0;
        end += numbered && end < word.size() && word[end] == '-' ? 1 : 0;
    }
    const std::string name = word.substr(1 + tilde, end - 1 - tilde);
    std::vector<std::string> args;
    if (end < word.size() && word[end] == '(') {
        const std::size_t close = Closing(word, end);
        if (close == std::string::npos) {
            errors.push_back("an unclosed ( in " + word);
            return "";
        }
        const std::string inside = word.substr(end + 1, close - end - 1);
        const bool lazy = Lower(name) == "iif";  // it evaluates what it picks
        for (const std::string& arg : SplitOutside(inside, ',')) {
            args.push_back(lazy ? Trim(arg) : Eval(Trim(arg), frame));
        }
        end = close + 1;
    }
    // .property after the arguments
    std::string property;
    if (end < word.size() && word[end] == '.' && word[end - 1] == ')') {
        std::size_t stop = end + 1;
        while (stop < word.size() && std::isalnum(static_cast<unsigned char>(word[stop]))) {
            ++stop;
        }
        property = Lower(word.substr(end + 1, stop - end - 1));
        end = stop;
    }
    return Identifier(name, args, property, frame) + word.substr(end);
}

std::string ScriptRunner::Identifier(const std::string& name, const std::vector<std::string>& args,
                                     const std::string& property, Frame& frame) {
    const std::string id = Lower(name);
    static const std::map<std::string, std::vector<std::string>> kProperties = {
        {"hget", {"item"}},
        {"sline", {"ln"}},
        {"scid", {"status", "network"}},
        {"scon", {"status", "network"}}};
    if (!property.empty()) {
        const auto known = kProperties.find(id);
        if (known == kProperties.end() || std::find(known->second.begin(), known->second.end(),
                                                    property) == known->second.end()) {
            errors.push_back("a property this runner does not know: $" + name + "." + property);
            return "";
        }
    }
    const auto arg = [&](std::size_t n) { return n < args.size() ? args[n] : std::string(); };
    const auto num = [&](std::size_t n) { return static_cast<long long>(Number(arg(n))); };
    const auto delimiter = [&](std::size_t n) { return static_cast<char>(num(n)); };
    if (!id.empty() && std::isdigit(static_cast<unsigned char>(id[0]))) {
        const std::size_t n = std::strtoul(id.c_str(), nullptr, 10);
        if (id.back() == '-') {
            std::vector<std::string> from;
            for (std::size_t i = n; i <= frame.args.size(); ++i) {
                from.push_back(frame.args[i - 1]);
            }
            return JoinTokens(from, ' ');
        }
        return n >= 1 && n <= frame.args.size() ? frame.args[n - 1] : "";
    }
    if (id == "null") {
        return "";
    }
    if (id == "true" || id == "false") {
        return "$" + id;
    }
    if (id == "chr") {
        return std::string(1, static_cast<char>(num(0)));
    }
    if (id == "len") {
        return std::to_string(arg(0).size());
    }
    if (id == "+") {
        std::string out;
        for (const std::string& a : args) {
            out += a;
        }
        return out;
    }
    if (id == "left" || id == "right") {
        const std::string& s = arg(0);
        const long long n = num(1);
        const std::size_t keep =
            n >= 0 ? std::min<std::size_t>(n, s.size())
                   : s.size() - std::min<std::size_t>(static_cast<std::size_t>(-n), s.size());
        return id == "left" ? s.substr(0, keep) : s.substr(s.size() - keep);
    }
    if (id == "mid") {
        const std::string& s = arg(0);
        long long start = num(1);
        start = start < 0 ? static_cast<long long>(s.size()) + start + 1 : start;
        if (start < 1 || static_cast<std::size_t>(start) > s.size()) {
            return "";
        }
        return args.size() > 2 ? s.substr(start - 1, std::max(0LL, num(2))) : s.substr(start - 1);
    }
    if (id == "replace") {
        std::string s = arg(0);
        for (std::size_t p = 1; p + 1 < args.size(); p += 2) {
            const std::string& to = args[p + 1];
            const std::string needle = Lower(args[p]);
            if (needle.empty()) {
                continue;
            }
            const std::string haystack = Lower(s);
            std::string out;
            std::size_t at = 0;
            for (std::size_t hit; (hit = haystack.find(needle, at)) != std::string::npos;
                 at = hit + needle.size()) {
                out += s.substr(at, hit - at) + to;
            }
            s = out + s.substr(at);
        }
        return s;
    }
    if (id == "count") {
        std::size_t n = 0;
        const std::string s = Lower(arg(0));
        for (std::size_t p = 1; p < args.size(); ++p) {
            const std::string part = Lower(args[p]);
            for (std::size_t at = part.empty() ? std::string::npos : s.find(part);
                 at != std::string::npos; at = s.find(part, at + part.size())) {
                ++n;
            }
        }
        return std::to_string(n);
    }
    if (id == "numtok") {
        return std::to_string(Tokens(arg(0), delimiter(1)).size());
    }
    if (id == "gettok") {
        const std::vector<std::string> tokens = Tokens(arg(0), delimiter(2));
        const std::string which = arg(1);
        const std::size_t dash = which.find('-', 1);
        long long from = std::strtoll(which.c_str(), nullptr, 10);
        long long to = dash == std::string::npos ? from
                       : dash + 1 == which.size()
                           ? static_cast<long long>(tokens.size())
                           : std::strtoll(which.c_str() + dash + 1, nullptr, 10);
        const auto count = static_cast<long long>(tokens.size());
        from = from < 0 ? count + from + 1 : from;
        to = to < 0 ? count + to + 1 : to;
        if (from < 1 || from > count || to < from) {
            return "";
        }
        return JoinTokens(std::vector<std::string>(tokens.begin() + from - 1,
                                                   tokens.begin() + std::min(to, count)),
                          delimiter(2));
    }
    if (id == "findtok" || id == "findtokcs") {
        const std::vector<std::string> tokens = Tokens(arg(0), delimiter(3));
        long long nth = num(2);
        const auto same = [&](const std::string& t) {
            return id == "findtokcs" ? t == arg(1) : Lower(t) == Lower(arg(1));
        };
        for (std::size_t i = 0; i < tokens.size(); ++i) {
            if (same(tokens[i]) && --nth == 0) {
                return std::to_string(i + 1);
            }
        }
        return "";
    }
    if (id == "addtok") {
        std::vector<std::string> tokens = Tokens(arg(0), delimiter(2));
        const bool present = std::any_of(tokens.begin(), tokens.end(), [&](const std::string& t) {
            return Lower(t) == Lower(arg(1));
        });
        if (!present && !arg(1).empty()) {
            tokens.push_back(arg(1));
        }
        return JoinTokens(tokens, delimiter(2));
    }
    if (id == "puttok") {
        std::vector<std::string> tokens = Tokens(arg(0), delimiter(3));
        const long long n =
            num(2) < 0 ? static_cast<long long>(tokens.size()) + num(2) + 1 : num(2);
        if (n >= 1 && n <= static_cast<long long>(tokens.size())) {
            tokens[n - 1] = arg(1);
        }
        return JoinTokens(tokens, delimiter(3));
    }
    if (id == "qt") {
        return "\"" + arg(0) + "\"";
    }
    if (id == "calc") {
        Arithmetic arithmetic(arg(0));
        const double value = arithmetic.Value();
        if (!arithmetic.Ok()) {
            errors.push_back("$calc cannot read '" + arg(0) + "'");
        }
        return NumberText(value);
    }
    if (id == "int") {
        return NumberText(std::trunc(Number(arg(0))));
    }
    if (id == "iif") {
        const std::string& condition = arg(0);
        const bool grouped = !condition.empty() && condition[0] == '(' &&
                             Closing(condition, 0) != condition.size() - 1;
        return Eval(Condition(grouped ? condition : "(" + condition + ")", frame) ? arg(1) : arg(2),
                    frame);
    }
    if (id == "str") {
        std::string out;
        for (long long i = 0; i < num(1) && i < 100000; ++i) {
            out += arg(0);
        }
        return out;
    }
    if (id == "istok") {
        const std::vector<std::string> tokens = Tokens(arg(0), delimiter(2));
        return std::any_of(tokens.begin(), tokens.end(),
                           [&](const std::string& t) { return Lower(t) == Lower(arg(1)); })
                   ? "$true"
                   : "$false";
    }
    if (id == "sorttok" && arg(2) == "n") {
        std::vector<std::string> tokens = Tokens(arg(0), delimiter(1));
        std::stable_sort(
            tokens.begin(), tokens.end(),
            [](const std::string& a, const std::string& b) { return Number(a) < Number(b); });
        return JoinTokens(tokens, delimiter(1));
    }
    if (id == "hget") {
        const auto table = tables_.find(Lower(arg(0)));
        if (args.size() == 1 || table == tables_.end()) {
            return table == tables_.end() ? "" : arg(0);
        }
        if (property == "item") {  // $hget(t, 0).item counts the items; N names the Nth
            const auto n = static_cast<std::size_t>(num(1));
            if (n == 0 || n > table->second.size()) {
                return n == 0 ? std::to_string(table->second.size()) : "";
            }
            return std::next(table->second.begin(), static_cast<long>(n) - 1)->second.first;
        }
        const auto item = table->second.find(Lower(arg(1)));
        return item == table->second.end() ? "" : item->second.second;
    }
    if (id == "window") {
        return windows.count(Lower(arg(0))) ? arg(0) : "";
    }
    if (id == "line" || id == "sline") {
        const auto window = windows.find(Lower(arg(0)));
        const std::size_t n = static_cast<std::size_t>(num(1));
        if (window == windows.end()) {
            return "";
        }
        if (id == "line") {
            return n == 0                       ? std::to_string(window->second.size())
                   : n <= window->second.size() ? window->second[n - 1]
                                                : "";
        }
        const auto chosen = selected.find(window->first);
        const bool any = chosen != selected.end() && chosen->second >= 1 &&
                         chosen->second <= window->second.size();
        return n == 0             ? (any ? "1" : "0")
               : !any || n != 1   ? ""
               : property == "ln" ? std::to_string(chosen->second)
                                  : window->second[chosen->second - 1];
    }
    if (id == "scid" || id == "scon") {
        // $scid(cid) names a connection by its id, $scon(N) by its place; $scon(0) counts.
        if (id == "scon" && num(0) == 0) {
            return std::to_string(connections.size());
        }
        const Connection* c = nullptr;
        for (std::size_t i = 0; i < connections.size(); ++i) {
            if (id == "scid" ? connections[i].cid == num(0)
                             : i + 1 == static_cast<std::size_t>(num(0))) {
                c = &connections[i];
            }
        }
        return c == nullptr            ? ""
               : property == "status"  ? c->status
               : property == "network" ? c->network
                                       : std::to_string(c->cid);
    }
    if (id == "cid" || id == "me" || id == "network") {
        const Connection* c = Current();
        return id == "cid"    ? std::to_string(cid_)
               : c == nullptr ? ""
               : id == "me"   ? c->me
                              : c->network;
    }
    if (id == "active" || id == "lactive") {
        return id == "active" ? active : lactive;
    }
    if (id == "activecid" || id == "lactivecid") {
        return std::to_string(id == "activecid" ? activeCid : lactiveCid);
    }
    if (id == "asctime" && arg(1) == "HH:nn") {
        const long long t = num(0);
        char text[8];
        std::snprintf(text, sizeof text, "%02lld:%02lld", t / 3600 % 24, t / 60 % 60);
        return text;  // in UTC
    }
    if (const auto given = identifiers.find(id); given != identifiers.end()) {
        return given->second(args);
    }
    if (Has(id)) {
        return Call(id, args);
    }
    errors.push_back("an identifier this runner does not know: $" + name);
    return "";
}

}  // namespace velder::mirc
