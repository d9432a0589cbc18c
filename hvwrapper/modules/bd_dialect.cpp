#include "modules/bd_dialect.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "modules/text_wire.h"

namespace koruhv {

namespace {

std::string afterColon(const std::string &field, bool *found)
{
    const size_t at = field.find(':');
    *found = at != std::string::npos;
    return *found ? field.substr(at + 1) : std::string();
}

bool isNumber(const std::string &s)
{
    if (s.empty() || s.size() > 9)
        return false;
    for (char c : s)
        if (c < '0' || c > '9')
            return false;
    return true;
}

} // namespace

int Bd_ParseAddress(const TextFamily &, const char *link, const char *address, LinkParams *out)
{
    std::vector<std::string> f = SplitText(address, '_');
    // A '_' at the very end starts no field: the next one keeps its default.
    if (f.size() > 1 && f.back().empty())
        f.pop_back();
    if (f.empty() || f[0].empty() || f[0].size() > 99)
        return -1;
    for (const std::string &field : f)
        if (field.size() > 39)
            return -1;
    auto num = [&](size_t i, int def) { return i < f.size() ? ParseIntText(f[i].c_str()) : def; };
    if (std::strcmp(link, "TCP/IP") == 0) {
        out->kind = TEXT_LINK_TCP;
        out->ip = f[0];
        out->moduleAddress = num(1, 0);
    } else {
        out->kind = TEXT_LINK_SERIAL;
        out->port = f[0];
        out->baud = num(1, 9600);
        out->dataBits = num(2, 8);
        out->stopBits = num(3, 0);
        out->parity = num(4, 0);
        out->flow = 0;
        out->moduleAddress = num(5, 0);
    }
    // Requests carry the address in two digits, replies are checked for it.
    return out->moduleAddress >= 0 && out->moduleAddress <= 99 ? 0 : -1;
}

int Bd_ParseAmplifierAddress(const TextFamily &f, const char *link, const char *address, LinkParams *out)
{
    if (Bd_ParseAddress(f, link, address, out) != 0)
        return -1;
    if (out->kind == TEXT_LINK_SERIAL && out->port.find_first_of("0123456789") == std::string::npos)
        return -1;
    return 0;
}

int Bd_BuildRequest(const TextInstance &in, RequestKind kind, int channel, const char *mnemonic,
                    const char *valuePart, char *out, size_t cap)
{
    if (!mnemonic || kind == REQ_INFO)
        return -1;
    char ch[24] = "";
    if (channel >= 0)
        std::snprintf(ch, sizeof ch, "CH:%d,", channel);
    const int n =
        std::snprintf(out, cap, "$BD:%02d,CMD:%s,%sPAR:%s%s\r\n", in.params.moduleAddress,
                      kind == REQ_MONITOR ? "MON" : "SET", ch, mnemonic, valuePart ? valuePart : "");
    return n > 0 && static_cast<size_t>(n) < cap ? 0 : -1;
}

bool Bd_IsOwnReply(const TextInstance &in, const char *line)
{
    if (std::strncmp(line, "#BD:", 4) != 0)
        return true; // not addressed: the parser judges it
    const char *p = line + 4;
    if (*p < '0' || *p > '9')
        return true;
    return ParseIntText(p) == in.params.moduleAddress;
}

int Bd_ParseReply(const TextInstance &in, const char *, const char *line, char *value, size_t cap)
{
    if (value && cap)
        value[0] = '\0';
    if (!std::strstr(line, "OK"))
        return Text_ErrorToken(line);
    const std::vector<std::string> f = SplitText(line, ',');
    // The line end (already removed) counts towards the third field, so
    // "VAL:" with an empty value is a valid answer.
    if (f.size() < 3 || f[0].size() != 6 || f[1].size() != 6 || f[2].size() < 4)
        return -1;
    bool found;
    const std::string addr = afterColon(f[0], &found);
    if (!found || !isNumber(addr) || ParseIntText(addr.c_str()) != in.params.moduleAddress)
        return -1;
    if (afterColon(f[1], &found) != "OK" || !found)
        return -1;
    const std::string v = afterColon(f[2], &found);
    if (!found || !value || v.size() + 1 > cap)
        return -1;
    std::memcpy(value, v.c_str(), v.size() + 1);
    return 0;
}

int Bd_SetResult(const TextInstance &, const char *line)
{
    return std::strstr(line, "OK") ? 0 : Text_ErrorToken(line);
}

bool Bd_FormatValuePart(const ParamRow &row, const void *value, char *out, size_t cap)
{
    out[0] = '\0';
    switch (row.type()) {
    case PT_NUMERIC: {
        float v;
        std::memcpy(&v, value, sizeof v);
        char num[64];
        if (!FormatFixed(v, row.textDigits + row.textDecimals, row.textDecimals, num, sizeof num))
            return false;
        return std::snprintf(out, cap, ",VAL:%s", num) < static_cast<int>(cap);
    }
    case PT_ONOFF: {
        int32_t v;
        std::memcpy(&v, value, sizeof v);
        return std::snprintf(out, cap, ",VAL:%s", v ? row.onWord : row.offWord) < static_cast<int>(cap);
    }
    case PT_CHSTATUS:
    case PT_BDSTATUS: {
        int32_t v;
        std::memcpy(&v, value, sizeof v);
        return std::snprintf(out, cap, ",VAL:%05d", static_cast<int>(v)) < static_cast<int>(cap);
    }
    default:
        return true;
    }
}

bool Bd_FormatWholeValuePart(const ParamRow &row, const void *value, char *out, size_t cap)
{
    out[0] = '\0';
    int32_t i;
    std::memcpy(&i, value, sizeof i);
    switch (row.type()) {
    case PT_NUMERIC: {
        float v;
        std::memcpy(&v, value, sizeof v);
        char num[64];
        if (!FormatFixed(v, row.textDigits, 0, num, sizeof num))
            return false;
        return std::snprintf(out, cap, ",VAL:%s", num) < static_cast<int>(cap);
    }
    case PT_ONOFF:
    case PT_ENUM:
        return std::snprintf(out, cap, ",VAL:%d", static_cast<int>(i)) < static_cast<int>(cap);
    case PT_CHSTATUS:
    case PT_BDSTATUS:
        return std::snprintf(out, cap, ",VAL:%05d", static_cast<int>(i)) < static_cast<int>(cap);
    default:
        return true;
    }
}

} // namespace koruhv
