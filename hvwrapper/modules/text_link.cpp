// The link layer of the text-protocol backends: links shared by the
// instances on one port or address, and one request with its reply under the
// link's lock (late replies of a timed-out request are read past on a serial
// port; a TCP connection is replaced).
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <new>
#include <string>

#include "link.h"
#include "modules/text_engine.h"
#include "modules/text_internal.h"
#include "modules/text_wire.h"

namespace koruhv {

namespace {

// A request that timed out may still be answered; the next request on the
// link waits this long for that late reply and throws it away.
constexpr int kStaleGraceMs = 1000;
// Lines of other modules on a shared bus read past before giving up.
constexpr int kMaxForeignLines = 3;
// Between two tries to connect a TCP link again.
constexpr int kReconnectPauseMs = 5000;

std::string linkKey(const LinkParams &p)
{
    if (p.kind == TEXT_LINK_SERIAL)
        return "serial:" + p.port;
    return "tcp:" + p.ip + ":" + std::to_string(p.tcpPort);
}

// Reads and drops what is pending on a link: replies that came too late for
// their request. Waits up to waitMs for such a reply (after a time-out), and
// stops waiting once a whole line came. True when one did.
bool drainPending(TextLink &l, int waitMs)
{
    bool sawLine = false;
    const int64_t deadline = TextNowMs() + waitMs;
    for (int rounds = 0; rounds < 256; ++rounds) {
        int left = static_cast<int>(deadline - TextNowMs());
        if (left < 0 || sawLine)
            left = 0;
        struct pollfd pfd {
            l.fd, POLLIN, 0
        };
        if (::poll(&pfd, 1, left) != 1 || !(pfd.revents & POLLIN))
            break;
        char junk[1024];
        const ssize_t n = l.kind == TEXT_LINK_TCP ? ::recv(l.fd, junk, sizeof junk, MSG_DONTWAIT)
                                                  : ::read(l.fd, junk, sizeof junk);
        if (n <= 0)
            break;
        if (std::memchr(junk, '\n', static_cast<size_t>(n)) ||
            std::memchr(junk, '\r', static_cast<size_t>(n)))
            sawLine = true;
    }
    return sawLine;
}

// One request and its reply under the link's lock. line gets the reply
// without its line end.
int exchange(TextInstance &in, const char *request, std::string &line)
{
    TextLink &l = *in.link;
    const TextDialect &d = in.family->dialect;
    Link_LockMutex(&l.lock);
    if (l.reopen && TextNowMs() >= l.reopenAtMs) {
        Tcp_Close(l.fd);
        l.fd = -1;
        l.reopen = Tcp_Connect(l.ip.c_str(), &l.fd, l.tcpPort) != LINK_OK;
        // A unit that is gone is tried again only now and then: the requests
        // between fail at once instead of each waiting for a connect.
        l.reopenAtMs = l.reopen ? TextNowMs() + kReconnectPauseMs : 0;
        l.quietUntilMs = 0;
    }
    const int64_t quiet = l.quietUntilMs - TextNowMs();
    drainPending(l, quiet > 0 ? static_cast<int>(quiet) : 0);
    l.quietUntilMs = 0;
    int rc = l.fd < 0 || l.reopen      ? LINK_SEND_FAILED
             : l.kind == TEXT_LINK_TCP ? Tcp_SendString(l.fd, request)
                                       : Serial_WriteString(l.fd, request);
    if (rc == LINK_OK) {
        rc = LINK_FAILED;
        for (int attempt = 0; attempt <= kMaxForeignLines; ++attempt) {
            char buf[1024] = {};
            const int r = l.kind == TEXT_LINK_TCP ? Tcp_ReadReply(l.fd, buf, sizeof buf)
                                                  : Serial_ReadReply(l.fd, buf, sizeof buf);
            if (r != LINK_OK)
                break;
            bool foreign = false;
            const bool got = PickReplyLine(buf, line, [&](const char *candidate) {
                if (d.isOwnReply && !d.isOwnReply(in, candidate)) {
                    foreign = true;
                    return false;
                }
                return true;
            });
            if (got) {
                rc = LINK_OK;
                break;
            }
            if (!foreign)
                break; // a reply cut short: its rest may still come
        }
        if (rc != LINK_OK && l.kind == TEXT_LINK_TCP)
            l.reopen = true;
        else if (rc != LINK_OK)
            l.quietUntilMs = TextNowMs() + kStaleGraceMs;
    } else if (l.kind == TEXT_LINK_TCP) {
        l.reopen = true; // a connection that takes no request is gone
    }
    Link_UnlockMutex(&l.lock);
    return rc;
}

} // namespace

void TextReleaseLink(TextFamilyState &st, TextLink *l)
{
    if (!l || --l->refs > 0)
        return;
    if (l->kind == TEXT_LINK_TCP)
        Tcp_Close(l->fd);
    else
        Serial_Close(l->fd);
    Link_DestroyMutex(&l->lock);
    for (TextLink *&slot : st.links)
        if (slot == l)
            slot = nullptr;
    delete l;
}

TextLink *TextAcquireLink(const TextFamily &f, const LinkParams &p)
{
    TextFamilyState &st = *f.state;
    const std::string key = f.linkKey ? f.linkKey(p) : linkKey(p);
    const bool share = p.kind == TEXT_LINK_SERIAL || f.shareTcpLinks;
    int freeSlot = -1;
    for (int i = 0; i < kTextMaxInstances; ++i) {
        TextLink *l = st.links[i];
        if (!l) {
            if (freeSlot < 0)
                freeSlot = i;
            continue;
        }
        if (share && l->kind == p.kind && l->key == key) {
            ++l->refs;
            return l;
        }
    }
    if (freeSlot < 0)
        return nullptr;
    int fd = -1;
    const int rc = p.kind == TEXT_LINK_TCP
                       ? Tcp_Connect(p.ip.c_str(), &fd, p.tcpPort)
                       : Serial_Open(p.port.c_str(), p.baud, p.dataBits, p.stopBits, p.parity, p.flow, &fd);
    if (rc != LINK_OK || fd < 0)
        return nullptr;
    TextLink *l = new (std::nothrow) TextLink;
    if (!l) {
        if (p.kind == TEXT_LINK_TCP)
            Tcp_Close(fd);
        else
            Serial_Close(fd);
        return nullptr;
    }
    l->kind = p.kind;
    l->key = key;
    l->ip = p.ip;
    l->tcpPort = p.tcpPort;
    l->fd = fd;
    l->refs = 1;
    Link_InitRecursiveMutex(&l->lock);
    st.links[freeSlot] = l;
    return l;
}

namespace {

int query(TextInstance &in, RequestKind kind, int channel, const char *mnemonic, char *value, size_t cap)
{
    if (value && cap)
        value[0] = '\0';
    char req[1024];
    if (in.family->dialect.buildRequest(in, kind, channel, mnemonic, nullptr, req, sizeof req) != 0)
        return -1;
    std::string line;
    const int rc = exchange(in, req, line);
    if (rc != LINK_OK)
        return rc;
    return in.family->dialect.parseReply(in, mnemonic, line.c_str(), value, cap);
}

} // namespace

int Text_Info(TextInstance &in, int channel, const char *mnemonic, char *value, size_t cap)
{
    return query(in, REQ_INFO, channel, mnemonic, value, cap);
}

int Text_Monitor(TextInstance &in, int channel, const char *mnemonic, char *value, size_t cap)
{
    return query(in, REQ_MONITOR, channel, mnemonic, value, cap);
}

int Text_Set(TextInstance &in, int channel, const char *mnemonic, const void *value)
{
    const TextDialect &d = in.family->dialect;
    if (value && d.skipSet && d.skipSet(mnemonic, value))
        return 0;
    char req[1024];
    if (d.buildRequest(in, REQ_SET, channel, mnemonic, value, req, sizeof req) != 0)
        return -1;
    std::string line;
    const int rc = exchange(in, req, line);
    if (rc != LINK_OK)
        return rc;
    return d.setResult(in, line.c_str());
}

} // namespace koruhv
