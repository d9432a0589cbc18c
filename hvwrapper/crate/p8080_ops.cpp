// Operations of the rack supply behind the API front: parameter reads and
// writes, channel names, composition and system properties as one request
// and one reply each; information, properties and the command list from the
// system information without a request. Every operation holds the
// context's operation lock, so the system information it reads is never
// replaced beneath it.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "p8080_backend.h"

namespace koruhv {

namespace {

constexpr int kNoSetEncoding = 18; // a parameter type without a raw form
constexpr size_t kNameCell = 10;

struct ExecRow {
    const char *name;
    const char *keyword;
};
const ExecRow kExecRows[] = {
    {"Kill", "KILL"},           {"ClearAlarm", "CLRALARM"}, {"GlobalOn", "GLOBALON"},
    {"GlobalOff", "GLOBALOFF"}, {"KeepAlive", "KEEPALIVE"},
};

const ExecRow *findExec(const char *name)
{
    if (!name)
        return nullptr;
    for (const ExecRow &r : kExecRows)
        if (std::strcmp(r.name, name) == 0)
            return &r;
    return nullptr;
}

bool validHandle(int h)
{
    return h >= 0 && h < kCrateContexts;
}

CrateContext *loggedIn(int h)
{
    if (!validHandle(h))
        return nullptr;
    CrateContext &c = P8080_Contexts()[h];
    return c.inUse && c.sessionId ? &c : nullptr;
}

// Runs op under the context's operation lock.
template <typename F> int locked(int h, F op)
{
    if (!validHandle(h))
        return -1;
    std::lock_guard<std::mutex> g(P8080_Links()[h].opLock);
    return op(P8080_Contexts()[h]);
}

// Sends req, checks the reply header and hands the data to onData.
template <typename F> int transact(int h, const RequestBuffer &req, const char *keyword, F onData)
{
    return P8080_Transact(h, req, keyword, true, onData);
}

int noData(ByteCursor &)
{
    return 0;
}

const CrateBoardEntry *board(const CrateContext &ctx, int slot)
{
    return ctx.sysInfo ? ctx.sysInfo->findBoard(slot) : nullptr;
}

void putFloat(void *out, size_t i, float v)
{
    std::memcpy(static_cast<uint8_t *>(out) + 4 * i, &v, 4);
}

void putWord(void *out, size_t i, uint32_t w)
{
    std::memcpy(static_cast<uint8_t *>(out) + 4 * i, &w, 4);
}

// Raw word of a module parameter write; false for a type without one.
bool rawForWrite(const ParamDescriptor &d, const void *value, uint32_t *raw)
{
    if (d.type == PARAM_NUMERIC) {
        float v;
        std::memcpy(&v, value, 4);
        *raw = P8080_ValueToRaw(d, v);
        return true;
    }
    if (d.type == PARAM_ONOFF || d.type == PARAM_BINARY) {
        std::memcpy(raw, value, 4);
        return true;
    }
    return false;
}

ParamDescriptor unsignedCopy(const ParamDescriptor &d)
{
    ParamDescriptor u = d;
    u.mode &= uint8_t(~PARAM_MODE_SIGNED);
    return u;
}

// Integer part of v, held within [lo, hi] (NaN gives 0).
template <typename T> T clampTo(double v)
{
    if (std::isnan(v))
        return 0;
    double t = std::trunc(v);
    if (t <= double(std::numeric_limits<T>::min()))
        return std::numeric_limits<T>::min();
    if (t >= double(std::numeric_limits<T>::max()))
        return std::numeric_limits<T>::max();
    return T(t);
}

int nameCells(const CrateSystemInfo &info, const std::vector<uint16_t> &list, char **names)
{
    char *cells = static_cast<char *>(std::calloc(list.size() + 1, kNameCell));
    if (!cells)
        return P8080_ERR_MEMORY;
    for (size_t i = 0; i < list.size(); ++i)
        Crate_CopyText(cells + i * kNameCell, kNameCell, info.descriptors[list[i]].name);
    *names = cells;
    return 0;
}

int joinedNames(const std::vector<std::string> &v, uint16_t *count, char **names)
{
    std::string t;
    for (const std::string &s : v)
        t.append(s).push_back('\0');
    char *p = static_cast<char *>(std::malloc(t.size() + 1));
    if (!p)
        return P8080_ERR_MEMORY;
    std::memcpy(p, t.data(), t.size());
    p[t.size()] = '\0';
    *count = uint16_t(v.size());
    *names = p;
    return 0;
}

int bdParamProp(CrateContext &ctx, uint16_t slot, const char *param, const char *prop, void *result,
                bool flag)
{
    if (flag && slot > kP8080MaxModule)
        return P8080_ERR_SLOT;
    const CrateBoardEntry *b = board(ctx, slot);
    if (!b)
        return P8080_ERR_SLOT;
    const ParamDescriptor *d = ctx.sysInfo->boardParam(*b, param);
    if (!d)
        return P8080_ERR_PARAM;
    int idx = Crate_ParamPropertyIndex(prop);
    if (idx < 0 || !result)
        return P8080_ERR_PROP;
    Crate_DescriptorProperty(*d, idx, result);
    return 0;
}

int sendExec(int h, const char *name)
{
    CrateContext *ctx = loggedIn(h);
    if (!ctx)
        return -1;
    const ExecRow *r = findExec(name);
    if (!r)
        return -1;
    RequestBuffer req(ByteOrder::Little);
    // Three bytes after the session id: ':' and a 16-bit zero.
    if (!(P8080_BeginRequest(req, r->keyword, ctx->sessionId) && req.colon() && req.raw16(0)))
        return -1;
    return P8080_SendOnly(h, req);
}

int getBdParam(const BackendRef &b, uint16_t n, const uint16_t *slots, const char *name, void *values)
{
    return locked(b.handle, [&](CrateContext &ctx) {
        if (!loggedIn(b.handle))
            return -1;
        RequestBuffer req(ByteOrder::Little);
        bool built = P8080_BeginRequest(req, "GETBDPARAM", ctx.sessionId) && req.colon() && req.text(name) &&
                     req.colon() && req.put16(n);
        for (uint16_t i = 0; built && i < n; ++i)
            built = req.raw16(slots[i]);
        if (!built)
            return -1;
        return transact(b.handle, req, "GETBDPARAM", [&](ByteCursor &cur) {
            for (uint16_t i = 0; i < n; ++i) {
                const CrateBoardEntry *e = board(ctx, slots[i]);
                const ParamDescriptor *d = e ? ctx.sysInfo->boardParam(*e, name) : nullptr;
                if (!d)
                    return int(P8080_ERR_CONFIG);
                uint32_t w = cur.u32();
                if (!cur.ok())
                    return int(P8080_ERR_REPLY); // fewer values than slots
                if (d->type == PARAM_NUMERIC)
                    putFloat(values, i, P8080_RawToValue(*d, w));
                else if (d->type <= PARAM_BINARY)
                    putWord(values, i, w);
            }
            return 0;
        });
    });
}

int setBdParam(const BackendRef &b, uint16_t n, const uint16_t *slots, const char *name, void *value)
{
    return locked(b.handle, [&](CrateContext &ctx) {
        if (!loggedIn(b.handle))
            return -1;
        const ParamDescriptor *d = nullptr;
        for (uint16_t i = 0; i < n; ++i) {
            const CrateBoardEntry *e = board(ctx, slots[i]);
            d = e ? ctx.sysInfo->boardParam(*e, name) : nullptr;
            if (!d)
                return int(P8080_ERR_CONFIG);
        }
        uint32_t raw = 0;
        if (!d || !rawForWrite(*d, value, &raw))
            return kNoSetEncoding;
        RequestBuffer req(ByteOrder::Little);
        bool built = P8080_BeginRequest(req, "SETBDPARAM", ctx.sessionId) && req.colon() && req.text(name) &&
                     req.colon() && req.put32(raw) && req.put16(n);
        for (uint16_t i = 0; built && i < n; ++i)
            built = req.raw16(slots[i]);
        if (!built)
            return -1;
        return transact(b.handle, req, "SETBDPARAM", noData);
    });
}

int getChParam(const BackendRef &b, uint16_t slot, const char *name, uint16_t n, const uint16_t *channels,
               void *values)
{
    return locked(b.handle, [&](CrateContext &ctx) {
        if (!loggedIn(b.handle))
            return -1;
        RequestBuffer req(ByteOrder::Little);
        bool built = P8080_BeginRequest(req, "GETCHPARAM", ctx.sessionId) && req.colon() && req.put16(slot) &&
                     req.text(name) && req.colon() && req.put16(n);
        for (uint16_t i = 0; built && i < n; ++i)
            built = req.raw16(channels[i]);
        if (!built)
            return -1;
        return transact(b.handle, req, "GETCHPARAM", [&](ByteCursor &cur) {
            const CrateBoardEntry *e = board(ctx, slot);
            if (!e)
                return int(P8080_ERR_CONFIG);
            for (uint16_t i = 0; i < n; ++i) {
                uint32_t w = cur.u32();
                if (!cur.ok())
                    return int(P8080_ERR_REPLY);
                const ParamDescriptor *d = ctx.sysInfo->channelParam(*e, channels[i], name);
                if (!d)
                    return int(P8080_ERR_CONFIG);
                if (d->type == PARAM_NUMERIC)
                    putFloat(values, i, P8080_RawToValue(*d, w));
                else if (d->type == PARAM_ONOFF || d->type == PARAM_CHSTATUS || d->type == PARAM_BINARY)
                    putWord(values, i, w);
            }
            return 0;
        });
    });
}

int setChParam(const BackendRef &b, uint16_t slot, const char *name, uint16_t n, const uint16_t *channels,
               void *value)
{
    return locked(b.handle, [&](CrateContext &ctx) {
        if (!loggedIn(b.handle))
            return -1;
        if (slot > kP8080MaxModule)
            return int(P8080_ERR_SLOT);
        const CrateBoardEntry *e = board(ctx, slot);
        if (!e)
            return int(P8080_ERR_CONFIG);
        const ParamDescriptor *d = nullptr;
        for (uint16_t i = 0; i < n; ++i) {
            d = ctx.sysInfo->channelParam(*e, channels[i], name);
            if (!d)
                return int(P8080_ERR_CONFIG);
        }
        uint32_t raw = 0;
        if (!d || !rawForWrite(*d, value, &raw))
            return kNoSetEncoding;
        RequestBuffer req(ByteOrder::Little);
        bool built = P8080_BeginRequest(req, "SETCHPARAM", ctx.sessionId) && req.colon() && req.put16(slot) &&
                     req.text(name) && req.colon() && req.put32(raw) && req.put16(n);
        for (uint16_t i = 0; built && i < n; ++i)
            built = req.raw16(channels[i]);
        if (!built)
            return -1;
        int rc = transact(b.handle, req, "SETCHPARAM", noData);
        if (rc == 0 && d->type == PARAM_NUMERIC) {
            // The caller keeps the value the raw word stands for.
            float sent = P8080_RawToValue(*d, raw);
            std::memcpy(value, &sent, 4);
        }
        return rc;
    });
}

int getChName(const BackendRef &b, uint16_t slot, uint16_t n, const uint16_t *channels,
              char (*names)[KORUHV_CHANNEL_NAME_SIZE])
{
    return locked(b.handle, [&](CrateContext &ctx) {
        if (!loggedIn(b.handle))
            return -1;
        if (slot >= kP8080SysBoard)
            return int(P8080_ERR_SLOT);
        RequestBuffer req(ByteOrder::Little);
        bool built = P8080_BeginRequest(req, "GETCHNAME", ctx.sessionId) && req.colon() && req.put16(slot) &&
                     req.put16(n);
        for (uint16_t i = 0; built && i < n; ++i)
            built = req.raw16(channels[i]);
        if (!built)
            return -1;
        return transact(b.handle, req, "GETCHNAME", [&](ByteCursor &cur) {
            for (uint16_t i = 0; i < n; ++i) {
                std::string_view nm;
                if (!cur.until('\0', &nm))
                    return int(P8080_ERR_REPLY);
                Crate_CopyText(names[i], KORUHV_CHANNEL_NAME_SIZE, nm);
            }
            return 0;
        });
    });
}

int setChName(const BackendRef &b, uint16_t slot, uint16_t n, const uint16_t *channels, const char *name)
{
    return locked(b.handle, [&](CrateContext &ctx) {
        if (!loggedIn(b.handle))
            return -1;
        if (slot >= kP8080SysBoard)
            return int(P8080_ERR_SLOT);
        RequestBuffer req(ByteOrder::Little);
        bool built = P8080_BeginRequest(req, "SETCHNAME", ctx.sessionId) && req.colon() && req.put16(slot) &&
                     req.text(name ? name : "") && req.colon() && req.put16(n);
        for (uint16_t i = 0; built && i < n; ++i)
            built = req.raw16(channels[i]);
        if (!built)
            return -1;
        return transact(b.handle, req, "SETCHNAME", noData);
    });
}

int getSysComp(const BackendRef &b, uint8_t *crateCount, uint16_t **crateWords, uint32_t **slotWords)
{
    return locked(b.handle, [&](CrateContext &ctx) {
        if (!loggedIn(b.handle))
            return -1;
        RequestBuffer req(ByteOrder::Little);
        if (!P8080_BeginRequest(req, "GETSYSCOMP", ctx.sessionId))
            return -1;
        return transact(b.handle, req, "GETSYSCOMP", [&](ByteCursor &cur) {
            uint16_t c = cur.u16();
            cur.expect(':');
            if (!cur.ok() || cur.remaining() / 2 < c)
                return int(P8080_ERR_REPLY);
            std::vector<uint16_t> crates(c);
            size_t slots = 0;
            for (uint16_t &w : crates) {
                w = cur.u16();
                slots += w & 0xFFu;
            }
            cur.expect(':');
            if (!cur.ok() || cur.remaining() / 4 < slots)
                return int(P8080_ERR_REPLY);
            auto *cw = static_cast<uint16_t *>(std::calloc(c ? c : 1, sizeof(uint16_t)));
            auto *sw = static_cast<uint32_t *>(std::calloc(slots ? slots : 1, sizeof(uint32_t)));
            if (!cw || !sw) {
                std::free(cw), std::free(sw);
                return int(P8080_ERR_MEMORY);
            }
            for (size_t i = 0; i < c; ++i)
                cw[i] = crates[i];
            for (size_t i = 0; i < slots; ++i)
                sw[i] = cur.u32();
            *crateCount = uint8_t(c);
            *crateWords = cw;
            *slotWords = sw;
            return 0;
        });
    });
}

int setSysProp(const BackendRef &b, const char *name, void *value)
{
    if (findExec(name))
        return P8080_ExecComm(b, name);
    return locked(b.handle, [&](CrateContext &ctx) {
        if (!loggedIn(b.handle))
            return -1;
        const CrateBoardEntry *e = board(ctx, kP8080SysBoard);
        const ParamDescriptor *d = e ? ctx.sysInfo->boardParam(*e, name) : nullptr;
        if (!d)
            return int(P8080_ERR_CONFIG);
        RequestBuffer req(ByteOrder::Little);
        bool built = P8080_BeginRequest(req, "SETBDPARAM", ctx.sessionId) && req.colon() && req.text(name) &&
                     req.colon();
        const double f = d->factor ? d->factor : 1.0;
        auto scaled = [&](double v) { return d->decimals ? v * f : v / f; };
        int16_t s16;
        uint16_t u16;
        int32_t s32;
        uint32_t u32;
        float fl;
        uint32_t raw = 0;
        switch (d->type) {
        case 0:
            built = built && req.text(static_cast<const char *>(value)) && req.colon();
            break;
        case 1:
            std::memcpy(&fl, value, 4);
            raw = clampTo<uint32_t>(scaled(fl));
            break;
        case 2:
            std::memcpy(&u16, value, 2);
            raw = clampTo<uint32_t>(scaled(u16));
            break;
        case 3:
            std::memcpy(&u32, value, 4);
            raw = clampTo<uint32_t>(scaled(u32));
            break;
        case 4:
            std::memcpy(&s16, value, 2);
            raw = uint32_t(clampTo<int32_t>(scaled(s16)));
            break;
        case 5:
            std::memcpy(&s32, value, 4);
            raw = uint32_t(clampTo<int32_t>(scaled(s32)));
            break;
        case 6:
            raw = *static_cast<const uint8_t *>(value);
            break;
        default:
            return kNoSetEncoding;
        }
        if (d->type != 0)
            built = built && req.put32(raw);
        built = built && req.put16(1) && req.raw16(kP8080SysBoard);
        if (!built)
            return -1;
        return transact(b.handle, req, "SETBDPARAM", noData);
    });
}

int getBdParamProp(const BackendRef &b, uint16_t slot, const char *param, const char *prop, void *result)
{
    return locked(b.handle,
                  [&](CrateContext &ctx) { return bdParamProp(ctx, slot, param, prop, result, true); });
}

int getChParamProp(const BackendRef &b, uint16_t slot, uint16_t channel, const char *param, const char *prop,
                   void *result)
{
    return locked(b.handle, [&](CrateContext &ctx) {
        const CrateBoardEntry *e = board(ctx, slot);
        if (!e)
            return int(P8080_ERR_SLOT);
        if (channel >= e->channels.size())
            return int(P8080_ERR_RANGE);
        const ParamDescriptor *d = ctx.sysInfo->channelParam(*e, channel, param);
        if (!d)
            return int(P8080_ERR_PARAM);
        int idx = Crate_ParamPropertyIndex(prop);
        if (idx < 0 || !result)
            return int(P8080_ERR_PROP);
        Crate_DescriptorProperty(*d, idx, result);
        return 0;
    });
}

int getBdParamInfo(const BackendRef &b, uint16_t slot, char **names)
{
    return locked(b.handle, [&](CrateContext &ctx) {
        const CrateBoardEntry *e = slot > kP8080MaxModule ? nullptr : board(ctx, slot);
        if (!e)
            return int(P8080_ERR_SLOT);
        return nameCells(*ctx.sysInfo, e->params, names);
    });
}

int getChParamInfo(const BackendRef &b, uint16_t slot, uint16_t channel, char **names, int *count)
{
    return locked(b.handle, [&](CrateContext &ctx) {
        const CrateBoardEntry *e = board(ctx, slot);
        if (!e)
            return int(P8080_ERR_SLOT);
        if (channel >= e->channels.size())
            return int(P8080_ERR_RANGE);
        const std::vector<uint16_t> &list = e->channels[channel].params;
        int rc = nameCells(*ctx.sysInfo, list, names);
        if (rc)
            return rc;
        if (count)
            *count = int(list.size());
        if (!P8080_PrepareChannelStore(b.handle, slot, int(e->channels.size()), channel, int(list.size()))) {
            std::free(*names);
            *names = nullptr;
            return int(P8080_ERR_MEMORY);
        }
        return 0;
    });
}

int getSysPropList(const BackendRef &b, uint16_t *count, char **names)
{
    return locked(b.handle, [&](CrateContext &ctx) {
        const CrateBoardEntry *e = board(ctx, kP8080SysBoard);
        if (!e)
            return int(P8080_ERR_SLOT);
        std::vector<std::string> v;
        for (uint16_t idx : e->params)
            v.emplace_back(ctx.sysInfo->descriptors[idx].name);
        for (const ExecRow &r : kExecRows)
            v.emplace_back(r.name);
        return joinedNames(v, count, names);
    });
}

int getSysPropInfo(const BackendRef &b, const char *name, uint32_t *mode, uint32_t *type)
{
    if (findExec(name)) {
        *mode = 1;
        *type = 6;
        return 0;
    }
    return locked(b.handle, [&](CrateContext &ctx) {
        int rc = bdParamProp(ctx, kP8080SysBoard, name, "Type", type, false);
        return rc ? rc : bdParamProp(ctx, kP8080SysBoard, name, "Mode", mode, false);
    });
}

int getExecCommList(const BackendRef &b, uint16_t *count, char **names)
{
    if (!loggedIn(b.handle))
        return -1;
    std::vector<std::string> v;
    for (const ExecRow &r : kExecRows)
        v.emplace_back(r.name);
    return joinedNames(v, count, names);
}

int testBdPresence(const BackendRef &, uint16_t, char *, char *, uint16_t *, uint8_t *, uint8_t *)
{
    return 0;
}

const char *getError(const BackendRef &)
{
    return "";
}

constexpr BackendOps makeOps()
{
    BackendOps ops{};
    ops.family = 16;
    ops.namePrefix = "KORU_P8080_HVW_";
    ops.flags = BACKEND_DEINIT_RETURNS_CODE | BACKEND_CRATE_MAP_ALL_CRATES;
    ops.requestLockOps =
        opBit(OP_GET_SYS_PROP) | opBit(OP_SUBSCRIBE) | opBit(OP_UNSUBSCRIBE) | opBit(OP_DEINIT);
    ops.InitSystem = P8080_InitSystem;
    ops.DeinitSystem = P8080_DeinitSystem;
    ops.GetCrateMap = P8080_GetCrateMap;
    ops.GetSysComp = getSysComp;
    ops.GetSysPropList = getSysPropList;
    ops.GetSysPropInfo = getSysPropInfo;
    ops.GetSysProp = P8080_GetSysProp;
    ops.SetSysProp = setSysProp;
    ops.GetBdParam = getBdParam;
    ops.SetBdParam = setBdParam;
    ops.GetBdParamProp = getBdParamProp;
    ops.GetBdParamInfo = getBdParamInfo;
    ops.TestBdPresence = testBdPresence;
    ops.GetChParamProp = getChParamProp;
    ops.GetChParamInfo = getChParamInfo;
    ops.GetChName = getChName;
    ops.SetChName = setChName;
    ops.GetChParam = getChParam;
    ops.SetChParam = setChParam;
    ops.GetExecCommList = getExecCommList;
    ops.ExecComm = P8080_ExecComm;
    ops.Subscribe = P8080_Subscribe;
    ops.UnSubscribe = P8080_UnSubscribe;
    ops.GetError = getError;
    ops.GetEventData = P8080_GetEventData;
    ops.SizeSubscriptionStore = P8080_SizeSubscriptionStore;
    return ops;
}

} // namespace

int P8080_GetSysProp(const BackendRef &b, const char *name, void *result)
{
    if (!result || !name)
        return KORUHV_ERR_BAD_ARGUMENT;
    if (std::strcmp(name, "EventDataSocket") == 0) {
        if (!validHandle(b.handle))
            return -1;
        P8080Link &l = P8080_Links()[b.handle];
        std::lock_guard<std::mutex> g(l.eventLock);
        int32_t s = l.eventSocket;
        std::memcpy(result, &s, 4);
        return 0;
    }
    return locked(b.handle, [&](CrateContext &ctx) {
        if (!loggedIn(b.handle))
            return -1;
        RequestBuffer req(ByteOrder::Little);
        if (!(P8080_BeginRequest(req, "GETBDPARAM", ctx.sessionId) && req.colon() && req.text(name) &&
              req.colon() && req.put16(1) && req.raw16(kP8080SysBoard)))
            return -1;
        return transact(b.handle, req, "GETBDPARAM", [&](ByteCursor &cur) {
            const CrateBoardEntry *e = board(ctx, kP8080SysBoard);
            const ParamDescriptor *d = e ? ctx.sysInfo->boardParam(*e, name) : nullptr;
            if (!d)
                return int(P8080_ERR_CONFIG);
            if (d->type == 0) {
                // The text is the rest of the reply but its last byte.
                std::string_view t = cur.rest();
                if (!t.empty())
                    t.remove_suffix(1);
                Crate_CopyText(static_cast<char *>(result), KORUHV_SYSPROP_TEXT_SIZE, t);
                return 0;
            }
            uint32_t w = cur.u32();
            if (!cur.ok())
                return int(P8080_ERR_REPLY);
            const double v = P8080_RawToValue(unsignedCopy(*d), w);
            switch (d->type) {
            case 1: {
                float fl = float(v);
                std::memcpy(result, &fl, 4);
                break;
            }
            case 2: {
                uint16_t x = clampTo<uint16_t>(v);
                std::memcpy(result, &x, 2);
                break;
            }
            case 3: {
                uint32_t x = clampTo<uint32_t>(v);
                std::memcpy(result, &x, 4);
                break;
            }
            case 4: {
                int16_t x = clampTo<int16_t>(v);
                std::memcpy(result, &x, 2);
                break;
            }
            case 5: {
                int32_t x = clampTo<int32_t>(v);
                std::memcpy(result, &x, 4);
                break;
            }
            case 6:
                std::memcpy(result, &w, 4);
                break;
            default:
                break;
            }
            return 0;
        });
    });
}

int P8080_ExecComm(const BackendRef &b, const char *name)
{
    return locked(b.handle, [&](CrateContext &) { return sendExec(b.handle, name); });
}

const BackendOps kP8080Backend = makeOps();

} // namespace koruhv
