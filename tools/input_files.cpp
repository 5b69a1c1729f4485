#include "tools/input_files.h"

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "query/protocol.h"
#include "tools/views.h"
#include "velder/velder.h"

namespace velder::tools {

namespace {

// Far more addresses than anyone lists; keeps -f /dev/zero from filling memory.
constexpr std::size_t kMaxServerList = std::size_t{16} << 20;

// The largest payload a UDP datagram over IPv4 can carry.
constexpr std::size_t kMaxDatagram = 65507;

// Reads `file` to its end but never more than `limit` bytes and a few more,
// so that a caller sees a file longer than `limit` without holding all of it.
bool ReadAtMost(std::FILE* file, std::size_t limit, std::string& out) {
    char chunk[4096];
    for (std::size_t n;
         out.size() <= limit && (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) {
        out.append(chunk, n);
    }
    return std::ferror(file) == 0;
}

}  // namespace

std::optional<long long> ReadNumber(std::string_view text, long long low, long long high) {
    long long value = 0;
    const char* const end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    // Digits alone (from_chars would take a sign), and not too many of them.
    if (text.find_first_not_of("0123456789") != std::string_view::npos || error != std::errc() ||
        stop != end || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::string> CheckServerAddress(std::string& address) {
    // Texts here are built by appending: gcc 12 warns wrongly about "'" + std::string.
    std::string quoted(1, '\'');
    quoted.append(address.substr(0, 40));
    quoted.append(address.size() > 40 ? "...'" : "'");
    std::size_t colon = address.find(':');
    if (colon == std::string::npos) {
        colon = address.size();
        address.push_back(':');
        address.append(std::to_string(kGamePort));
    }
    if (colon == 0) {
        return "server " + quoted + " has no host name before the colon";
    }
    if (colon >= kServerNameCapacity) {
        return "the host name of server " + quoted + " is longer than the library takes (" +
               std::to_string(kServerNameCapacity - 1) + " bytes)";
    }
    const std::string port = address.substr(colon + 1);
    if (!ReadNumber(port, 1, 65535)) {
        std::string message = "bad port '";
        message.append(port.substr(0, 40)).append("' in ").append(quoted);
        return message + ": give a number from 1 to 65535";
    }
    if (address.size() >= kDataCapacity) {
        return "server " + quoted + " is longer than the library takes";
    }
    return std::nullopt;
}

std::optional<std::string> ReadServerList(std::string_view list, const std::string& name,
                                          std::vector<std::string>& addresses) {
    for (int number = 1; !list.empty(); ++number) {
        const std::size_t end = list.find('\n');
        const std::string_view line = list.substr(0, end);
        list.remove_prefix(end == std::string_view::npos ? list.size() : end + 1);
        const std::size_t begin = line.find_first_not_of(" \t\r");
        if (begin == std::string_view::npos || line[begin] == '#') {
            continue;
        }
        std::string address(line.substr(begin, line.find_last_not_of(" \t\r") + 1 - begin));
        if (const std::optional<std::string> problem = CheckServerAddress(address)) {
            return name + ":" + std::to_string(number) + ": " + *problem;
        }
        addresses.push_back(std::move(address));
    }
    return std::nullopt;
}

std::optional<std::string> ReadServerListFile(const std::string& path,
                                              std::vector<std::string>& addresses) {
    const bool standardInput = path == "-";
    const std::string name = standardInput ? "standard input" : path;
    std::FILE* file = standardInput ? stdin : std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return "cannot open the server list '" + path + "'";
    }
    std::string list;
    const bool failed = !ReadAtMost(file, kMaxServerList, list);
    if (!standardInput) {
        std::fclose(file);
    }
    return failed                         ? "cannot read " + name
           : list.size() > kMaxServerList ? name + " is longer than a server list can be (16 MiB)"
                                          : ReadServerList(list, name, addresses);
}

std::optional<Bytes> ReadReplyFile(const std::string& path) {
    const std::string quoted = "the reply file '" + path + "'";
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    const bool regular = std::filesystem::is_regular_file(status);
    std::FILE* file = regular ? std::fopen(path.c_str(), "rb") : nullptr;
    Bytes bytes;  // a byte more than allowed tells a file too long
    const bool read = file != nullptr && ReadAtMost(file, kMaxDatagram, bytes);
    if (file != nullptr) {
        std::fclose(file);
    }
    if (status.type() == std::filesystem::file_type::not_found) {
        Complain("cannot read " + quoted + ": no such file");
    } else if (error) {
        Complain("cannot read " + quoted + ": " + error.message());
    } else if (!regular) {
        Complain(quoted + " is not a regular file");
    } else if (!read) {
        Complain("cannot read " + quoted);
    } else if (bytes.size() > kMaxDatagram) {
        Complain(quoted + " has " + std::to_string(std::filesystem::file_size(path, error)) +
                 " bytes: a datagram holds at most " + std::to_string(kMaxDatagram));
    } else {
        return bytes;
    }
    return std::nullopt;
}

}  // namespace velder::tools
