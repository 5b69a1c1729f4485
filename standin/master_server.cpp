#include "standin/master_server.h"

#include <array>
#include <asio.hpp>
#include <charconv>
#include <mutex>
#include <thread>

namespace velder::standin {
namespace {

using asio::ip::udp;

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

// The servers of `filter` on `servers`, in list order.
std::vector<ServerEntry> FilteredList(const std::vector<ListedServer>& servers,
                                      const ServersFilter& filter) {
    std::vector<ServerEntry> list;
    for (const ListedServer& server : servers) {
        if (Passes(server, filter)) {
            list.push_back(server.entry);
        }
    }
    return list;
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

struct MasterServer::Impl {
    asio::io_context io{1};
    std::optional<udp::socket> socket;
    std::thread thread;
    MasterOptions options;
    std::array<unsigned char, 2048> request{};  // longer requests arrive cut, and are dropped
    udp::endpoint from;
    RateLimit limit;

    mutable std::mutex mutex;  // guards what other threads read
    std::uint16_t port = 0;
    std::string error;
    MasterCounts counts;

    void Receive() {
        const auto received = [this](asio::error_code ec, std::size_t length) {
            if (ec == asio::error::operation_aborted || !socket) {
                return;  // cancelled, or completed as the last run stopped
            }
            // Windows reports a datagram cut to the buffer as an error; it is dropped either way.
            if (!ec || ec == asio::error::message_size) {
                Take(ec ? request.size() : length);
            }
            Receive();
        };
        socket->async_receive_from(asio::buffer(request), from, received);
    }

    void Take(std::size_t length) {
        ServersFilter filter;
        const bool wellFormed =
            length < request.size() && ReadServersRequest(request.data(), length, filter);
        const bool allowed = wellFormed && limit.Allow(from.address().to_v4().to_uint());
        std::size_t sent = 0;
        if (allowed) {
            sent = Answer(FilteredList(options.servers, filter));
        }
        std::lock_guard<std::mutex> lock(mutex);
        ++counts.received;
        counts.ignored += wellFormed ? 0 : 1;
        counts.limited += wellFormed && !allowed ? 1 : 0;
        counts.answered += allowed ? 1 : 0;
        counts.datagrams += sent;
    }

    // Sends `list` to the requester; returns the datagrams sent whole.
    std::size_t Answer(const std::vector<ServerEntry>& list) {
        std::array<unsigned char, kLongestServersReply> reply{};
        std::copy_n(kServersReplyHead, kServersReplyHeadLength, reply.begin());
        std::size_t sent = 0;
        std::size_t at = 0;
        do {  // an empty list is one datagram with the head alone
            const std::size_t count = std::min(kEntriesPerDatagram, list.size() - at);
            for (std::size_t i = 0; i < count; ++i) {
                WriteServerEntry(list[at + i],
                                 &reply[kServersReplyHeadLength + i * kServerEntryLength]);
            }
            at += count;
            const std::size_t length = kServersReplyHeadLength + count * kServerEntryLength;
            asio::error_code ec;
            sent += socket->send_to(asio::buffer(reply.data(), length), from, 0, ec) == length;
        } while (at < list.size());
        return sent;
    }
};

MasterServer::MasterServer() : impl_(std::make_unique<Impl>()) {}

MasterServer::~MasterServer() {
    Stop();
}

bool MasterServer::Start(MasterOptions options) {
    Impl& m = *impl_;
    std::lock_guard<std::mutex> lock(m.mutex);
    if (m.socket) {
        m.error = "the master is already running";
        return false;
    }
    m.error.clear();
    m.counts = MasterCounts{};
    m.options = std::move(options);
    m.limit = RateLimit(m.options.answersPerSecond);
    // What the last run left undone runs now, while no socket is open: a
    // receive it ran here would be a second one on the new socket.
    m.io.restart();
    m.io.poll();
    m.io.restart();
    asio::error_code ec;
    const auto address = asio::ip::make_address_v4(m.options.bindAddress, ec);
    if (ec) {
        m.error = "not a dotted IPv4 address: '" + m.options.bindAddress + "'";
        return false;
    }
    m.socket.emplace(m.io);
    m.socket->open(udp::v4(), ec);
    if (!ec) {
        m.socket->bind({address, m.options.port}, ec);
    }
    if (ec) {
        m.error = "cannot bind " + m.options.bindAddress + ":" + std::to_string(m.options.port) +
                  ": " + ec.message();
        m.socket.reset();
        return false;
    }
    m.port = m.socket->local_endpoint().port();
    m.Receive();
    m.thread = std::thread([&m] { m.io.run(); });
    return true;
}

void MasterServer::Stop() {
    Impl& m = *impl_;
    m.io.stop();
    if (m.thread.joinable()) {
        m.thread.join();
    }
    std::lock_guard<std::mutex> lock(m.mutex);
    m.socket.reset();
    m.port = 0;
}

std::uint16_t MasterServer::Port() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->port;
}

std::string MasterServer::Address() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return ReachableAddress(impl_->options.bindAddress, impl_->port);
}

std::string MasterServer::Error() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->error;
}

MasterCounts MasterServer::GetCounts() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->counts;
}

}  // namespace velder::standin
