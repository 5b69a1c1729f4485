#include "tools/views.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include "query/protocol.h"
#include "tools/result_text.h"

namespace velder::tools {

namespace {

// Widest column shown in a table; longer texts push the row out.
constexpr std::size_t kMaxColumn = 32;

// How much of a reply the result text can hold, for the notes that say so.
const std::string kWindow = "the " + std::to_string(kTranscriptionWindow) + " bytes GetInfo reads";
// A last variable with an empty value shifts the records after it by one byte.
const std::string kUnreadableWhy =
    "the last variable's value is empty, which leaves the players after it one byte off";

// Indexed by Outcome: the word in JSON and the words for people.
constexpr const char* kOutcomes[][2] = {
    {"answered", "answered"},
    {"unreadable", "unreadable reply: the port is closed, or the reply could not be read"},
    {"no_such_host", "no such host"},
    {"no_answer", "no answer"},
};

std::string Pad(const std::string& cell, std::size_t width) {
    return cell + std::string(width - std::min(width, cell.size()), ' ');
}

std::string Number(long long n, int width) {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "%*lld", width, n);
    return buffer;
}

// The widest of `cells` and `heading`, but no wider than kMaxColumn.
template <typename Cells, typename Cell>
std::size_t Width(const Cells& cells, Cell cell, std::size_t heading) {
    for (const auto& c : cells) {
        heading = std::clamp(std::invoke(cell, c).size(), heading, kMaxColumn);
    }
    return heading;
}

// The players as a table of ping, name and clan.
std::string PlayerTable(const std::vector<Player>& players) {
    const std::size_t width = Width(players, &Player::name, 4) + 2;
    std::string out = "   ping  " + Pad("name", width) + "clan\n";
    for (const Player& p : players) {
        out += "  " + Number(p.ping, 5) + "  " + Pad(p.name, width) + p.clan + "\n";
    }
    return out;
}

}  // namespace

void Say(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

bool Complain(const std::string& line) {
    std::fprintf(stderr, "velder: %s\n", line.c_str());
    return false;
}

std::string OutcomeText(Outcome outcome) {
    std::string text = kOutcomes[static_cast<int>(outcome)][1];
    if (outcome == Outcome::kUnreadable) {
        text.insert(text.find(':'), std::string(" (") + kUnreadableReply + ")");
    }
    return text;
}

std::string SummaryView(const ServerAnswer& answer, bool players, bool vars) {
    // Wide enough for "255.255.255.255:65535".
    std::string out = Pad(answer.address, 21);
    if (answer.outcome != Outcome::kAnswered) {
        return out + "  " + OutcomeText(answer.outcome) + "\n";
    }
    const ResultText result = ParseResultText(answer.text);
    const ServerStatus status = ReadServerStatus(result);
    const std::string maxPlayers = status.Var("si_maxPlayers");
    const std::string count = std::to_string(status.players.size());
    const bool unknown = status.playerList == PlayerList::kNotReached ||
                         status.playerList == PlayerList::kUnreadable;
    const std::string shown = unknown                                 ? "?"
                              : status.playerList == PlayerList::kCut ? count + "+"
                                                                      : count;
    out += Number(result.roundTripMs, 5) + " ms  " +
           Pad(shown + "/" + (maxPlayers.empty() ? "?" : maxPlayers), 7) + "  " +
           Pad(status.Var("si_map"), 14) + "  " + status.Var("si_name") + "\n";
    // Why the player count is not exact.
    if (status.playerList == PlayerList::kNotReached) {
        out += "  players: unknown: the player list does not begin within " + kWindow + "\n";
    } else if (status.playerList == PlayerList::kUnreadable) {
        out += "  players: unknown: " + kUnreadableWhy + "\n";
    } else if (status.playerList == PlayerList::kCut) {
        out += "  players: " + count + " or more: " + kWindow + " end inside the player list\n";
    }
    if (players && !status.players.empty()) {
        out += PlayerTable(status.players);
        if (status.playerList == PlayerList::kOpen) {
            out +=
                "  (no closing mark, as a Linux server's reply ends: players past the 900 bytes "
                "GetInfo reads would be missing)\n";
        }
    }
    if (vars) {
        const std::size_t width =
            Width(status.vars, &std::pair<std::string, std::string>::first, 0);
        for (const auto& [name, value] : status.vars) {
            out += "  " + Pad(name, width) + "  " + value + "\n";
        }
    }
    return out;
}

std::string FieldsView(const ServerAnswer& answer) {
    std::string out = answer.address;
    if (answer.outcome != Outcome::kAnswered) {
        return out + ": " + OutcomeText(answer.outcome) + "\n";
    }
    const ResultText result = ParseResultText(answer.text);
    out += ": answered in " + std::to_string(result.roundTripMs) + " ms\n";
    out += "  fields: " + std::to_string(result.fields.size()) + "\n";
    for (std::size_t i = 0; i < result.fields.size(); ++i) {
        out += "  " + Number(static_cast<long long>(i) + 1, 4) + "  " + result.fields[i] + "\n";
    }
    if (!result.recordSection) {
        out += "  players: none (no player list within " + kWindow + ")\n";
    } else if (ReadServerStatus(result).playerList == PlayerList::kUnreadable) {
        out += "  players: unreadable: " + kUnreadableWhy + "\n";
    } else {
        const std::vector<Player> players = ReadServerStatus(result).players;
        out += "  players: " + std::to_string(players.size()) + "\n";
        out += players.empty() ? "" : PlayerTable(players);
        if (!result.unfinished.empty()) {
            out += "  player cut short:";
            for (const std::string& s : result.unfinished) {
                out += " [" + s + "]";
            }
            out += "\n";
        }
    }
    return out + (result.complete ? "  end mark: present\n" : "  end mark: missing\n");
}

std::string JsonView(const ServerAnswer& answer) {
    const bool answered = answer.outcome == Outcome::kAnswered;
    const ResultText result = answered ? ParseResultText(answer.text) : ResultText{};
    const ServerStatus status = ReadServerStatus(result);
    std::string out = "{\"address\":" + JsonString(answer.address) + ",\"status\":\"" +
                      kOutcomes[static_cast<int>(answer.outcome)][0] + "\",\"round_trip_ms\":" +
                      (answered ? std::to_string(result.roundTripMs) : "null") + ",\"vars\":{";
    out += JsonList(status.vars,
                    [](const auto& v) { return JsonString(v.first) + ":" + JsonString(v.second); });
    // A record whose ping is not a plain number gives none.
    out += "},\"players\":[" + JsonList(status.players, [](const Player& p) {
               return "{\"ping\":" + (p.ping >= 0 ? std::to_string(p.ping) : "null") +
                      ",\"name\":" + JsonString(p.name) + ",\"clan\":" + JsonString(p.clan) + "}";
           });
    // The count is null when the player list was never reached.
    static const char* const kListWords[] = {"\"complete\"", "\"open\"", "\"cut\"",
                                             "\"not_reached\"", "\"unreadable\""};
    const bool listed = answered && status.playerList != PlayerList::kNotReached &&
                        status.playerList != PlayerList::kUnreadable;
    out += "],\"player_count\":" + (listed ? std::to_string(status.players.size()) : "null") +
           ",\"player_list\":" +
           (answered ? kListWords[static_cast<int>(status.playerList)] : "null") + ",\"fields\":[" +
           JsonList(result.fields, JsonString);
    return out + "],\"unfinished\":[" + JsonList(result.unfinished, JsonString) +
           "],\"complete\":" + (result.complete ? "true" : "false") + "}\n";
}

std::string RawView(const ServerAnswer& answer) {
    const bool hasText =
        answer.outcome == Outcome::kAnswered || answer.outcome == Outcome::kUnreadable;
    return (hasText ? answer.text : std::string()) + "\n";
}

std::string JsonString(std::string_view bytes) {
    std::string out = "\"";
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        const char* const escaped = c == '"'    ? "\\\""
                                    : c == '\\' ? "\\\\"
                                    : c == '\n' ? "\\n"
                                    : c == '\r' ? "\\r"
                                    : c == '\t' ? "\\t"
                                                : nullptr;
        if (escaped != nullptr) {
            out += escaped;
        } else if (byte < 0x20 || byte >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\u%04x", byte);
            out += hex;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

}  // namespace velder::tools
