#include "crate_sysprops.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "crate_sysprop_text.h"

namespace koruhv {

namespace {

int ok(CrateContext &ctx)
{
    ctx.status = 0;
    return CRATE_OK;
}

using R = SysPropRead;
using W = SysPropWrite;

// The properties both generations read and set alike; the session log
// (index 0) has a layout of each family's own.
// clang-format off
const CrateSysPropInfoRow kShared[] = {
    {0,  0, SP_TEXT, R::Own,         W::None},
    {7,  0, SP_TEXT, R::BeforeComma, W::None},
    {8,  0, SP_TEXT, R::Text,        W::None},
    {9,  2, SP_U16,  R::Byte,        W::HighLowBytes},
    {10, 0, SP_U16,  R::Word16,      W::None},
    {11, 0, SP_U16,  R::Word16,      W::None},
    {12, 2, SP_U16,  R::Byte,        W::HighLowBytes},
    {13, 0, SP_U16,  R::None,        W::None},
    {15, 0, SP_TEXT, R::FanGroups,   W::None},
    {16, 0, SP_S16,  R::Byte,        W::None},
    {17, 2, SP_TEXT, R::Decimals2,   W::NumberText16},
    {18, 2, SP_TEXT, R::Text,        W::Text},
    {19, 2, SP_TEXT, R::Text,        W::Text},
    {20, 2, SP_TEXT, R::Text,        W::Text},
    {23, 2, SP_TEXT, R::AfterComma,  W::Text},
    {24, 0, SP_U16,  R::Word16,      W::None},
    {25, 0, SP_TEXT, R::Text,        W::None},
    {26, 0, SP_TEXT, R::Text,        W::None},
};
// clang-format on

const CrateSysPropInfoRow *rowOf(const CrateSysPropTable &t, uint32_t index)
{
    for (size_t k = 0; k < t.infoCount; ++k)
        if (t.info[k].index == index)
            return &t.info[k];
    for (const CrateSysPropInfoRow &row : kShared)
        if (row.index == index)
            return &row;
    return nullptr;
}

template <typename T> int putNumber(CrateContext &ctx, const ByteCursor &cur, T v, void *result)
{
    if (!cur.ok())
        return Crate_Malformed(ctx);
    std::memcpy(result, &v, sizeof v);
    return ok(ctx);
}

int putDecimals(CrateContext &ctx, ByteCursor &cur, int n, void *result)
{
    std::string t = CrateText_Decimals(cur, n);
    if (!cur.ok())
        return Crate_Malformed(ctx);
    return CrateSysProp_PutText(ctx, result, t);
}

int read(CrateContext &ctx, const CrateSysPropTable &t, const CrateSysPropInfoRow *row, ByteCursor &cur,
         void *result)
{
    switch (row ? row->read : SysPropRead::None) {
    case SysPropRead::Own:
        return t.readOwn(ctx, row->index, cur, result);
    case SysPropRead::Text:
        return CrateSysProp_PutText(ctx, result, CrateText_Data(cur));
    case SysPropRead::BeforeComma: {
        std::string_view text = CrateText_Data(cur);
        return CrateSysProp_PutText(ctx, result, text.substr(0, text.find(',')));
    }
    case SysPropRead::AfterComma: {
        std::string_view text = CrateText_Data(cur);
        size_t comma = text.find(',');
        return CrateSysProp_PutText(
            ctx, result, comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1));
    }
    case SysPropRead::Byte: {
        int16_t v = cur.s8();
        return putNumber(ctx, cur, v, result);
    }
    case SysPropRead::Word16: {
        uint16_t v = cur.u16();
        return putNumber(ctx, cur, v, result);
    }
    case SysPropRead::Word32: {
        uint32_t v = cur.u32();
        return putNumber(ctx, cur, v, result);
    }
    case SysPropRead::Decimals2:
        return putDecimals(ctx, cur, 2, result);
    case SysPropRead::Decimals5:
        return putDecimals(ctx, cur, 5, result);
    case SysPropRead::FanGroups:
        return CrateSysProp_PutText(ctx, result, CrateText_FanGroups(cur));
    case SysPropRead::None:
        break;
    }
    return Crate_SetError(ctx, CRATE_ERR_PROP_NOT_AVAILABLE, kTextPropNotAvailable);
}

// The context of the handle and the generation's row of the property: 0,
// KORUHV_ERR_NOT_OPEN, or "property not found" (set on the context).
int lookUp(const CrateFamily &f, int handle, const char *name, CrateContext **ctx, const PropertyRow **r)
{
    *ctx = CrateFamily_Context(f, handle);
    if (!*ctx)
        return KORUHV_ERR_NOT_OPEN;
    *r = Crate_FindProperty(f.generation, name);
    if (!*r)
        return Crate_SetError(**ctx, CRATE_ERR_PROP_NOT_FOUND, kTextPropNotFound);
    return 0;
}

bool write(const CrateSysPropInfoRow *row, const void *value, RequestBuffer &args)
{
    uint16_t v16 = 0;
    uint32_t v32 = 0;
    switch (row ? row->write : SysPropWrite::None) {
    case SysPropWrite::HighLowBytes:
        std::memcpy(&v16, value, 2);
        return args.raw8(uint8_t(v16 >> 8)) && args.colon() && args.raw8(uint8_t(v16));
    case SysPropWrite::NumberText16:
        return args.raw16(uint16_t(std::atoi(static_cast<const char *>(value))));
    case SysPropWrite::Text:
        return args.text(static_cast<const char *>(value));
    case SysPropWrite::Word16:
        std::memcpy(&v16, value, 2);
        return args.raw16(v16);
    case SysPropWrite::Bit0Word16:
        std::memcpy(&v16, value, 2);
        return args.raw16(v16 & 1u);
    case SysPropWrite::Word32Padded:
        std::memcpy(&v32, value, 4);
        return args.raw32(v32) && args.raw32(0);
    case SysPropWrite::None:
        break;
    }
    return false;
}

} // namespace

int CrateSysProp_PutText(CrateContext &ctx, void *result, std::string_view text)
{
    Crate_CopyText(static_cast<char *>(result), KORUHV_SYSPROP_TEXT_SIZE, text);
    return ok(ctx);
}

int CrateSysProp_GetInfo(const CrateFamily &f, const CrateSysPropTable &t, int handle, const char *name,
                         uint32_t *mode, uint32_t *type)
{
    CrateContext *ctx = nullptr;
    const PropertyRow *r = nullptr;
    if (int rc = lookUp(f, handle, name, &ctx, &r))
        return rc;
    if (r->access == PROP_EXEC)
        return Crate_SetError(*ctx, CRATE_ERR_NO_SYS_PROP, kTextNoSysProp);
    const CrateSysPropInfoRow *row = rowOf(t, r->index);
    if (!row)
        return Crate_SetError(*ctx, CRATE_ERR_PROP_NOT_FOUND, kTextPropNotFound);
    if (mode)
        *mode = row->mode;
    if (type)
        *type = row->type;
    return ok(*ctx);
}

int CrateSysProp_Get(const CrateFamily &f, const CrateSysPropTable &t, int handle, const char *name,
                     void *result)
{
    if (!result)
        return KORUHV_ERR_BAD_ARGUMENT;
    CrateContext *ctx = nullptr;
    const PropertyRow *r = nullptr;
    if (int rc = lookUp(f, handle, name, &ctx, &r))
        return rc;
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
    return read(*ctx, t, rowOf(t, r->index), cur, result);
}

int CrateSysProp_Set(const CrateFamily &f, const CrateSysPropTable &t, int handle, const char *name,
                     void *value)
{
    if (!value)
        return KORUHV_ERR_BAD_ARGUMENT;
    CrateContext *ctx = nullptr;
    const PropertyRow *r = nullptr;
    if (int rc = lookUp(f, handle, name, &ctx, &r))
        return rc;
    if (r->access != PROP_READ_WRITE)
        return Crate_SetError(*ctx, CRATE_ERR_NO_SET_PROP, kTextNoSetProp);
    if (!r->available)
        return Crate_SetError(*ctx, CRATE_ERR_PROP_NOT_AVAILABLE, kTextPropNotAvailable);
    RequestBuffer args(ctx->order);
    if (!write(rowOf(t, r->index), value, args))
        return Crate_SetError(*ctx, CRATE_ERR_NO_SET_PROP, kTextNoSetProp);
    int rc = Crate_Request(*ctx, r->setKeyword, &args, nullptr);
    return rc ? rc : ok(*ctx);
}

} // namespace koruhv
