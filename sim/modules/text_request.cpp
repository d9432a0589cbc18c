#include "modules/text_request.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace korusim {

bool allDigits(std::string_view s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

namespace {

bool mnemonicChar(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// From "MON," or "SET," to the end of the line.
std::string parseTail(std::string_view s, TextRequest &r)
{
    if (s.substr(0, 4) == "MON,")
        r.set = false;
    else if (s.substr(0, 4) == "SET,")
        r.set = true;
    else
        return "command is neither MON nor SET";
    s.remove_prefix(4);
    if (s.substr(0, 3) == "CH:") {
        s.remove_prefix(3);
        size_t comma = s.find(',');
        if (comma == std::string_view::npos || comma > 3 || !allDigits(s.substr(0, comma)))
            return "bad channel field";
        r.hasChannel = true;
        r.channel = std::stoi(std::string(s.substr(0, comma)));
        s.remove_prefix(comma + 1);
    }
    if (s.substr(0, 4) != "PAR:")
        return "no PAR: field";
    s.remove_prefix(4);
    size_t comma = s.find(',');
    r.par = std::string(s.substr(0, comma));
    if (r.par.empty() || !std::all_of(r.par.begin(), r.par.end(), mnemonicChar))
        return "bad parameter mnemonic";
    if (comma == std::string_view::npos)
        return {};
    s.remove_prefix(comma);
    if (s.substr(0, 5) != ",VAL:")
        return "unexpected field after PAR";
    s.remove_prefix(5);
    if (s.empty())
        return "empty VAL field";
    r.hasValue = true;
    r.value = std::string(s);
    return {};
}

} // namespace

std::string parseBdRequest(std::string_view s, TextRequest &r, int maxAddressDigits)
{
    if (s.substr(0, 4) != "$BD:")
        return "request does not begin with $BD:";
    s.remove_prefix(4);
    std::string_view a = maxAddressDigits > 2 ? s.substr(0, s.find(',')) : s.substr(0, 2);
    if (a.size() < 2 || a.size() > size_t(maxAddressDigits) || !allDigits(a))
        return "module address is not two digits";
    r.address = std::stoi(std::string(a));
    s.remove_prefix(a.size());
    if (s.substr(0, 5) != ",CMD:")
        return "no ,CMD: after the address";
    s.remove_prefix(5);
    return parseTail(s, r);
}

std::string parseCmdRequest(std::string_view s, TextRequest &r)
{
    if (s.substr(0, 5) != "$CMD:")
        return "request does not begin with $CMD:";
    s.remove_prefix(5);
    return parseTail(s, r);
}

std::string fixedText(double v, int dec, int intDigits)
{
    bool neg = v < 0;
    if (neg)
        v = -v;
    dec = std::clamp(dec, 0, 9);
    long long scale = 1;
    for (int i = 0; i < dec; ++i)
        scale *= 10;
    long long units = std::llround(v * double(scale));
    if (units == 0)
        neg = false;
    std::string whole = std::to_string(units / scale);
    if (whole.size() < size_t(std::max(intDigits, 1)))
        whole.insert(0, size_t(intDigits) - whole.size(), '0');
    std::string out = (neg ? "-" : "") + whole;
    if (dec <= 0)
        return out;
    std::string frac = std::to_string(units % scale);
    frac.insert(0, size_t(dec) - std::min(frac.size(), size_t(dec)), '0');
    return out + "." + frac;
}

bool parsePlainNumber(std::string_view s, double &out, bool allowNegative, size_t maxIntDigits)
{
    bool neg = false;
    if (allowNegative && !s.empty() && s[0] == '-') {
        neg = true;
        s.remove_prefix(1);
    }
    size_t i = 0, intDigits = 0;
    double v = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
        v = v * 10 + (s[i] - '0');
        ++i;
        ++intDigits;
    }
    if (intDigits == 0 || intDigits > maxIntDigits)
        return false;
    if (i < s.size()) {
        if (s[i] != '.')
            return false;
        ++i;
        double scale = 0.1;
        size_t fracDigits = 0;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
            v += (s[i] - '0') * scale;
            scale /= 10;
            ++i;
            ++fracDigits;
        }
        if (fracDigits == 0 || i != s.size())
            return false;
    }
    out = neg ? -v : v;
    return true;
}

const char *deviceErrorWord(DeviceError k)
{
    switch (k) {
    case DeviceError::Cmd:
        return "CMD";
    case DeviceError::Ch:
        return "CH";
    case DeviceError::Par:
        return "PAR";
    case DeviceError::Val:
        return "VAL";
    case DeviceError::Loc:
        return "LOC";
    }
    return "CMD";
}

} // namespace korusim
