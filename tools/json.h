// JSON text for the tool's --json output.
#pragma once

#include <string>
#include <string_view>

namespace velder::tools {

// `bytes` as a quoted JSON string. Each byte is one Latin-1 character: bytes
// from 0x80 up become the code points U+0080 to U+00FF. Control bytes, DEL and
// everything above are written as \u escapes, so the output is plain ASCII.
std::string JsonString(std::string_view bytes);

}  // namespace velder::tools
