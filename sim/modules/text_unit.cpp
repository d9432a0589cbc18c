#include "modules/text_unit.h"

#include <cstdio>

namespace korusim {

std::string cmdOk()
{
    return "#CMD:OK";
}

std::string cmdValue(const std::string &v)
{
    return "#CMD:OK,VAL:" + v;
}

std::string cmdError(DeviceError k)
{
    return std::string("#") + deviceErrorWord(k) + ":ERR";
}

std::string twoDigits(int v)
{
    char b[16];
    std::snprintf(b, sizeof b, "%02d", v);
    return b;
}

std::string threeDigits(int v)
{
    char b[16];
    std::snprintf(b, sizeof b, "%03d", v);
    return b;
}

std::string word5(unsigned v)
{
    char b[16];
    std::snprintf(b, sizeof b, "%05u", v & 0xFFFFu);
    return b;
}

int decimalsOf(int res)
{
    int d = 0;
    for (long long p = 1; p < res && d < 6; p *= 10)
        ++d;
    return d;
}

std::string bdOk(int a)
{
    return "#BD:" + twoDigits(a) + ",CMD:OK";
}

std::string bdValue(int a, const std::string &v)
{
    return bdOk(a) + ",VAL:" + v;
}

std::string bdError(int a, DeviceError k)
{
    return "#BD:" + twoDigits(a) + "," + deviceErrorWord(k) + ":ERR";
}

std::string withBdAddress(std::string_view reply, int address)
{
    std::string s(reply);
    if (s.rfind("#BD:", 0) == 0 && s.size() >= 6)
        s.replace(4, 2, twoDigits(address % 100));
    return s;
}

std::string bdErrorFor(std::string_view line, DeviceError kind, int maxAddressDigits)
{
    TextRequest r;
    parseBdRequest(line, r, maxAddressDigits);
    return bdError(r.address >= 0 ? r.address : 0, kind);
}

} // namespace korusim
