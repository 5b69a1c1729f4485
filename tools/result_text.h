// Reads GetInfo's result text back: first split the way a script splits it,
// then read as a Quake 4 server's status (variables and players).
//
// The result text is four digits of round-trip time, then the server's text
// section as printable fields divided by 0xFF, then (after 0xFF 0xFE) the
// player records, each a ping, a name and a clan closed by 0xFF, and a
// closing 0xFE.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "query/status_format.h"

namespace velder::tools {

struct ResultText {
    int roundTripMs = -1;  // the first four characters, or -1 when they are not four digits
    // The text section's fields after the round-trip digits. Empty fields
    // are left out, as $gettok leaves them out.
    std::vector<std::string> fields;
    std::string textSection;     // as it is, separators included
    bool recordSection = false;  // the 0xFE that opens the records was there
    // The strings of every whole record in turn, three a record (ping, name,
    // clan), and those of a record cut short by the end of the text.
    std::vector<std::string> records;
    std::vector<std::string> unfinished;
    bool complete = false;  // the closing 0xFE was there
};

// Splits `text` (without its NUL). Never fails: whatever is missing stays empty.
ResultText ParseResultText(std::string_view text);

// How much of the player list the result text holds. GetInfo reads only the
// first 900 bytes of a reply, and servers on Linux end their reply with an OS
// byte other than 01, so the closing mark is missing from their text even
// when every player was read.
enum class PlayerList {
    kComplete,    // the closing mark is there: every player was read
    kOpen,        // whole records and no closing mark: as a Linux server ends,
                  // or the window ended between two records
    kCut,         // the text ends inside a record: more players may follow
    kNotReached,  // the text never reaches the player list: the count is unknown
    kUnreadable,  // the last variable's value was empty: its closing zero byte
                  // was read as the first byte of the players, one byte off
};

struct ServerStatus {
    std::vector<std::pair<std::string, std::string>> vars;  // in the reply's order
    std::vector<Player> players;
    PlayerList playerList = PlayerList::kNotReached;

    std::string Var(std::string_view name) const;  // its value, or an empty text
};

// Reads the server's variables and players out of a split result text.
//
// Limits of this reading, which come from the result text itself: colour
// codes and ">" are gone from names and values; an empty value reads as an
// empty text, or as "?" once a ">" came before it; an empty value as the last
// variable leaves its name without a value before the records, which then
// come out shifted and are not read (kUnreadable); a variable or player past
// the 900 bytes GetInfo reads is missing.
ServerStatus ReadServerStatus(const ResultText& text);

}  // namespace velder::tools
