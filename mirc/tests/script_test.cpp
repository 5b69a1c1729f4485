// Guards for mirc/velder.mrc, since mIRC itself cannot run here.
//
// ScriptSafety reads the script and fails on any line that could let server
// text be evaluated: evaluation brackets, $eval or $(), /scon or /scid given
// a command (switching connection alone is allowed), $read without its n
// switch, a /timer whose command holds a variable, or a command whose name
// comes from a variable or identifier. It reads every line, so new handlers
// and timers are checked as they are added.
//
// ScriptReading feeds real GetInfo answers (the library called against
// stand-in servers on loopback) through the steps the script takes to read
// them, with a small model of mIRC's token identifiers, and checks that every
// field lands where the script reads it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/loaded_library.h"
#include "platform/program.h"
#include "standin/status_reply.h"
#include "tests/support/plain/plain_server.h"
#include "velder/velder.h"

namespace {

// --- the script as text ------------------------------------------------

std::string ReadScript() {
    std::ifstream in(VELDER_SCRIPT_PATH, std::ios::binary);
#if defined(_WIN32)
    if (!in) {
        // Under Wine a Unix path is reached through drive Z:.
        in.open(std::string("Z:") + VELDER_SCRIPT_PATH, std::ios::binary);
    }
#endif
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    return lines;
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    std::istringstream in(line);
    std::string word;
    while (in >> word) {
        words.push_back(word);
    }
    return words;
}

// Why one line of script could evaluate text a second time; empty when it cannot.
std::string Problem(const std::string& line) {
    const std::vector<std::string> words = Words(line);
    if (words.empty() || words[0][0] == ';') {
        return "";
    }
    if (line.find_first_of("[]") != std::string::npos) {
        return "evaluation bracket";
    }
    const std::string lower = Lower(line);
    if (lower.find("$eval(") != std::string::npos || lower.find("$(") != std::string::npos) {
        return "$eval or $()";
    }
    // $read evaluates the line it reads unless its switches hold n.
    for (std::size_t at = lower.find("$read("); at != std::string::npos;
         at = lower.find("$read(", at + 1)) {
        const std::size_t comma = lower.find(',', at);
        const std::size_t close = lower.find(')', at);
        const std::string switches =
            comma < close
                ? lower.substr(comma + 1, lower.find_first_of(",)", comma + 1) - comma - 1)
                : "";
        if (switches.find('n') == std::string::npos) {
            return "$read without n evaluates the line";
        }
    }
    // Walk the statements of the line: each starts after "{", "|", "}",
    // "else", or the condition of if/elseif/while; its first word is the command.
    std::size_t i = 0;
    while (i < words.size()) {
        const std::string word = Lower(words[i]);
        if (word == "{" || word == "}" || word == "|" || word == "else") {
            ++i;
            continue;
        }
        if (word == "if" || word == "elseif" || word == "while") {
            // Skip the condition; "||" and "&&" join further ones to it.
            int depth = 0;
            for (++i; i < words.size(); ++i) {
                for (const char c : words[i]) {
                    depth += c == '(' ? 1 : c == ')' ? -1 : 0;
                }
                const bool joiner = words[i] == "||" || words[i] == "&&";
                const bool joined =
                    i + 1 < words.size() && (words[i + 1] == "||" || words[i + 1] == "&&");
                if (depth == 0 && !joiner && !joined) {
                    break;
                }
            }
            ++i;
            continue;
        }
        std::string command = word;
        command.erase(0, command.find_first_not_of("/."));
        if (command.empty() || command[0] == '%' || command[0] == '$') {
            return "command named by a variable";
        }
        // The rest of the statement.
        std::size_t end = i + 1;
        while (end < words.size() && words[end] != "|" && words[end] != "}") {
            ++end;
        }
        // "scid N" and "scid -r" only switch connection; with a command, or
        // with switches that run one, they evaluate it.
        if (command == "scon" || command == "scid") {
            const bool switchOnly =
                end == i + 2 && (words[i + 1] == "-r" || words[i + 1][0] != '-');
            if (!switchOnly) {
                return "/scon and /scid evaluate their command";
            }
        }
        if (command.rfind("timer", 0) == 0) {
            // timer[name] [-switches] repetitions interval command
            std::size_t at = i + 1;
            while (at < end && words[at][0] == '-') {
                ++at;
            }
            for (std::size_t k = at + 2; k < end; ++k) {
                if (words[k].find_first_of("%$") != std::string::npos) {
                    return "/timer evaluates its command when it fires";
                }
            }
        }
        i = end;
    }
    return "";
}

// "line N: problem" for each unsafe line.
std::vector<std::string> Findings(const std::string& script) {
    std::vector<std::string> findings;
    const std::vector<std::string> lines = Lines(script);
    for (std::size_t n = 0; n < lines.size(); ++n) {
        const std::string problem = Problem(lines[n]);
        if (!problem.empty()) {
            findings.push_back("line " + std::to_string(n + 1) + ": " + problem + ": " + lines[n]);
        }
    }
    return findings;
}

TEST(ScriptSafety, EachUnsafeFormIsFound) {
    const struct {
        const char* line;
        const char* problem;
    } cases[] = {
        {"echo -a - %pname [ $+ %pclan $+ ] ( $+ %pping ms)", "evaluation bracket"},
        {"  var %x = [ [ %name ] ]", "evaluation bracket"},
        {"echo -a $eval(%name, 2)", "$eval or $()"},
        {"echo -a $(%name, 2)", "$eval or $()"},
        {"%command %args", "command named by a variable"},
        {"  $+(ec, ho) -a %name", "command named by a variable"},
        {"if (%x) { %cmd }", "command named by a variable"},
        {"if (%a == 1) || (%b == 2) $dll(x.dll, y, %z)", "command named by a variable"},
        {"echo -a ok | %next", "command named by a variable"},
        {"else { .$cmd }", "command named by a variable"},
        {"scon -a echo -a %name", "/scon and /scid evaluate their command"},
        {"  .scid 2 msg #q4 %map", "/scon and /scid evaluate their command"},
        {"scid -a echo -a %name", "/scon and /scid evaluate their command"},
        {"if (%cid) { scid %cid msg %channel %text }", "/scon and /scid evaluate their command"},
        {"var %address = $read(%file, %i)", "$read without n evaluates the line"},
        {"var %address = $read(%file, t, %i)", "$read without n evaluates the line"},
        {".timerq4velder -o 0 1 q4.collect %ticket", "/timer evaluates its command when it fires"},
        {".timer 1 5 echo -a %name", "/timer evaluates its command when it fires"},
        {"timerq4 -m 0 500 msg #q4 $hget(q4, map)", "/timer evaluates its command when it fires"},
        {"if (1) { .timerx 1 1 q4.poll %address }", "/timer evaluates its command when it fires"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.problem, Problem(c.line)) << c.line;
    }
}

TEST(ScriptSafety, SafeFormsPass) {
    const char* cases[] = {
        "; a comment may say [ $eval( $( %cmd",
        "echo -a - %pname $+($chr(91), %pclan, $chr(93))",
        "var %answer = $dll($velder.file, GetInfo, %address)",
        "if (%pclan == $null) || (%pclan == $chr(32)) { echo -a - %pname }",
        "else { msg $1 %text }",
        "while (%i <= %fields) {",
        ".timerq4watch 0 1 q4watch.tick",
        ".timerq4watch off",
        "if (!$timer(q4velder)) { .timerq4velder -o 0 1 q4velder.tick }",
        "scid %cid",
        "scid -r",
        "var %address = $read(%file, nt, %i)",
        "if (%purpose == info) { noop $q4info.show(%address, %answer) }",
        "on *:SIGNAL:q4velder: {",
        "alias -l velder.var {",
        "on *:UNLOAD: {",
        "  }",
    };
    for (const char* line : cases) {
        EXPECT_EQ("", Problem(line)) << line;
    }
}

TEST(ScriptSafety, TheScriptHasNoUnsafeLine) {
    const std::string script = ReadScript();
    ASSERT_NE(std::string::npos, script.find("alias q4info")) << "cannot read " VELDER_SCRIPT_PATH;
    const std::vector<std::string> findings = Findings(script);
    for (const std::string& finding : findings) {
        ADD_FAILURE() << finding;
    }
}

// mIRC answers a $dll call to a function the DLL lacks with an error the
// script never sees: every call must name an export the DLL has.
TEST(ScriptSafety, EveryDllCallNamesAnExport) {
    struct Dll {
        std::string call;
        std::vector<std::string> exports;
    };
    const Dll dlls[] = {
        {.call = "$dll($velder.file, ", .exports = {"GetInfo", "IsQuakeActive"}},
        {.call = "$dll($velder.async, ",
         .exports = {"QueryStart", "QueryResult", "QueryCancel", "ListStart", "ListResult"}},
    };
    const std::string script = ReadScript();
    std::size_t calls = 0;
    for (const Dll& dll : dlls) {
        for (std::size_t at = script.find(dll.call); at != std::string::npos;
             at = script.find(dll.call, at + 1)) {
            const std::size_t from = at + dll.call.size();
            const std::string name = script.substr(from, script.find(',', from) - from);
            EXPECT_NE(std::find(dll.exports.begin(), dll.exports.end(), name), dll.exports.end())
                << name;
            ++calls;
        }
    }
    EXPECT_GE(calls, 6u) << "the script's DLL calls were not found";
}

// --- mIRC's token identifiers, as documented ----------------------------
// A token is a run of text between two delimiters; empty runs are not
// tokens, so "a,,b" has two. Positions count from 1. Text comparison in
// $findtok and $replace ignores case.

std::vector<std::string> Tokens(const std::string& text, char c) {
    std::vector<std::string> tokens;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(c, start);
        if (end == std::string::npos) {
            end = text.size();
        }
        if (end > start) {
            tokens.push_back(text.substr(start, end - start));
        }
        start = end + 1;
    }
    return tokens;
}

std::string Gettok(const std::string& text, std::size_t n, char c) {
    const auto tokens = Tokens(text, c);
    return n >= 1 && n <= tokens.size() ? tokens[n - 1] : "";
}

std::size_t Numtok(const std::string& text, char c) {
    return Tokens(text, c).size();
}

std::size_t Findtok(const std::string& text, const std::string& token, char c) {
    const auto tokens = Tokens(text, c);
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        if (Lower(tokens[i]) == Lower(token)) {
            return i + 1;
        }
    }
    return 0;
}

std::string Replace(const std::string& text, const std::string& from, const std::string& to) {
    std::string out;
    std::size_t at = 0;
    for (std::size_t hit; (hit = text.find(from, at)) != std::string::npos;
         at = hit + from.size()) {
        out += text.substr(at, hit - at) + to;
    }
    return out + text.substr(at);
}

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos;
         at = text.find(part, at + part.size())) {
        ++n;
    }
    return n;
}

TEST(TokenModel, FollowsMircsRules) {
    EXPECT_EQ((std::vector<std::string>{"a", "b"}), Tokens(",a,,b,", ','));
    EXPECT_EQ("b", Gettok("a,,b", 2, ','));
    EXPECT_EQ("", Gettok("a,,b", 3, ','));
    EXPECT_EQ(3u, Numtok("a, ,b,", ','));
    EXPECT_EQ(3u, Findtok("si_name,Arena,SI_MAP,q4dm1", "si_map", ','));
    EXPECT_EQ(0u, Findtok("si_name,Arena", "si_map", ','));
    // One round leaves a pair behind in a run of three; a second fills it.
    EXPECT_EQ("x- --y", Replace("x---y", "--", "- -"));
    EXPECT_EQ("x- - -y", Replace(Replace("x---y", "--", "- -"), "--", "- -"));
    EXPECT_EQ(2u, Count("x,,x", ","));
}

// --- the script's reading steps ----------------------------------------
// Each function below takes the steps of the script's alias of the same
// name; kSteps lists those lines as the script has them, so that a change
// to the script that is not made here too fails ModelledStepsAreTheScripts.

const char kFF[] = "\xFF";
const char kFE[] = "\xFE";

const struct Step {
    const char* line;
    std::size_t times;
} kSteps[] = {
    {"if ($1 == $null) || ($1 === $2) { return silent }", 1},
    {"if ($1 === 9999) { return unreadable }", 1},
    {"var %body = $mid($1, 5)", 1},
    {"var %body = $replace(%body, $chr(255) $+ $chr(255), $chr(255) $chr(255))", 2},
    {"if ($2 == server) { return $gettok(%body, 1, 254) }", 1},
    {"if ($count(%body, $chr(254)) == 0) { return }", 1},
    {"return $gettok(%body, 2, 254)", 1},
    {"var %marks = $count($mid($1, 5), $chr(254))", 1},
    {"if (%marks == 0) { return not_reached }", 1},
    {"if (%marks > 1) { return complete }", 1},
    {"var %players = $velder.section($1, players)", 1},
    {"if (%players == $null) { return complete }", 1},
    {"if ($right(%players, 1) != $chr(255)) { return cut }", 1},
    {"if ($calc($numtok(%players, 255) % 3) != 0) { return cut }", 1},
    {"var %at = $calc($numtok($1, 255) - 1)", 1},
    {"if ($gettok($1, %at, 255) === $2) { return $gettok($1, $calc(%at + 1), 255) }", 1},
    {"dec %at 2", 1},
};

// $velder.outcome(answer, address)
std::string Outcome(const std::string& answer, const std::string& address) {
    if (answer.empty() || answer == address) {
        return "silent";
    }
    if (answer == "9999") {
        return "unreadable";
    }
    return "answered";
}

// $velder.section(answer, server|players)
std::string Section(const std::string& answer, const std::string& which) {
    std::string body = answer.size() > 4 ? answer.substr(4) : "";
    body = Replace(body, std::string(kFF) + kFF, std::string(kFF) + " " + kFF);
    body = Replace(body, std::string(kFF) + kFF, std::string(kFF) + " " + kFF);
    if (which == "server") {
        return Gettok(body, 1, kFE[0]);
    }
    if (Count(body, kFE) == 0) {
        return "";
    }
    return Gettok(body, 2, kFE[0]);
}

// $velder.listed(answer)
std::string Listed(const std::string& answer) {
    const std::size_t marks = Count(answer.size() > 4 ? answer.substr(4) : "", kFE);
    if (marks == 0) {
        return "not_reached";
    }
    if (marks > 1) {
        return "complete";
    }
    const std::string players = Section(answer, "players");
    if (players.empty()) {
        return "complete";
    }
    if (players.back() != kFF[0]) {
        return "cut";
    }
    if (Numtok(players, kFF[0]) % 3 != 0) {
        return "cut";
    }
    return "complete";
}

// $velder.var(server part, name): names at every second field counted back
// from the one before the last, compared with case.
std::string Var(const std::string& server, const std::string& name) {
    for (long at = static_cast<long>(Numtok(server, kFF[0])) - 1; at >= 1; at -= 2) {
        if (Gettok(server, static_cast<std::size_t>(at), kFF[0]) == name) {
            return Gettok(server, static_cast<std::size_t>(at) + 1, kFF[0]);
        }
    }
    return "";
}

// The /q4info player loop: ping, name and clan from each group of three fields.
struct ScriptPlayer {
    std::string ping, name, clan;
    bool operator==(const ScriptPlayer&) const = default;
};
std::ostream& operator<<(std::ostream& out, const ScriptPlayer& p) {
    return out << "{" << p.ping << "|" << p.name << "|" << p.clan << "}";
}
std::vector<ScriptPlayer> Players(const std::string& players) {
    std::vector<ScriptPlayer> list;
    const std::size_t fields = Numtok(players, kFF[0]);
    for (std::size_t i = 1; i <= fields; i += 3) {
        list.push_back({Gettok(players, i, kFF[0]), Gettok(players, i + 1, kFF[0]),
                        Gettok(players, i + 2, kFF[0])});
    }
    return list;
}

TEST(ScriptReading, ModelledStepsAreTheScripts) {
    const std::vector<std::string> lines = Lines(ReadScript());
    ASSERT_FALSE(lines.empty()) << "cannot read " VELDER_SCRIPT_PATH;
    for (const Step& step : kSteps) {
        const auto n = std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
            const std::size_t first = line.find_first_not_of(' ');
            return first != std::string::npos && line.substr(first) == step.line;
        });
        EXPECT_EQ(step.times, static_cast<std::size_t>(n)) << step.line;
    }
}

// --- real answers ---------------------------------------------------------

using velder::Bytes;
using velder::plain::Options;
using velder::plain::Server;
using velder::standin::ServerSample;

// Cases that ask a stand-in server through GetInfo. Under qemu-i386 (see
// cmake/wine-run.sh) a 32-bit Wine program whose threads wait in system
// calls side by side crashes the emulator now and then; they are skipped
// there.
class ScriptAnswers : public testing::Test {
  protected:
    void SetUp() override {
        if (std::getenv("VELDER_UNDER_QEMU") != nullptr) {
            GTEST_SKIP() << "a stand-in thread beside GetInfo crashes qemu-i386 now and then";
        }
    }
};

// What $dll hands the script for a server: the result text on RESULT_DATA,
// the argument text unchanged otherwise; and that argument text.
struct Asked {
    std::string address;
    std::string answer;
};
Asked Ask(Options options) {
    velder::platform::LoadedLibrary library(velder::platform::BesideProgram(VELDER_LIBRARY_PATH));
    EXPECT_TRUE(library.Loaded()) << library.Error();
    const HostExport getInfo = reinterpret_cast<HostExport>(library.Find("GetInfo"));
    Server server;
    if (getInfo == nullptr || !server.Start(std::move(options))) {
        ADD_FAILURE() << "no GetInfo, or no server: " << server.Error();
        return {};
    }
    std::vector<char> data(kDataCapacity, '\0');
    const std::string address = server.Address();
    std::memcpy(data.data(), address.c_str(), address.size() + 1);
    getInfo(nullptr, nullptr, data.data(), nullptr, 0, 0);
    return {address, std::string(data.data())};
}

Bytes Reply(const ServerSample& sample) {
    return velder::standin::BuildStatusReply(sample);
}

std::string Answered(const Bytes& reply) {
    Options options;
    options.reply = reply;
    return Ask(options).answer;
}

// A server with an empty variable value before the last variable, a player
// whose name was only colour codes, one without a clan, and one with neither.
ServerSample Sample() {
    ServerSample sample;
    sample.name = "^1Big ^7Arena";
    sample.map = "mp/q4dm1";
    sample.vars = {{"g_note", ""}, {"g_version", "1.4.2"}};
    sample.players = {
        {"Kane", "Rhino", 32}, {"^1^2", "Red", 48}, {"Voss", "", 60}, {"^3", "^4", 5}};
    return sample;
}
const std::vector<ScriptPlayer> kSamplePlayers = {
    {"32", "Kane", "Rhino"}, {"48", " ", "Red"}, {"60", "Voss", " "}, {"5", " ", " "}};

// The same reply as a server on Linux sends it: another OS byte after the
// 0x20 that ends the players, so the closing mark never appears.
Bytes FromLinux(const ServerSample& sample) {
    ServerSample onLinux = sample;
    onLinux.osMask = 2;
    return Reply(onLinux);
}

// A sample whose player section starts `offset` bytes into the reply.
ServerSample PlayersAt(std::size_t offset) {
    ServerSample sample = Sample();
    sample.vars.push_back({"g_filler", ""});
    sample.vars.push_back({"g_last", "1"});
    const Bytes reply = Reply(sample);
    const std::string text(reply.begin(), reply.end());
    // Each record opens with 7 bytes: client number, ping, rate.
    const std::size_t records = text.find("Kane") - 7;
    sample.vars[sample.vars.size() - 2].second = std::string(offset - records, 'x');
    return sample;
}

TEST_F(ScriptAnswers, FieldsLandWhereTheScriptReadsThem) {
    ServerSample longCycle = Sample();
    longCycle.vars.push_back({"g_mapCycle", std::string(1000, 'm')});

    const struct {
        const char* what;
        Bytes reply;
        const char* listed;
        std::vector<ScriptPlayer> players;
        bool sample;  // made from Sample(): its variables are checked too
    } cases[] = {
        {"Windows server", Reply(Sample()), "complete", kSamplePlayers, true},
        {"Linux server", FromLinux(Sample()), "complete", kSamplePlayers, true},
        {"variables fill the 900 bytes", Reply(longCycle), "not_reached", {}, true},
        // The second record's name starts 25 bytes in; the window ends two
        // bytes into its clan.
        {"900 bytes end in the second player",
         Reply(PlayersAt(868)),
         "cut",
         {{"32", "Kane", "Rhino"}, {"48", " ", "Re"}},
         true},
        {"no players, Windows", Reply(ServerSample{}), "complete", {}, false},
        {"no players, Linux", FromLinux(ServerSample{}), "complete", {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string answer = Answered(c.reply);
        ASSERT_EQ("answered", Outcome(answer, "127.0.0.1")) << answer;
        ASSERT_GT(answer.size(), 4u);
        EXPECT_EQ(4, std::count_if(answer.begin(), answer.begin() + 4,
                                   [](unsigned char d) { return std::isdigit(d) != 0; }));
        EXPECT_EQ(c.listed, Listed(answer));
        EXPECT_EQ(c.players, Players(Section(answer, "players")));
        const std::string server = Section(answer, "server");
        if (c.sample) {
            EXPECT_EQ("Big Arena", Var(server, "si_name"));
            EXPECT_EQ("mp/q4dm1", Var(server, "si_map"));
            EXPECT_EQ(" ", Var(server, "g_note")) << "an empty value stays empty";
            EXPECT_EQ("1.4.2", Var(server, "g_version"));
        } else {
            EXPECT_EQ("Velder stand-in", Var(server, "si_name"));
        }
    }
}

// A value that reads like a variable's name, and a name that differs only in
// case, are never taken for the name.
TEST_F(ScriptAnswers, NamesMatchOnlyAtNamePositionsWithCase) {
    ServerSample sample = Sample();
    sample.name = "si_map";                      // si_name's value reads like a name
    sample.vars.push_back({"SI_MAP", "wrong"});  // after si_map, case differs
    const std::string server = Section(Answered(Reply(sample)), "server");
    EXPECT_EQ("mp/q4dm1", Var(server, "si_map"));
    EXPECT_EQ("si_map", Var(server, "si_name"));
    EXPECT_EQ("wrong", Var(server, "SI_MAP"));
    EXPECT_EQ("", Var(server, "mp/q4dm1")) << "a value is not a name";
    // mIRC's $findtok, as the script used it before, took the value for the name.
    EXPECT_NE("mp/q4dm1", Gettok(server, Findtok(server, "si_map", kFF[0]) + 1, kFF[0]));
}

// Without the script's step that makes empty fields visible, the same
// answer misreads: the point of the test above is that real answers have
// empty fields at all.
TEST_F(ScriptAnswers, PlainGettokWouldMisreadTheSameAnswer) {
    const std::string answer = Answered(Reply(Sample()));
    const std::string raw = Gettok(answer.substr(4), 1, kFE[0]);
    const std::size_t at = Findtok(raw, "g_note", kFF[0]);
    ASSERT_NE(0u, at);
    EXPECT_EQ("g_version", Gettok(raw, at + 1, kFF[0]));
    const std::string players = Gettok(answer.substr(4), 2, kFE[0]);
    EXPECT_EQ("Red", Gettok(players, 5, kFF[0])) << "the second player's name field is gone";
}

TEST_F(ScriptAnswers, UnreadableAndSilentServersAreToldApart) {
    Options empty;
    empty.reply = Bytes();
    const Asked unreadable = Ask(empty);
    EXPECT_EQ("9999", unreadable.answer);
    EXPECT_EQ("unreadable", Outcome(unreadable.answer, unreadable.address));

    const Asked none = Ask(Options{});
    EXPECT_EQ(none.address, none.answer) << "the argument text, unchanged";
    EXPECT_EQ("silent", Outcome(none.answer, none.address));
    EXPECT_EQ("silent", Outcome("", none.address)) << "what $dll gives when there is no result";
}

}  // namespace
