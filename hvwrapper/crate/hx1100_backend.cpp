// Family 0 behind the API front: the first-generation crates speak the
// same command protocol as the current generation, so every operation is
// the shared crate operation with the first-generation property table, no
// serial-number tail in the crate map and no write-back of set values. The
// front holds the slot's request lock around every call.
#include "hx1100_backend.h"

#include <cstdlib>
#include <cstring>

#include "crate_forward.h"
#include "crate_ops.h"

namespace koruhv {

namespace {

CrateContext gContexts[kCrateContexts];

const CrateFamily &family()
{
    static const CrateFamily f{gContexts, CRATE_GEN_FIRST, false, false};
    return f;
}

using Fwd = CrateForward<family>;

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
    return Fwd::withContext(b, [&](CrateContext &ctx) {
        int rc = CrateOp_Logout(ctx);
        // Whatever the crate answered, the connection is closed once and
        // everything it named is gone.
        HX1100_SubList_Clear(b.handle);
        abandon(ctx);
        return rc;
    });
}

int getChParam(const BackendRef &b, uint16_t slot, const char *name, uint16_t count, const uint16_t *channels,
               void *values)
{
    return Fwd::withContext(b, [&](CrateContext &ctx) {
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
    ops.GetCrateMap = Fwd::getCrateMap;
    ops.GetSysComp = Fwd::getSysComp;
    ops.GetSysPropList = Fwd::getSysPropList;
    ops.GetSysPropInfo = HX1100_GetSysPropInfo;
    ops.GetSysProp = HX1100_GetSysProp;
    ops.SetSysProp = HX1100_SetSysProp;
    ops.GetBdParam = Fwd::getBdParam;
    ops.SetBdParam = Fwd::setBdParam;
    ops.GetBdParamProp = Fwd::getBdParamProp;
    ops.GetBdParamInfo = Fwd::getBdParamInfo;
    ops.TestBdPresence = Fwd::testBdPresence;
    ops.GetChParamProp = Fwd::getChParamProp;
    ops.GetChParamInfo = Fwd::getChParamInfo;
    ops.GetChName = Fwd::getChName;
    ops.SetChName = Fwd::setChName;
    ops.GetChParam = getChParam;
    ops.SetChParam = Fwd::setChParam;
    ops.GetExecCommList = Fwd::getExecCommList;
    ops.ExecComm = Fwd::execComm;
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
