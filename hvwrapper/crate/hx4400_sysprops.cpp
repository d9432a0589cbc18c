// System properties of the current-generation crates: mode and type by
// decoding index, reply decoding and value encoding.
#include <cstdio>
#include <cstring>
#include <string>

#include "crate_ops.h"
#include "crate_sysprop_text.h"
#include "crate_sysprops.h"
#include "hx4400_backend.h"

namespace koruhv {

namespace {

enum SysPropType : uint32_t { SP_TEXT = 0, SP_U16 = 2, SP_U32 = 3, SP_S16 = 4 };

// clang-format off
const CrateSysPropInfoRow kInfo[] = {
    {0, 0, SP_TEXT},  {7, 0, SP_TEXT},  {8, 0, SP_TEXT},  {14, 0, SP_TEXT}, {15, 0, SP_TEXT},
    {21, 0, SP_TEXT}, {25, 0, SP_TEXT}, {26, 0, SP_TEXT}, {28, 0, SP_TEXT}, {29, 0, SP_TEXT},
    {33, 0, SP_TEXT},
    {9, 2, SP_U16},   {12, 2, SP_U16},  {22, 2, SP_U16},  {27, 2, SP_U16},  {32, 2, SP_U16},
    {10, 0, SP_U16},  {11, 0, SP_U16},  {13, 0, SP_U16},  {24, 0, SP_U16},
    {16, 0, SP_S16},
    {17, 2, SP_TEXT}, {18, 2, SP_TEXT}, {19, 2, SP_TEXT}, {20, 2, SP_TEXT}, {23, 2, SP_TEXT},
    {34, 2, SP_TEXT},
    {31, 2, SP_U32},  {35, 2, SP_U32},
};
// clang-format on

int ok(CrateContext &ctx)
{
    ctx.status = 0;
    return CRATE_OK;
}

void putText(void *result, std::string_view text)
{
    Crate_CopyText(static_cast<char *>(result), kSysPropTextSize, text);
}

std::string_view dataText(ByteCursor &cur)
{
    return CrateText_Data(cur);
}

int decode(CrateContext &ctx, uint32_t index, ByteCursor &cur, void *result)
{
    switch (index) {
    case 0: { // sessions: s entries of five fields, four ended by ':' and one by ';'
        uint16_t s = cur.u16();
        cur.expect(':');
        size_t start = cur.pos();
        std::string_view all = cur.rest();
        for (uint16_t i = 0; i < s && cur.ok(); ++i) {
            for (int k = 0; k < 4; ++k)
                cur.until(':', nullptr);
            cur.until(';', nullptr);
        }
        if (!cur.ok())
            return Crate_Malformed(ctx);
        putText(result, all.substr(0, cur.pos() - start));
        return ok(ctx);
    }
    case 7: {
        std::string_view t = dataText(cur);
        putText(result, t.substr(0, t.find(',')));
        return ok(ctx);
    }
    case 23: {
        std::string_view t = dataText(cur);
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
    case 29:
    case 33:
    case 34:
        putText(result, dataText(cur));
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
    case 24:
    case 27:
    case 32: {
        uint16_t v = cur.u16();
        if (!cur.ok())
            return Crate_Malformed(ctx);
        std::memcpy(result, &v, 2);
        return ok(ctx);
    }
    case 31:
    case 35: {
        uint32_t v = cur.u32();
        if (!cur.ok())
            return Crate_Malformed(ctx);
        std::memcpy(result, &v, 4);
        return ok(ctx);
    }
    case 14: { // power-supply modules
        std::string t = CrateText_Decimals(cur, 2);
        for (int k = 0; k < 3; ++k) {
            uint8_t m = cur.u8();
            t += m == 1 ? ":J7740" : m == 2 ? ":J7750" : m == 0 ? ":0" : ":-1";
        }
        if (!cur.ok())
            return Crate_Malformed(ctx);
        putText(result, t);
        return ok(ctx);
    }
    case 15:
    case 28: { // fans: groups of a byte and a 16-bit number
        std::string t = CrateText_FanGroups(cur);
        putText(result, t);
        return ok(ctx);
    }
    case 17: {
        std::string t = CrateText_Decimals(cur, 2);
        if (!cur.ok())
            return Crate_Malformed(ctx);
        putText(result, t);
        return ok(ctx);
    }
    default:
        return Crate_SetError(ctx, CRATE_ERR_PROP_NOT_AVAILABLE, kTextPropNotAvailable);
    }
}

bool encode(uint32_t index, const void *value, RequestBuffer &args)
{
    uint16_t v16 = 0;
    uint32_t v32 = 0;
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
    case 23:
    case 34:
        return args.text(static_cast<const char *>(value));
    case 22:
        std::memcpy(&v16, value, 2);
        return args.raw16(v16 & 1u);
    case 27:
    case 32:
        std::memcpy(&v16, value, 2);
        return args.raw16(v16);
    case 31:
    case 35:
        // The value and four bytes the crate does not read.
        std::memcpy(&v32, value, 4);
        return args.raw32(v32) && args.raw32(0);
    default:
        return false;
    }
}

const CrateSysPropTable kTable{kInfo, sizeof kInfo / sizeof kInfo[0], decode, encode};

} // namespace

int HX4400_GetSysPropInfo(const BackendRef &b, const char *name, uint32_t *mode, uint32_t *type)
{
    return CrateSysProp_GetInfo(HX4400_Family(), kTable, b.handle, name, mode, type);
}

int HX4400_GetSysProp(const BackendRef &b, const char *name, void *result)
{
    return CrateSysProp_Get(HX4400_Family(), kTable, b.handle, name, result);
}

int HX4400_SetSysProp(const BackendRef &b, const char *name, void *value)
{
    return CrateSysProp_Set(HX4400_Family(), kTable, b.handle, name, value);
}

} // namespace koruhv
