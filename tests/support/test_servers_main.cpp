// velder_test_servers: stand-in status and master servers on demand, for test programs
// that must not run a server thread of their own (32-bit Windows programs
// under Wine and qemu-i386). A native program, started once per test run:
//
//     velder_test_servers start FILE   serve in the background; FILE gets the control port
//     velder_test_servers stop FILE    end the one FILE names
//
// Tests ask through tests/support/test_server.h, one datagram each way on
// loopback; the protocol is described there. The program ends by itself
// after kIdle without a request, so nothing is left running.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <asio.hpp>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "standin/master_server.h"
#include "standin/standin_server.h"

namespace {

using asio::ip::udp;
using Clock = std::chrono::steady_clock;

constexpr auto kIdle = std::chrono::minutes(5);
constexpr std::size_t kRecorded = 16;       // datagrams kept per server
constexpr std::size_t kRecordedBytes = 64;  // bytes kept of each
constexpr int kMostPorts = 64;
constexpr std::size_t kMostServers = 256;  // alive at once

std::string Hex(std::string_view bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (const unsigned char c : bytes) {
        text += digits[c >> 4];
        text += digits[c & 15];
    }
    return text;
}

// One test's servers: the stand-in, what it received, and what it sends
// first from a port of its own to the first sender.
// The server comes last, so that it stops first. It is a master or a
// status server: a status server is started through the base's Start.
struct Stand {
    std::mutex mutex;
    std::size_t received = 0;
    std::string recorded;  // one line per datagram, at most kRecorded
    std::unique_ptr<udp::socket> foreign;
    std::string foreignBytes;
    int foreignCount = 0;
    velder::standin::MasterServer server;
};

class Controller {
  public:
    Controller(asio::io_context& io, udp::socket& socket) : io_(io), socket_(socket), idle_(io) {}

    void Run() {
        Receive();
        Rearm();
        io_.run();
        for (auto& [id, stand] : stands_) {
            stand->server.Stop();
        }
    }

  private:
    struct Wait {
        int id;
        std::size_t count;
        std::string seq;
        udp::endpoint to;
        std::shared_ptr<asio::steady_timer> timer;
    };

    void Rearm() {
        idle_.expires_after(kIdle);
        idle_.async_wait([this](asio::error_code ec) {
            if (!ec) {
                Quit();
            }
        });
    }

    void Quit() {
        idle_.cancel();
        asio::error_code ignored;
        socket_.close(ignored);
        for (Wait& wait : waits_) {
            wait.timer->cancel();
        }
    }

    void Receive() {
        socket_.async_receive_from(
            asio::buffer(buffer_), from_, [this](asio::error_code ec, std::size_t length) {
                if (ec == asio::error::operation_aborted || !socket_.is_open()) {
                    return;
                }
                // Only loopback may ask; a request is text up to its first newline.
                if (!ec && from_.address().is_loopback()) {
                    Rearm();
                    Handle(std::string_view(buffer_.data(), length));
                }
                if (socket_.is_open()) {
                    Receive();
                }
            });
    }

    void Answer(const std::string& seq, const std::string& text, const udp::endpoint& to) {
        asio::error_code ignored;
        socket_.send_to(asio::buffer(seq + " " + text), to, 0, ignored);
    }

    void Handle(std::string_view request) {
        const std::size_t newline = request.find('\n');
        std::istringstream words(std::string(request.substr(0, newline)));
        const std::string_view payload =
            newline == std::string_view::npos ? std::string_view() : request.substr(newline + 1);
        std::string seq, verb;
        words >> seq >> verb;
        const udp::endpoint to = from_;
        int id = 0;
        if (verb == "start") {
            return Start(seq, words, payload, to);
        }
        if (verb == "master") {
            return StartMaster(seq, payload, to);
        }
        if (verb == "quit") {
            Answer(seq, "ok", to);
            return Quit();
        }
        words >> id;
        const auto found = stands_.find(id);
        if (found == stands_.end()) {
            return Answer(seq, "error no such server", to);
        }
        Stand& stand = *found->second;
        if (verb == "recorded") {
            std::lock_guard<std::mutex> lock(stand.mutex);
            Answer(seq, "ok " + std::to_string(stand.received) + "\n" + stand.recorded, to);
        } else if (verb == "wait") {
            std::size_t count = 0;
            long milliseconds = 0;
            words >> count >> milliseconds;
            auto timer = std::make_shared<asio::steady_timer>(socket_.get_executor());
            timer->expires_after(std::chrono::milliseconds(std::clamp(milliseconds, 0L, 60000L)));
            waits_.push_back({id, count, seq, to, timer});
            timer->async_wait([this, timer](asio::error_code) { Check(timer.get()); });
            Check(nullptr);
        } else if (verb == "stop") {
            stand.server.Stop();
            stands_.erase(found);
            Check(nullptr);
            Answer(seq, "ok", to);
        } else {
            Answer(seq, "error unknown request", to);
        }
    }

    // start DELAY PORTS REPLY_LENGTH(-1: silent) FOREIGN_ADDRESS(-: none) FOREIGN_COUNT
    //       FOREIGN_LENGTH, then the reply's bytes and the foreign datagram's.
    void Start(const std::string& seq, std::istringstream& words, std::string_view payload,
               const udp::endpoint& to) {
        long delay = -1, replyLength = -2, foreignLength = -1;
        int ports = 0, foreignCount = 0;
        std::string foreignAddress;
        words >> delay >> ports >> replyLength >> foreignAddress >> foreignCount >> foreignLength;
        if (!words || delay < 0 || ports < 1 || ports > kMostPorts || replyLength < -1 ||
            foreignCount < 0 || foreignCount > 1000 || foreignLength < 0 ||
            static_cast<std::size_t>(std::max(replyLength, 0L) + foreignLength) != payload.size() ||
            stands_.size() >= kMostServers) {
            return Answer(seq, "error malformed start", to);
        }
        auto stand = std::make_unique<Stand>();
        Stand* s = stand.get();
        if (foreignAddress != "-") {
            asio::error_code ec;
            const auto address = asio::ip::make_address_v4(foreignAddress, ec);
            if (ec || !address.is_loopback()) {
                return Answer(seq, "error not a loopback address: " + foreignAddress, to);
            }
            stand->foreign = std::make_unique<udp::socket>(socket_.get_executor());
            stand->foreign->open(udp::v4(), ec);
            if (!ec) {
                stand->foreign->bind({address, 0}, ec);
            }
            if (ec) {
                return Answer(seq, "error cannot bind " + foreignAddress + ": " + ec.message(), to);
            }
            stand->foreignBytes = std::string(payload.substr(std::max(replyLength, 0L)));
            stand->foreignCount = foreignCount;
        }
        velder::standin::Options options;
        if (replyLength >= 0) {
            options.reply = std::string(payload.substr(0, replyLength));
        }
        options.delay = std::chrono::milliseconds(delay);
        options.ports = ports;
        options.received = [this, s](std::size_t server, std::string_view datagram,
                                     std::uint32_t address, std::uint16_t port) {
            Record(*s, server, datagram, address, port);
        };
        if (!static_cast<velder::standin::Server&>(stand->server).Start(options)) {
            return Answer(seq, "error " + stand->server.Error(), to);
        }
        Started(seq, std::move(stand), ports, to);
    }

    // master, then the list's servers, one A.B.C.D:PORT a line: a stand-in
    // master serving them in that order on one port. Its requests are
    // recorded and waited for as a status server's datagrams are.
    void StartMaster(const std::string& seq, std::string_view payload, const udp::endpoint& to) {
        if (stands_.size() >= kMostServers) {
            return Answer(seq, "error too many servers", to);
        }
        velder::standin::MasterOptions options;
        std::istringstream lines{std::string(payload)};
        for (std::string line; std::getline(lines, line);) {
            const auto entry = velder::standin::EntryFromText(line);
            if (!entry) {
                return Answer(seq, "error not a server: " + line.substr(0, 64), to);
            }
            options.servers.emplace_back().entry = *entry;
        }
        auto stand = std::make_unique<Stand>();
        options.received = [this, s = stand.get()](std::size_t server, std::string_view datagram,
                                                   std::uint32_t address, std::uint16_t port) {
            Record(*s, server, datagram, address, port);
        };
        if (!stand->server.Start(options)) {
            return Answer(seq, "error " + stand->server.Error(), to);
        }
        Started(seq, std::move(stand), 1, to);
    }

    // Answers "ok ID PORT..." for the stand-in just started.
    void Started(const std::string& seq, std::unique_ptr<Stand> stand, int ports,
                 const udp::endpoint& to) {
        // Appended piece by piece: GCC 12 at -O3 warns of an overlap in
        // " " + std::to_string(...) here.
        std::string text = "ok ";
        text += std::to_string(++lastId_);
        for (int i = 0; i < ports; ++i) {
            text += ' ';
            text += std::to_string(stand->server.Port(i));
        }
        stands_.emplace(lastId_, std::move(stand));
        Answer(seq, text, to);
    }

    // On the stand-in's thread: keeps the datagram's record, sends the
    // foreign datagrams before the first one's answer can go, and has the
    // control thread look at the waits.
    void Record(Stand& s, std::size_t server, std::string_view datagram, std::uint32_t address,
                std::uint16_t port) {
        const udp::endpoint sender(asio::ip::address_v4(address), port);
        bool first = false;
        {
            std::lock_guard<std::mutex> lock(s.mutex);
            first = s.received++ == 0;
            if (s.received <= kRecorded) {
                s.recorded += std::to_string(datagram.size()) + " " + sender.address().to_string() +
                              " " + std::to_string(port) + " " +
                              std::to_string(s.server.Port(static_cast<int>(server))) + " " +
                              Hex(datagram.substr(0, kRecordedBytes)) + "\n";
            }
        }
        if (first && s.foreign) {
            for (int i = 0; i < s.foreignCount; ++i) {
                asio::error_code ignored;
                s.foreign->send_to(asio::buffer(s.foreignBytes), sender, 0, ignored);
            }
        }
        asio::post(socket_.get_executor(), [this] { Check(nullptr); });
    }

    // Answers every wait whose count was reached, or whose timer is `expired`.
    void Check(const asio::steady_timer* expired) {
        for (auto wait = waits_.begin(); wait != waits_.end();) {
            const auto found = stands_.find(wait->id);
            std::size_t received = 0;
            if (found != stands_.end()) {
                std::lock_guard<std::mutex> lock(found->second->mutex);
                received = found->second->received;
            }
            if (received >= wait->count || wait->timer.get() == expired || found == stands_.end()) {
                wait->timer->cancel();
                Answer(wait->seq, "ok " + std::to_string(received), wait->to);
                wait = waits_.erase(wait);
            } else {
                ++wait;
            }
        }
    }

    asio::io_context& io_;
    udp::socket& socket_;
    asio::steady_timer idle_;
    std::array<char, 65536> buffer_{};
    udp::endpoint from_;
    std::map<int, std::unique_ptr<Stand>> stands_;
    std::list<Wait> waits_;
    int lastId_ = 0;
};

// Serves in a child process of its own; returns once the child wrote FILE.
int Start(const std::string& file) {
    int ready[2];
    if (pipe(ready) != 0) {
        std::perror("pipe");
        return 1;
    }
    const pid_t child = fork();
    if (child < 0) {
        std::perror("fork");
        return 1;
    }
    if (child > 0) {
        close(ready[1]);
        // The child closes its end once FILE is written, or writes why it could not.
        std::string why;
        char chunk[256];
        for (ssize_t n; (n = read(ready[0], chunk, sizeof chunk)) > 0;) {
            why.append(chunk, static_cast<std::size_t>(n));
        }
        if (!why.empty()) {
            std::fprintf(stderr, "velder_test_servers: %s\n", why.c_str());
            return 1;
        }
        std::printf("velder_test_servers: serving, control port in %s\n", file.c_str());
        return 0;
    }
    close(ready[0]);
    setsid();
    // Nothing of the caller's is held open: ctest waits for its pipes to close.
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    asio::io_context io{1};
    udp::socket socket(io);
    asio::error_code ec;
    socket.open(udp::v4(), ec);
    if (!ec) {
        socket.bind({asio::ip::make_address_v4(velder::standin::kLoopback), 0}, ec);
    }
    const std::string part = file + ".part";
    if (!ec) {
        std::ofstream(part) << socket.local_endpoint().port() << "\n";
    }
    if (ec || std::rename(part.c_str(), file.c_str()) != 0) {
        const std::string why = "cannot serve: " + (ec ? ec.message() : "cannot write " + file);
        [[maybe_unused]] const ssize_t n = write(ready[1], why.data(), why.size());
        return 1;
    }
    close(ready[1]);
    Controller(io, socket).Run();
    std::remove(file.c_str());
    return 0;
}

int Stop(const std::string& file) {
    unsigned port = 0;
    if (!(std::ifstream(file) >> port) || port == 0 || port > 65535) {
        std::printf("velder_test_servers: nothing to stop (%s)\n", file.c_str());
        return 0;
    }
    asio::io_context io{1};
    udp::socket socket(io, udp::v4());
    const udp::endpoint helper(asio::ip::make_address_v4(velder::standin::kLoopback),
                               static_cast<std::uint16_t>(port));
    socket.send_to(asio::buffer(std::string("0 quit")), helper);
    std::remove(file.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc == 3 ? argv[1] : "";
    if (mode == "start") {
        return Start(argv[2]);
    }
    if (mode == "stop") {
        return Stop(argv[2]);
    }
    std::fprintf(stderr, "usage: velder_test_servers start|stop FILE\n");
    return 2;
}
