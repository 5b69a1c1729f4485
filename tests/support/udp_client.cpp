#include "tests/support/udp_client.h"

#include <asio.hpp>

#include "standin/standin_server.h"

namespace velder::support {

using asio::ip::udp;

struct Client::Impl {
    asio::io_context io{1};
    udp::socket socket{io};
    bool ready = false;
};

Client::Client(const char* bindAddress) : impl_(std::make_unique<Impl>()) {
    asio::error_code ec;
    impl_->socket.open(udp::v4(), ec);
    if (!ec && bindAddress != nullptr) {
        const auto address = asio::ip::make_address_v4(bindAddress, ec);
        if (!ec) {
            impl_->socket.bind({address, 0}, ec);
        }
    }
    impl_->ready = !ec;
}

Client::~Client() = default;

bool Client::Ready() const {
    return impl_->ready;
}

bool Client::SendTo(const char* address, std::uint16_t port, const std::string& bytes) {
    asio::error_code ec;
    const auto to = asio::ip::make_address_v4(address, ec);
    if (ec || !impl_->ready) {
        return false;
    }
    const std::size_t sent = impl_->socket.send_to(asio::buffer(bytes), {to, port}, 0, ec);
    return !ec && sent == bytes.size();
}

bool Client::Send(std::uint16_t port, const std::string& bytes) {
    return SendTo(standin::kLoopback, port, bytes);
}

std::optional<std::string> Client::Receive(std::chrono::milliseconds timeout) {
    if (!impl_->ready) {
        return std::nullopt;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string buffer(65536, '\0');  // any UDP datagram fits
    asio::error_code ec;
    impl_->socket.non_blocking(true, ec);
    while (!ec) {
        const std::size_t n = impl_->socket.receive(asio::buffer(buffer), 0, ec);
        if (!ec) {
            buffer.resize(n);
            return buffer;
        }
        if (ec != asio::error::would_block || std::chrono::steady_clock::now() >= deadline) {
            break;
        }
        // Waits on the event loop, bounded by a timer, for the socket to be readable.
        asio::steady_timer timer(impl_->io, deadline);
        impl_->socket.async_wait(udp::socket::wait_read, [&](asio::error_code) { timer.cancel(); });
        timer.async_wait([&](asio::error_code cancelled) {
            if (!cancelled) {
                impl_->socket.cancel();
            }
        });
        impl_->io.restart();
        impl_->io.run();
        ec = {};
    }
    return std::nullopt;
}

int Client::ReceiveUpTo(int most, std::chrono::milliseconds gap) {
    int count = 0;
    while (count < most && Receive(gap)) {
        ++count;
    }
    return count;
}

}  // namespace velder::support
