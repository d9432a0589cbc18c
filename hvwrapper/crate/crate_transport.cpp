#include "crate_transport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace koruhv {

namespace {

constexpr int kConnectMs = 5000;
constexpr int kReplyMs = 20000;

std::atomic<uint16_t> gTestPort{0};
std::atomic<int> gTestConnectMs{0};
std::atomic<int> gTestReplyMs{0};

int connectMs()
{
    return gTestConnectMs.load() > 0 ? gTestConnectMs.load() : kConnectMs;
}
int replyMs()
{
    return gTestReplyMs.load() > 0 ? gTestReplyMs.load() : kReplyMs;
}

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? int(left) : 0;
}

enum IoResult { IO_OK, IO_TIMEOUT, IO_ERROR, IO_CLOSED };

// Waits for the socket within what is left of the budget.
IoResult waitFor(int sock, short events, Clock::time_point deadline)
{
    for (;;) {
        pollfd p{sock, events, 0};
        int r = ::poll(&p, 1, remainingMs(deadline));
        if (r > 0)
            return IO_OK;
        if (r == 0)
            return IO_TIMEOUT;
        if (errno != EINTR)
            return IO_ERROR;
    }
}

// Both loops try the socket first and wait only when it has nothing (or no
// room): one system call per step in the common case, every wait bounded.
// A fresh reply is the exception: it is waited for first (see waitFirst).
IoResult sendAll(int sock, const uint8_t *p, size_t n, Clock::time_point deadline)
{
    while (n) {
        ssize_t k = ::send(sock, p, n, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (k < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                return IO_ERROR;
            IoResult w = waitFor(sock, POLLOUT, deadline);
            if (w != IO_OK)
                return w;
            continue;
        }
        p += k;
        n -= size_t(k);
    }
    return IO_OK;
}

// waitFirst: the bytes are a reply to a request just sent, which is almost
// never there yet; waiting first saves the receive that would fail.
IoResult recvExact(int sock, uint8_t *p, size_t n, Clock::time_point deadline, bool waitFirst = false)
{
    if (waitFirst && n) {
        IoResult w = waitFor(sock, POLLIN, deadline);
        if (w != IO_OK)
            return w;
    }
    while (n) {
        ssize_t k = ::recv(sock, p, n, MSG_DONTWAIT);
        if (k < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                return IO_ERROR;
            IoResult w = waitFor(sock, POLLIN, deadline);
            if (w != IO_OK)
                return w;
            continue;
        }
        if (k == 0)
            return IO_CLOSED;
        p += k;
        n -= size_t(k);
    }
    return IO_OK;
}

// One receive of at least one and at most n bytes. block: the socket's own
// SO_RCVTIMEO bounds the first wait, so no poll goes before the receive
// (a reply just asked for is almost never there yet, and a non-blocking
// receive would fail every time). Any later wait polls the budget's rest.
IoResult recvSome(int sock, uint8_t *p, size_t n, Clock::time_point deadline, bool block, size_t *got)
{
    for (;;) {
        ssize_t k = ::recv(sock, p, n, block ? 0 : MSG_DONTWAIT);
        if (k > 0) {
            *got = size_t(k);
            return IO_OK;
        }
        if (k == 0)
            return IO_CLOSED;
        const bool wasBlocking = block;
        block = false; // a signal or the socket's own bound: the rest is polled
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return IO_ERROR;
        if (wasBlocking && remainingMs(deadline) == 0)
            return IO_TIMEOUT;
        IoResult w = waitFor(sock, POLLIN, deadline);
        if (w != IO_OK)
            return w;
    }
}

int ioCode(IoResult r)
{
    return r == IO_TIMEOUT ? CRATE_IO_TIMEOUT : r == IO_CLOSED ? CRATE_IO_CLOSED : CRATE_IO_ERROR;
}

int receiveFailure(CrateContext &ctx, IoResult r)
{
    switch (r) {
    case IO_TIMEOUT:
        return Crate_SetError(ctx, CRATE_ERR_TIMEOUT, kTextTimeout);
    case IO_CLOSED:
        return Crate_SetError(ctx, CRATE_ERR_SERVER_DOWN, kTextServerDown);
    default:
        return Crate_SetError(ctx, CRATE_ERR_RECEIVE, std::strerror(errno));
    }
}

} // namespace

void CrateTransport_SetPortForTest(uint16_t port)
{
    gTestPort = port;
}

void CrateTransport_SetTimeoutsForTest(int connect, int reply)
{
    gTestConnectMs = connect;
    gTestReplyMs = reply;
}

int CrateTransport_ReplyMs()
{
    return replyMs();
}

uint16_t CrateTransport_Port()
{
    return gTestPort.load() ? gTestPort.load() : kCratePort;
}

int Crate_FirstFreeContext(CrateContext *table, int count)
{
    for (int i = 0; i < count; ++i)
        if (!table[i].inUse)
            return i;
    return count;
}

int Crate_SetError(CrateContext &ctx, int code, const char *text)
{
    ctx.status = int16_t(code);
    Crate_CopyText(ctx.message, sizeof ctx.message, text ? text : "");
    return code;
}

bool Crate_BuildHeader(const CrateContext &ctx, RequestBuffer &buf)
{
    buf.clear();
    if (!ctx.command || !buf.text(ctx.command->keyword))
        return false;
    if (ctx.command->headerKind == 2 && !(buf.colon() && buf.raw32(ctx.sessionId)))
        return false;
    if (ctx.command->argCount > 0 && !buf.colon())
        return false;
    return true;
}

void Crate_ParseReply(CrateContext &ctx, size_t len, const uint8_t *reply)
{
    if (!ctx.command) {
        ctx.status = CRATE_ERR_NO_ECHO;
        return;
    }
    size_t n = std::strlen(ctx.command->keyword);
    if (n + 1 >= len || std::memcmp(reply, ctx.command->keyword, n) != 0) {
        ctx.status = CRATE_ERR_NO_ECHO;
        return;
    }
    size_t statusPos = ctx.command->headerKind == 1 ? n + 1 : n + 6;
    if (statusPos + 2 > len) {
        ctx.status = CRATE_ERR_NO_ECHO;
        return;
    }
    ctx.status = int16_t(Crate_Load16(reply + statusPos, ctx.order));
    size_t textPos = statusPos + 3 < len ? statusPos + 3 : len;
    std::string_view text(reinterpret_cast<const char *>(reply) + textPos, len - textPos);
    if (ctx.status != 0 || ctx.command->replyKind == REPLY_MESSAGE) {
        Crate_CopyText(ctx.message, sizeof ctx.message, text);
        ctx.dataOffset = uint32_t(len);
        return;
    }
    size_t colon = text.find(':');
    std::string_view msg = colon == std::string_view::npos ? text : text.substr(0, colon);
    Crate_CopyText(ctx.message, sizeof ctx.message, msg);
    ctx.dataOffset = uint32_t(textPos + msg.size() + 1);
}

int Crate_ConnectWithTimeout(int sock, const struct sockaddr *addr, unsigned addrLen, int ms)
{
    int flags = ::fcntl(sock, F_GETFL, 0);
    if (flags < 0 || ::fcntl(sock, F_SETFL, flags | O_NONBLOCK) < 0)
        return -1;
    if (::connect(sock, addr, addrLen) == 0) {
        ::fcntl(sock, F_SETFL, flags);
        return 0;
    }
    if (errno != EINPROGRESS)
        return -1;
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    IoResult w = waitFor(sock, POLLOUT, deadline);
    if (w == IO_TIMEOUT) {
        errno = ETIMEDOUT;
        return -1;
    }
    if (w != IO_OK)
        return -1;
    int err = 0;
    socklen_t elen = sizeof err;
    if (::getsockopt(sock, SOL_SOCKET, SO_ERROR, &err, &elen) < 0)
        return -1;
    ::fcntl(sock, F_SETFL, flags);
    if (err) {
        errno = err;
        return -1;
    }
    return 0;
}

int Crate_OpenContext(CrateContext &ctx, const char *link, const char *address, uint16_t port)
{
    if (!link || std::strcmp(link, "TCP/IP") != 0)
        return Crate_SetError(ctx, CRATE_ERR_NOT_TCP, kTextNotTcp);
    Crate_CopyText(ctx.linkText, sizeof ctx.linkText, link);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port ? port : CrateTransport_Port());
    // Every numbers-and-dots form the crates' users write ("127.2" too).
    if (!address || ::inet_aton(address, &sa.sin_addr) == 0)
        return Crate_SetError(ctx, CRATE_ERR_CONNECT, std::strerror(EINVAL));
    Crate_CloseContext(ctx);
    ctx.socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (ctx.socket < 0) {
        ctx.socket = -1;
        return Crate_SetError(ctx, CRATE_ERR_CONNECT, std::strerror(errno));
    }
    int one = 1;
    ::setsockopt(ctx.socket, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (Crate_ConnectWithTimeout(ctx.socket, reinterpret_cast<sockaddr *>(&sa), sizeof sa, connectMs()) !=
        0) {
        int e = errno;
        Crate_CloseContext(ctx);
        return Crate_SetError(ctx, CRATE_ERR_CONNECT, std::strerror(e));
    }
    return Crate_SetError(ctx, CRATE_OK, kTextOk);
}

int Crate_SendFrameOn(int sock, ByteOrder order, const uint8_t *req, size_t reqLen, int ms)
{
    return Crate_SendFramesOn(sock, order, req, reqLen, nullptr, 0, ms);
}

int Crate_SendFramesOn(int sock, ByteOrder order, const uint8_t *req, size_t reqLen, const uint8_t *check,
                       size_t checkLen, int ms)
{
    if (sock < 0) {
        errno = EBADF;
        return CRATE_IO_ERROR;
    }
    if (reqLen > kCrateMaxFrame || checkLen > kCrateMaxFrame)
        return CRATE_IO_TOO_LONG;
    // Everything goes out in one send; the usual short request is assembled
    // on the stack.
    const size_t total = reqLen + 4 + (check ? checkLen + 4 : 0);
    uint8_t local[1024];
    uint8_t *frame = total <= sizeof local ? local : static_cast<uint8_t *>(std::malloc(total));
    if (!frame)
        return CRATE_IO_NO_MEMORY;
    Crate_Store32(frame, uint32_t(reqLen), order);
    if (reqLen)
        std::memcpy(frame + 4, req, reqLen);
    if (check) {
        Crate_Store32(frame + 4 + reqLen, uint32_t(checkLen), order);
        if (checkLen)
            std::memcpy(frame + 8 + reqLen, check, checkLen);
    }
    IoResult w = sendAll(sock, frame, total, Clock::now() + std::chrono::milliseconds(ms));
    if (frame != local)
        std::free(frame);
    return w == IO_OK ? CRATE_IO_OK : w == IO_TIMEOUT ? CRATE_IO_TIMEOUT : CRATE_IO_ERROR;
}

FrameCarry::~FrameCarry()
{
    std::free(buf);
}

int Crate_RecvFrameCarry(int sock, FrameCarry &carry, ByteOrder order, int ms, uint8_t **body, size_t *len)
{
    *body = nullptr;
    *len = 0;
    if (sock < 0) {
        errno = EBADF;
        return CRATE_IO_ERROR;
    }
    if (!carry.buf) {
        carry.buf = static_cast<uint8_t *>(std::malloc(FrameCarry::kSize));
        if (!carry.buf)
            return CRATE_IO_NO_MEMORY;
        carry.begin = carry.end = 0;
    }
    if (carry.recvTimeoutMs != ms && ms > 0) {
        timeval tv{ms / 1000, (ms % 1000) * 1000};
        carry.recvTimeoutMs = ::setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0 ? ms : 0;
    }
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    bool block = carry.recvTimeoutMs > 0 && carry.recvTimeoutMs <= ms;
    while (carry.buffered() < 4) {
        if (carry.begin) {
            std::memmove(carry.buf, carry.buf + carry.begin, carry.buffered());
            carry.end -= carry.begin;
            carry.begin = 0;
        }
        size_t got = 0;
        const size_t room = FrameCarry::kSize - carry.end;
        IoResult r = recvSome(sock, carry.buf + carry.end, room, deadline, block, &got);
        if (r != IO_OK) {
            carry.emptiedAt = {};
            return ioCode(r);
        }
        block = false;
        carry.end += got;
        carry.emptiedAt = got < room ? Clock::now() : Clock::time_point{};
    }
    uint32_t n = Crate_Load32(carry.buf + carry.begin, order);
    if (n > kCrateMaxFrame) {
        carry.begin = carry.end = 0; // the stream has no frame boundary left to find
        return CRATE_IO_TOO_LONG;
    }
    uint8_t *b = static_cast<uint8_t *>(std::malloc(n ? n : 1));
    if (!b)
        return CRATE_IO_NO_MEMORY;
    carry.begin += 4;
    size_t have = std::min<size_t>(carry.buffered(), n);
    if (have)
        std::memcpy(b, carry.buf + carry.begin, have);
    carry.begin += have;
    if (carry.begin == carry.end)
        carry.begin = carry.end = 0;
    if (have < n) {
        // The rest of a long or split reply: read exactly, nothing past it.
        carry.emptiedAt = {};
        IoResult r = recvExact(sock, b + have, n - have, deadline);
        if (r != IO_OK) {
            std::free(b);
            return ioCode(r);
        }
    }
    *body = b;
    *len = n;
    return CRATE_IO_OK;
}

bool Crate_BytesWaiting(int sock, const FrameCarry &carry)
{
    if (carry.buffered())
        return true;
    if (carry.emptiedAt != Clock::time_point{} &&
        Clock::now() - carry.emptiedAt < std::chrono::microseconds(kQuietLookUs))
        return false;
    pollfd p{sock, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

bool Crate_Echoes(const uint8_t *frame, size_t len, std::string_view keyword)
{
    return len > keyword.size() && std::memcmp(frame, keyword.data(), keyword.size()) == 0 &&
           frame[keyword.size()] == ':';
}

int Crate_RecvChecked(int sock, FrameCarry &carry, ByteOrder order, int ms, std::string_view checkKeyword,
                      uint8_t **body, size_t *len, unsigned *dropped)
{
    *body = nullptr;
    *len = 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    uint8_t *before = nullptr; // the frame read last, the request's own if the check's reply follows
    size_t beforeLen = 0;
    bool acked = false;
    for (;;) {
        if (before && !acked && carry.buffered() == 0) {
            // The device may hold the check's reply back until the request's
            // reply is acknowledged (two small replies in a row), and this
            // side would delay that acknowledgement: send it now.
            int one = 1;
            ::setsockopt(sock, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
            acked = true;
        }
        const int left = remainingMs(deadline);
        uint8_t *f = nullptr;
        size_t n = 0;
        const int r =
            left > 0 ? Crate_RecvFrameCarry(sock, carry, order, left, &f, &n) : int(CRATE_IO_TIMEOUT);
        if (r != CRATE_IO_OK) {
            std::free(before);
            return r;
        }
        if (Crate_Echoes(f, n, checkKeyword) && before) {
            std::free(f);
            *body = before;
            *len = beforeLen;
            return CRATE_IO_OK;
        }
        if (before)
            ++*dropped;
        std::free(before);
        before = nullptr;
        if (Crate_Echoes(f, n, checkKeyword)) {
            ++*dropped; // the reply of an earlier check
            std::free(f);
            continue;
        }
        before = f;
        beforeLen = n;
    }
}

int Crate_RecvFrameOn(int sock, ByteOrder order, int ms, uint8_t **body, size_t *len, bool waitFirst)
{
    *body = nullptr;
    *len = 0;
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    uint8_t lenBytes[4];
    IoResult r = recvExact(sock, lenBytes, 4, deadline, waitFirst);
    if (r != IO_OK)
        return r == IO_TIMEOUT ? CRATE_IO_TIMEOUT : r == IO_CLOSED ? CRATE_IO_CLOSED : CRATE_IO_ERROR;
    uint32_t n = Crate_Load32(lenBytes, order);
    if (n > kCrateMaxFrame)
        return CRATE_IO_TOO_LONG;
    uint8_t *b = static_cast<uint8_t *>(std::malloc(n ? n : 1));
    if (!b)
        return CRATE_IO_NO_MEMORY;
    r = recvExact(sock, b, n, deadline);
    if (r != IO_OK) {
        std::free(b);
        return r == IO_TIMEOUT ? CRATE_IO_TIMEOUT : r == IO_CLOSED ? CRATE_IO_CLOSED : CRATE_IO_ERROR;
    }
    *body = b;
    *len = n;
    return CRATE_IO_OK;
}

void Crate_MarkOutOfStep(CrateContext &ctx)
{
    if (!ctx.outOfStep)
        ctx.late = ctx.sent;
    ctx.outOfStep = true;
}

namespace {

// The stream has no reply boundary left to trust: shut the connection.
int giveUp(CrateContext &ctx, int code, const char *text)
{
    Crate_CloseContext(ctx);
    return Crate_SetError(ctx, code, text);
}

int recvFailure(CrateContext &ctx, int io)
{
    switch (io) {
    case CRATE_IO_TOO_LONG:
        return giveUp(ctx, CRATE_ERR_RECEIVE, kTextReplyTooLong);
    case CRATE_IO_NO_MEMORY:
        Crate_MarkOutOfStep(ctx); // the frame stays unread
        return Crate_SetError(ctx, CRATE_ERR_NO_MEMORY, kTextNoMemoryTransport);
    case CRATE_IO_TIMEOUT:
        Crate_MarkOutOfStep(ctx);
        return receiveFailure(ctx, IO_TIMEOUT);
    case CRATE_IO_CLOSED:
        return giveUp(ctx, CRATE_ERR_SERVER_DOWN, kTextServerDown);
    default: {
        const int e = errno;
        Crate_CloseContext(ctx);
        errno = e;
        return receiveFailure(ctx, IO_ERROR);
    }
    }
}

// The header of a request without arguments (kind 2) into req.
bool bareRequest(CrateContext &ctx, const CommandRow *row, RequestBuffer &req)
{
    const CommandRow *saved = ctx.command;
    ctx.command = row;
    const bool built = row && Crate_BuildHeader(ctx, req);
    ctx.command = saved;
    return built;
}

// The request every crate answers in any state, sent as the check behind a
// request. Requests of its own keyword and of "GETSYSNAME" (the
// resynchronisation's other keyword) are never checked: whatever reply is
// late, the resynchronisation then has a keyword of its own.
const CommandRow *swRelease()
{
    static const CommandRow *row = Crate_FindCommand("GETSWREL");
    return row;
}

bool checkable(const CommandRow *c)
{
    return c && c->headerKind == 2 && c != swRelease() && std::strcmp(c->keyword, "GETSYSNAME") != 0 &&
           std::strcmp(c->keyword, "LOGOUT") != 0; // the crate may close the connection behind its reply
}

// Sends a request every crate answers and drops each frame before its reply.
int resync(CrateContext &ctx)
{
    const char *keyword = ctx.late == swRelease() ? "GETSYSNAME" : "GETSWREL";
    RequestBuffer req(ctx.order);
    if (!bareRequest(ctx, Crate_FindCommand(keyword), req))
        return Crate_SetError(ctx, CRATE_ERR_NO_MEMORY, kTextNoMemoryTransport);
    const int ms = replyMs();
    int w = Crate_SendFrameOn(ctx.socket, ctx.order, req.data(), req.size(), ms);
    if (w != CRATE_IO_OK)
        return giveUp(ctx, CRATE_ERR_SEND, std::strerror(errno));
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const int left = remainingMs(deadline);
        uint8_t *frame = nullptr;
        size_t len = 0;
        int r = left > 0 ? Crate_RecvFrameCarry(ctx.socket, ctx.carry, ctx.order, left, &frame, &len)
                         : int(CRATE_IO_TIMEOUT);
        if (r != CRATE_IO_OK) {
            // Two replies owed and no telling them apart: start over.
            return r == CRATE_IO_TIMEOUT ? giveUp(ctx, CRATE_ERR_TIMEOUT, kTextTimeout)
                                         : giveUp(ctx, CRATE_ERR_SERVER_DOWN, kTextServerDown);
        }
        const bool mine = Crate_Echoes(frame, len, keyword);
        std::free(frame);
        if (mine)
            break;
    }
    ctx.outOfStep = false;
    ctx.late = nullptr;
    ctx.carry.check.strayFrame(); // more of what shifted the stream may still be on its way
    return CRATE_OK;
}

} // namespace

int Crate_Exchange(CrateContext &ctx, const uint8_t *req, size_t reqLen, uint8_t **reply, size_t *replyLen)
{
    *reply = nullptr;
    *replyLen = 0;
    if (ctx.socket < 0)
        return Crate_SetError(ctx, CRATE_ERR_SERVER_DOWN, kTextServerDown);
    // Bytes waiting before a request is sent came unasked (a reply doubled,
    // or one that came after its request gave up).
    if (!ctx.outOfStep && Crate_BytesWaiting(ctx.socket, ctx.carry))
        Crate_MarkOutOfStep(ctx);
    if (ctx.outOfStep) {
        int rc = resync(ctx);
        if (rc != CRATE_OK)
            return rc;
    }
    RequestBuffer check(ctx.order);
    const Clock::time_point now = Clock::now();
    const bool checked =
        ctx.carry.check.due(now) && checkable(ctx.command) && bareRequest(ctx, swRelease(), check);
    int w = Crate_SendFramesOn(ctx.socket, ctx.order, req, reqLen, checked ? check.data() : nullptr,
                               check.size(), replyMs());
    if (w == CRATE_IO_TOO_LONG || w == CRATE_IO_NO_MEMORY)
        return Crate_SetError(ctx, CRATE_ERR_NO_MEMORY, kTextNoMemoryTransport);
    ctx.sent = ctx.command;
    // A request sent in part leaves the crate inside a frame.
    if (w == CRATE_IO_TIMEOUT)
        return giveUp(ctx, CRATE_ERR_TIMEOUT, kTextTimeout);
    if (w != CRATE_IO_OK)
        return giveUp(ctx, CRATE_ERR_SEND, std::strerror(errno));
    if (!checked) {
        ctx.carry.check.unchecked();
        int r = Crate_RecvFrameCarry(ctx.socket, ctx.carry, ctx.order, replyMs(), reply, replyLen);
        return r == CRATE_IO_OK ? CRATE_OK : recvFailure(ctx, r);
    }
    ctx.carry.check.checked(now);
    unsigned dropped = 0;
    int r =
        Crate_RecvChecked(ctx.socket, ctx.carry, ctx.order, replyMs(), "GETSWREL", reply, replyLen, &dropped);
    if (dropped)
        ctx.carry.check.strayFrame();
    if (r == CRATE_IO_OK)
        return CRATE_OK;
    ctx.sent = swRelease(); // its reply is the last that may still come
    return recvFailure(ctx, r);
}

int Crate_Transact(CrateContext &ctx, const uint8_t *req, size_t reqLen, size_t *replyLen, uint8_t **reply,
                   uint32_t *dataOffset)
{
    int rc = Crate_Exchange(ctx, req, reqLen, reply, replyLen);
    if (rc != CRATE_OK)
        return rc;
    if (*dataOffset == 0) {
        Crate_ParseReply(ctx, *replyLen, *reply);
        if (ctx.status == CRATE_ERR_NO_ECHO)
            Crate_MarkOutOfStep(ctx); // a reply to another request: ours may still come
        if (ctx.status != 0) {
            std::free(*reply);
            *reply = nullptr;
            *replyLen = 0;
            return ctx.status;
        }
        *dataOffset = ctx.dataOffset;
    }
    ctx.status = 0;
    return CRATE_OK;
}

int Crate_CloseContext(CrateContext &ctx)
{
    if (ctx.socket >= 0) {
        ::shutdown(ctx.socket, SHUT_RDWR);
        ::close(ctx.socket);
        ctx.socket = -1;
    }
    ctx.carry.reset();
    ctx.outOfStep = false;
    ctx.late = ctx.sent = nullptr;
    return 0;
}

void Crate_FreeSystemInfo(CrateContext &ctx)
{
    Crate_SetSystemInfo(ctx, nullptr);
}

void Crate_SetSystemInfo(CrateContext &ctx, CrateSystemInfo *info)
{
    CrateSystemInfo *old;
    {
        std::lock_guard<std::mutex> g(ctx.dataLock);
        static std::atomic<uint64_t> generations{0};
        old = ctx.sysInfo;
        ctx.sysInfo = info;
        ctx.sysInfoGeneration = ++generations;
    }
    delete old;
}

void Crate_ReleaseContext(CrateContext *table, int index)
{
    if (index < 0 || index >= kCrateContexts)
        return;
    Crate_FreeSystemInfo(table[index]);
    table[index].inUse = 0;
}

} // namespace koruhv
