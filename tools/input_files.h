// What the tool reads besides its arguments: lists of servers and the reply
// files of `velder serve`, and the checks of the addresses they hold.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "query/status_format.h"

namespace velder::tools {

// A decimal number made of digits only, within [low, high].
std::optional<long long> ReadNumber(std::string_view text, long long low, long long high);

// Checks a server address and completes it: HOST alone becomes HOST:28004.
// Returns why it is not usable, or nothing when it is.
std::optional<std::string> CheckServerAddress(std::string& address);

// Reads the addresses of a server list, one a line: blank lines and lines
// that begin with '#' are skipped, spaces around an address are ignored.
// `name` names the list in messages. Returns the first problem, or nothing.
std::optional<std::string> ReadServerList(std::string_view list, const std::string& name,
                                          std::vector<std::string>& addresses);

// Reads the server list in the file at `path` ("-": standard input), as
// ReadServerList does, into `addresses`. Returns the first problem, or nothing.
std::optional<std::string> ReadServerListFile(const std::string& path,
                                              std::vector<std::string>& addresses);

// The bytes of a reply file: a regular file of at most one datagram.
// Nothing, and a message on standard error, otherwise.
std::optional<Bytes> ReadReplyFile(const std::string& path);

}  // namespace velder::tools
