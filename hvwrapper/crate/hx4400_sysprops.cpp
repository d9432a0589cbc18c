// System properties of the current-generation crates: each property's
// mode, type, reply layout and set encoding by decoding index, and the two
// layouts of this generation alone (the session log, the power-supply
// modules).
#include <string>

#include "crate_sysprop_text.h"
#include "crate_sysprops.h"
#include "hx4400_backend.h"

namespace koruhv {

namespace {

using R = SysPropRead;
using W = SysPropWrite;

// The properties this generation reads or sets otherwise than the other
// or alone (the rest: crate_sysprops.cpp).
// clang-format off
const CrateSysPropInfoRow kInfo[] = {
    {14, 0, SP_TEXT, R::Own,         W::None},
    {21, 0, SP_TEXT, R::Text,        W::None},
    {22, 2, SP_U16,  R::Word16,      W::Bit0Word16},
    {27, 2, SP_U16,  R::Word16,      W::Word16},
    {28, 0, SP_TEXT, R::FanGroups,   W::None},
    {29, 0, SP_TEXT, R::Text,        W::None},
    {31, 2, SP_U32,  R::Word32,      W::Word32Padded},
    {32, 2, SP_U16,  R::Word16,      W::Word16},
    {33, 0, SP_TEXT, R::Text,        W::None},
    {34, 2, SP_TEXT, R::Text,        W::Text},
    {35, 2, SP_U32,  R::Word32,      W::Word32Padded},
};
// clang-format on

int readOwn(CrateContext &ctx, uint32_t index, ByteCursor &cur, void *result)
{
    if (index == 0) { // sessions: s entries of five fields, four ended by ':' and one by ';'
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
        return CrateSysProp_PutText(ctx, result, all.substr(0, cur.pos() - start));
    }
    // Power-supply modules (index 14): two decimals, then each of three
    // slots by its module code.
    std::string t = CrateText_Decimals(cur, 2);
    for (int k = 0; k < 3; ++k) {
        uint8_t m = cur.u8();
        t += m == 1 ? ":J7740" : m == 2 ? ":J7750" : m == 0 ? ":0" : ":-1";
    }
    if (!cur.ok())
        return Crate_Malformed(ctx);
    return CrateSysProp_PutText(ctx, result, t);
}

const CrateSysPropTable kTable{kInfo, sizeof kInfo / sizeof kInfo[0], readOwn};

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
