// The three ways `velder info` shows a server's answer.
#pragma once

#include <string>

namespace velder::tools {

struct ServerAnswer {
    std::string address;    // as given on the command line
    bool answered = false;  // GetInfo returned RESULT_DATA
    std::string text;       // the result text, without its NUL
};

// For people: the round-trip time, the text section's fields numbered from 1
// (empty ones left out, as $gettok leaves them out), the records as a table,
// and whether the end mark was there.
std::string ReadableView(const ServerAnswer& answer);

// One JSON object on one line, ending in a newline.
std::string JsonView(const ServerAnswer& answer);

// The result text exactly as GetInfo left it, followed by a newline (the text
// itself never holds one). Empty line for a server that did not answer.
std::string RawView(const ServerAnswer& answer);

}  // namespace velder::tools
