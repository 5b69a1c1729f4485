#include "tests/support/test_server.h"

#include <condition_variable>
#include <mutex>

#include "standin/master_server.h"
#include "tests/support/udp_client.h"

namespace velder::support {
namespace {

constexpr std::size_t kRecorded = 16;       // datagrams kept
constexpr std::size_t kRecordedBytes = 64;  // bytes kept of each

std::string Dotted(std::uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 255) + "." +
           std::to_string((address >> 8) & 255) + "." + std::to_string(address & 255);
}

}  // namespace

// Filled on the serving thread, read on the test's.
struct TestServer::Record {
    std::mutex mutex;
    std::condition_variable arrived;
    std::size_t received = 0;
    std::vector<Datagram> datagrams;
    std::vector<std::uint16_t> ports;  // the servers', once started
    std::unique_ptr<Client> foreign;   // sends foreignBytes
    std::string foreignBytes;

    // Sends the foreign datagram before the serving thread can answer the
    // first datagram, so that it is queued at its sender ahead of the answer.
    void Note(std::size_t server, std::string_view datagram, std::uint32_t address,
              std::uint16_t port) {
        bool first = false;
        {
            std::lock_guard<std::mutex> lock(mutex);
            first = received++ == 0;
            if (datagrams.size() < kRecorded) {
                Datagram& d = datagrams.emplace_back();
                d.bytes = std::string(datagram.substr(0, kRecordedBytes));
                d.length = datagram.size();
                d.senderAddress = Dotted(address);
                d.senderPort = port;
                d.serverPort = server < ports.size() ? ports[server] : 0;
            }
        }
        if (first && foreign) {
            foreign->SendTo(Dotted(address).c_str(), port, foreignBytes);
        }
        arrived.notify_all();
    }
};

TestServer::TestServer() = default;

TestServer::~TestServer() {
    Stop();
}

bool TestServer::Start(const ServerOptions& options) {
    if (server_) {
        error_ = "the server is already running";
        return false;
    }
    record_ = std::make_unique<Record>();
    if (options.foreign) {
        record_->foreign = std::make_unique<Client>("127.0.0.1");
        if (!record_->foreign->Ready()) {
            error_ = "no socket for the foreign datagram";
            return false;
        }
        record_->foreignBytes = *options.foreign;
    }
    standin::Options serve;
    serve.reply = options.reply;
    serve.delay = options.delay;
    serve.ports = options.ports;
    serve.received = [record = record_.get()](std::size_t server, std::string_view datagram,
                                              std::uint32_t address, std::uint16_t port) {
        record->Note(server, datagram, address, port);
    };
    server_ = std::make_unique<standin::MasterServer>();
    return Started(static_cast<standin::Server&>(*server_).Start(serve), options.ports);
}

bool TestServer::StartMaster(const std::vector<std::string>& servers) {
    if (server_) {
        error_ = "the server is already running";
        return false;
    }
    standin::MasterOptions serve;
    for (const std::string& server : servers) {
        const auto entry = standin::EntryFromText(server);
        if (!entry) {
            error_ = "not a server: " + server;
            return false;
        }
        serve.servers.emplace_back().entry = *entry;
    }
    record_ = std::make_unique<Record>();
    serve.received = [record = record_.get()](std::size_t server, std::string_view datagram,
                                              std::uint32_t address, std::uint16_t port) {
        record->Note(server, datagram, address, port);
    };
    server_ = std::make_unique<standin::MasterServer>();
    return Started(server_->Start(serve), 1);
}

bool TestServer::Started(bool started, int ports) {
    if (!started) {
        error_ = server_->Error();
        server_.reset();
        return false;
    }
    for (int i = 0; i < ports; ++i) {
        ports_.push_back(server_->Port(i));
    }
    std::lock_guard<std::mutex> lock(record_->mutex);
    record_->ports = ports_;
    return true;
}

void TestServer::Stop() {
    if (server_) {
        server_->Stop();
    }
    server_.reset();
    ports_.clear();
}

std::uint16_t TestServer::Port(int index) const {
    return index >= 0 && static_cast<std::size_t>(index) < ports_.size() ? ports_[index] : 0;
}

std::string TestServer::Address(int index) const {
    return "127.0.0.1:" + std::to_string(Port(index));
}

std::vector<Datagram> TestServer::Recorded() {
    if (!record_) {
        return {};
    }
    std::lock_guard<std::mutex> lock(record_->mutex);
    return record_->datagrams;
}

std::size_t TestServer::Received() {
    if (!record_) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(record_->mutex);
    return record_->received;
}

bool TestServer::WaitForReceived(std::size_t count, std::chrono::milliseconds timeout) {
    if (!record_) {
        return false;
    }
    std::unique_lock<std::mutex> lock(record_->mutex);
    return record_->arrived.wait_for(lock, timeout, [&] { return record_->received >= count; });
}

}  // namespace velder::support
