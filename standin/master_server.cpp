#include "standin/master_server.h"

#include <algorithm>
#include <asio.hpp>
#include <charconv>

namespace velder::standin {
namespace {

bool Passes(const ListedServer& server, const ServersFilter& filter) {
    if (server.password.has_value() && filter.password != PasswordFilter::kAny &&
        *server.password != (filter.password == PasswordFilter::kWith)) {
        return false;
    }
    if (server.players < 0 || server.maxPlayers < 0) {
        return true;
    }
    switch (filter.players) {
        case PlayersFilter::kNotFull:
            return server.players < server.maxPlayers;
        case PlayersFilter::kNotFullNotEmpty:
            return server.players > 0 && server.players < server.maxPlayers;
        default:
            return true;
    }
}

// `list` as the master sends it: the head, then at most 231 entries a
// datagram; an empty list is one datagram with the head alone.
std::vector<Bytes> ListDatagrams(const std::vector<ServerEntry>& list) {
    std::vector<Bytes> datagrams;
    std::size_t at = 0;
    do {
        const std::size_t count = std::min(kEntriesPerDatagram, list.size() - at);
        Bytes& datagram = datagrams.emplace_back(kServersReplyHead, kServersReplyHeadLength);
        for (std::size_t i = at; i < at + count; ++i) {
            unsigned char entry[kServerEntryLength];
            WriteServerEntry(list[i], entry);
            datagram.append(reinterpret_cast<const char*>(entry), sizeof entry);
        }
        at += count;
    } while (at < list.size());
    return datagrams;
}

}  // namespace

std::optional<ServerEntry> EntryFromText(std::string_view text) {
    const std::size_t colon = text.rfind(':');
    asio::error_code ec;
    const auto address =
        asio::ip::make_address_v4(std::string(text.substr(0, colon == text.npos ? 0 : colon)), ec);
    unsigned port = 0;
    const char* last = text.data() + text.size();
    if (ec || colon == text.npos ||
        std::from_chars(text.data() + colon + 1, last, port).ptr != last || port == 0 ||
        port > 65535) {
        return std::nullopt;
    }
    ServerEntry entry;
    const auto bytes = address.to_bytes();
    std::copy(bytes.begin(), bytes.end(), entry.address);
    entry.port = static_cast<std::uint16_t>(port);
    return entry;
}

bool MasterServer::Start(const MasterOptions& master) {
    Options options;
    options.bindAddress = master.bindAddress;
    options.port = master.port;
    options.answersPerSecond = master.answersPerSecond;
    options.received = master.received;
    options.longestRequest = kLongestServersRequest;
    options.isRequest = [](std::string_view datagram) {
        ServersFilter filter;
        return ReadServersRequest(Data(datagram), datagram.size(), filter);
    };
    options.respond = [servers = master.servers](std::string_view request) {
        ServersFilter filter;
        ReadServersRequest(Data(request), request.size(), filter);
        std::vector<ServerEntry> list;  // in list order
        for (const ListedServer& server : servers) {
            if (Passes(server, filter)) {
                list.push_back(server.entry);
            }
        }
        return ListDatagrams(list);
    };
    return Server::Start(std::move(options));
}

}  // namespace velder::standin
