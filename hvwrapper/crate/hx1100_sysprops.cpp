// System properties of the first-generation crates: each property's mode,
// type, reply layout and set encoding by decoding index, and the session
// log, the one layout of this generation alone.
#include <string>

#include "crate_sysprops.h"
#include "hx1100_backend.h"

namespace koruhv {

namespace {

using R = SysPropRead;
using W = SysPropWrite;

// The properties this generation reads or sets otherwise than the other
// or alone (the rest: crate_sysprops.cpp).
// clang-format off
const CrateSysPropInfoRow kInfo[] = {
    {14, 0, SP_TEXT, R::Decimals5,   W::None},
    {21, 2, SP_TEXT, R::Text,        W::Text},
    {22, 2, SP_U16,  R::Word16,      W::Word16},
};
// clang-format on

// The session log (index 0): s lines of three ':'-ended fields and one
// ended by a line feed; an empty first field reads "none".
int readOwn(CrateContext &ctx, uint32_t, ByteCursor &cur, void *result)
{
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
    return CrateSysProp_PutText(ctx, result, t);
}

const CrateSysPropTable kTable{kInfo, sizeof kInfo / sizeof kInfo[0], readOwn};

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
