// Runs aliases, events and menu items of mirc/velder.mrc as mIRC would, for
// the part of its scripting language that the script uses, so that tests
// check the script's own lines on recorded answers instead of a copy of
// them in C++.
//
// Text is bytes: $chr(255) is the byte 0xFF. Lines are evaluated word by
// word as mIRC does: %variables, $identifiers with their arguments and
// properties, $+ joining its neighbours, and ( ) conditions joined by || and
// &&. Commands the runner does not carry out itself (run, timers, msg, ...)
// are kept in `commands`, evaluated, for the test to read; hash tables,
// %global variables, custom windows, connections and the active window it
// keeps as mIRC does. Identifiers that reach outside the script ($dll,
// $isfile, $ctime, ...) are the test's to give in `identifiers`. Anything it
// does not know is put in `errors`, never guessed at.
//
// Each word it models, and the page it follows (mIRC's help file, mirc.chm,
// by topic; "wiki" pages are the scripting wikis' limits pages):
//   line length limit    950 before 6.32, 4,150 from 6.32 (still so in
//                        7.52), 8,292 later in 7.x, 10,240 from 7.62; a
//                        longer evaluated line or variable halts the script:
//                        xise.nl/mirc/wiki/doku.php?id=limits,
//                        script.quakenet.org/wiki/Limits (6.32, 7.19),
//                        en.wikichip.org/wiki/mirc/line_lenght_limit, $maxlenl
//   /var, /set           "name = value"; a value "number operator number" is
//                        computed unless -n or -p: help "/var", "/set"
//   /inc /dec /hadd /hdel -w /hfree, $hget(t,N).item: help "Hash Tables"
//   if / elseif / else / while, ( ) || &&, operators == === != < > <= >= isin
//                        isnum isalnum ison ischan, ! negating an operator
//                        (!== is "not =="), conditions stopping once decided:
//                        help "If-then-else statements"
//   $iif                 evaluates only the branch it picks: help "$iif"
//   $gettok $numtok $findtok $findtokcs $addtok $istok $puttok $sorttok: help
//                        "Token Identifiers"; $left $right $mid $len $replace
//                        $count $str $chr $qt $calc $int: help "Text and
//                        Number Identifiers"; $asctime: help "Time and Date"
//   $$ident              halts when the value is empty: help "Identifiers"
//   $~name               the built-in, never an alias of that name; $!name
//                        the text "$name": help "Identifiers"
//   /scid N, /scid -r, $scid(N).prop, $scon(N).prop, $cid, $network, $me:
//                        help "/scid", "Multiple Servers"
//   $active, $lactive, $lactivecid: help "$active"; a menu click makes its
//                        window the active one: help "Popups"
//   /echo [-a|-s|window] [-c colour]: -a writes to the active window: help "/echo"
//   /window -c -h -n -s, /aline, /rline, /clear, /sline, $sline(@w,N).ln, $line,
//   /titlebar, $window: help "Custom Windows"
//   on SIGNAL, on CLOSE, on UNLOAD, menu @window with dclick: help "Events",
//                        "Popups"
//   /run -p (the program's own folder): help "/run"; $sfile, $bits, $version,
//   $~adiircexe, $dll, $isfile, $ctime, $timer, $read, $lines, $scriptdir:
//                        the test's, in `identifiers` (AdiIRC wiki "$bits",
//                        "$adiircexe", "$dll" for the 64-bit host)
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace velder::mirc {

class ScriptRunner {
  public:
    explicit ScriptRunner(const std::string& script);

    // An IRC connection as $scon and $scid see it.
    struct Connection {
        int cid = 1;
        std::string network;
        std::string status = "connected";
        std::string me;
        std::vector<std::string> channels;  // those it is on
    };
    // The line length limit of mIRC `version` ("6.32", "7.52", ...).
    static std::size_t LineLimit(const std::string& version);

    // True when the script defines the alias.
    bool Has(const std::string& alias) const;
    // $alias(args...): what the alias returns.
    std::string Call(const std::string& alias, const std::vector<std::string>& args);
    // Evaluates `text` as the argument of an identifier, with $1, $2, ... as given.
    std::string Evaluate(const std::string& text, const std::vector<std::string>& args = {});

    // Runs the script's "on *:EVENT:target:" handler with $1- as given.
    void Event(const std::string& event, const std::string& target,
               const std::vector<std::string>& args = {});
    // Clicks the item of `window`'s menu whose label reads `label` ("dclick"
    // for a double click): the window becomes the active one first.
    void Menu(const std::string& window, const std::string& label);
    // Makes `window` the active window; the one before becomes $lactive.
    void Activate(const std::string& window);

    std::size_t lineLimit = 8292;
    std::vector<Connection> connections;
    std::string active = "Status Window", lactive = "Status Window";
    int activeCid = 1, lactiveCid = 1;

    // "command evaluated-arguments" for each command the aliases ran, in order.
    std::vector<std::string> commands;
    // What the runner met and could not run; empty when it understood every line.
    std::vector<std::string> errors;
    // $name(args) as the test answers it, by lower-case name.
    std::map<std::string, std::function<std::string(const std::vector<std::string>&)>> identifiers;
    // The lines of each custom window, by lower-case name.
    std::map<std::string, std::vector<std::string>> windows;
    std::map<std::string, std::size_t> selected;  // a window's selected line, from 1
    std::map<std::string, std::string> titlebars;

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
                           const std::string& property, Frame& frame);
    std::string Assign(const std::string& name, std::string value, bool plain);
    bool Fits(const std::string& line);
    const Connection* Current() const;

    bool Builtin(const std::string& command, const std::vector<std::string>& words, Frame& frame);

    std::map<std::string, std::vector<std::string>> aliases_;  // lower-case name: body lines
    std::map<std::string, std::string> globals_;               // %name: value, names lower-case
    // Hash tables by lower-case name: lower-case item, its name and value.
    std::map<std::string, std::map<std::string, std::pair<std::string, std::string>>> tables_;
    std::map<std::string, std::vector<std::string>> menus_;  // lower-case window: items
    std::map<std::string, bool> sorted_;                     // windows made with -s
    int depth_ = 0;                                          // alias calls in progress
    int cid_ = 1;                                            // the connection /scid switched to
    bool halted_ = false;  // a line too long, or $$ on nothing, halts the script
};

}  // namespace velder::mirc
