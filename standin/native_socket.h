// The system socket calls shared by the stand-in server and the plain UDP
// client: the socket type, closing, errors and waiting. Private to standin/.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace velder::standin::native {

// Large enough for any UDP datagram.
inline constexpr std::size_t kReceiveBuffer = 65536;

#if defined(_WIN32)
using Socket = SOCKET;
using AddressLength = int;
inline constexpr Socket kBadSocket = INVALID_SOCKET;
inline void Close(Socket s) {
    closesocket(s);
}
inline std::string LastError() {
    return "Winsock error " + std::to_string(WSAGetLastError());
}
#else
using Socket = int;
using AddressLength = socklen_t;
inline constexpr Socket kBadSocket = -1;
inline void Close(Socket s) {
    close(s);
}
inline std::string LastError() {
    return std::strerror(errno);
}
#endif

inline Socket FromHandle(std::uintptr_t s) {
    return static_cast<Socket>(s);
}

// True when the socket has a datagram waiting; waits at most `timeout`.
inline bool WaitReadable(Socket s, std::chrono::microseconds timeout) {
#if defined(_WIN32)
    fd_set readSet;
    FD_ZERO(&readSet);
    FD_SET(s, &readSet);
    timeval limit{};
    limit.tv_sec = static_cast<long>(timeout.count() / 1000000);
    limit.tv_usec = static_cast<long>(timeout.count() % 1000000);
    return select(0, &readSet, nullptr, nullptr, &limit) > 0 && FD_ISSET(s, &readSet);
#else
    // Rounded up, so that an answer due in 0.3 ms does not make a busy loop.
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(timeout).count();
    pollfd entry{s, POLLIN, 0};
    return poll(&entry, 1, static_cast<int>(ms)) > 0 && (entry.revents & POLLIN) != 0;
#endif
}

}  // namespace velder::standin::native
