// Family 2 behind the API front: login with the plain password, the system
// information read at login, and every operation as one or two requests or
// an answer from the system information. The front holds the slot's request
// lock around every call; nothing here starts a thread.
#include "hx4400_backend.h"

#include <cstdlib>
#include <cstring>

#include "crate_ops.h"

namespace koruhv {

namespace {

CrateContext gContexts[kCrateContexts];

const CrateFamily &family()
{
    static const CrateFamily f{gContexts, CRATE_GEN_CURRENT, true, true};
    return f;
}

// Runs an operation on the handle's context; 4098 when it is not logged in.
template <typename F> int withContext(const BackendRef &b, F op)
{
    CrateContext *ctx = CrateFamily_Context(family(), b.handle);
    return ctx ? op(*ctx) : KORUHV_ERR_NOT_OPEN;
}

void resetContext(CrateContext &ctx)
{
    Crate_CloseContext(ctx);
    Crate_FreeSystemInfo(ctx);
    ctx.command = nullptr;
    ctx.sessionId = 0;
    ctx.status = 0;
    ctx.message[0] = '\0';
    ctx.dataOffset = 0;
    ctx.order = ByteOrder::Big;
}

void abandon(CrateContext &ctx)
{
    Crate_CloseContext(ctx);
    Crate_FreeSystemInfo(ctx);
    ctx.inUse = 0;
}

int initSystem(const char *link, const char *address, const char *user, const char *password, int *outHandle)
{
    if (outHandle)
        *outHandle = -1;
    // The front may hand the address with its family prefix ("HX4400:a.b.c.d").
    const char *colon = address ? std::strchr(address, ':') : nullptr;
    const char *ip = colon ? colon + 1 : address;
    int idx = Crate_FirstFreeContext(gContexts);
    if (idx >= kCrateContexts)
        return -1;
    CrateContext &ctx = gContexts[idx];
    resetContext(ctx);
    ctx.inUse = 1; // claimed: a concurrent login never takes it
    HX4400_SubStore_Clear(idx);
    if (Crate_OpenContext(ctx, link, ip) != 0) {
        abandon(ctx);
        return -1;
    }
    RequestBuffer args(ctx.order);
    const char *u = user ? user : "";
    const char *p = password ? password : "";
    if (!(args.text(u) && args.colon() && args.text(p))) {
        abandon(ctx);
        return -1;
    }
    CrateReply reply;
    if (Crate_Request(ctx, "LOGINSYSTEM", &args, &reply) != 0) {
        abandon(ctx);
        return -2;
    }
    ByteCursor cur = reply.data(ctx.order);
    uint32_t session = cur.u32();
    if (!cur.ok()) {
        Crate_Malformed(ctx);
        abandon(ctx);
        return -1;
    }
    ctx.sessionId = session;
    ctx.index = uint32_t(idx);
    if (CrateOp_GetSysInfo(ctx) != 0) {
        abandon(ctx); // no logout for a crate that gave no description
        return -1;
    }
    if (outHandle)
        *outHandle = idx;
    return 0;
}

int deinitSystem(const BackendRef &b)
{
    return withContext(b, [&](CrateContext &ctx) {
        int rc = CrateOp_Logout(ctx);
        // Logout or not, the connection and everything it named are gone.
        HX4400_SubStore_Clear(b.handle);
        abandon(ctx);
        return rc;
    });
}

int getCrateMap(const BackendRef &b, uint16_t *slotCount, char **models, char **descriptions,
                uint32_t **serialNumbers, uint8_t **firmwareMinors, uint8_t **firmwareMajors)
{
    return withContext(b, [&](CrateContext &ctx) {
        return CrateOp_GetCrateMap(family(), ctx, slotCount, models, descriptions, serialNumbers,
                                   firmwareMinors, firmwareMajors);
    });
}

int getSysComp(const BackendRef &b, uint8_t *crateCount, uint16_t **crateWords, uint32_t **slotWords)
{
    return withContext(
        b, [&](CrateContext &ctx) { return CrateOp_GetSysComp(ctx, crateCount, crateWords, slotWords); });
}

int getSysPropList(const BackendRef &b, uint16_t *count, char **names)
{
    return withContext(
        b, [&](CrateContext &ctx) { return CrateOp_GetSysPropList(family(), ctx, count, names); });
}

int getBdParam(const BackendRef &b, uint16_t n, const uint16_t *slots, const char *name, void *values)
{
    return withContext(b, [&](CrateContext &ctx) { return CrateOp_GetBdParam(ctx, n, slots, name, values); });
}

int setBdParam(const BackendRef &b, uint16_t n, const uint16_t *slots, const char *name, void *value)
{
    return withContext(b, [&](CrateContext &ctx) { return CrateOp_SetBdParam(ctx, n, slots, name, value); });
}

int getBdParamProp(const BackendRef &b, uint16_t slot, const char *param, const char *prop, void *result)
{
    return withContext(
        b, [&](CrateContext &ctx) { return CrateOp_GetBdParamProp(ctx, slot, param, prop, result); });
}

int getBdParamInfo(const BackendRef &b, uint16_t slot, char **names)
{
    return withContext(b, [&](CrateContext &ctx) { return CrateOp_GetBdParamInfo(ctx, slot, names); });
}

int testBdPresence(const BackendRef &b, uint16_t slot, char *model, char *description, uint16_t *serialNumber,
                   uint8_t *firmwareMinor, uint8_t *firmwareMajor)
{
    return withContext(b, [&](CrateContext &ctx) {
        return CrateOp_TestBdPresence(ctx, slot, model, description, serialNumber, firmwareMinor,
                                      firmwareMajor);
    });
}

int getChParamProp(const BackendRef &b, uint16_t slot, uint16_t channel, const char *param, const char *prop,
                   void *result)
{
    return withContext(b, [&](CrateContext &ctx) {
        return CrateOp_GetChParamProp(ctx, slot, channel, param, prop, result);
    });
}

int getChParamInfo(const BackendRef &b, uint16_t slot, uint16_t channel, char **names, int *count)
{
    return withContext(b, [&](CrateContext &ctx) {
        int rc = CrateOp_GetChParamInfo(ctx, slot, channel, names, count);
        if (rc)
            return rc;
        if (HX4400_SubStore_PrepareChannel(b.handle, slot, channel) != 0) {
            std::free(*names);
            *names = nullptr;
            return Crate_SetError(ctx, CRATE_ERR_NO_MEMORY, kTextNoMemoryTransport);
        }
        return 0;
    });
}

int getChName(const BackendRef &b, uint16_t slot, uint16_t count, const uint16_t *channels,
              char (*names)[KORUHV_CHANNEL_NAME_SIZE])
{
    return withContext(
        b, [&](CrateContext &ctx) { return CrateOp_GetChName(ctx, slot, count, channels, names); });
}

int setChName(const BackendRef &b, uint16_t slot, uint16_t count, const uint16_t *channels, const char *name)
{
    return withContext(
        b, [&](CrateContext &ctx) { return CrateOp_SetChName(ctx, slot, count, channels, name); });
}

int getChParam(const BackendRef &b, uint16_t slot, const char *name, uint16_t count, const uint16_t *channels,
               void *values)
{
    return withContext(
        b, [&](CrateContext &ctx) { return CrateOp_GetChParam(ctx, slot, name, count, channels, values); });
}

int setChParam(const BackendRef &b, uint16_t slot, const char *name, uint16_t count, const uint16_t *channels,
               void *value)
{
    return withContext(b, [&](CrateContext &ctx) {
        return CrateOp_SetChParam(family(), ctx, slot, name, count, channels, value);
    });
}

int getExecCommList(const BackendRef &b, uint16_t *count, char **names)
{
    return withContext(
        b, [&](CrateContext &ctx) { return CrateOp_GetExecCommList(family(), ctx, count, names); });
}

int execComm(const BackendRef &b, const char *name)
{
    return withContext(b, [&](CrateContext &ctx) { return CrateOp_ExecComm(family(), ctx, name); });
}

const char *getError(const BackendRef &b)
{
    if (b.handle < 0 || b.handle >= kCrateContexts)
        return "";
    return gContexts[b.handle].message;
}

constexpr BackendOps makeOps()
{
    BackendOps ops{};
    ops.family = 2;
    ops.namePrefix = "KORU_HX4400_HVW_";
    ops.flags = BACKEND_DEINIT_RETURNS_CODE;
    ops.requestLockOps = kAllOps;
    ops.InitSystem = initSystem;
    ops.DeinitSystem = deinitSystem;
    ops.GetCrateMap = getCrateMap;
    ops.GetSysComp = getSysComp;
    ops.GetSysPropList = getSysPropList;
    ops.GetSysPropInfo = HX4400_GetSysPropInfo;
    ops.GetSysProp = HX4400_GetSysProp;
    ops.SetSysProp = HX4400_SetSysProp;
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
    ops.ExecComm = execComm;
    ops.Subscribe = HX4400_Subscribe;
    ops.UnSubscribe = HX4400_UnSubscribe;
    ops.GetError = getError;
    ops.GetEventData = HX4400_GetEventData;
    ops.SizeSubscriptionStore = HX4400_SizeSubscriptionStore;
    return ops;
}

} // namespace

CrateContext *HX4400_Contexts()
{
    return gContexts;
}

const BackendOps kHX4400Backend = makeOps();

} // namespace koruhv
