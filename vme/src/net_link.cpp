// Network link of the bridges (TCP port 5860, IPv6 for kind 2, IPv4 for
// kind 3): connecting, framing requests and replies (magic 0xE7CAAAAA as a
// little-endian word, then the big-endian total length), and unpacking the
// reply data into the layout the cycles expect.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "vme_hooks.h"
#include "vme_internal.h"

namespace koruvme {

NetSettings &netSettings()
{
    static NetSettings s;
    return s;
}

namespace {

constexpr uint32_t kMagic = 0xE7CAAAAAu;
constexpr size_t kMaxRequest = 8388608;
constexpr size_t kFrameMax = 61440;
constexpr size_t kLastFrameMax = 32772;
constexpr int kFullFrames = 136;
constexpr size_t kReceiveSize = kFullFrames * kFrameMax + kLastFrameMax; // 8,388,612
// Unique-local prefix of the bridges' IPv6 addresses.
constexpr const char *kIpv6Prefix = "fd00:4b56";

struct NetBuffer {
    uint8_t receive[kReceiveSize];
    uint8_t send[8 + kMaxRequest];
    int32_t socket;
};

NetBuffer *bufferOf(int32_t handle)
{
    return static_cast<NetBuffer *>(g_boards[handle].transport);
}

int32_t allocBuffer(int32_t handle)
{
    auto *b = static_cast<NetBuffer *>(std::malloc(sizeof(NetBuffer)));
    if (!b)
        return kGenericError;
    b->socket = -1;
    g_boards[handle].transport = b;
    return kOk;
}

bool setBlocking(int fd, bool blocking)
{
    int fl = fcntl(fd, F_GETFL);
    if (fl < 0)
        return false;
    fl = blocking ? (fl & ~O_NONBLOCK) : (fl | O_NONBLOCK);
    return fcntl(fd, F_SETFL, fl) == 0;
}

int32_t connectOutcome(int err)
{
    switch (err) {
    case 0:
        return kOk;
    case EADDRNOTAVAIL:
    case ENETUNREACH:
    case ETIMEDOUT:
    case ECONNREFUSED:
        return kCommError;
    default:
        return kGenericError;
    }
}

int32_t netConnect(int fd, const sockaddr *addr)
{
    if (!setBlocking(fd, false))
        return kGenericError;
    socklen_t len = addr->sa_family == AF_INET    ? 16
                    : addr->sa_family == AF_INET6 ? 28
                    : addr->sa_family == AF_UNIX  ? 110
                                                  : 0;
    int err = 0;
    if (::connect(fd, addr, len) != 0) {
        err = errno;
        if (err == EINPROGRESS) {
            for (;;) {
                pollfd p{fd, POLLOUT, 0};
                int r = ::poll(&p, 1, netSettings().connectTimeoutMs);
                if (r < 0 && (errno == EINTR || errno == EAGAIN))
                    continue;
                if (r == 0) {
                    err = ETIMEDOUT;
                } else if (r < 0) {
                    err = errno;
                } else {
                    socklen_t sl = sizeof err;
                    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &sl) != 0)
                        err = errno;
                }
                break;
            }
        }
    }
    int32_t r = connectOutcome(err);
    if (r != kOk)
        return r;
    return setBlocking(fd, true) ? kOk : kGenericError;
}

// Waits for readability and receives; 0 on success, else a code.
int32_t receiveAll(int fd, uint8_t *dst, size_t n)
{
    size_t got = 0;
    while (got < n) {
        pollfd p{fd, POLLIN, 0};
        int r = ::poll(&p, 1, netSettings().replyTimeoutMs);
        if (r < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return kCommError;
        }
        if (r == 0)
            return kTimeout;
        ssize_t k = ::recv(fd, dst + got, n - got, 0);
        if (k < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        // The peer closed the connection, or the receive failed.
        if (k <= 0)
            return kCommError;
        got += static_cast<size_t>(k);
    }
    return kOk;
}

uint32_t firstCommand(const void *request, int32_t length)
{
    if (length < 2)
        return 0;
    const auto *p = static_cast<const uint8_t *>(request);
    return p[0] | (p[1] << 8);
}

} // namespace

uint32_t net_resolve_ipv4(const char *host)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *res = nullptr;
    if (getaddrinfo(host, "5860", &hints, &res) != 0 || !res)
        return kNone;
    uint32_t a = reinterpret_cast<sockaddr_in *>(res->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(res);
    return a;
}

bool net_ipv6_text(uint32_t linkNumber, char *out, size_t size)
{
    char text[46]; // at most 45 characters
    std::snprintf(text, sizeof text, "%s:%x:%x::1", kIpv6Prefix, linkNumber >> 16, linkNumber & 0xFFFF);
    return std::snprintf(out, size, "%s", text) < static_cast<int>(size);
}

int32_t net_open_ipv6(int32_t handle)
{
    char text[64];
    if (netSettings().ipv6Override)
        std::snprintf(text, sizeof text, "%s", netSettings().ipv6Override);
    else
        net_ipv6_text(g_boards[handle].linkNumber, text, sizeof text);
    if (allocBuffer(handle) != kOk)
        return kGenericError;
    NetBuffer *b = bufferOf(handle);
    b->socket = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (b->socket < 0)
        return kGenericError;
    addrinfo hints{};
    hints.ai_family = AF_INET6;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_V4MAPPED;
    addrinfo *res = nullptr;
    if (getaddrinfo(text, "5860", &hints, &res) != 0 || !res)
        return kGenericError;
    sockaddr_in6 sa{};
    std::memcpy(&sa, res->ai_addr, sizeof sa);
    freeaddrinfo(res);
    sa.sin6_port = htons(netSettings().port);
    return netConnect(b->socket, reinterpret_cast<sockaddr *>(&sa));
}

int32_t net_open_ipv4(int32_t handle)
{
    if (allocBuffer(handle) != kOk)
        return kGenericError;
    NetBuffer *b = bufferOf(handle);
    b->socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (b->socket < 0)
        return kGenericError;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(netSettings().port);
    sa.sin_addr.s_addr = g_boards[handle].linkNumber;
    return netConnect(b->socket, reinterpret_cast<sockaddr *>(&sa));
}

int32_t net_transact(int32_t handle, const void *request, int32_t length, void *reply, int32_t capacity,
                     uint32_t *status)
{
    NetBuffer *b = bufferOf(handle);
    if (!b || length < 0 || static_cast<size_t>(length) > kMaxRequest)
        return kInvalidParam;
    const uint32_t total = static_cast<uint32_t>(length) + 8;
    b->send[0] = kMagic & 0xFF;
    b->send[1] = (kMagic >> 8) & 0xFF;
    b->send[2] = (kMagic >> 16) & 0xFF;
    b->send[3] = kMagic >> 24;
    b->send[4] = total >> 24;
    b->send[5] = (total >> 16) & 0xFF;
    b->send[6] = (total >> 8) & 0xFF;
    b->send[7] = total & 0xFF;
    if (length > 0)
        std::memcpy(b->send + 8, request, length);
    ssize_t sent = ::send(b->socket, b->send, total, MSG_NOSIGNAL);
    if (sent != static_cast<ssize_t>(total))
        return kCommError;
    if (capacity == 0)
        return 0;

    size_t joined = 0;
    int fullFrames = 0;
    size_t frameMax = kFrameMax;
    for (;;) {
        uint8_t h[8];
        int32_t r = receiveAll(b->socket, h, 8);
        if (r != kOk)
            return r;
        const uint32_t magic = h[0] | (h[1] << 8) | (h[2] << 16) | (static_cast<uint32_t>(h[3]) << 24);
        if (magic != kMagic)
            return kCommError;
        const uint32_t len = (static_cast<uint32_t>(h[4]) << 24) | (h[5] << 16) | (h[6] << 8) | h[7];
        // A header shorter than itself, or a frame above its maximum, is malformed.
        if (len < 8 || len - 8 > frameMax || joined + (len - 8) > kReceiveSize)
            return kCommError;
        const size_t payload = len - 8;
        r = receiveAll(b->socket, b->receive + joined, payload);
        if (r != kOk)
            return r;
        joined += payload;
        if (payload < frameMax)
            break;
        if (++fullFrames >= kFullFrames + 1)
            break;
        frameMax = fullFrames == kFullFrames ? kLastFrameMax : kFrameMax;
    }
    if (joined < 4)
        return kGenericError;
    const uint8_t *st = b->receive + joined - 4;
    *status = st[0] | (st[1] << 8) | (st[2] << 16) | (static_cast<uint32_t>(st[3]) << 24);
    const size_t data = joined - 4;
    if (data == 0)
        return 0;

    const uint32_t cmd = firstCommand(request, length);
    const uint32_t widthField = (cmd >> 4) & 3;
    size_t group = 0, keep = 0; // 0: copied unchanged
    if (!(cmd & 0x8000) || widthField <= 1) {
        group = 4;
        keep = 2;
    } else if (widthField == 2 && (cmd & 0xF) == 1) {
        group = (cmd & 0x4000) ? 8 : 4;
        keep = (cmd & 0x4000) ? 6 : 2;
    }
    auto *out = static_cast<uint8_t *>(reply);
    size_t delivered = 0;
    if (group == 0) {
        if (data > static_cast<size_t>(capacity) || !out)
            return kCommError;
        std::memcpy(out, b->receive, data);
        delivered = data;
    } else {
        for (size_t pos = 0; pos < data; pos += group) {
            size_t n = data - pos < keep ? data - pos : keep;
            const size_t room = static_cast<size_t>(capacity) - delivered;
            // Only the final unit may be cut (an odd byte count padded by the bridge).
            if (!out || room == 0 || (n > room && pos + group < data))
                return kCommError;
            if (n > room)
                n = room;
            std::memcpy(out + delivered, b->receive + pos, n);
            delivered += n;
        }
    }
    return static_cast<int32_t>(delivered);
}

int32_t net_close(int32_t handle)
{
    NetBuffer *b = bufferOf(handle);
    if (b) {
        if (b->socket >= 0) {
            ::shutdown(b->socket, SHUT_RDWR);
            ::close(b->socket);
        }
        std::free(b);
        g_boards[handle].transport = nullptr;
    }
    return kOk;
}

} // namespace koruvme
