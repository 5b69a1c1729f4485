#include "tools/master_client.h"

#include <array>
#include <asio.hpp>

namespace velder::tools {

using asio::ip::udp;
using Clock = std::chrono::steady_clock;

void ListCollector::Take(const unsigned char* bytes, std::size_t length, bool fromMaster,
                         const EntrySink& sink) {
    const int count = fromMaster ? CountServerEntries(bytes, length) : -1;
    counts_.foreign += fromMaster ? 0 : 1;
    counts_.malformed += fromMaster && count < 0 ? 1 : 0;
    counts_.replies += count >= 0 ? 1 : 0;
    for (int i = 0; i < count && !counts_.cut; ++i) {
        const ServerEntry entry = ServerEntryAt(bytes, i);
        const std::uint64_t key = std::uint64_t{entry.address[0]} << 40 |
                                  std::uint64_t{entry.address[1]} << 32 |
                                  std::uint64_t{entry.address[2]} << 24 |
                                  std::uint64_t{entry.address[3]} << 16 | entry.port;
        if (entry.port == 0) {
            ++counts_.portZero;
        } else if (seen_.size() >= limit_) {
            counts_.cut = true;
        } else if (!seen_.insert(key).second) {
            ++counts_.repeated;
        } else {
            sink(entry);
        }
    }
}

std::string DroppedText(const ListCounts& counts) {
    std::string text;
    const std::pair<std::size_t, const char*> drops[] = {
        {counts.foreign, " datagrams from elsewhere than the master"},
        {counts.malformed, " malformed replies"},
        {counts.portZero, " entries with port 0"},
    };
    for (const auto& [count, what] : drops) {
        if (count > 0) {
            text += (text.empty() ? "dropped " : ", ") + std::to_string(count) + what;
        }
    }
    text += text.empty() ? "" : "\n";
    if (counts.cut) {
        text += "warning: the list was cut at " + std::to_string(kMaxListedServers) +
                " servers, more than any real master lists\n";
    }
    return text;
}

ListResult FetchList(const std::string& master, const ServersFilter& filter,
                     std::chrono::milliseconds quiet, const EntrySink& sink) {
    ListResult result;
    std::array<unsigned char, kLongestServersRequest> request{};
    const std::size_t requestLength = BuildServersRequest(filter, request.data(), request.size());
    asio::io_context io;
    udp::socket socket(io);
    asio::error_code ec;
    const std::size_t colon = master.rfind(':');
    const auto found =
        udp::resolver(io).resolve(udp::v4(), master.substr(0, colon), master.substr(colon + 1), ec);
    if (ec || found.empty()) {
        result.error = "cannot find the master '" + master + "'";
        return result;
    }
    const udp::endpoint to = *found.begin();
    socket.open(udp::v4(), ec);
    if (ec) {
        result.error = "cannot open a socket: " + ec.message();
        return result;
    }
    // A long list arrives in one burst: room for it while the tool reads.
    socket.set_option(udp::socket::receive_buffer_size(1 << 21), ec);

    ListCollector collector;
    std::array<unsigned char, 65536> buffer{};
    udp::endpoint from;
    asio::steady_timer timer(io);
    const Clock::time_point end = Clock::now() + std::chrono::minutes(1);
    int requests = 0;
    std::function<void()> wait;  // for the next datagram, or the end of the quiet
    const auto ask = [&] {
        ++requests;
        socket.send_to(asio::buffer(request.data(), requestLength), to, 0, ec);
    };
    wait = [&] {
        timer.expires_at(std::min(Clock::now() + quiet, end));
        timer.async_wait([&](asio::error_code timeout) {
            if (timeout) {
                return;  // a datagram came first
            }
            if (collector.Counts().replies == 0 && requests < 3 && Clock::now() < end) {
                ask();
                wait();
            } else {
                socket.cancel();
            }
        });
    };
    std::function<void()> receive = [&] {
        socket.async_receive_from(asio::buffer(buffer), from,
                                  [&](asio::error_code error, std::size_t length) {
                                      if (error == asio::error::operation_aborted) {
                                          return;
                                      }
                                      if (!error) {
                                          collector.Take(buffer.data(), length, from == to, sink);
                                      }
                                      if (collector.Counts().cut || Clock::now() >= end) {
                                          timer.cancel();
                                          return;
                                      }
                                      if (!error && collector.Counts().replies > 0 && from == to) {
                                          timer.cancel();
                                          wait();
                                      }
                                      receive();
                                  });
    };
    ask();
    wait();
    receive();
    io.run();
    result.answered = collector.Counts().replies > 0;
    result.counts = collector.Counts();
    return result;
}

}  // namespace velder::tools
