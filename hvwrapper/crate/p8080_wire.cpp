// The rack supply's framing: little-endian length-framed payloads on the
// command connection, the reply header every operation checks, and the
// rack's own form of the system information.
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>

#include "p8080_backend.h"

namespace koruhv {

int16_t Le_ReadI16(const uint8_t *p)
{
    return int16_t(Crate_Load16(p, ByteOrder::Little));
}

uint32_t Le_ReadU32(const uint8_t *p)
{
    return Crate_Load32(p, ByteOrder::Little);
}

void Le_PutU16(uint8_t *buf, size_t index, uint16_t v)
{
    Crate_Store16(buf + index, v, ByteOrder::Little);
}

void Le_PutU32(uint8_t *buf, size_t index, uint32_t v)
{
    Crate_Store32(buf + index, v, ByteOrder::Little);
}

bool P8080_BeginRequest(RequestBuffer &buf, const char *keyword, uint32_t session)
{
    buf.clear();
    return buf.text(keyword) && buf.colon() && buf.raw32(session);
}

uint8_t *P8080_RecvFrame(int *status, int socket, size_t *len)
{
    uint8_t *body = nullptr;
    *status = Crate_RecvFrameOn(socket, ByteOrder::Little, CrateTransport_ReplyMs(), &body, len, false) ==
                      CRATE_IO_OK
                  ? 0
                  : P8080_ERR_RECEIVE;
    return body;
}

int P8080_ExpectKeyword(ByteCursor &cur, const char *keyword)
{
    std::string_view kw;
    return cur.until(':', &kw) && kw == keyword ? 0 : P8080_ERR_REPLY;
}

namespace {

std::string_view keywordOf(const uint8_t *p, size_t n)
{
    std::string_view s(reinterpret_cast<const char *>(p), n);
    return s.substr(0, s.find(':'));
}

void keep(char (&to)[24], std::string_view kw)
{
    Crate_CopyText(to, sizeof to, kw);
}

void markOutOfStep(P8080Link &l)
{
    if (!l.outOfStep)
        std::memcpy(l.late, l.sent, sizeof l.late);
    l.outOfStep = true;
}

// The stream has no reply boundary left to trust.
void giveUp(CrateContext &ctx, P8080Link &l)
{
    if (ctx.socket >= 0) {
        ::shutdown(ctx.socket, SHUT_RDWR);
        ::close(ctx.socket);
        ctx.socket = -1;
    }
    ctx.carry.reset();
    l.outOfStep = false;
}

// The request the rack answers in any state, sent as the check behind a
// request (see ReplyCheck). Requests of the two resynchronisation keywords
// are never checked: whatever reply is late, the resynchronisation then has
// a keyword of its own.
constexpr char kCheckKeyword[] = "GETCRATEMAP";

bool checkable(const CrateContext &ctx, std::string_view kw)
{
    // The rack may close the connection behind its logout reply.
    return ctx.sessionId != 0 && kw != kCheckKeyword && kw != "GETSYSINFO" && kw != "LOGIN" && kw != "LOGOUT";
}

// A request the rack answers in any state, then every frame up to its reply
// dropped.
int resync(CrateContext &ctx, P8080Link &l)
{
    const bool map = std::strcmp(l.late, "GETCRATEMAP") != 0;
    RequestBuffer req(ByteOrder::Little);
    bool built = map ? P8080_BeginRequest(req, "GETCRATEMAP", ctx.sessionId)
                     : P8080_BeginRequest(req, "GETSYSINFO", ctx.sessionId) && req.colon() && req.raw16(0);
    if (!built)
        return P8080_ERR_SEND;
    const int ms = CrateTransport_ReplyMs();
    if (Crate_SendFrameOn(ctx.socket, ByteOrder::Little, req.data(), req.size(), ms) != CRATE_IO_OK) {
        giveUp(ctx, l);
        return P8080_ERR_SEND;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                .count();
        uint8_t *frame = nullptr;
        size_t len = 0;
        if (left <= 0 || Crate_RecvFrameCarry(ctx.socket, ctx.carry, ByteOrder::Little, int(left), &frame,
                                              &len) != CRATE_IO_OK) {
            giveUp(ctx, l); // two replies owed and no telling them apart
            return P8080_ERR_RECEIVE;
        }
        const bool mine = keywordOf(frame, len) == (map ? "GETCRATEMAP" : "GETSYSINFO");
        std::free(frame);
        if (mine)
            break;
    }
    l.outOfStep = false;
    ctx.carry.check.strayFrame(); // more of what shifted the stream may still be on its way
    return 0;
}

} // namespace

int P8080_Exchange(int handle, const RequestBuffer &req, uint8_t **reply, size_t *len)
{
    *reply = nullptr;
    *len = 0;
    if (handle < 0 || handle >= kCrateContexts)
        return P8080_ERR_SEND;
    CrateContext &ctx = P8080_Contexts()[handle];
    P8080Link &l = P8080_Links()[handle];
    std::lock_guard<std::mutex> g(l.cmdLock);
    if (ctx.socket < 0)
        return P8080_ERR_SEND;
    if (!l.outOfStep && Crate_BytesWaiting(ctx.socket, ctx.carry))
        markOutOfStep(l);
    if (l.outOfStep) {
        const int rc = resync(ctx, l);
        if (rc != 0)
            return rc;
    }
    const int ms = CrateTransport_ReplyMs();
    const std::string_view kw = keywordOf(req.data(), req.size());
    RequestBuffer check(ByteOrder::Little);
    const auto now = std::chrono::steady_clock::now();
    const bool checked = ctx.carry.check.due(now) && checkable(ctx, kw) &&
                         P8080_BeginRequest(check, kCheckKeyword, ctx.sessionId);
    if (Crate_SendFramesOn(ctx.socket, ByteOrder::Little, req.data(), req.size(),
                           checked ? check.data() : nullptr, check.size(), ms) != CRATE_IO_OK) {
        giveUp(ctx, l);
        return P8080_ERR_SEND;
    }
    keep(l.sent, kw);
    // A reply that does not come within the bound counts as not received.
    int r;
    if (checked) {
        ctx.carry.check.checked(now);
        unsigned dropped = 0;
        r = Crate_RecvChecked(ctx.socket, ctx.carry, ByteOrder::Little, ms, kCheckKeyword, reply, len,
                              &dropped);
        if (dropped)
            ctx.carry.check.strayFrame();
        if (r != CRATE_IO_OK)
            keep(l.sent, kCheckKeyword); // its reply is the last that may still come
    } else {
        ctx.carry.check.unchecked();
        r = Crate_RecvFrameCarry(ctx.socket, ctx.carry, ByteOrder::Little, ms, reply, len);
    }
    if (r == CRATE_IO_TIMEOUT || r == CRATE_IO_NO_MEMORY) {
        markOutOfStep(l);
        return P8080_ERR_RECEIVE;
    }
    if (r != CRATE_IO_OK) {
        giveUp(ctx, l);
        return P8080_ERR_RECEIVE;
    }
    // The rack answers "DISABLEMSG" under either keyword of the pair.
    const std::string_view got = keywordOf(*reply, *len);
    if (got != kw && !(kw == "DISABLEMSG" && got == "ENABLEMSG"))
        markOutOfStep(l);
    return 0;
}

int P8080_SendOnly(int handle, const RequestBuffer &req)
{
    if (handle < 0 || handle >= kCrateContexts)
        return P8080_ERR_SEND;
    CrateContext &ctx = P8080_Contexts()[handle];
    std::lock_guard<std::mutex> g(P8080_Links()[handle].cmdLock);
    return Crate_SendFrameOn(ctx.socket, ByteOrder::Little, req.data(), req.size(),
                             CrateTransport_ReplyMs()) == CRATE_IO_OK
               ? 0
               : P8080_ERR_SEND;
}

int P8080_CheckReply(const uint8_t *reply, size_t len, const char *keyword, uint32_t session, bool mapSlot,
                     ByteCursor *data)
{
    ByteCursor cur(reply, len, ByteOrder::Little);
    if (P8080_ExpectKeyword(cur, keyword) != 0)
        return P8080_ERR_REPLY;
    uint32_t s = cur.u32();
    int16_t status = cur.s16();
    cur.expect(':');
    std::string_view message;
    cur.until(':', &message);
    if (!cur.ok() || s != session)
        return P8080_ERR_REPLY;
    if (status != 0)
        return mapSlot && status == -3 ? P8080_ERR_SLOT : P8080_ERR_REPLY;
    *data = ByteCursor(reply + cur.pos(), len - cur.pos(), ByteOrder::Little);
    return 0;
}

namespace {

bool readIndexList(ByteCursor &cur, size_t descriptorCount, std::vector<uint16_t> *out)
{
    uint16_t n = cur.u16();
    if (!cur.ok() || cur.remaining() < size_t(n) * 2)
        return false;
    out->resize(n);
    for (uint16_t i = 0; i < n; ++i) {
        uint16_t idx = cur.u16();
        if (idx >= descriptorCount)
            return false;
        (*out)[i] = idx;
    }
    return true;
}

bool parse(ByteCursor &cur, CrateSystemInfo &info)
{
    uint16_t p = cur.u16();
    cur.expect(':');
    // Every descriptor takes at least five bytes: no count claims more
    // than the payload holds.
    if (!cur.ok() || cur.remaining() / 5 < p)
        return false;
    info.descriptors.resize(p);
    for (ParamDescriptor &d : info.descriptors) {
        std::string_view name;
        if (!cur.until(':', &name))
            return false;
        Crate_CopyText(d.name, sizeof d.name, name);
        d.type = uint16_t(int16_t(cur.s8()));
        uint8_t writable = cur.u8(), isSigned = cur.u8();
        d.mode = uint8_t((writable & 1u ? PARAM_MODE_WRITABLE : 0) | (isSigned & 1u ? PARAM_MODE_SIGNED : 0));
        if (int8_t(d.type) == 1) {
            std::string_view on, off;
            if (!cur.until(':', &on) || !cur.until(':', &off))
                return false;
            Crate_CopyText(d.onText, sizeof d.onText, on);
            Crate_CopyText(d.offText, sizeof d.offText, off);
        } else {
            d.minimum = int32_t(cur.u32());
            d.maximum = int32_t(cur.u32());
            d.decimals = uint16_t(cur.u32());
            d.factor = uint16_t(cur.u32());
            d.unit = cur.s8();
            d.exponent = cur.s16();
        }
        if (!cur.ok())
            return false;
    }
    cur.expect(':');
    uint16_t b = cur.u16();
    cur.expect(':');
    if (!cur.ok() || cur.remaining() / 4 < b)
        return false;
    info.boards.resize(b);
    for (CrateBoardEntry &e : info.boards) {
        int lo = cur.s8(), hi = cur.s8();
        e.slot = int16_t(lo + 25 * hi);
    }
    cur.expect(':');
    std::vector<uint16_t> channels(b);
    for (uint16_t &c : channels)
        c = cur.u16();
    cur.expect(':');
    if (!cur.ok())
        return false;
    for (uint16_t i = 0; i < b; ++i) {
        CrateBoardEntry &e = info.boards[i];
        if (!readIndexList(cur, p, &e.params) || !cur.expect(':'))
            return false;
        // Each channel needs at least its 2-byte count.
        if (cur.remaining() / 2 < channels[i])
            return false;
        e.channels.resize(channels[i]);
        for (CrateChannelEntry &ch : e.channels)
            if (!readIndexList(cur, p, &ch.params))
                return false;
    }
    return cur.ok();
}

} // namespace

int P8080_ParseSystemInfo(ByteCursor &cur, CrateSystemInfo **out)
{
    *out = nullptr;
    CrateSystemInfo *info = new (std::nothrow) CrateSystemInfo;
    if (!info)
        return P8080_ERR_MEMORY;
    bool ok = false;
    try {
        ok = parse(cur, *info);
    } catch (...) {
        ok = false;
    }
    if (!ok) {
        delete info;
        return P8080_ERR_MEMORY;
    }
    *out = info;
    return 0;
}

float P8080_RawToValue(const ParamDescriptor &d, uint32_t raw)
{
    return Crate_RawToValue(d, raw);
}

uint32_t P8080_ValueToRaw(const ParamDescriptor &d, float value)
{
    return Crate_ValueToRaw(d, value);
}

} // namespace koruhv
