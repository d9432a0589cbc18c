// System properties of the first-generation crates: mode and type by
// decoding index, reply decoding and value encoding.
#include <cstdlib>
#include <cstring>
#include <string>

#include "crate_ops.h"
#include "crate_sysprop_text.h"
#include "crate_sysprops.h"
#include "hx1100_backend.h"

namespace koruhv {

namespace {

enum SysPropType : uint32_t { SP_TEXT = 0, SP_U16 = 2, SP_S16 = 4 };

// clang-format off
const CrateSysPropInfoRow kInfo[] = {
    {0, 0, SP_TEXT},  {7, 0, SP_TEXT},  {8, 0, SP_TEXT},  {14, 0, SP_TEXT}, {15, 0, SP_TEXT},
    {25, 0, SP_TEXT}, {26, 0, SP_TEXT},
    {9, 2, SP_U16},   {12, 2, SP_U16},  {22, 2, SP_U16},
    {10, 0, SP_U16},  {11, 0, SP_U16},  {13, 0, SP_U16},  {24, 0, SP_U16},
    {16, 0, SP_S16},
    {17, 2, SP_TEXT}, {18, 2, SP_TEXT}, {19, 2, SP_TEXT}, {20, 2, SP_TEXT}, {21, 2, SP_TEXT},
    {23, 2, SP_TEXT},
};
// clang-format on

int ok(CrateContext &ctx)
{
    ctx.status = 0;
    return CRATE_OK;
}

void putText(void *result, std::string_view text)
{
    Crate_CopyText(static_cast<char *>(result), KORUHV_SYSPROP_TEXT_SIZE, text);
}

int decode(CrateContext &ctx, uint32_t index, ByteCursor &cur, void *result)
{
    switch (index) {
    case 0: { // sessions: s lines of three ':'-ended fields and one ended by a line feed
        uint16_t s = cur.u16();
        cur.expect(':');
        std::string t;
        for (uint16_t i = 0; i < s && cur.ok(); ++i) {
            std::string_view f[4];
            cur.until(':', &f[0]);
            cur.until(':', &f[1]);
            cur.until(':', &f[2]);
            cur.until('\n', &f[3]);
            if (!cur.ok())
                break;
            t.append(f[0].empty() ? std::string_view("none") : f[0]).push_back(':');
            t.append(f[1]).push_back(':');
            t.append(f[2]).push_back(':');
            t.append(f[3]).push_back('\n');
        }
        if (!cur.ok())
            return Crate_Malformed(ctx);
        putText(result, t);
        return ok(ctx);
    }
    case 7: {
        std::string_view t = CrateText_Data(cur);
        putText(result, t.substr(0, t.find(',')));
        return ok(ctx);
    }
    case 23: {
        std::string_view t = CrateText_Data(cur);
        size_t comma = t.find(',');
        putText(result, comma == std::string_view::npos ? std::string_view() : t.substr(comma + 1));
        return ok(ctx);
    }
    case 8:
    case 18:
    case 19:
    case 20:
    case 21:
    case 25:
    case 26:
        putText(result, CrateText_Data(cur));
        return ok(ctx);
    case 9:
    case 12:
    case 16: {
        int16_t v = cur.s8();
        if (!cur.ok())
            return Crate_Malformed(ctx);
        std::memcpy(result, &v, 2);
        return ok(ctx);
    }
    case 10:
    case 11:
    case 22:
    case 24: {
        uint16_t v = cur.u16();
        if (!cur.ok())
            return Crate_Malformed(ctx);
        std::memcpy(result, &v, 2);
        return ok(ctx);
    }
    case 14:
    case 17: {
        std::string t = CrateText_Decimals(cur, index == 14 ? 5 : 2);
        if (!cur.ok())
            return Crate_Malformed(ctx);
        putText(result, t);
        return ok(ctx);
    }
    case 15:
        putText(result, CrateText_FanGroups(cur));
        return ok(ctx);
    default:
        return Crate_SetError(ctx, CRATE_ERR_PROP_NOT_AVAILABLE, kTextPropNotAvailable);
    }
}

bool encode(uint32_t index, const void *value, RequestBuffer &args)
{
    uint16_t v16 = 0;
    switch (index) {
    case 9:
    case 12:
        std::memcpy(&v16, value, 2);
        return args.raw8(uint8_t(v16 >> 8)) && args.colon() && args.raw8(uint8_t(v16));
    case 17:
        return args.raw16(uint16_t(std::atoi(static_cast<const char *>(value))));
    case 18:
    case 19:
    case 20:
    case 21:
    case 23:
        return args.text(static_cast<const char *>(value));
    case 22:
        std::memcpy(&v16, value, 2);
        return args.raw16(v16);
    default:
        return false;
    }
}

const CrateSysPropTable kTable{kInfo, sizeof kInfo / sizeof kInfo[0], decode, encode};

} // namespace

int HX1100_GetSysPropInfo(const BackendRef &b, const char *name, uint32_t *mode, uint32_t *type)
{
    return CrateSysProp_GetInfo(HX1100_Family(), kTable, b.handle, name, mode, type);
}

int HX1100_GetSysProp(const BackendRef &b, const char *name, void *result)
{
    return CrateSysProp_Get(HX1100_Family(), kTable, b.handle, name, result);
}

int HX1100_SetSysProp(const BackendRef &b, const char *name, void *value)
{
    return CrateSysProp_Set(HX1100_Family(), kTable, b.handle, name, value);
}

} // namespace koruhv
