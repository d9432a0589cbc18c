// A raw client for the simulator self-tests: one TCP connection or pty
// file descriptor, one request line, one reply, every wait bounded.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "wait_progress.h"

namespace simclient {

inline int connectTo(const std::string &address, uint16_t port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Reads until the text ends in CR LF or nothing more comes within timeoutMs.
inline std::string readReply(int fd, int timeoutMs)
{
    std::string out;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, int(left.count())) <= 0)
            break;
        char buf[2048];
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        out.append(buf, size_t(n));
        if (out.size() >= 2 && out.compare(out.size() - 2, 2, "\r\n") == 0)
            break;
    }
    return out;
}

// Sends `line` plus CR LF and returns the reply ("" when none came).
inline std::string exchange(int fd, const std::string &line, int timeoutMs = koru_test::kHangGuardMs)
{
    std::string s = line + "\r\n";
    if (::write(fd, s.data(), s.size()) != ssize_t(s.size()))
        return "<write failed>";
    return readReply(fd, timeoutMs);
}

} // namespace simclient
