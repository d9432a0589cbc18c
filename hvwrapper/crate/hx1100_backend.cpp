// Family 0 behind the API front: the first-generation crates speak the
// same command protocol as the current generation, so every operation is
// the shared crate operation with the first-generation property table, no
// serial-number tail in the crate map and no write-back of set values. The
// front holds the slot's request lock around every call.
#include "hx1100_backend.h"

#include <cstring>

#include "crate_forward.h"
#include "crate_ops.h"

namespace koruhv {

namespace {

CrateContext gContexts[kCrateContexts];

using Fwd = CrateForward<HX1100_Family>;

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

constexpr BackendOps makeOps()
{
    BackendOps ops = Fwd::ops(0, "KORU_HX1100_HVW_");
    ops.GetSysPropInfo = HX1100_GetSysPropInfo;
    ops.GetSysProp = HX1100_GetSysProp;
    ops.SetSysProp = HX1100_SetSysProp;
    ops.GetChParam = getChParam;
    ops.Subscribe = HX1100_Subscribe;
    ops.UnSubscribe = HX1100_UnSubscribe;
    ops.GetOldEventData = HX1100_GetEventData;
    return ops;
}

} // namespace

CrateContext *HX1100_Contexts()
{
    return gContexts;
}

const CrateFamily &HX1100_Family()
{
    // A refused login is reported like any other failure of the open.
    static const CrateFamily f{.contexts = gContexts,
                               .generation = CRATE_GEN_FIRST,
                               .crateMapSerialTail = false,
                               .writeBackSetValue = false,
                               .loginKeyword = "LOGIN",
                               .loginRefused = -1,
                               .addressPrefix = false,
                               .clearSubscriptions = HX1100_SubList_Clear};
    return f;
}

const BackendOps kHX1100Backend = makeOps();

} // namespace koruhv
