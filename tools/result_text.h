// Splits GetInfo's result text the way a script does, for display.
//
// The result text is four digits of round-trip time, then the server's text
// section as printable fields divided by 0xFF, then (after 0xFF 0xFE) the
// records, each a number and two strings closed by 0xFF, and a closing 0xFE.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velder::tools {

inline constexpr char kFieldSeparator = '\xFF';
inline constexpr char kSectionMark = '\xFE';

struct Record {
    std::string number;  // for a Quake 4 server: the ping
    std::string first;   // the player's name
    std::string second;  // the player's clan
};

struct ResultText {
    std::string roundTrip;  // the first four characters, as written
    int roundTripMs = -1;   // their value, or -1 when they are not four digits
    // The text section's fields after the round-trip digits. Empty fields
    // (two separators in a row) are left out, as $gettok leaves them out; a
    // script's $gettok(text, N, 255) is fields[N - 2] when the reply began
    // with an unprintable byte, as Quake 4 replies do.
    std::vector<std::string> fields;
    bool recordSection = false;  // the 0xFE that opens the records was there
    std::vector<Record> records;
    // Strings of a record cut short by the end of the text (no closing 0xFF).
    std::vector<std::string> unfinished;
    bool complete = false;  // the closing 0xFE was there
};

// Splits `text` (without its NUL). Never fails: whatever is missing stays empty.
ResultText ParseResultText(std::string_view text);

}  // namespace velder::tools
