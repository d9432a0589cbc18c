#include "crate_sysprop_text.h"

namespace koruhv {

std::string CrateText_Decimals(ByteCursor &cur, int n)
{
    std::string t;
    for (int i = 0; i < n; ++i) {
        int v = cur.s8();
        if (i)
            t += ':';
        t += std::to_string(v);
    }
    return t;
}

std::string CrateText_FanGroups(ByteCursor &cur)
{
    std::string t;
    while (cur.remaining() >= 3) {
        int a = cur.s8();
        unsigned b = cur.u16();
        if (!t.empty())
            t += ':';
        t += std::to_string(a) + ":" + std::to_string(b);
    }
    return t;
}

std::string_view CrateText_Data(const ByteCursor &cur)
{
    std::string_view t = cur.rest();
    size_t z = t.find('\0');
    return z == std::string_view::npos ? t : t.substr(0, z);
}

} // namespace koruhv
