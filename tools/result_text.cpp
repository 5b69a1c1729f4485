#include "tools/result_text.h"

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

// The text section: printable runs between separators; a run of separators
// counts as one, as it does for $gettok.
std::vector<std::string> SplitFields(std::string_view section) {
    std::vector<std::string> fields;
    std::size_t begin = 0;
    while (begin <= section.size()) {
        std::size_t end = section.find(kFieldSeparator, begin);
        if (end == std::string_view::npos) {
            end = section.size();
        }
        if (end > begin) {
            fields.emplace_back(section.substr(begin, end - begin));
        }
        begin = end + 1;
    }
    return fields;
}

}  // namespace

ResultText ParseResultText(std::string_view text) {
    ResultText result;
    result.roundTrip = std::string(text.substr(0, 4));
    if (result.roundTrip.size() == 4 && IsDigits(result.roundTrip)) {
        result.roundTripMs = std::stoi(result.roundTrip);
    }
    if (text.size() <= 4) {
        return result;
    }
    text.remove_prefix(4);

    const std::size_t open = text.find(kSectionMark);
    result.fields = SplitFields(text.substr(0, open));
    if (open == std::string_view::npos) {
        return result;
    }
    result.recordSection = true;

    // Records: every string is closed by a separator, so the fields are
    // counted exactly here; an empty one is a string that held only colour codes.
    std::string_view rest = text.substr(open + 1);
    const std::size_t close = rest.find(kSectionMark);
    result.complete = close != std::string_view::npos;
    rest = rest.substr(0, close);

    std::vector<std::string> strings;
    for (std::size_t end; (end = rest.find(kFieldSeparator)) != std::string_view::npos;) {
        strings.emplace_back(rest.substr(0, end));
        rest.remove_prefix(end + 1);
        if (strings.size() == 3) {
            result.records.push_back(
                Record{std::move(strings[0]), std::move(strings[1]), std::move(strings[2])});
            strings.clear();
        }
    }
    if (!rest.empty()) {
        strings.emplace_back(rest);
    }
    result.unfinished = std::move(strings);
    return result;
}

}  // namespace velder::tools
