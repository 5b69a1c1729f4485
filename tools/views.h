// The ways `velder info` shows a server's answer.
#pragma once

#include <string>
#include <string_view>

namespace velder::tools {

// What became of one query.
enum class Outcome {
    kAnswered,    // GetInfo returned the server's reply as result text
    kUnreadable,  // "9999": the port was refused, or the reply could not be read
    kNoSuchHost,  // the host name did not resolve, so GetInfo was not called
    kNoAnswer,    // no reply within GetInfo's wait
};

struct ServerAnswer {
    std::string address;  // HOST:PORT as queried
    Outcome outcome = Outcome::kNoAnswer;
    std::string text;  // the result text, without its NUL, when GetInfo gave one
};

// `outcome` in a few words for people, e.g. "no such host".
std::string OutcomeText(Outcome outcome);

// One line per server: address, round trip, players/max, map and name; with
// `players` and `vars`, the player table and the variables below it. A line
// below the summary says when the player count is not known exactly.
std::string SummaryView(const ServerAnswer& answer, bool players, bool vars);

// For script writers: the text section's fields numbered as $gettok counts
// them, the players as a table, and whether the end mark was there.
std::string FieldsView(const ServerAnswer& answer);

// One JSON object on one line, ending in a newline.
std::string JsonView(const ServerAnswer& answer);

// The result text exactly as GetInfo left it and a newline (the text itself
// never holds one); an empty line when GetInfo left no result text.
std::string RawView(const ServerAnswer& answer);

// Writes `text` to standard output at once.
void Say(const std::string& text);
// Writes "velder: " and `line` to standard error; always false.
bool Complain(const std::string& line);

// `bytes` as a quoted JSON string of plain ASCII: each byte is one Latin-1
// character, and control bytes, DEL and everything above are \u escapes.
std::string JsonString(std::string_view bytes);

// `items` as the items of a JSON array, each written by `json`, without the brackets.
template <typename Items, typename Json>
std::string JsonList(const Items& items, Json json) {
    std::string out;
    for (const auto& item : items) {
        if (!out.empty()) {
            out += ',';
        }
        out += json(item);
    }
    return out;
}

}  // namespace velder::tools
