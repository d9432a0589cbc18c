// Raw-socket helpers of the simulator self-tests: a framed TCP client
// (big- or little-endian length) and a UDP receiver, every wait bounded.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>

#include "wait_progress.h"

namespace simwire {

inline std::string be16(uint16_t v)
{
    return std::string{char(v >> 8), char(v & 0xFF)};
}
inline std::string be32(uint32_t v)
{
    return std::string{char(v >> 24), char((v >> 16) & 0xFF), char((v >> 8) & 0xFF), char(v & 0xFF)};
}
inline std::string le16(uint16_t v)
{
    return std::string{char(v & 0xFF), char(v >> 8)};
}
inline std::string le32(uint32_t v)
{
    return std::string{char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF), char(v >> 24)};
}
inline uint16_t rdBe16(const std::string &s, size_t p)
{
    return uint16_t((uint8_t(s.at(p)) << 8) | uint8_t(s.at(p + 1)));
}
inline uint32_t rdBe32(const std::string &s, size_t p)
{
    return (uint32_t(rdBe16(s, p)) << 16) | rdBe16(s, p + 2);
}
inline uint16_t rdLe16(const std::string &s, size_t p)
{
    return uint16_t(uint8_t(s.at(p)) | (uint8_t(s.at(p + 1)) << 8));
}
inline uint32_t rdLe32(const std::string &s, size_t p)
{
    return rdLe16(s, p) | (uint32_t(rdLe16(s, p + 2)) << 16);
}

inline bool readAll(int fd, std::string &out, size_t n, int ms)
{
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    out.clear();
    while (out.size() < n) {
        int left = int(
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now())
                .count());
        if (left <= 0)
            return false;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, left) <= 0)
            return false;
        char buf[4096];
        ssize_t got = ::recv(fd, buf, std::min(sizeof buf, n - out.size()), 0);
        if (got <= 0)
            return false;
        out.append(buf, size_t(got));
    }
    return true;
}

struct Client {
    bool little = false;
    int fd = -1;
    explicit Client(bool littleEndian = false) : little(littleEndian) {}
    ~Client()
    {
        if (fd >= 0)
            ::close(fd);
    }
    bool open(const std::string &ip, uint16_t port)
    {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        inet_pton(AF_INET, ip.c_str(), &a.sin_addr);
        return ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    }
    bool send(const std::string &body)
    {
        std::string f = (little ? le32(uint32_t(body.size())) : be32(uint32_t(body.size()))) + body;
        return ::send(fd, f.data(), f.size(), MSG_NOSIGNAL) == ssize_t(f.size());
    }
    std::optional<std::string> reply(int ms = koru_test::kHangGuardMs)
    {
        std::string len, body;
        if (!readAll(fd, len, 4, ms))
            return std::nullopt;
        if (!readAll(fd, body, little ? rdLe32(len, 0) : rdBe32(len, 0), ms))
            return std::nullopt;
        return body;
    }
    std::string ask(const std::string &body)
    {
        if (!send(body))
            return "<not sent>";
        auto r = reply();
        return r ? *r : std::string("<no reply>");
    }
};

struct UdpReceiver {
    int fd = -1;
    uint16_t port = 0;
    UdpReceiver()
    {
        fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
        socklen_t l = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr *>(&a), &l);
        port = ntohs(a.sin_port);
    }
    ~UdpReceiver() { ::close(fd); }
    // One datagram and its sender's address, or nothing within ms.
    std::optional<std::string> next(int ms, std::string *from = nullptr)
    {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, ms) <= 0)
            return std::nullopt;
        char buf[8192];
        sockaddr_in a{};
        socklen_t l = sizeof a;
        ssize_t n = ::recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr *>(&a), &l);
        if (n < 0)
            return std::nullopt;
        if (from) {
            char ip[INET_ADDRSTRLEN] = {};
            inet_ntop(AF_INET, &a.sin_addr, ip, sizeof ip);
            *from = ip;
        }
        return std::string(buf, size_t(n));
    }
};

} // namespace simwire
