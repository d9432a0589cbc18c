// The link layer of the text-protocol backends: links shared by the
// instances on one port or address, and one request with its reply under the
// link's lock. A link is kept in step with its unit: bytes waiting before a
// request, a second reply line, a line that answers another request or a
// reply that came faster than the unit can answer put it out of step; a TCP
// connection is then replaced (as the open makes it, with the unit's moment
// after the connect), a serial port read empty.
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
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
// Room the unit's own reply gets after an early one, beyond the time the
// link usually takes (microseconds).
constexpr int64_t kEarlyReplyMarginUs = 200;

int64_t nowUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

std::string linkKey(const LinkParams &p)
{
    if (p.kind == TEXT_LINK_SERIAL) {
        // One port has many names ("pts/3", a symbolic link, a path through
        // another folder): the device they lead to is the link.
        struct stat st {};
        const std::string path = "/dev/" + p.port;
        if (::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode))
            return "serial-device:" + std::to_string(major(st.st_rdev)) + ":" +
                   std::to_string(minor(st.st_rdev));
        return "serial:" + p.port;
    }
    return "tcp:" + p.ip + ":" + std::to_string(p.tcpPort);
}

// Reads and drops what is pending on a link. Waits up to waitMs for a late
// reply (after a time-out) and stops waiting once a whole line came; with
// toLineEnd, bytes that end inside a line are followed to its end (within
// the grace). True when anything was dropped or the peer closed.
bool drainPending(TextLink &l, int waitMs, bool toLineEnd)
{
    bool dropped = false, atLineEnd = true;
    int64_t deadline = TextNowMs() + waitMs;
    for (int rounds = 0; rounds < 256; ++rounds) {
        int left = static_cast<int>(deadline - TextNowMs());
        if (left < 0 || (dropped && atLineEnd))
            left = 0;
        struct pollfd pfd {
            l.fd, POLLIN, 0
        };
        if (::poll(&pfd, 1, left) != 1 || !(pfd.revents & (POLLIN | POLLHUP | POLLERR)))
            break;
        char junk[1024];
        const ssize_t n = l.kind == TEXT_LINK_TCP ? ::recv(l.fd, junk, sizeof junk, MSG_DONTWAIT)
                                                  : ::read(l.fd, junk, sizeof junk);
        if (n == 0 && l.kind == TEXT_LINK_TCP)
            return true; // closed by the unit: no reply can come on it
        if (n <= 0)
            break;
        dropped = true;
        atLineEnd = junk[n - 1] == '\n' || junk[n - 1] == '\r';
        if (toLineEnd && !atLineEnd)
            deadline = std::max(deadline, TextNowMs() + kStaleGraceMs);
    }
    return dropped;
}

// Connects a TCP link again as the open does, the unit's moment after the
// connect included. A unit that cannot be reached is tried again only after
// kReconnectPauseMs.
void reconnect(TextLink &l, const TextFamily &f)
{
    Tcp_Close(l.fd);
    l.fd = -1;
    const bool ok = Tcp_Connect(l.ip.c_str(), &l.fd, l.tcpPort) == LINK_OK;
    if (ok && f.pauseAfterTcpOpen)
        Text_SleepMs(Text_Timing().tcpSettleMs);
    l.reopen = !ok;
    l.reopenAtMs = ok ? 0 : TextNowMs() + kReconnectPauseMs;
    l.quietUntilMs = 0;
}

void outOfStep(TextLink &l)
{
    if (l.kind == TEXT_LINK_TCP) {
        l.reopen = true;
        l.reopenAtMs = 0;
    }
    // A serial port is read empty before the next request.
}

// How long the link's unit usually takes to answer (the median of its recent
// answers, microseconds), or 0 while too few are known.
int64_t usualReplyUs(const TextLink &l)
{
    if (l.replySamples < 4)
        return 0;
    const int n = std::min(l.replySamples, TextLink::kReplySamples);
    int64_t v[TextLink::kReplySamples];
    std::copy(l.replyUs, l.replyUs + n, v);
    std::nth_element(v, v + n / 2, v + n);
    return v[n / 2];
}

void noteReplyTime(TextLink &l, int64_t us)
{
    l.replyUs[l.replySamples % TextLink::kReplySamples] = us;
    ++l.replySamples;
    if (l.replySamples >= 2 * TextLink::kReplySamples)
        l.replySamples -= TextLink::kReplySamples; // keeps the ring position, never overflows
}

int readOnce(TextLink &l, char *buf, size_t cap)
{
    return l.kind == TEXT_LINK_TCP ? Tcp_ReadReply(l.fd, buf, cap) : Serial_ReadReply(l.fd, buf, cap);
}

// ReplyReader::readLine: only lines of other modules came.
constexpr int kOnlyForeignLines = -2;

// The reply to one request: lines of other modules are read past, and so
// are lines that answer another request (the link is then out of step, as
// it is when one read brings two replies).
struct ReplyReader {
    TextInstance &in;
    RequestKind kind;
    const char *mnemonic;
    bool stale = false;

    // One read of the link: 0 with the last line that answers this
    // request, kOnlyForeignLines, or the link's code.
    int readLine(std::string &line)
    {
        const TextDialect &d = in.family->dialect;
        char buf[1024] = {};
        const int r = readOnce(*in.link, buf, sizeof buf);
        if (r != LINK_OK)
            return r;
        bool foreign = false;
        int answers = 0;
        const bool got = PickReplyLine(buf, line, [&](const char *candidate) {
            if (d.isOwnReply && !d.isOwnReply(in, candidate)) {
                foreign = true;
                return false;
            }
            if (d.isReplyTo && !d.isReplyTo(in, kind, mnemonic, candidate)) {
                foreign = true;
                stale = true;
                return false;
            }
            ++answers;
            return true;
        });
        if (answers > 1)
            stale = true;
        if (got)
            return LINK_OK;
        return foreign ? kOnlyForeignLines : LINK_FAILED; // else a reply cut short
    }

    int read(std::string &line)
    {
        for (int attempt = 0; attempt <= kMaxForeignLines; ++attempt) {
            const int r = readLine(line);
            if (r != kOnlyForeignLines)
                return r;
        }
        return LINK_FAILED;
    }
};

// One request and its reply under the link's lock. line gets the reply
// without its line end.
int exchange(TextInstance &in, RequestKind kind, const char *mnemonic, const char *request, std::string &line)
{
    TextLink &l = *in.link;
    const TextFamily &f = *in.family;
    const bool tcp = l.kind == TEXT_LINK_TCP;
    Link_LockMutex(&l.lock);
    if (tcp && l.reopen && TextNowMs() >= l.reopenAtMs)
        reconnect(l, f);
    if (l.fd >= 0 && !l.reopen) {
        // Nothing may wait before a request: what does belongs to an earlier
        // one (a late or a second reply).
        const int64_t quiet = l.quietUntilMs - TextNowMs();
        l.quietUntilMs = 0;
        if (drainPending(l, quiet > 0 ? static_cast<int>(quiet) : 0, !tcp) && tcp)
            reconnect(l, f);
    }
    // Timed from before the write: the unit may answer before the write
    // call returns.
    const int64_t sentUs = nowUs();
    int rc = l.fd < 0 || l.reopen ? LINK_SEND_FAILED
             : tcp                ? Tcp_SendString(l.fd, request)
                                  : Serial_WriteString(l.fd, request);
    if (rc == LINK_OK) {
        ReplyReader reader{in, kind, mnemonic};
        rc = reader.read(line);
        const int64_t tookUs = nowUs() - sentUs;
        const int64_t usualUs = usualReplyUs(l);
        bool early = false;
        if (rc == LINK_OK && usualUs > 0 && tookUs * 3 < usualUs * 2) {
            // Faster than this unit answers: the reply may have been on its
            // way before the request (a second reply to an earlier one), and
            // the request's own still to come. What comes in the time the
            // unit would need is the newer line; the link is out of step.
            const int64_t roomUs = std::min<int64_t>(usualUs - tookUs + usualUs / 2 + kEarlyReplyMarginUs,
                                                     int64_t{kStaleGraceMs} * 1000);
            struct pollfd pfd {
                l.fd, POLLIN, 0
            };
            const struct timespec room {
                static_cast<time_t>(roomUs / 1000000), static_cast<long>(roomUs % 1000000) * 1000
            };
            if (::ppoll(&pfd, 1, &room, nullptr) == 1) {
                early = true;
                std::string later;
                if (reader.readLine(later) == LINK_OK)
                    line = std::move(later);
            }
        }
        if (rc != LINK_OK && tcp)
            l.reopen = true;
        else if (rc != LINK_OK)
            l.quietUntilMs = TextNowMs() + kStaleGraceMs;
        else if (early || reader.stale)
            outOfStep(l);
        else
            noteReplyTime(l, tookUs);
    } else if (tcp) {
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
    const int rc = exchange(in, kind, mnemonic, req, line);
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
    const int rc = exchange(in, REQ_SET, mnemonic, req, line);
    if (rc != LINK_OK)
        return rc;
    return d.setResult(in, line.c_str());
}

} // namespace koruhv
