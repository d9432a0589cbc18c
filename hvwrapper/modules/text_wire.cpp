#include "modules/text_wire.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>

namespace koruhv {

bool FormatFixed(double value, int width, int decimals, char *out, size_t cap)
{
    if (!out || cap == 0 || !std::isfinite(value) || decimals < 0 || decimals > 20)
        return false;
    char digits[400];
    const auto r = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, decimals);
    if (r.ec != std::errc())
        return false;
    size_t len = static_cast<size_t>(r.ptr - digits);
    const size_t sign = digits[0] == '-' ? 1 : 0;
    const size_t pad = width > 0 && static_cast<size_t>(width) > len ? static_cast<size_t>(width) - len : 0;
    if (len + pad + 1 > cap)
        return false;
    size_t o = 0;
    if (sign)
        out[o++] = '-';
    for (size_t i = 0; i < pad; ++i)
        out[o++] = '0';
    std::memcpy(out + o, digits + sign, len - sign);
    o += len - sign;
    out[o] = '\0';
    return true;
}

int ParseIntText(const char *text)
{
    if (!text)
        return 0;
    while (*text == ' ' || *text == '\t')
        ++text;
    bool neg = false;
    if (*text == '+' || *text == '-')
        neg = *text++ == '-';
    long long v = 0;
    while (*text >= '0' && *text <= '9') {
        v = v * 10 + (*text++ - '0');
        if (v > static_cast<long long>(INT_MAX) + 1)
            v = static_cast<long long>(INT_MAX) + 1;
    }
    if (neg)
        v = -v;
    if (v > INT_MAX)
        v = INT_MAX;
    return static_cast<int>(v);
}

std::vector<std::string> SplitText(const char *text, char delim)
{
    std::vector<std::string> out;
    std::string cur;
    for (const char *p = text;; ++p) {
        if (*p == delim || *p == '\0') {
            out.push_back(cur);
            cur.clear();
            if (!*p)
                break;
        } else {
            cur.push_back(*p);
        }
    }
    return out;
}

} // namespace koruhv
