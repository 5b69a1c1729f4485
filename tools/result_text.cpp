#include "tools/result_text.h"

#include <algorithm>

#include "query/protocol.h"

namespace velder::tools {

namespace {

bool IsDigits(std::string_view s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
}

// `section` cut at every separator, empty pieces kept.
std::vector<std::string> SplitAll(std::string_view section) {
    std::vector<std::string> pieces;
    while (true) {
        const std::size_t end = section.find(kFieldSeparator);
        pieces.emplace_back(section.substr(0, end));
        if (end == std::string_view::npos) {
            return pieces;
        }
        section.remove_prefix(end + 1);
    }
}

// A Quake 4 reply opens with its head, whose NUL is transcribed as a field
// divider, then four bytes of challenge and four of protocol version, then the variables.
const std::string kReplyHead = std::string(kStatusReplyHead) + kFieldSeparator;
constexpr std::size_t kChallengeAndProtocol = 8;

}  // namespace

ResultText ParseResultText(std::string_view text) {
    ResultText result;
    if (text.size() >= kRoundTripDigits && IsDigits(text.substr(0, kRoundTripDigits))) {
        result.roundTripMs = std::stoi(std::string(text.substr(0, kRoundTripDigits)));
    }
    if (text.size() <= kRoundTripDigits) {
        return result;
    }
    text.remove_prefix(kRoundTripDigits);

    const std::size_t open = text.find(kTextRecordsMark);
    result.textSection = std::string(text.substr(0, open));
    for (std::string& field : SplitAll(result.textSection)) {
        if (!field.empty()) {
            result.fields.push_back(std::move(field));
        }
    }
    if (open == std::string_view::npos) {
        return result;
    }
    result.recordSection = true;

    // Records: every string is closed by a separator, so the fields are
    // counted exactly here; an empty one is a string that held only colour codes.
    const std::string_view rest = text.substr(open + 1);
    const std::size_t close = rest.find(kTextRecordsMark);
    result.complete = close != std::string_view::npos;
    result.records = SplitAll(rest.substr(0, close));
    const std::string last = result.records.back();  // after the last separator
    result.records.pop_back();
    const auto cut = result.records.end() - static_cast<long>(result.records.size() % 3);
    result.unfinished.assign(cut, result.records.end());
    result.records.erase(cut, result.records.end());
    if (!last.empty()) {
        result.unfinished.push_back(last);
    }
    return result;
}

std::string ServerStatus::Var(std::string_view name) const {
    const auto found = std::find_if(vars.begin(), vars.end(),
                                    [name](const auto& var) { return var.first == name; });
    return found == vars.end() ? std::string() : found->second;
}

ServerStatus ReadServerStatus(const ResultText& text) {
    ServerStatus status;
    bool shifted = false;
    std::string_view section = text.textSection;
    if (section.substr(0, kReplyHead.size()) == kReplyHead) {
        // Each challenge and protocol byte left one character: itself when
        // printable, a separator otherwise.
        section.remove_prefix(kReplyHead.size());
        section.remove_prefix(std::min(kChallengeAndProtocol, section.size()));
        if (text.recordSection && !section.empty() && section.back() == kFieldSeparator) {
            section.remove_suffix(1);  // the first byte of the section marker
        }
        // Names and values take turns. A name without its value is left
        // out where the text ends inside the variables; before the records
        // it is a last variable whose value was empty.
        const std::vector<std::string> pieces = SplitAll(section);
        shifted = text.recordSection && pieces.size() % 2 == 1;
        for (std::size_t i = 0; i < pieces.size(); i += 2) {
            if (!pieces[i].empty() && (i + 1 < pieces.size() || shifted)) {
                status.vars.emplace_back(pieces[i], i + 1 < pieces.size() ? pieces[i + 1] : "");
            }
        }
    }
    if (shifted) {
        status.playerList = PlayerList::kUnreadable;
        return status;
    }
    // An empty string comes as one space.
    const auto unspaced = [](const std::string& s) { return s == " " ? std::string() : s; };
    for (std::size_t i = 0; i + 2 < text.records.size(); i += 3) {
        const std::string& ping = text.records[i];
        status.players.push_back(
            {.name = unspaced(text.records[i + 1]),
             .clan = unspaced(text.records[i + 2]),
             .ping = IsDigits(ping) && ping.size() <= 5 ? std::stoi(ping) : -1});
    }
    status.playerList = !text.recordSection       ? PlayerList::kNotReached
                        : text.complete           ? PlayerList::kComplete
                        : text.unfinished.empty() ? PlayerList::kOpen
                                                  : PlayerList::kCut;
    return status;
}

}  // namespace velder::tools
