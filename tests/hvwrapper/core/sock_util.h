// Loopback socket helpers for the tests: a listener on an ephemeral port
// and connected pairs whose client side has a chosen source address.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "wait_progress.h"

namespace coretest {

struct Listener {
    int fd = -1;
    unsigned short port = 0;
    explicit Listener(const char *ip = "127.0.0.1")
    {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        inet_pton(AF_INET, ip, &a.sin_addr);
        ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
        ::listen(fd, 8);
        socklen_t len = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~Listener()
    {
        if (fd >= 0)
            ::close(fd);
    }
    // Accepts the next connection; -1 only when none comes (a hang).
    int accept()
    {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, koru_test::kHangGuardMs) != 1)
            return -1;
        return ::accept(fd, nullptr, nullptr);
    }
};

// Connects to 127.0.0.1:port from source address src.
inline int connectFrom(const char *src, unsigned short port, const char *dst = "127.0.0.1")
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    inet_pton(AF_INET, src, &a.sin_addr);
    ::bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a);
    sockaddr_in d{};
    d.sin_family = AF_INET;
    d.sin_port = htons(port);
    inet_pton(AF_INET, dst, &d.sin_addr);
    if (::connect(s, reinterpret_cast<sockaddr *>(&d), sizeof d) != 0) {
        ::close(s);
        return -1;
    }
    return s;
}

struct Pair {
    int server = -1; // the accepted side: what the reader reads
    int client = -1; // the writer
    Pair(const char *src = "127.0.0.1")
    {
        Listener l;
        client = connectFrom(src, l.port);
        server = l.accept();
    }
    ~Pair()
    {
        if (server >= 0)
            ::close(server);
        if (client >= 0)
            ::close(client);
    }
    void send(const std::string &bytes) const { ::send(client, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
    void closeClient()
    {
        ::close(client);
        client = -1;
    }
};

inline std::string be32(uint32_t v)
{
    std::string s(4, '\0');
    s[0] = char(v >> 24);
    s[1] = char(v >> 16);
    s[2] = char(v >> 8);
    s[3] = char(v);
    return s;
}

} // namespace coretest
