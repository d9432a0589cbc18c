#include "crate/sim_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace korusim::simserver {

void putBe16(std::string &s, uint16_t v)
{
    s.push_back(char(v >> 8));
    s.push_back(char(v & 0xFF));
}

void putBe32(std::string &s, uint32_t v)
{
    putBe16(s, uint16_t(v >> 16));
    putBe16(s, uint16_t(v & 0xFFFF));
}

void putLe16(std::string &s, uint16_t v)
{
    s.push_back(char(v & 0xFF));
    s.push_back(char(v >> 8));
}

void putLe32(std::string &s, uint32_t v)
{
    putLe16(s, uint16_t(v & 0xFFFF));
    putLe16(s, uint16_t(v >> 16));
}

uint16_t getBe16(const std::string &s, size_t p)
{
    return uint16_t((uint8_t(s[p]) << 8) | uint8_t(s[p + 1]));
}

uint32_t getBe32(const std::string &s, size_t p)
{
    return (uint32_t(getBe16(s, p)) << 16) | getBe16(s, p + 2);
}

uint16_t getLe16(const std::string &s, size_t p)
{
    return uint16_t(uint8_t(s[p]) | (uint8_t(s[p + 1]) << 8));
}

uint32_t getLe32(const std::string &s, size_t p)
{
    return uint32_t(getLe16(s, p)) | (uint32_t(getLe16(s, p + 2)) << 16);
}

bool sendAll(int fd, const char *data, size_t n)
{
    while (n) {
        ssize_t w = ::send(fd, data, n, MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        data += w;
        n -= size_t(w);
    }
    return true;
}

bool isLoopback(const std::string &ip)
{
    in_addr a{};
    if (inet_pton(AF_INET, ip.c_str(), &a) != 1)
        return false;
    return (ntohl(a.s_addr) >> 24) == 127;
}

std::string printable(const std::string &s)
{
    std::string out;
    for (unsigned char c : s) {
        if (c >= 0x20 && c < 0x7F)
            out.push_back(char(c));
        else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
    }
    return out;
}

bool readExact(int fd, char *buf, size_t n, const std::atomic<bool> &stopping)
{
    while (n) {
        pollfd p{fd, POLLIN, 0};
        int r = ::poll(&p, 1, 100);
        if (stopping)
            return false;
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            return false;
        if (r == 0)
            continue;
        ssize_t got = ::recv(fd, buf, n, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        buf += got;
        n -= size_t(got);
    }
    return true;
}

void pauseFor(std::chrono::milliseconds d, const std::atomic<bool> &stopping)
{
    const auto until = std::chrono::steady_clock::now() + d;
    while (!stopping && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

bool readRequest(int fd, bool littleEndian, size_t maxRequest, const std::atomic<bool> &stopping,
                 RequestFrame &out, std::string &error)
{
    char lenBytes[4];
    if (!readExact(fd, lenBytes, 4, stopping))
        return false;
    out.length.assign(lenBytes, 4);
    const uint32_t len = littleEndian ? getLe32(out.length, 0) : getBe32(out.length, 0);
    if (len == 0 || len > maxRequest) {
        error = "request length " + std::to_string(len) + " refused, connection closed";
        return false;
    }
    out.body.assign(len, '\0');
    if (!readExact(fd, out.body.data(), len, stopping)) {
        error = "connection ended inside a request of " + std::to_string(len) + " bytes";
        return false;
    }
    return true;
}

int listenOn(const std::string &address, uint16_t &port, std::string &errorText)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        errorText = std::strerror(errno);
        return -1;
    }
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(fd, 16) != 0) {
        errorText = "cannot listen on " + address + ":" + std::to_string(port) + ": " + std::strerror(errno);
        ::close(fd);
        return -1;
    }
    socklen_t al = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr *>(&a), &al);
    port = ntohs(a.sin_port);
    return fd;
}

std::unique_ptr<Conn> acceptConn(int listenFd)
{
    sockaddr_in peer{};
    socklen_t pl = sizeof peer;
    int fd = ::accept4(listenFd, reinterpret_cast<sockaddr *>(&peer), &pl, SOCK_CLOEXEC);
    if (fd < 0)
        return nullptr;
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    char ip[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &peer.sin_addr, ip, sizeof ip);
    auto c = std::make_unique<Conn>();
    c->fd = fd;
    c->peer = ip;
    return c;
}

void ConnSet::adopt(std::unique_ptr<Conn> c, const std::function<void(Conn &)> &serve)
{
    Conn *raw = c.get();
    std::lock_guard lk(m);
    for (auto it = conns.begin(); it != conns.end();) {
        if ((*it)->done) {
            (*it)->th.join();
            ::close((*it)->fd);
            it = conns.erase(it);
        } else {
            ++it;
        }
    }
    conns.push_back(std::move(c));
    raw->th = std::thread([serve, raw] { serve(*raw); });
}

void ConnSet::joinAll()
{
    std::lock_guard lk(m);
    for (auto &c : conns) {
        c->th.join();
        ::close(c->fd);
    }
    conns.clear();
}

void closeSocket(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

bool FieldReader::fail(const std::string &what)
{
    if (error.empty())
        error = where + ": " + what + " at byte " + std::to_string(p);
    return false;
}

bool FieldReader::need(size_t n, const char *what)
{
    if (!ok())
        return false;
    if (p + n > b.size())
        return fail(std::string("request ends inside ") + what);
    return true;
}

uint16_t FieldReader::u16(const char *what)
{
    if (!need(2, what))
        return 0;
    uint16_t v = littleEndian ? getLe16(b, p) : getBe16(b, p);
    p += 2;
    return v;
}

uint32_t FieldReader::u32(const char *what)
{
    if (!need(4, what))
        return 0;
    uint32_t v = littleEndian ? getLe32(b, p) : getBe32(b, p);
    p += 4;
    return v;
}

bool FieldReader::colon(const char *after)
{
    if (!ok())
        return false;
    if (p < b.size() && b[p] == ':') {
        ++p;
        return true;
    }
    return fail(std::string("':' expected after ") + after);
}

std::string FieldReader::name(const char *what)
{
    if (!ok())
        return {};
    size_t e = b.find(':', p);
    if (e == std::string::npos) {
        fail(std::string("no ':' after ") + what);
        return {};
    }
    std::string n = b.substr(p, e - p);
    if (n.find('\0') != std::string::npos)
        fail(std::string("NUL inside ") + what);
    p = e + 1;
    return n;
}

std::vector<uint16_t> FieldReader::list(uint16_t n, const char *what)
{
    std::vector<uint16_t> v;
    for (unsigned i = 0; i < n && ok(); ++i)
        v.push_back(u16(what));
    return v;
}

bool FieldReader::end()
{
    if (!ok())
        return false;
    if (p == b.size())
        return true;
    if (trailingColonOk && p + 1 == b.size() && b[p] == ':') {
        ++p;
        return true;
    }
    return fail(std::to_string(b.size() - p) + " unexpected bytes at the end");
}

int paramIndex(const std::vector<CrateParam> &list, const std::string &name)
{
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i].name == name)
            return int(i);
    return -1;
}

bool sameDescriptor(const CrateParam &a, const CrateParam &b, bool compareReserved)
{
    if (a.name != b.name || a.type != b.type || a.writable != b.writable || a.isSigned != b.isSigned)
        return false;
    if (a.type == 1)
        return a.onText == b.onText && a.offText == b.offText;
    return a.minRaw == b.minRaw && a.maxRaw == b.maxRaw && a.decimals == b.decimals && a.factor == b.factor &&
           a.unit == b.unit && a.exp == b.exp && (!compareReserved || a.reserved == b.reserved);
}

bool inRange(const CrateParam &p, uint32_t raw)
{
    if (p.type == 1)
        return raw <= 1;
    if (p.type != 0)
        return true;
    if (p.isSigned)
        return int32_t(raw) >= p.minRaw && int32_t(raw) <= p.maxRaw;
    return int64_t(raw) >= int64_t(p.minRaw) && int64_t(raw) <= int64_t(p.maxRaw);
}

} // namespace korusim::simserver
