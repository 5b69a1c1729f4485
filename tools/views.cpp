#include "tools/views.h"

#include <algorithm>
#include <cstdio>

#include "tools/json.h"
#include "tools/result_text.h"

namespace velder::tools {

namespace {

// Widest column shown in the record table; longer strings push the row out.
constexpr std::size_t kMaxColumn = 32;

void Pad(std::string& out, const std::string& cell, std::size_t width) {
    out += cell;
    if (cell.size() < width) {
        out.append(width - cell.size(), ' ');
    }
}

std::string Number(std::size_t n, int width) {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "%*zu", width, n);
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

}  // namespace

std::string ReadableView(const ServerAnswer& answer) {
    std::string out = answer.address;
    if (!answer.answered) {
        out += ": no answer\n";
        return out;
    }
    const ResultText result = ParseResultText(answer.text);
    if (result.roundTripMs < 0) {
        out += ": answered, but the result text does not begin with four digits\n";
        return out;
    }
    if (answer.text.size() == 4 && result.roundTripMs == 9999) {
        out += ": answered, but the reply could not be received (9999)\n";
        return out;
    }
    out += ": answered in " + std::to_string(result.roundTripMs) + " ms\n";

    out += "  fields: " + std::to_string(result.fields.size()) + "\n";
    for (std::size_t i = 0; i < result.fields.size(); ++i) {
        out += "  " + Number(i + 1, 4) + "  " + result.fields[i] + "\n";
    }

    if (!result.recordSection) {
        out += "  records: none (no record section)\n";
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
                out += "  " + Number(i + 1, 4) + "  ";
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
    const ResultText result = answer.answered ? ParseResultText(answer.text) : ResultText{};
    std::string out = "{\"address\":" + JsonString(answer.address);
    out += ",\"answered\":";
    out += answer.answered ? "true" : "false";
    out += ",\"round_trip_ms\":";
    out += result.roundTripMs >= 0 ? std::to_string(result.roundTripMs) : "null";
    out += ",\"fields\":[";
    AppendList(out, result.fields);
    out += "],\"records\":[";
    for (std::size_t i = 0; i < result.records.size(); ++i) {
        const Record& r = result.records[i];
        out += i ? ",{\"number\":" : "{\"number\":";
        out += JsonString(r.number);
        out += ",\"first\":";
        out += JsonString(r.first);
        out += ",\"second\":";
        out += JsonString(r.second);
        out += '}';
    }
    out += "],\"unfinished\":[";
    AppendList(out, result.unfinished);
    out += "],\"complete\":";
    out += result.complete ? "true" : "false";
    out += "}\n";
    return out;
}

std::string RawView(const ServerAnswer& answer) {
    return answer.answered ? answer.text + "\n" : std::string("\n");
}

}  // namespace velder::tools
