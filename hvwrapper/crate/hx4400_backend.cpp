// Family 2 behind the API front: login with the plain password, the system
// information read at login, and every operation as one or two requests or
// an answer from the system information. The front holds the slot's request
// lock around every call; nothing here starts a thread.
#include "hx4400_backend.h"

#include <cstdlib>
#include <cstring>

#include "crate_forward.h"
#include "crate_ops.h"

namespace koruhv {

namespace {

CrateContext gContexts[kCrateContexts];

const CrateFamily &family()
{
    static const CrateFamily f{gContexts, CRATE_GEN_CURRENT, true, true};
    return f;
}

using Fwd = CrateForward<family>;

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
    return Fwd::withContext(b, [&](CrateContext &ctx) {
        int rc = CrateOp_Logout(ctx);
        // Logout or not, the connection and everything it named are gone.
        HX4400_SubStore_Clear(b.handle);
        abandon(ctx);
        return rc;
    });
}

int getChParamInfo(const BackendRef &b, uint16_t slot, uint16_t channel, char **names, int *count)
{
    return Fwd::withContext(b, [&](CrateContext &ctx) {
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
    ops.GetCrateMap = Fwd::getCrateMap;
    ops.GetSysComp = Fwd::getSysComp;
    ops.GetSysPropList = Fwd::getSysPropList;
    ops.GetSysPropInfo = HX4400_GetSysPropInfo;
    ops.GetSysProp = HX4400_GetSysProp;
    ops.SetSysProp = HX4400_SetSysProp;
    ops.GetBdParam = Fwd::getBdParam;
    ops.SetBdParam = Fwd::setBdParam;
    ops.GetBdParamProp = Fwd::getBdParamProp;
    ops.GetBdParamInfo = Fwd::getBdParamInfo;
    ops.TestBdPresence = Fwd::testBdPresence;
    ops.GetChParamProp = Fwd::getChParamProp;
    ops.GetChParamInfo = getChParamInfo;
    ops.GetChName = Fwd::getChName;
    ops.SetChName = Fwd::setChName;
    ops.GetChParam = Fwd::getChParam;
    ops.SetChParam = Fwd::setChParam;
    ops.GetExecCommList = Fwd::getExecCommList;
    ops.ExecComm = Fwd::execComm;
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
