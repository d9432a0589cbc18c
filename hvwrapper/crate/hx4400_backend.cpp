// Family 2 behind the API front: login with the plain password, the system
// information read at login, and every operation as one or two requests or
// an answer from the system information. The front holds the slot's request
// lock around every call; nothing here starts a thread.
#include "hx4400_backend.h"

#include <cstdlib>

#include "crate_forward.h"
#include "crate_ops.h"

namespace koruhv {

namespace {

CrateContext gContexts[kCrateContexts];

using Fwd = CrateForward<HX4400_Family>;

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

constexpr BackendOps makeOps()
{
    BackendOps ops = Fwd::ops(2, "KORU_HX4400_HVW_");
    ops.GetSysPropInfo = HX4400_GetSysPropInfo;
    ops.GetSysProp = HX4400_GetSysProp;
    ops.SetSysProp = HX4400_SetSysProp;
    ops.GetChParamInfo = getChParamInfo;
    ops.Subscribe = HX4400_Subscribe;
    ops.UnSubscribe = HX4400_UnSubscribe;
    ops.GetEventData = HX4400_GetEventData;
    ops.SizeSubscriptionStore = HX4400_SizeSubscriptionStore;
    return ops;
}

} // namespace

CrateContext *HX4400_Contexts()
{
    return gContexts;
}

const CrateFamily &HX4400_Family()
{
    static const CrateFamily f{.contexts = gContexts,
                               .generation = CRATE_GEN_CURRENT,
                               .crateMapSerialTail = true,
                               .writeBackSetValue = true,
                               .loginKeyword = "LOGINSYSTEM",
                               .loginRefused = -2,
                               .addressPrefix = true,
                               .clearSubscriptions = HX4400_SubStore_Clear};
    return f;
}

const BackendOps kHX4400Backend = makeOps();

} // namespace koruhv
