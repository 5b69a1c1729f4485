// Guards for mirc/velder.mrc, since mIRC itself cannot run here.
//
// ScriptSafety reads the script and fails on any line that could let server
// text be evaluated: evaluation brackets, $eval or $(), /scon or /scid given
// a command (switching connection alone is allowed), $read without its n
// switch, a /timer whose command holds a variable, or a command whose name
// comes from a variable or identifier. It reads every line, so new handlers
// and timers are checked as they are added.
//
// ScriptReading runs the script's own reading and display aliases (through
// ScriptRunner) on recorded answers, the result texts the library makes of
// sample replies, and checks that every field lands where the script reads
// it and shows it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "mirc/tests/script_runner.h"
#include "query/reply_transcription.h"
#include "standin/status_reply.h"

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
// Why one item of a menu block ("label : command") could evaluate text a
// second time: its label is evaluated each time the menu opens, so it holds
// no variable; its command is a line like any other.
std::string MenuProblem(const std::string& line) {
    const std::size_t colon = line.find(':');
    const std::string label = line.substr(0, colon);
    if (label.find('%') != std::string::npos) {
        return "a menu label that holds a variable";
    }
    return colon == std::string::npos ? "" : Problem(line.substr(colon + 1));
}

std::vector<std::string> Findings(const std::string& script) {
    std::vector<std::string> findings;
    const std::vector<std::string> lines = Lines(script);
    bool menu = false;
    for (std::size_t n = 0; n < lines.size(); ++n) {
        const std::string& line = lines[n];
        const bool opens = line.rfind("menu ", 0) == 0;
        menu = opens || (menu && line != "}");
        const std::string problem = menu && !opens ? MenuProblem(line) : Problem(line);
        if (!problem.empty()) {
            findings.push_back("line " + std::to_string(n + 1) + ": " + problem + ": " + line);
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
    EXPECT_EQ("a menu label that holds a variable", MenuProblem("  Join %name : q4join x"));
    EXPECT_EQ("command named by a variable", MenuProblem("  Join : %command"));
    EXPECT_EQ("", MenuProblem("  $iif($q4browse.picked, Copy address) : q4browse.act copy"));
    EXPECT_EQ("", MenuProblem("  dclick: q4browse.act players"));
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

// --- the script's aliases on recorded answers ---------------------------

using velder::Bytes;
using velder::mirc::ScriptRunner;
using velder::standin::ServerSample;

const char kFF[] = "\xFF";
const char kFE[] = "\xFE";

// What GetInfo leaves in mIRC's buffer for `reply`: a round trip of 12 ms,
// then the transcribed reply.
std::string Answer(const Bytes& reply, int roundTripMs = 12) {
    char text[4096];
    std::snprintf(text, sizeof text, "%04d", roundTripMs);
    const std::size_t n =
        velder::TranscribeReply(reinterpret_cast<const unsigned char*>(reply.data()), reply.size(),
                                text + 4, sizeof text - 4);
    return std::string(text, 4 + n);
}

Bytes Reply(const ServerSample& sample) {
    return velder::standin::BuildStatusReply(sample);
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

// The same reply as a server on Linux sends it: another OS byte after the
// 0x20 that ends the players, so the closing mark never appears.
Bytes FromLinux(ServerSample sample) {
    sample.osMask = 2;
    return Reply(sample);
}

// A sample whose player section starts `offset` bytes into the reply.
ServerSample PlayersAt(std::size_t offset) {
    ServerSample sample = Sample();
    sample.vars.push_back({"g_filler", ""});
    sample.vars.push_back({"g_last", "1"});
    const Bytes reply = Reply(sample);
    // Each record opens with 7 bytes: client number, ping, rate.
    const std::size_t records = reply.find("Kane") - 7;
    sample.vars[sample.vars.size() - 2].second = std::string(offset - records, 'x');
    return sample;
}

class ScriptReading : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(script_.Has("q4info.show")) << "cannot read " VELDER_SCRIPT_PATH;
    }
    void TearDown() override {
        for (const std::string& error : script_.errors) {
            ADD_FAILURE() << error;
        }
    }
    std::string Call(const std::string& alias, const std::vector<std::string>& args) {
        return script_.Call(alias, args);
    }

    ScriptRunner script_{ReadScript()};
};

// The lines /q4info shows, the variables it reads, and how much of the
// player list it says the answer holds.
TEST_F(ScriptReading, FieldsLandWhereTheScriptReadsAndShowsThem) {
    const std::string kHead =
        "echo -a \x02"
        "Big Arena\x02 (127.0.0.1:28004) - mp/q4dm1 - DM - ";
    const std::vector<std::string> kSampleLines = {
        kHead + "4/16 players - 12 ms", "echo -a - Kane [Rhino] (32 ms)",
        "echo -a - (no name) [Red] (48 ms)", "echo -a - Voss (60 ms)",
        "echo -a - (no name) (5 ms)"};
    ServerSample longCycle = Sample();
    longCycle.vars.push_back({"g_mapCycle", std::string(1000, 'm')});
    const std::string kEmpty =
        "echo -a \x02Velder stand-in\x02 (127.0.0.1:28004) - mp/q4dm1 - DM - 0/16 players - 12 ms";
    // A player named with every byte value: the answer then holds every byte
    // an answer can (0x20 to 0x7F, the escapes, 0xFE and 0xFF), and the
    // name arrives whole, each unprintable byte as _ and two hex digits.
    ServerSample everyByte = Sample();
    std::string everyName;
    std::string everyShown;
    for (int value = 1; value <= 255; ++value) {
        everyName.push_back(static_cast<char>(value));
        char escaped[4];
        std::snprintf(escaped, sizeof escaped, "_%02x", value);
        everyShown += value >= 0x20 && value <= 0x7F ? std::string(1, static_cast<char>(value))
                                                     : std::string(escaped);
    }
    everyByte.players = {{everyName, "Rhino", 32}, {"Voss", "", 60}};
    ServerSample sums;  // text that reads "number operator number"
    sums.name = "24 / 7";
    sums.players = {{"1 - 1", "", 40}};
    ServerSample lastEmpty = Sample();  // the variables' closing zero is taken for a record byte
    lastEmpty.vars.push_back({"si_serverURL", ""});

    const struct {
        const char* what;
        Bytes reply;
        const char* listed;
        std::vector<std::string> lines;  // what /q4info shows
        bool sample;                     // made from Sample(): its variables are checked too
    } cases[] = {
        {"Windows server", Reply(Sample()), "complete", kSampleLines, true},
        {"Linux server", FromLinux(Sample()), "complete", kSampleLines, true},
        {"variables fill the 900 bytes",
         Reply(longCycle),
         "not_reached",
         {kHead + "?/16 players - 12 ms",
          "echo -ac info * no player list: the server's variables filled the 900 bytes that are "
          "read"},
         true},
        // The second record's name starts 25 bytes in; the window ends two
        // bytes into its clan.
        {"900 bytes end in the second player",
         Reply(PlayersAt(868)),
         "cut",
         {kHead + "2/16 players - 12 ms", "echo -a - Kane [Rhino] (32 ms)",
          "echo -a - (no name) [Re] (48 ms)",
          "echo -ac info * the player list may be incomplete: the 900 bytes that are read ended "
          "inside it"},
         true},
        {"a name of every byte value",
         Reply(everyByte),
         "complete",
         {kHead + "2/16 players - 12 ms", "echo -a - " + everyShown + " [Rhino] (32 ms)",
          "echo -a - Voss (60 ms)"},
         true},
        {"no players, Windows", Reply(ServerSample{}), "complete", {kEmpty}, false},
        {"a name and a player that read as sums",
         Reply(sums),
         "complete",
         {"echo -a \x02"
          "24 / 7\x02 (127.0.0.1:28004) - mp/q4dm1 - DM - 1/16 players - 12 ms",
          "echo -a - 1 - 1 (40 ms)"},
         false},
        {"the last variable empty",
         Reply(lastEmpty),
         "unreadable",
         {kHead + "?/16 players - 12 ms",
          "echo -ac info * the players could not be read: the server's last variable is empty, "
          "which shifts the player list in its reply"},
         true},
        {"no players, Linux", FromLinux(ServerSample{}), "complete", {kEmpty}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string answer = Answer(c.reply);
        script_.commands.clear();
        Call("q4info.show", {"127.0.0.1:28004", answer});
        EXPECT_EQ(c.lines, script_.commands);
        EXPECT_EQ(c.listed, Call("velder.listed", {answer}));
        const std::string server = Call("velder.section", {answer, "server"});
        if (c.sample) {
            EXPECT_EQ(" ", Call("velder.var", {server, "g_note"})) << "an empty value stays empty";
            EXPECT_EQ("1.4.2", Call("velder.var", {server, "g_version"}));
        }
    }
}

TEST_F(ScriptReading, OutcomesTellAnswersFromUnreadableAndSilentServers) {
    const struct {
        std::string answer;  // what $dll gave
        const char* outcome;
    } cases[] = {
        {Answer(Reply(Sample())), "answered"},
        {"9999", "unreadable"},         // a refused port, an unreadable reply
        {"127.0.0.1:28004", "silent"},  // the argument text, unchanged
        {"", "silent"},                 // no result at all
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.outcome, Call("velder.outcome", {c.answer, "127.0.0.1:28004"})) << c.answer;
    }
}

// A value that reads like a variable's name, and a name that differs only in
// case, are never taken for the name.
TEST_F(ScriptReading, NamesMatchOnlyAtNamePositionsWithCase) {
    ServerSample sample = Sample();
    sample.name = "si_map";                      // si_name's value reads like a name
    sample.vars.push_back({"SI_MAP", "wrong"});  // after si_map, case differs
    const std::string server = Call("velder.section", {Answer(Reply(sample)), "server"});
    EXPECT_EQ("mp/q4dm1", Call("velder.var", {server, "si_map"}));
    EXPECT_EQ("si_map", Call("velder.var", {server, "si_name"}));
    EXPECT_EQ("wrong", Call("velder.var", {server, "SI_MAP"}));
    EXPECT_EQ("", Call("velder.var", {server, "mp/q4dm1"})) << "a value is not a name";
}

// Without the script's step that makes empty fields visible, the same
// answer misreads: real answers have empty fields, so the step matters.
TEST_F(ScriptReading, PlainGettokWouldMisreadTheSameAnswer) {
    const std::string answer = Answer(Reply(Sample()));
    const std::string raw = script_.Evaluate("$gettok($mid($1, 5), 1, 254)", {answer});
    EXPECT_EQ("g_version",
              script_.Evaluate("$gettok($1, $calc($findtok($1, g_note, 1, 255) + 1), 255)", {raw}));
    EXPECT_EQ("Red", script_.Evaluate("$gettok($gettok($mid($1, 5), 2, 254), 5, 255)", {answer}))
        << "the second player's name field is gone";
}

// A mIRC host in the runner: its version's line limit, $bits, AdiIRC or
// not, the clock, a file of servers, and velder-async.dll, which hands out
// tickets from 1 and answers each from `answers` by address (none: silent),
// refusing with busy past `room` queries at once.
struct Host {
    ScriptRunner script{ReadScript()};
    std::string version = "7.52", bits = "32", adiircexe, scriptdir = "C:\\mirc\\";
    long long now = 1765298520;                  // 16:42 UTC
    std::vector<std::string> servers;            // the file's lines
    std::map<std::string, std::string> answers;  // by address
    std::vector<std::string> tickets;            // the address each ticket asks
    std::vector<std::string> dlls;               // what $dll(<file>) finds loaded
    std::vector<std::string> paths;              // the file of each $dll call
    std::size_t room = 1000, collected = 0;
    std::vector<std::string> masters;  // each ListStart's masters
    std::string listResult;            // ListResult's answer; empty: the servers' count

    explicit Host(const std::string& hostVersion = "7.52") : version(hostVersion) {
        const auto text = [](const std::string* value) {
            return [value](const std::vector<std::string>&) { return *value; };
        };
        script.lineLimit = ScriptRunner::LineLimit(version);
        script.identifiers = {
            {"version", text(&version)},
            {"bits", text(&bits)},
            {"adiircexe", text(&adiircexe)},
            {"scriptdir", text(&scriptdir)},
            {"isfile", [](const auto&) { return "$true"; }},
            {"timer", [](const auto&) { return ""; }},
            {"ctime", [this](const auto&) { return std::to_string(now); }},
            {"lines", [this](const auto&) { return std::to_string(servers.size()); }},
            {"read", [this](const auto& a) { return servers.at(std::stoul(a.at(2)) - 1); }},
            {"dll", [this](const auto& a) { return Dll(a); }},
        };
    }
    std::string Dll(const std::vector<std::string>& a) {
        if (a.size() == 1) {
            return std::count(dlls.begin(), dlls.end(), a[0]) ? a[0] : "";
        }
        paths.push_back(a[0]);
        if (a.at(1) == "GetInfo") {
            return "9999";
        }
        if (a.at(1) == "ListStart") {
            const std::string& text = a.at(2);  // "q4velder <masters> <file>"
            const std::string file = " " + scriptdir + "velder-master.txt";
            EXPECT_TRUE(text.ends_with(file)) << text;
            masters.push_back(text.substr(9, text.size() - file.size() - 9));
            tickets.push_back("list");
            answers["list"] = listResult.empty() ? std::to_string(servers.size()) : listResult;
            return std::to_string(tickets.size());
        }
        if (a.at(1) == "QueryStart") {
            if (tickets.size() - collected >= room) {
                return "busy";
            }
            tickets.push_back(a.at(2).substr(a.at(2).find(' ') + 1));
            return std::to_string(tickets.size());
        }
        const std::string& address = tickets.at(std::stoul(a.at(2)) - 1);
        return answers.count(address) ? answers[address] : address;
    }
    // The signals of every ticket not yet fetched.
    void Collect() {
        while (collected < tickets.size()) {
            script.Call("q4.collect", {std::to_string(++collected)});
        }
    }
    // /q4browse with `args`, then the signals of what it started.
    void Browse(const std::vector<std::string>& args) {
        script.Call("q4browse", args);
        Collect();
    }
};

// /q4browse -a over 500 servers (a master's full list) on hosts with mIRC
// 6.32's and 7.52's line limits: every server has its line, and no line or
// variable passes the limit (the runner halts there, as mIRC does).
TEST(ScriptBrowse, FiveHundredServersStayWithinTheLineLimit) {
    for (const char* version : {"6.32", "7.52"}) {
        SCOPED_TRACE(version);
        Host host(version);
        for (int i = 0; i < 500; ++i) {
            host.servers.push_back("10.0." + std::to_string(i / 250) + "." +
                                   std::to_string(i % 250) + ":28004");
            host.answers[host.servers.back()] = Answer(Reply(ServerSample{}), i % 90 + 10);
        }
        host.script.Call("q4browse", {"-a", "servers.txt"});
        host.Collect();
        host.script.Call("q4velder.tick", {});
        EXPECT_EQ(501u, host.script.windows["@q4browse"].size());
        EXPECT_EQ(host.script.errors, std::vector<std::string>{});
    }
}

// Three servers in @q4browse, opened from #clan on the second of two
// networks; the second server is selected and its menu item clicked.
// Whatever the item shows goes to @q4velder, never into the list.
TEST(ScriptBrowse, TheMenuActsOnTheSelectedServerOutsideTheList) {
    const std::string kGame = "C:\\Games\\Quake 4\\Quake4.exe";
    struct Row {
        const char* label;         // the menu item clicked
        std::string game;          // %q4velder.game, "" for none
        std::string check;         // evaluated after the click and the answers
        std::string value;         // what it gives
        std::string command = "";  // a command the click ran
    };
    const Row rows[] = {
        {"Watch in the active channel", "", "$hget(q4watch, 10.0.0.2:28004)", "#clan 60 0 NetB 2"},
        {"Show players", "", "$line(@q4velder, 2)", "- Kane [Rhino] (32 ms)"},
        {"dclick", "", "$line(@q4velder, 2)", "- Kane [Rhino] (32 ms)"},
        {"dclick", kGame, "$window(@q4velder)", "",
         "run -p \"" + kGame + "\" +connect 10.0.0.2:28004"},
        {"Copy address", "", "$line(@q4velder, 1)", "* /q4browse: 10.0.0.2:28004 copied",
         "clipboard 10.0.0.2:28004"},
        {"Set the game's path", "", "%q4velder.game", kGame},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label + (" " + row.game));
        Host host;
        ScriptRunner& script = host.script;
        script.identifiers["sfile"] = [&](const auto&) { return kGame; };
        script.connections = {{.cid = 1, .network = "NetA", .me = "kane", .channels = {"#q4"}},
                              {.cid = 2, .network = "NetB", .me = "kane", .channels = {"#clan"}}};
        script.active = "#clan";
        script.activeCid = 2;
        host.servers = {"10.0.0.1:28004", "10.0.0.2:28004", "10.0.0.3:28004"};
        for (const std::string& address : host.servers) {
            host.answers[address] = Answer(Reply(Sample()));
        }
        if (!row.game.empty()) {
            script.Call("q4game", {row.game});
        }
        script.Call("q4browse", {"-a", "servers.txt"});
        host.Collect();
        script.Call("q4velder.tick", {});
        const std::vector<std::string>& list = script.windows["@q4browse"];
        const auto at = std::find_if(list.begin(), list.end(), [](const std::string& line) {
            return line.find("10.0.0.2:28004") != line.npos;
        });
        ASSERT_NE(at, list.end());
        script.selected["@q4browse"] = static_cast<std::size_t>(at - list.begin()) + 1;
        script.Menu("@q4browse", row.label);
        host.Collect();
        EXPECT_EQ(row.value, script.Evaluate(row.check)) << testing::PrintToString(script.commands);
        if (!row.command.empty()) {
            EXPECT_NE(std::find(script.commands.begin(), script.commands.end(), row.command),
                      script.commands.end())
                << testing::PrintToString(script.commands);
        }
        EXPECT_EQ(4u, list.size()) << testing::PrintToString(list);
        EXPECT_EQ(script.errors, std::vector<std::string>{});
    }
}

// The selection stays on its server while answers come in and the order
// changes, and the menu sorts by players, ping, name or map.
TEST(ScriptBrowse, TheSelectionFollowsItsServerThroughRedrawsAndSorts) {
    Host host;
    ScriptRunner& script = host.script;
    const struct {
        const char* address;
        const char* name;
        const char* map;
        int players, roundTripMs;
    } servers[] = {{"10.0.0.1:28004", "Cc", "mp/q4dm2", 1, 30},
                   {"10.0.0.2:28004", "aa", "mp/q4dm3", 2, 90},
                   {"10.0.0.3:28004", "Bb", "mp/q4dm1", 0, 10}};
    for (const auto& server : servers) {
        ServerSample sample;
        sample.name = server.name;
        sample.map = server.map;
        sample.players.assign(server.players, {"Kane", "", 40});
        host.servers.push_back(server.address);
        host.answers[server.address] = Answer(Reply(sample), server.roundTripMs);
    }
    host.room = 1;  // one answer at a time
    script.Call("q4browse", {"-a", "servers.txt"});
    host.Collect();
    script.Call("q4velder.tick", {});
    script.selected["@q4browse"] = 2;  // the first server, alone in the list
    // The servers' numbers in the list's order after each step, and the
    // selected line's server.
    const struct {
        const char* menu;  // clicked before the answers of this step; "" for none
        const char* order;
    } steps[] = {{"", "2 1"},
                 {"", "2 1 3"},
                 {"Sort by ping", "3 1 2"},
                 {"Sort by name", "2 3 1"},
                 {"Sort by map", "3 1 2"},
                 {"Sort by players", "2 1 3"}};
    for (const auto& step : steps) {
        SCOPED_TRACE(step.order);
        if (*step.menu != 0) {
            script.Menu("@q4browse", step.menu);
        }
        host.Collect();
        script.Call("q4velder.tick", {});
        std::string order;
        for (std::size_t line = 2; line <= script.windows["@q4browse"].size(); ++line) {
            order += script.Evaluate("$hget(q4browse, row. $+ $1)", {std::to_string(line)}) + " ";
        }
        EXPECT_EQ(step.order + std::string(" "), order);
        EXPECT_EQ("10.0.0.1:28004", script.Evaluate("$hget(q4browse, line. $+ $q4browse.picked)"));
    }
    // Answers that leave the order as it is replace changed lines only.
    ServerSample again;
    again.name = "Cc";
    again.map = "mp/q4dm2";
    again.players.assign(1, {"Kane", "", 40});
    for (const int roundTripMs : {30, 35}) {
        script.commands.clear();
        script.Call("q4browse.answer", {"10.0.0.1:28004", Answer(Reply(again), roundTripMs), "1"});
        script.Call("q4velder.tick", {});
        EXPECT_EQ(roundTripMs == 35, std::count(script.commands.begin(), script.commands.end(),
                                                "rline @q4browse 3") == 1)
            << testing::PrintToString(script.commands);
        EXPECT_EQ(0, std::count(script.commands.begin(), script.commands.end(), "clear @q4browse"));
    }
    EXPECT_EQ(script.errors, std::vector<std::string>{});
}

// Closing @q4browse in the middle of a browse, or while the masters' list
// is fetched, sends no further query, and the timer stops once the running
// ones are in.
TEST(ScriptBrowse, ClosingTheListEndsTheBrowse) {
    for (const char* source : {"servers.txt", "-m"}) {
        SCOPED_TRACE(source);
        Host host;
        for (int i = 1; i <= 40; ++i) {
            host.servers.push_back("10.0.0." + std::to_string(i) + ":28004");
        }
        host.room = 16;
        host.script.Call("q4browse", {source});
        const std::size_t asked = host.tickets.size();
        host.script.windows.erase("@q4browse");
        host.script.Event("close", "@q4browse");
        host.Collect();
        host.script.Call("q4velder.tick", {});
        EXPECT_EQ(asked, host.tickets.size());
        EXPECT_EQ("", host.script.Evaluate("$window(@q4browse)"));
        EXPECT_EQ("timerq4velder off", host.script.commands.back());
        EXPECT_EQ(host.script.errors, std::vector<std::string>{});
    }
}

// Unloading the script from a folder with a space in its name unloads the
// DLL by its quoted path and leaves no table or window behind.
TEST(ScriptBrowse, UnloadLeavesNothingBehind) {
    Host host;
    host.scriptdir = "C:\\my scripts\\velder\\";
    host.dlls = {host.scriptdir + "velder-async.dll"};
    host.servers = {"10.0.0.1:28004"};
    host.script.Call("q4browse", {"-m"});
    host.Collect();
    ASSERT_EQ("@q4browse", host.script.Evaluate("$window(@q4browse)"));
    host.script.Event("unload", "");
    const auto& commands = host.script.commands;
    EXPECT_NE(std::find(commands.begin(), commands.end(),
                        "dll -u \"C:\\my scripts\\velder\\velder-async.dll\""),
              commands.end())
        << testing::PrintToString(commands);
    EXPECT_EQ("", host.script.Evaluate("$window(@q4browse) $hget(q4browse.lists) $hget(q4browse)"));
    EXPECT_EQ(host.script.errors, std::vector<std::string>{});
}

// Where $bits is 64 (AdiIRC's 64-bit build) the DLLs come from x64\; the
// refusal of $q4getinfo before mIRC 6.32 is for mIRC alone, since AdiIRC's
// $version is its own.
TEST(ScriptBrowse, HostsLoadTheDllsOfTheirBits) {
    const struct {
        const char* what;
        std::string bits, version, adiircexe, alias, path;  // path: the $dll file, "" for none
    } rows[] = {
        {"mIRC", "32", "7.52", "", "q4info", "C:\\mirc\\velder-async.dll"},
        {"AdiIRC, 64-bit", "64", "4.4", "C:\\AdiIRC\\AdiIRC.exe", "q4info",
         "C:\\mirc\\x64\\velder-async.dll"},
        {"AdiIRC, GetInfo", "64", "4.4", "C:\\AdiIRC\\AdiIRC.exe", "q4getinfo",
         "C:\\mirc\\x64\\velder.dll"},
        {"mIRC 6.31, GetInfo refused", "32", "6.31", "", "q4getinfo", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Host host(row.version);
        host.bits = row.bits;
        host.adiircexe = row.adiircexe;
        host.script.Call(row.alias, {"10.0.0.1:28004"});
        EXPECT_EQ(row.path.empty() ? std::vector<std::string>{} : std::vector{row.path},
                  host.paths);
        EXPECT_EQ(host.script.errors, std::vector<std::string>{});
    }
}

// /q4watch in #q4 on NetA, the watch's connection, while the active
// connection is another network's: what changed goes to the channel through
// the paced queue, one line every two seconds, and waits while NetA is down.
TEST(ScriptWatch, ChangesGoToTheChannelOneLineEveryTwoSeconds) {
    Host host;
    ScriptRunner& script = host.script;
    script.connections = {{.cid = 1, .network = "NetA", .me = "kane", .channels = {"#q4"}},
                          {.cid = 2, .network = "NetB", .me = "kane", .channels = {}}};
    const std::string kAt = "10.0.0.1:28004";
    const std::string kSay = "msg #q4 Quake 4 " + kAt;
    ServerSample one;
    one.name = "1 - 1";
    one.players = {{"Kane", "", 40}};
    ServerSample two = one;
    two.map = "mp/q4dm2";
    two.players.push_back({"voss", "", 50});
    const struct {
        long long now;
        std::string answer;             // what the query due now gives; "" for none due
        const char* status;             // NetA's
        std::vector<std::string> said;  // every line sent so far
    } steps[] = {
        {1000, Answer(Reply(one)), "connected", {kSay + " is up: 1 - 1 - mp/q4dm1 - 1 players"}},
        {1030, Answer(Reply(two)), "connected", {kSay + " map is now mp/q4dm2"}},
        {1032, "", "connected", {kSay + " joined: voss"}},
        {1060, kAt, "disconnected", {}},
        {1062, "", "connected", {kSay + " is down: no answer"}},
    };
    script.activeCid = 1;
    script.Call("q4watch", {kAt, "#q4", "30"});
    script.activeCid = 2;
    std::vector<std::string> said;
    for (const auto& step : steps) {
        SCOPED_TRACE(step.now);
        host.now = step.now;
        host.answers[kAt] = step.answer;
        script.connections[0].status = step.status;
        script.commands.clear();
        script.Call("q4velder.tick", {});
        host.Collect();
        script.Call("q4velder.tick", {});
        std::vector<std::string> sent;
        std::copy_if(script.commands.begin(), script.commands.end(), std::back_inserter(sent),
                     [](const std::string& c) { return c.rfind("msg ", 0) == 0; });
        EXPECT_EQ(step.said, sent);
    }
    EXPECT_EQ(3u, host.tickets.size()) << "asked at 1000, 1030 and 1060";
    EXPECT_EQ(script.errors, std::vector<std::string>{});
}

// A watch's @window that the user closed is opened again for its next line.
TEST(ScriptWatch, AClosedWindowOfAWatchOpensAgain) {
    Host host;
    host.answers["10.0.0.1:28004"] = Answer(Reply(ServerSample{}));
    host.script.Call("q4watch", {"10.0.0.1:28004", "@q4w"});
    host.script.windows.erase("@q4w");
    host.script.Call("q4velder.tick", {});
    host.Collect();
    EXPECT_EQ((std::vector<std::string>{"Quake 4 10.0.0.1:28004 is up: Velder stand-in - mp/q4dm1 "
                                        "- 0 players"}),
              host.script.windows["@q4w"]);
    EXPECT_EQ(host.script.errors, std::vector<std::string>{});
}

// 200 servers from a list, 20 of them with players: /q4browse shows those
// 20 first, most players first, then by round trip, in aligned columns;
// -a adds the empty ones after them; /q4find finds a player by part of a
// name. The DLL answers through the test: every query at once.
TEST(ScriptBrowse, BrowseShowsWhoPlaysWhereAndFindFindsThem) {
    Host host;
    struct Listed {
        std::string address;
        int players, maxPlayers, roundTripMs;
    };
    std::vector<Listed> servers;
    std::map<std::string, std::string> answers;  // by address
    for (int i = 0; i < 200; ++i) {
        ServerSample sample;
        sample.name = "Server " + std::to_string(i);
        const int players = i % 10 == 3 ? i / 10 % 4 + 1 : 0;
        sample.maxPlayers = i == 43 ? players : 16;
        for (int p = 0; p < players; ++p) {
            sample.players.push_back({p == 0 ? "Kane" + std::to_string(i) : "Voss", "", 40});
        }
        servers.push_back({"127.0.0.1:" + std::to_string(27000 + i), players, sample.maxPlayers,
                           (i * 37) % 90 + 10});
        answers[servers.back().address] = Answer(Reply(sample), servers.back().roundTripMs);
    }
    for (const Listed& listed : servers) {
        host.servers.push_back(listed.address);
    }
    host.answers = answers;
    ScriptRunner& script_ = host.script;
    const auto Call = [&](const std::string& alias, const std::vector<std::string>& args) {
        return script_.Call(alias, args);
    };
    Call("q4browse", {"servers.txt"});
    ASSERT_EQ(servers.size(), host.tickets.size()) << "every server is asked";
    host.Collect();
    Call("q4browse.draw", {});

    std::vector<Listed> playing;
    std::copy_if(servers.begin(), servers.end(), std::back_inserter(playing),
                 [](const Listed& s) { return s.players > 0; });
    std::stable_sort(playing.begin(), playing.end(), [](const Listed& a, const Listed& b) {
        return std::pair(-a.players, a.roundTripMs) < std::pair(-b.players, b.roundTripMs);
    });
    const std::vector<std::string>& lines = script_.windows["@q4browse"];
    ASSERT_EQ(1 + playing.size(), lines.size());
    EXPECT_EQ(
        "200 servers listed, 200 answered, 50 players on 20 servers - list of 16:42 - "
        "empty servers hidden (menu or /q4browse -a shows them)",
        script_.titlebars["@q4browse"]);
    const std::size_t column = lines[0].find("address");
    for (std::size_t r = 0; r < playing.size(); ++r) {
        const std::string& line = lines[1 + r];
        EXPECT_EQ(column, line.find(playing[r].address)) << line;
        EXPECT_EQ(0u, line.find(std::to_string(playing[r].players) + "/" +
                                std::to_string(playing[r].maxPlayers)))
            << line;
        EXPECT_EQ(playing[r].address == "127.0.0.1:27043", line.find("full") != line.npos) << line;
    }

    Call("q4browse.toggle", {});  // the menu's "Show empty servers"
    ASSERT_EQ(1 + servers.size(), lines.size());
    EXPECT_EQ(column, lines[playing.size()].find(playing.back().address));
    EXPECT_NE(std::string::npos, lines[1 + playing.size()].find("0/16")) << "empty ones after";

    script_.commands.clear();
    script_.Activate("Status Window");  // typed there: @q4browse has no edit box
    Call("q4find", {"ANE43"});
    Call("q4find", {"nobody"});
    EXPECT_EQ((std::vector<std::string>{
                  "echo -a - Kane43 on Server 43 (127.0.0.1:27043) - mp/q4dm1 - 1/1 players",
                  "echo -ac info * /q4find: no player of the last browse has nobody in the name"}),
              script_.commands);
    EXPECT_EQ(script_.errors, std::vector<std::string>{});
}

// /q4browse -m in the runner: the list file holds two servers, and every
// server query is refused as busy, so only the masters' answers count.
struct MasterBrowse : Host {
    MasterBrowse() {
        servers = {"10.0.0.1:28004", "10.0.0.2:28004"};
        room = 0;
    }
};

// /q4browse -m: one ListStart naming every master to ask (both default
// ones unless told), and what ListResult's answer comes to: the status line
// naming the masters that gave the list and those that did not, or the
// line saying why there is none. The answer is shown as text, never run.
TEST(ScriptMasters, OneListStartAndTheMastersThatAnsweredAreNamed) {
    const std::string kBoth = "master.quakehub.net:27650,q4master.idsoftware.com:27650";
    const std::string kDown = ": the master is down, or it lists no server";
    const std::string kNoList = " gave no list: no answer" + kDown;
    const std::string kServers = "2 servers listed, 0 answered, 0 players on 0 servers - list of ";
    const std::string kHidden = " - empty servers hidden (menu or /q4browse -a shows them)";
    const std::string kRefused =
        "echo -ac info * /q4browse: give the master as host or host:port, for example /q4browse "
        "-m master.quakehub.net:27650, or up to four divided by commas";
    struct Row {
        const char* name;
        std::vector<std::string> args;  // to /q4browse
        std::string asked;              // ListStart's masters; empty: no ListStart
        std::string result = "";        // ListResult's answer
        std::string line;               // in @q4browse or echoed, once the answer is in
    };
    const Row rows[] = {
        {.name = "the default pair, one answering",
         .args = {"-m"},
         .asked = kBoth,
         .result = "2 answered:master.quakehub.net:27650",
         .line = kServers +
                 "16:42 - from master.quakehub.net:27650 - no answer from "
                 "q4master.idsoftware.com:27650" +
                 kDown + kHidden},
        {.name = "the default pair, both answering",
         .args = {"-m"},
         .asked = kBoth,
         .result = "2 answered:" + kBoth,
         .line = kServers +
                 "16:42 - from master.quakehub.net:27650, q4master.idsoftware.com:27650" + kHidden},
        {.name = "the default pair, neither answering",
         .args = {"-m"},
         .asked = kBoth,
         .result = "no_answer",
         .line = "masters master.quakehub.net:27650, q4master.idsoftware.com:27650" + kNoList},
        {.name = "one named master",
         .args = {"-a", "-m", "127.0.0.1"},
         .asked = "127.0.0.1:27650",
         .result = "2",
         .line = kServers + "16:42 - from 127.0.0.1:27650"},
        {.name = "named masters, one twice",
         .args = {"-m", "a.example,b.example:27651,A.example"},
         .asked = "a.example:27650,b.example:27651",
         .result = "2 answered:b.example:27651",
         .line = kServers + "16:42 - from b.example:27651 - no answer from a.example:27650" +
                 kDown + kHidden},
        {.name = "an answer holding script text",
         .args = {"-m"},
         .asked = kBoth,
         .result = "2 answered:$me|%x,//echo",
         .line = kServers + "16:42 - from $me|%x, //echo - no answer from " +
                 "master.quakehub.net:27650, q4master.idsoftware.com:27650" + kDown + kHidden},
        {.name = "five masters", .args = {"-m", "a,b,c,d,e"}, .asked = "", .line = kRefused},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        MasterBrowse browse;
        browse.listResult = row.result;
        browse.Browse(row.args);
        EXPECT_EQ(browse.masters,
                  row.asked.empty() ? std::vector<std::string>{} : std::vector{row.asked});
        const std::vector<std::string>& window = browse.script.windows["@q4browse"];
        const std::vector<std::string>& commands = browse.script.commands;
        EXPECT_TRUE(std::find(window.begin(), window.end(), row.line) != window.end() ||
                    browse.script.titlebars["@q4browse"] == row.line ||
                    std::find(commands.begin(), commands.end(), row.line) != commands.end())
            << "no line " << row.line << "\nwindow: " << testing::PrintToString(window)
            << "\ncommands: " << testing::PrintToString(commands);
        EXPECT_EQ(browse.script.errors, std::vector<std::string>{});
    }
}

// A list from masters is used again for five minutes: the same masters are
// not asked again unless -f is given, and other masters are.
TEST(ScriptMasters, TheListOfTheSameMastersIsUsedForFiveMinutes) {
    MasterBrowse browse;
    browse.listResult = "2 answered:master.quakehub.net:27650";
    const std::string kBoth = "master.quakehub.net:27650,q4master.idsoftware.com:27650";
    const struct {
        std::vector<std::string> args;
        std::string now;
        std::vector<std::string> asked;  // every ListStart so far
    } steps[] = {
        {{"-m"}, "1765298520", {kBoth}},
        {{"-m"}, "1765298819", {kBoth}},
        {{"-r"}, "1765298819", {kBoth}},
        {{"-m", "master.quakehub.net"}, "1765298819", {kBoth, "master.quakehub.net:27650"}},
        {{"-m"}, "1765298819", {kBoth, "master.quakehub.net:27650", kBoth}},
        {{"-f", "-m"}, "1765298830", {kBoth, "master.quakehub.net:27650", kBoth, kBoth}},
        {{"-m"}, "1765299131", {kBoth, "master.quakehub.net:27650", kBoth, kBoth, kBoth}},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(testing::PrintToString(step.args) + " at " + step.now);
        browse.now = std::stoll(step.now);
        browse.Browse(step.args);
        EXPECT_EQ(browse.masters, step.asked);
    }
    EXPECT_EQ(browse.script.errors, std::vector<std::string>{});
}

// The runner's identifiers, as mIRC's help describes them: a token is a run
// of text between delimiters, empty runs are not tokens, text comparison
// ignores case unless the name ends in cs.
TEST(ScriptRunner, IdentifiersFollowMircsRules) {
    ScriptRunner script("");
    const struct {
        const char* text;
        const char* value;
    } cases[] = {
        {"$gettok(a $+ $chr(44) $+ $chr(44) $+ b, 2, 44)", "b"},
        {"$gettok(a.b.c, 2-, 46)", "b.c"},
        {"$gettok(a.b.c, -1, 46)", "c"},
        {"$numtok(a $+ $chr(44) $+ $chr(32) $+ $chr(44) $+ b, 44)", "3"},
        {"$findtok(si_name.x.SI_MAP.y, si_map, 1, 46)", "3"},
        {"$replace(x---y, --, - -)", "x- --y"},
        {"$count(aXa, x)", "1"},
        {"$calc((7 + 2) % 4 * 3)", "3"},
        {"$calc(0012)", "12"},
        {"$int($calc(7 / 3))", "2"},
        {"$iif(2 > 10, big, small)", "small"},
        {"$mid(abcdef, 3, 2) $+ $left(abcdef, -4) $+ $right(abcdef, 1)", "cdabf"},
        {"$+(a, $chr(32), b) c", "a b c"},
        {"$addtok(a.b, B, 46) $addtok(a.b, c, 46)", "a.b a.b.c"},
        {"$findtokcs(a.A, A, 1, 46) $findtok(a.A, A, 1, 46)", "2 1"},
        {"$puttok(a.b.c, x, 2, 46)", "a.x.c"},
        {"$iif(1, a, $nosuch)", "a"},  // only the branch taken is evaluated
        {"$iif((1) || ($nosuch), y, n) $iif((0) && ($nosuch), y, n)", "y n"},
        {"$iif(A !== a, y, n) $iif(A !=== a, y, n) $iif(b !isin abc, y, n)", "n y n"},
        {"$!q4getinfo", "$q4getinfo"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.value, script.Evaluate(c.text)) << c.text;
    }
    EXPECT_EQ(std::vector<std::string>{}, script.errors);
}

}  // namespace
