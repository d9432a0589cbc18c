// TCP links: connect within 5 s (a refused connection fails), replies ended
// by '\n' with every receive bounded, sends that loop over short writes.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "link.h"

namespace koruhv {

namespace {

constexpr int kConnectWaitMs = 5000;
constexpr int kReplyWaitMs = 1000; // first bytes, and again for every later chunk
constexpr int kSendWaitMs = 5000;

int waitFor(int fd, short events, int ms)
{
    for (;;) {
        struct pollfd p {
            fd, events, 0
        };
        const int r = ::poll(&p, 1, ms);
        if (r < 0 && errno == EINTR)
            continue;
        return r;
    }
}

} // namespace

int Tcp_Connect(const char *ip, int *sock, unsigned short port)
{
    if (sock)
        *sock = -1;
    if (!ip || !sock)
        return LINK_FAILED;
    struct sockaddr_in sa {};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    // The classic IPv4 text forms ("10.0.0.1", also "127.2"), as devices'
    // addresses are written.
    if (inet_aton(ip, &sa.sin_addr) == 0)
        return LINK_FAILED;
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return LINK_FAILED;
    const int flags = fcntl(s, F_GETFL, 0);
    fcntl(s, F_SETFL, flags | O_NONBLOCK);
    int rc = ::connect(s, reinterpret_cast<struct sockaddr *>(&sa), sizeof sa);
    if (rc != 0 && errno == EINPROGRESS) {
        if (waitFor(s, POLLOUT, kConnectWaitMs) == 1) {
            int err = 0;
            socklen_t len = sizeof err;
            rc = (getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0) ? 0 : -1;
        } else {
            rc = -1;
        }
    }
    if (rc != 0) {
        ::close(s);
        return LINK_FAILED;
    }
    fcntl(s, F_SETFL, flags);
    *sock = s;
    return LINK_OK;
}

int Tcp_Close(int sock)
{
    if (sock == 0)
        return LINK_CLOSE_ZERO;
    if (sock > 0)
        ::close(sock);
    return LINK_OK;
}

int Tcp_ReadReply(int sock, char *buf, size_t cap)
{
    if (!buf || cap == 0)
        return LINK_FAILED;
    buf[0] = '\0';
    size_t len = 0;
    while (len + 1 < cap) {
        if (waitFor(sock, POLLIN, kReplyWaitMs) != 1)
            break;
        size_t want = cap - 1 - len;
        if (want > 1023)
            want = 1023;
        const ssize_t n = ::recv(sock, buf + len, want, MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            break;
        len += static_cast<size_t>(n);
        buf[len] = '\0';
        if (buf[len - 1] == '\n')
            break;
    }
    return len == 0 ? LINK_FAILED : LINK_OK;
}

int Tcp_SendString(int sock, const char *text)
{
    if (!text)
        return LINK_NULL_TEXT;
    const size_t len = std::strlen(text);
    size_t done = 0;
    while (done < len) {
        const ssize_t n = ::send(sock, text + done, len - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && waitFor(sock, POLLOUT, kSendWaitMs) == 1)
            continue;
        return LINK_SEND_FAILED;
    }
    return LINK_OK;
}

} // namespace koruhv
