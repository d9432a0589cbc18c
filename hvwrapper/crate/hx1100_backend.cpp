// Family 0 behind the API front: the first-generation crates speak the
// same command protocol as the current generation, so every operation is
// the shared crate operation with the first-generation property table, no
// serial-number tail in the crate map and no write-back of set values. The
// front holds the slot's request lock around every call.
#include "hx1100_backend.h"

#include <cstdlib>
#include <cstring>

#include "crate_ops.h"

namespace koruhv {

namespace {

CrateContext gContexts[kCrateContexts];

const CrateFamily &family()
{
    static const CrateFamily f{gContexts, CRATE_GEN_FIRST, false, false};
    return f;
}

template <typename F> int withContext(const BackendRef &b, F op)
{
    CrateContext *ctx = CrateFamily_Context(family(), b.handle);
    return ctx ? op(*ctx) : KORUHV_ERR_NOT_OPEN;
}

void abandon(CrateContext &ctx)
{
    Crate_CloseContext(ctx);
    Crate_FreeSystemInfo(ctx);
    ctx.sessionId = 0;
    ctx.inUse = 0;
}

int initSystem(const char *link, const char *address, const char *user, const char *password, int *outHandle)
{
    if (outHandle)
        *outHandle = -1;
    int idx = Crate_FirstFreeContext(gContexts);
    if (idx >= kCrateContexts)
        return -1;
    CrateContext &ctx = gContexts[idx];
    Crate_CloseContext(ctx);
    Crate_FreeSystemInfo(ctx);
    ctx.command = nullptr;
    ctx.sessionId = 0;
    ctx.status = 0;
    ctx.message[0] = '\0';
    ctx.dataOffset = 0;
    ctx.order = ByteOrder::Big;
    ctx.inUse = 1; // claimed: a concurrent login never takes it
    HX1100_SubList_Clear(idx);
    if (Crate_OpenContext(ctx, link, address) != 0) {
        abandon(ctx);
        return -1;
    }
    RequestBuffer args(ctx.order);
    if (!(args.text(user ? user : "") && args.colon() && args.text(password ? password : ""))) {
        abandon(ctx);
        return -1;
    }
    // A refused login is reported like any other failure of the open.
    CrateReply reply;
    if (Crate_Request(ctx, "LOGIN", &args, &reply) != 0) {
        abandon(ctx);
        return -1;
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
        abandon(ctx);
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
        // Whatever the crate answered, the connection is closed once and
        // everything it named is gone.
        HX1100_SubList_Clear(b.handle);
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
    return withContext(
        b, [&](CrateContext &ctx) { return CrateOp_GetChParamInfo(ctx, slot, channel, names, count); });
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
    return withContext(b, [&](CrateContext &ctx) {
        // The read keeps no status or message of its own: the error text
        // stays the one of the operation before it.
        const int16_t status = ctx.status;
        char message[kCrateMessageSize];
        std::memcpy(message, ctx.message, sizeof message);
        int rc = CrateOp_GetChParam(ctx, slot, name, count, channels, values);
        ctx.status = status;
        std::memcpy(ctx.message, message, sizeof message);
        return rc;
    });
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
    ops.family = 0;
    ops.namePrefix = "KORU_HX1100_HVW_";
    ops.flags = BACKEND_DEINIT_RETURNS_CODE;
    ops.requestLockOps = kAllOps;
    ops.InitSystem = initSystem;
    ops.DeinitSystem = deinitSystem;
    ops.GetCrateMap = getCrateMap;
    ops.GetSysComp = getSysComp;
    ops.GetSysPropList = getSysPropList;
    ops.GetSysPropInfo = HX1100_GetSysPropInfo;
    ops.GetSysProp = HX1100_GetSysProp;
    ops.SetSysProp = HX1100_SetSysProp;
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
    ops.Subscribe = HX1100_Subscribe;
    ops.UnSubscribe = HX1100_UnSubscribe;
    ops.GetError = getError;
    ops.GetOldEventData = HX1100_GetEventData;
    return ops;
}

} // namespace

CrateContext *HX1100_Contexts()
{
    return gContexts;
}

const BackendOps kHX1100Backend = makeOps();

} // namespace koruhv
