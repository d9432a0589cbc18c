#include "crate_sysprops.h"

#include <cstring>

namespace koruhv {

namespace {

int ok(CrateContext &ctx)
{
    ctx.status = 0;
    return CRATE_OK;
}

} // namespace

int CrateSysProp_GetInfo(const CrateFamily &f, const CrateSysPropTable &t, int handle, const char *name,
                         uint32_t *mode, uint32_t *type)
{
    CrateContext *ctx = CrateFamily_Context(f, handle);
    if (!ctx)
        return KORUHV_ERR_NOT_OPEN;
    const PropertyRow *r = Crate_FindProperty(f.generation, name);
    if (!r)
        return Crate_SetError(*ctx, CRATE_ERR_PROP_NOT_FOUND, kTextPropNotFound);
    if (r->access == PROP_EXEC)
        return Crate_SetError(*ctx, CRATE_ERR_NO_SYS_PROP, kTextNoSysProp);
    for (size_t k = 0; k < t.infoCount; ++k)
        if (t.info[k].index == r->index) {
            if (mode)
                *mode = t.info[k].mode;
            if (type)
                *type = t.info[k].type;
            return ok(*ctx);
        }
    return Crate_SetError(*ctx, CRATE_ERR_PROP_NOT_FOUND, kTextPropNotFound);
}

int CrateSysProp_Get(const CrateFamily &f, const CrateSysPropTable &t, int handle, const char *name,
                     void *result)
{
    if (!result)
        return KORUHV_ERR_BAD_ARGUMENT;
    CrateContext *ctx = CrateFamily_Context(f, handle);
    if (!ctx)
        return KORUHV_ERR_NOT_OPEN;
    const PropertyRow *r = Crate_FindProperty(f.generation, name);
    if (!r)
        return Crate_SetError(*ctx, CRATE_ERR_PROP_NOT_FOUND, kTextPropNotFound);
    if (r->access == PROP_EXEC)
        return Crate_SetError(*ctx, CRATE_ERR_NO_GET_PROP, kTextNoGetProp);
    if (!r->available) {
        if (r->index == 13) { // "ResFlag" is answered without asking the crate
            uint16_t zero = 0;
            std::memcpy(result, &zero, 2);
            return ok(*ctx);
        }
        return Crate_SetError(*ctx, CRATE_ERR_PROP_NOT_AVAILABLE, kTextPropNotAvailable);
    }
    CrateReply reply;
    int rc = Crate_Request(*ctx, r->getKeyword, nullptr, &reply);
    if (rc)
        return rc;
    ByteCursor cur = reply.data(ctx->order);
    return t.decode(*ctx, r->index, cur, result);
}

int CrateSysProp_Set(const CrateFamily &f, const CrateSysPropTable &t, int handle, const char *name,
                     void *value)
{
    if (!value)
        return KORUHV_ERR_BAD_ARGUMENT;
    CrateContext *ctx = CrateFamily_Context(f, handle);
    if (!ctx)
        return KORUHV_ERR_NOT_OPEN;
    const PropertyRow *r = Crate_FindProperty(f.generation, name);
    if (!r)
        return Crate_SetError(*ctx, CRATE_ERR_PROP_NOT_FOUND, kTextPropNotFound);
    if (r->access != PROP_READ_WRITE)
        return Crate_SetError(*ctx, CRATE_ERR_NO_SET_PROP, kTextNoSetProp);
    if (!r->available)
        return Crate_SetError(*ctx, CRATE_ERR_PROP_NOT_AVAILABLE, kTextPropNotAvailable);
    RequestBuffer args(ctx->order);
    if (!t.encode(r->index, value, args))
        return Crate_SetError(*ctx, CRATE_ERR_NO_SET_PROP, kTextNoSetProp);
    int rc = Crate_Request(*ctx, r->setKeyword, &args, nullptr);
    return rc ? rc : ok(*ctx);
}

} // namespace koruhv
