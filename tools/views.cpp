#include "tools/views.h"

#include <algorithm>
#include <cstdio>

#include "query/protocol.h"
#include "tools/json.h"
#include "tools/result_text.h"

namespace velder::tools {

namespace {

// Widest column shown in a table; longer texts push the row out.
constexpr std::size_t kMaxColumn = 32;

// How much of a reply the result text can hold, for the notes that say so.
const std::string kWindow = "the " + std::to_string(kTranscriptionWindow) + " bytes GetInfo reads";

void Pad(std::string& out, const std::string& cell, std::size_t width) {
    out += cell;
    if (cell.size() < width) {
        out.append(width - cell.size(), ' ');
    }
}

std::string Number(long long n, int width) {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "%*lld", width, n);
    return buffer;
}

// Strings as the items of a JSON array, without the brackets.
void AppendList(std::string& out, const std::vector<std::string>& items) {
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) {
            out += ',';
        }
        out += JsonString(items[i]);
    }
}

// The address column of the summary: wide enough for "255.255.255.255:65535".
std::string AddressColumn(const std::string& address) {
    std::string out;
    Pad(out, address, 21);
    return out;
}

std::string PlayerCount(const ServerStatus& status) {
    const std::string count = std::to_string(status.players.size());
    switch (status.playerList) {
        case PlayerList::kNotReached:
            return "?";
        case PlayerList::kCut:
            return count + "+";
        case PlayerList::kComplete:
        case PlayerList::kOpen:
            break;
    }
    return count;
}

// Why the player count is not exact, or nothing when it is.
std::string PlayerNote(const ServerStatus& status) {
    switch (status.playerList) {
        case PlayerList::kNotReached:
            return "  players: unknown: the player list does not begin within " + kWindow + "\n";
        case PlayerList::kCut:
            return "  players: " + std::to_string(status.players.size()) + " or more: " + kWindow +
                   " end inside the player list\n";
        case PlayerList::kComplete:
        case PlayerList::kOpen:
            break;
    }
    return std::string();
}

void AppendPlayers(std::string& out, const ServerStatus& status) {
    if (status.players.empty()) {
        return;
    }
    std::size_t nameWidth = 4;  // "name"
    for (const Player& p : status.players) {
        nameWidth = std::clamp(p.name.size(), nameWidth, kMaxColumn);
    }
    out += "   ping  ";
    Pad(out, "name", nameWidth + 2);
    out += "clan\n";
    for (const Player& p : status.players) {
        out += "  " + Number(p.ping, 5) + "  ";
        Pad(out, p.name, nameWidth + 2);
        out += p.clan + "\n";
    }
    if (status.playerList == PlayerList::kOpen) {
        out +=
            "  (no closing mark, as a Linux server's reply ends: players past the 900 bytes "
            "GetInfo reads would be missing)\n";
    }
}

void AppendVars(std::string& out, const ServerStatus& status) {
    std::size_t width = 0;
    for (const auto& [name, value] : status.vars) {
        width = std::clamp(name.size(), width, kMaxColumn);
    }
    for (const auto& [name, value] : status.vars) {
        out += "  ";
        Pad(out, name, width);
        out += "  " + value + "\n";
    }
}

}  // namespace

// Indexed by Outcome: the JSON word and the words for people.
constexpr const char* kOutcomes[][2] = {
    {"answered", "answered"},
    {"unreadable", "unreadable reply: the port is closed, or the reply could not be read"},
    {"no_such_host", "no such host"},
    {"no_answer", "no answer"},
};

std::string OutcomeText(Outcome outcome) {
    std::string text = kOutcomes[static_cast<int>(outcome)][1];
    if (outcome == Outcome::kUnreadable) {
        text.insert(text.find(':'), std::string(" (") + kUnreadableReply + ")");
    }
    return text;
}

const char* OutcomeWord(Outcome outcome) {
    return kOutcomes[static_cast<int>(outcome)][0];
}

std::string SummaryView(const ServerAnswer& answer, bool players, bool vars) {
    std::string out = AddressColumn(answer.address);
    if (answer.outcome != Outcome::kAnswered) {
        return out + "  " + OutcomeText(answer.outcome) + "\n";
    }
    const ResultText result = ParseResultText(answer.text);
    const ServerStatus status = ReadServerStatus(result);
    const std::string maxPlayers = status.Var("si_maxPlayers");
    out += Number(result.roundTripMs, 5) + " ms  ";
    Pad(out, PlayerCount(status) + "/" + (maxPlayers.empty() ? "?" : maxPlayers), 7);
    out += "  ";
    Pad(out, status.Var("si_map"), 14);
    out += "  " + status.Var("si_name") + "\n";
    out += PlayerNote(status);
    if (players) {
        AppendPlayers(out, status);
    }
    if (vars) {
        AppendVars(out, status);
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
        out += "  records: none (no record section within " + kWindow + ")\n";
    } else {
        out += "  records: " + std::to_string(result.records.size()) + "\n";
        if (!result.records.empty()) {
            std::size_t numberWidth = 6;  // "number"
            std::size_t firstWidth = 5;   // "first"
            for (const Record& r : result.records) {
                numberWidth = std::clamp(r.number.size(), numberWidth, kMaxColumn);
                firstWidth = std::clamp(r.first.size(), firstWidth, kMaxColumn);
            }
            out += "     #  ";
            Pad(out, "number", numberWidth + 2);
            Pad(out, "first", firstWidth + 2);
            out += "second\n";
            for (std::size_t i = 0; i < result.records.size(); ++i) {
                const Record& r = result.records[i];
                out += "  " + Number(static_cast<long long>(i) + 1, 4) + "  ";
                Pad(out, r.number, numberWidth + 2);
                Pad(out, r.first, firstWidth + 2);
                out += r.second + "\n";
            }
        }
        if (!result.unfinished.empty()) {
            out += "  record cut short:";
            for (const std::string& s : result.unfinished) {
                out += " [" + s + "]";
            }
            out += "\n";
        }
    }
    out += result.complete ? "  end mark: present\n" : "  end mark: missing\n";
    return out;
}

std::string JsonView(const ServerAnswer& answer) {
    const bool answered = answer.outcome == Outcome::kAnswered;
    const ResultText result = answered ? ParseResultText(answer.text) : ResultText{};
    const ServerStatus status = ReadServerStatus(result);
    std::string out = "{\"address\":" + JsonString(answer.address);
    out += ",\"status\":\"";
    out += OutcomeWord(answer.outcome);
    out += "\",\"round_trip_ms\":";
    out += answered ? std::to_string(result.roundTripMs) : "null";
    out += ",\"vars\":{";
    for (std::size_t i = 0; i < status.vars.size(); ++i) {
        out += i ? "," : "";
        out += JsonString(status.vars[i].first) + ":" + JsonString(status.vars[i].second);
    }
    out += "},\"players\":[";
    for (std::size_t i = 0; i < status.players.size(); ++i) {
        const Player& p = status.players[i];
        out += i ? ",{\"ping\":" : "{\"ping\":";
        // A head field with more than the ping in it gives no number.
        out += (p.ping >= 0 ? std::to_string(p.ping) : "null") + ",\"name\":" + JsonString(p.name) +
               ",\"clan\":" + JsonString(p.clan) + "}";
    }
    // The count is null when the player list was never reached.
    out += "],\"player_count\":";
    out += answered && status.playerList != PlayerList::kNotReached
               ? std::to_string(status.players.size())
               : "null";
    out += ",\"player_list\":";
    static const char* const kListWords[] = {"\"complete\"", "\"open\"", "\"cut\"",
                                             "\"not_reached\""};
    out += answered ? kListWords[static_cast<int>(status.playerList)] : "null";
    out += ",\"fields\":[";
    AppendList(out, result.fields);
    out += "],\"records\":[";
    for (std::size_t i = 0; i < result.records.size(); ++i) {
        const Record& r = result.records[i];
        out += i ? ",{\"number\":" : "{\"number\":";
        out += JsonString(r.number) + ",\"first\":" + JsonString(r.first) +
               ",\"second\":" + JsonString(r.second) + "}";
    }
    out += "],\"unfinished\":[";
    AppendList(out, result.unfinished);
    out += "],\"complete\":";
    out += result.complete ? "true" : "false";
    out += "}\n";
    return out;
}

std::string RawView(const ServerAnswer& answer) {
    const bool hasText =
        answer.outcome == Outcome::kAnswered || answer.outcome == Outcome::kUnreadable;
    return hasText ? answer.text + "\n" : std::string("\n");
}

}  // namespace velder::tools
