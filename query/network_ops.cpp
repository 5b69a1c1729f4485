#include "query/network_ops.h"

#include <cstring>

#include "platform/tick_counter.h"

namespace velder {
namespace {

const NetworkOps kSystemOps = {
    nullptr,
    [](void*) { return platform::StartSockets(); },
    [](void*) { platform::StopSockets(); },
    [](void*, platform::SocketHandle* socket) { return platform::OpenUdpSocket(socket); },
    [](void*, const char* name, platform::Ipv4Address* address) {
        return platform::LookUpHost(name, address);
    },
    [](void*, platform::SocketHandle socket, const unsigned char* bytes, std::size_t length,
       const platform::Ipv4Address& address,
       std::uint16_t port) { platform::SendDatagram(socket, bytes, length, address, port); },
    [](void*, platform::SocketHandle socket, std::uint32_t milliseconds) {
        return platform::WaitReadable(socket, milliseconds);
    },
    [](void*, platform::SocketHandle socket, unsigned char* buffer, std::size_t capacity,
       platform::Sender* sender) {
        return platform::ReceiveDatagram(socket, buffer, capacity, sender);
    },
    [](void*, platform::SocketHandle socket) { platform::CloseSocket(socket); },
    [](void*) { return platform::TickMilliseconds(); },
};

}  // namespace

const NetworkOps& SystemNetworkOps() {
    return kSystemOps;
}

void ReleaseSockets(const NetworkOps& ops, const HeldSockets& held) {
    if (held.socketOpen) {
        ops.closeSocket(ops.context, held.socket);
    }
    if (held.socketsStarted) {
        ops.stopSockets(ops.context);
    }
}

Reach OpenSocketFor(const NetworkOps& ops, const char* host, HeldSockets& held,
                    platform::Ipv4Address* address) {
    held.socketOpen = ops.openSocket(ops.context, &held.socket);
    if (!held.socketOpen) {
        return Reach::kNoSocket;
    }
    return ops.lookUpHost(ops.context, host, address) ? Reach::kReady : Reach::kNoHost;
}

bool CameFrom(const platform::Sender& sender, const platform::Ipv4Address& address,
              std::uint16_t port) {
    return sender.known && sender.port == port &&
           std::memcmp(sender.address.bytes, address.bytes, sizeof address.bytes) == 0;
}

}  // namespace velder
