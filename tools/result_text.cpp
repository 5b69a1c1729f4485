#include "tools/result_text.h"

#include <algorithm>

#include "query/protocol.h"

namespace velder::tools {

namespace {

bool IsDigits(std::string_view s) {
    for (char c : s) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return !s.empty();
}

// `section` cut at every separator, empty pieces kept.
std::vector<std::string_view> SplitAll(std::string_view section) {
    std::vector<std::string_view> pieces;
    while (true) {
        const std::size_t end = section.find(kFieldSeparator);
        pieces.push_back(section.substr(0, end));
        if (end == std::string_view::npos) {
            return pieces;
        }
        section.remove_prefix(end + 1);
    }
}

// A Quake 4 reply opens with FF FF "infoResponse" 00, then four bytes of
// challenge and four of protocol version, then the variables.
constexpr std::string_view kReplyHead = "\xFF\xFFinfoResponse\xFF";
constexpr std::size_t kChallengeAndProtocol = 8;

}  // namespace

ResultText ParseResultText(std::string_view text) {
    ResultText result;
    if (IsDigits(text.substr(0, kRoundTripDigits)) && text.size() >= kRoundTripDigits) {
        result.roundTripMs = std::stoi(std::string(text.substr(0, kRoundTripDigits)));
    }
    if (text.size() <= kRoundTripDigits) {
        return result;
    }
    text.remove_prefix(kRoundTripDigits);

    const std::size_t open = text.find(kSectionMark);
    result.textSection = std::string(text.substr(0, open));
    for (const std::string_view field : SplitAll(result.textSection)) {
        if (!field.empty()) {
            result.fields.emplace_back(field);
        }
    }
    if (open == std::string_view::npos) {
        return result;
    }
    result.recordSection = true;

    // Records: every string is closed by a separator, so the fields are
    // counted exactly here; an empty one is a string that held only colour codes.
    std::string_view rest = text.substr(open + 1);
    const std::size_t close = rest.find(kSectionMark);
    result.complete = close != std::string_view::npos;
    std::vector<std::string_view> strings = SplitAll(rest.substr(0, close));
    const std::string_view last = strings.back();  // after the last separator
    strings.pop_back();
    std::size_t i = 0;
    for (; i + 3 <= strings.size(); i += 3) {
        result.records.push_back(Record{std::string(strings[i]), std::string(strings[i + 1]),
                                        std::string(strings[i + 2])});
    }
    for (; i < strings.size(); ++i) {
        result.unfinished.emplace_back(strings[i]);
    }
    if (!last.empty()) {
        result.unfinished.emplace_back(last);
    }
    return result;
}

std::string ServerStatus::Var(std::string_view name) const {
    for (const auto& [key, value] : vars) {
        if (key == name) {
            return value;
        }
    }
    return std::string();
}

ServerStatus ReadServerStatus(const ResultText& text) {
    ServerStatus status;
    std::string_view section = text.textSection;
    if (section.substr(0, kReplyHead.size()) == kReplyHead) {
        // Each challenge and protocol byte left one character: itself when
        // printable, a separator otherwise.
        section.remove_prefix(kReplyHead.size());
        section.remove_prefix(std::min(kChallengeAndProtocol, section.size()));
        if (text.recordSection && !section.empty() && section.back() == kFieldSeparator) {
            section.remove_suffix(1);  // the first byte of the section marker
        }
        // Names and values take turns; a name without its value (the text
        // ends there) is left out.
        const std::vector<std::string_view> pieces = SplitAll(section);
        for (std::size_t i = 0; i + 1 < pieces.size(); i += 2) {
            if (!pieces[i].empty()) {
                status.vars.emplace_back(pieces[i], pieces[i + 1]);
            }
        }
    }

    for (const Record& r : text.records) {
        Player player;
        player.ping = IsDigits(r.number) && r.number.size() <= 5 ? std::stoi(r.number) : -1;
        // An empty string comes as one space.
        player.name = r.first == " " ? std::string() : r.first;
        player.clan = r.second == " " ? std::string() : r.second;
        status.players.push_back(std::move(player));
    }
    status.playerList = !text.recordSection       ? PlayerList::kNotReached
                        : text.complete           ? PlayerList::kComplete
                        : text.unfinished.empty() ? PlayerList::kOpen
                                                  : PlayerList::kCut;
    return status;
}

}  // namespace velder::tools
