// The system socket calls of the plain server and client: the socket type,
// closing, errors and waiting.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#if defined(_WIN32)
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0600  // WSAPoll
#endif
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

namespace velder::plain::native {

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

// Waits for any of `entries` to be ready, at most `milliseconds` (-1: no limit).
#if defined(_WIN32)
using PollEntry = WSAPOLLFD;
inline int Poll(PollEntry* entries, std::size_t count, int milliseconds) {
    return WSAPoll(entries, static_cast<ULONG>(count), milliseconds);
}
#else
using PollEntry = pollfd;
inline int Poll(PollEntry* entries, std::size_t count, int milliseconds) {
    return poll(entries, static_cast<nfds_t>(count), milliseconds);
}
#endif

// True when the socket has a datagram waiting; waits at most `timeout`.
inline bool WaitReadable(Socket s, std::chrono::milliseconds timeout) {
    PollEntry entry{};
    entry.fd = s;
    entry.events = POLLIN;
    return Poll(&entry, 1, static_cast<int>(timeout.count())) > 0 && (entry.revents & POLLIN) != 0;
}

}  // namespace velder::plain::native
