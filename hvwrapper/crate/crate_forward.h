// The operations that every crate-protocol backend hands straight to the
// shared crate operation on the handle's context, written once for any
// family: CrateForward<family> names them, and ops() makes the BackendOps
// table of them. A backend puts its own function in the table where it
// does more (its property table, subscriptions, events, extra work around
// a call).
#pragma once

#include "backend_ops.h"
#include "crate_ops.h"

namespace koruhv {

template <const CrateFamily &(*Family)()> struct CrateForward {
    // Runs an operation on the handle's context; 4098 when it is not logged in.
    template <typename F> static int withContext(const BackendRef &b, F op)
    {
        CrateContext *ctx = CrateFamily_Context(Family(), b.handle);
        return ctx ? op(*ctx) : KORUHV_ERR_NOT_OPEN;
    }

    static int initSystem(const char *link, const char *address, const char *user, const char *password,
                          int *outHandle)
    {
        return CrateFamily_Open(Family(), link, address, user, password, outHandle);
    }

    static int deinitSystem(const BackendRef &b)
    {
        return withContext(b, [&](CrateContext &ctx) { return CrateFamily_Close(Family(), ctx, b.handle); });
    }

    static const char *getError(const BackendRef &b) { return CrateFamily_Error(Family(), b.handle); }

    static int getCrateMap(const BackendRef &b, uint16_t *slotCount, char **models, char **descriptions,
                           uint32_t **serialNumbers, uint8_t **firmwareMinors, uint8_t **firmwareMajors)
    {
        return withContext(b, [&](CrateContext &ctx) {
            return CrateOp_GetCrateMap(Family(), ctx, slotCount, models, descriptions, serialNumbers,
                                       firmwareMinors, firmwareMajors);
        });
    }

    static int getSysComp(const BackendRef &b, uint8_t *crateCount, uint16_t **crateWords,
                          uint32_t **slotWords)
    {
        return withContext(
            b, [&](CrateContext &ctx) { return CrateOp_GetSysComp(ctx, crateCount, crateWords, slotWords); });
    }

    static int getSysPropList(const BackendRef &b, uint16_t *count, char **names)
    {
        return withContext(
            b, [&](CrateContext &ctx) { return CrateOp_GetSysPropList(Family(), ctx, count, names); });
    }

    static int getBdParam(const BackendRef &b, uint16_t n, const uint16_t *slots, const char *name,
                          void *values)
    {
        return withContext(
            b, [&](CrateContext &ctx) { return CrateOp_GetBdParam(ctx, n, slots, name, values); });
    }

    static int setBdParam(const BackendRef &b, uint16_t n, const uint16_t *slots, const char *name,
                          void *value)
    {
        return withContext(b,
                           [&](CrateContext &ctx) { return CrateOp_SetBdParam(ctx, n, slots, name, value); });
    }

    static int getBdParamProp(const BackendRef &b, uint16_t slot, const char *param, const char *prop,
                              void *result)
    {
        return withContext(
            b, [&](CrateContext &ctx) { return CrateOp_GetBdParamProp(ctx, slot, param, prop, result); });
    }

    static int getBdParamInfo(const BackendRef &b, uint16_t slot, char **names)
    {
        return withContext(b, [&](CrateContext &ctx) { return CrateOp_GetBdParamInfo(ctx, slot, names); });
    }

    static int testBdPresence(const BackendRef &b, uint16_t slot, char *model, char *description,
                              uint16_t *serialNumber, uint8_t *firmwareMinor, uint8_t *firmwareMajor)
    {
        return withContext(b, [&](CrateContext &ctx) {
            return CrateOp_TestBdPresence(ctx, slot, model, description, serialNumber, firmwareMinor,
                                          firmwareMajor);
        });
    }

    static int getChParamProp(const BackendRef &b, uint16_t slot, uint16_t channel, const char *param,
                              const char *prop, void *result)
    {
        return withContext(b, [&](CrateContext &ctx) {
            return CrateOp_GetChParamProp(ctx, slot, channel, param, prop, result);
        });
    }

    static int getChParamInfo(const BackendRef &b, uint16_t slot, uint16_t channel, char **names, int *count)
    {
        return withContext(
            b, [&](CrateContext &ctx) { return CrateOp_GetChParamInfo(ctx, slot, channel, names, count); });
    }

    static int getChName(const BackendRef &b, uint16_t slot, uint16_t count, const uint16_t *channels,
                         char (*names)[KORUHV_CHANNEL_NAME_SIZE])
    {
        return withContext(
            b, [&](CrateContext &ctx) { return CrateOp_GetChName(ctx, slot, count, channels, names); });
    }

    static int setChName(const BackendRef &b, uint16_t slot, uint16_t count, const uint16_t *channels,
                         const char *name)
    {
        return withContext(
            b, [&](CrateContext &ctx) { return CrateOp_SetChName(ctx, slot, count, channels, name); });
    }

    static int getChParam(const BackendRef &b, uint16_t slot, const char *name, uint16_t count,
                          const uint16_t *channels, void *values)
    {
        return withContext(b, [&](CrateContext &ctx) {
            return CrateOp_GetChParam(ctx, slot, name, count, channels, values);
        });
    }

    static int setChParam(const BackendRef &b, uint16_t slot, const char *name, uint16_t count,
                          const uint16_t *channels, void *value)
    {
        return withContext(b, [&](CrateContext &ctx) {
            return CrateOp_SetChParam(Family(), ctx, slot, name, count, channels, value);
        });
    }

    static int getExecCommList(const BackendRef &b, uint16_t *count, char **names)
    {
        return withContext(
            b, [&](CrateContext &ctx) { return CrateOp_GetExecCommList(Family(), ctx, count, names); });
    }

    static int execComm(const BackendRef &b, const char *name)
    {
        return withContext(b, [&](CrateContext &ctx) { return CrateOp_ExecComm(Family(), ctx, name); });
    }

    // Every operation above; the family adds its own (system properties,
    // subscriptions, events) and replaces those it does more around.
    static constexpr BackendOps ops(int family, const char *namePrefix)
    {
        BackendOps o{};
        o.family = family;
        o.namePrefix = namePrefix;
        o.flags = BACKEND_DEINIT_RETURNS_CODE;
        o.requestLockOps = kAllOps; // the front holds the slot's request lock around every call
        o.InitSystem = initSystem;
        o.DeinitSystem = deinitSystem;
        o.GetCrateMap = getCrateMap;
        o.GetSysComp = getSysComp;
        o.GetSysPropList = getSysPropList;
        o.GetBdParam = getBdParam;
        o.SetBdParam = setBdParam;
        o.GetBdParamProp = getBdParamProp;
        o.GetBdParamInfo = getBdParamInfo;
        o.TestBdPresence = testBdPresence;
        o.GetChParamProp = getChParamProp;
        o.GetChParamInfo = getChParamInfo;
        o.GetChName = getChName;
        o.SetChName = setChName;
        o.GetChParam = getChParam;
        o.SetChParam = setChParam;
        o.GetExecCommList = getExecCommList;
        o.ExecComm = execComm;
        o.GetError = getError;
        return o;
    }
};

} // namespace koruhv
