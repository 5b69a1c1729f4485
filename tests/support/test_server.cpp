#include "tests/support/test_server.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/udp_socket.h"

namespace velder::support {
namespace {

using Clock = std::chrono::steady_clock;

// Beyond the time a request asks for, how long the program may take to answer.
constexpr std::chrono::milliseconds kAnswerTime{10000};
constexpr std::size_t kMostDatagram = 65536;  // any UDP datagram fits

const platform::Ipv4Address kLoopback{{127, 0, 0, 1}};

std::uint16_t ControlPort() {
    unsigned port = 0;
    std::ifstream file(VELDER_TEST_SERVERS_FILE);
    return file >> port && port <= 65535 ? static_cast<std::uint16_t>(port) : 0;
}

std::string Unhex(const std::string& text) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        bytes += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
    }
    return bytes;
}

}  // namespace

TestServer::~TestServer() {
    Stop();
}

std::optional<std::string> TestServer::Ask(const std::string& request,
                                           std::chrono::milliseconds timeout) {
    static unsigned sequence = 0;
    const std::uint16_t port = ControlPort();
    if (port == 0) {
        error_ = "no test servers: ctest's test_servers fixture writes " VELDER_TEST_SERVERS_FILE;
        return std::nullopt;
    }
    const std::string seq = std::to_string(++sequence);
    const std::string datagram = seq + " " + request;
    if (!platform::StartSockets()) {
        error_ = "the socket layer did not start";
        return std::nullopt;
    }
    platform::SocketHandle socket{};
    if (!platform::OpenUdpSocket(&socket)) {
        platform::StopSockets();
        error_ = "no socket";
        return std::nullopt;
    }
    platform::SendDatagram(socket, reinterpret_cast<const unsigned char*>(datagram.data()),
                           datagram.size(), kLoopback, port);

    // Only the program's answer to this request counts: from its port on
    // loopback, with this request's number.
    std::optional<std::string> answer;
    std::vector<unsigned char> buffer(kMostDatagram);
    const auto deadline = Clock::now() + timeout + kAnswerTime;
    error_ = "no answer from the test servers on port " + std::to_string(port);
    for (int datagrams = 0; datagrams < 1000 && !answer && Clock::now() < deadline; ++datagrams) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (platform::WaitReadable(socket, static_cast<std::uint32_t>(left.count())) <= 0) {
            break;
        }
        platform::Sender sender;
        const std::int32_t n =
            platform::ReceiveDatagram(socket, buffer.data(), buffer.size(), &sender);
        const std::string text(reinterpret_cast<const char*>(buffer.data()),
                               n > 0 ? static_cast<std::size_t>(n) : 0);
        if (n <= 0 || !sender.known || sender.port != port ||
            std::memcmp(sender.address.bytes, kLoopback.bytes, 4) != 0 ||
            text.compare(0, seq.size() + 1, seq + " ") != 0) {
            continue;
        }
        if (text.compare(seq.size() + 1, 3, "ok ") == 0 || text == seq + " ok") {
            answer = text.substr(std::min(text.size(), seq.size() + 4));
            error_.clear();
        } else {
            error_ = "the test servers said: " + text.substr(seq.size() + 1);
            break;
        }
    }
    platform::CloseSocket(socket);
    platform::StopSockets();
    return answer;
}

bool TestServer::Start(const ServerOptions& options) {
    if (id_ != 0) {
        error_ = "the server is already running";
        return false;
    }
    const std::string reply = options.reply.value_or("");
    const std::string foreign = options.foreign.value_or("");
    std::ostringstream request;
    request << "start " << options.delay.count() << " " << options.ports << " "
            << (options.reply ? static_cast<long>(reply.size()) : -1L) << " "
            << (options.foreign ? options.foreignAddress : "-") << " " << options.foreignCount
            << " " << foreign.size() << "\n"
            << reply << foreign;
    return Started(Ask(request.str(), {}));
}

bool TestServer::StartMaster(const std::vector<std::string>& servers) {
    if (id_ != 0) {
        error_ = "the server is already running";
        return false;
    }
    std::string request = "master\n";
    for (const std::string& server : servers) {
        request += server + "\n";
    }
    return Started(Ask(request, {}));
}

bool TestServer::Started(const std::optional<std::string>& answer) {
    if (!answer) {
        return false;
    }
    std::istringstream words(*answer);
    words >> id_;
    for (unsigned port = 0; words >> port;) {
        ports_.push_back(static_cast<std::uint16_t>(port));
    }
    return true;
}

void TestServer::Stop() {
    if (id_ != 0) {
        Ask("stop " + std::to_string(id_), {});
    }
    id_ = 0;
    ports_.clear();
}

std::uint16_t TestServer::Port(int index) const {
    return index >= 0 && static_cast<std::size_t>(index) < ports_.size() ? ports_[index] : 0;
}

std::string TestServer::Address(int index) const {
    return "127.0.0.1:" + std::to_string(Port(index));
}

std::vector<Datagram> TestServer::Recorded() {
    std::vector<Datagram> recorded;
    const std::optional<std::string> answer = Ask("recorded " + std::to_string(id_), {});
    std::istringstream lines(answer.value_or(""));
    std::string line;
    std::getline(lines, line);  // the count
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        Datagram d;
        std::string hex;
        words >> d.length >> d.senderAddress >> d.senderPort >> d.serverPort >> hex;
        d.bytes = Unhex(hex);
        recorded.push_back(std::move(d));
    }
    return recorded;
}

std::size_t TestServer::Received() {
    std::size_t received = 0;
    std::istringstream(Ask("recorded " + std::to_string(id_), {}).value_or("")) >> received;
    return received;
}

bool TestServer::WaitForReceived(std::size_t count, std::chrono::milliseconds timeout) {
    const std::optional<std::string> answer =
        Ask("wait " + std::to_string(id_) + " " + std::to_string(count) + " " +
                std::to_string(timeout.count()),
            timeout);
    std::size_t received = 0;
    return answer && std::istringstream(*answer) >> received && received >= count;
}

}  // namespace velder::support
