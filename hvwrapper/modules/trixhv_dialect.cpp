#include "modules/trixhv_dialect.h"

#include <strings.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "link.h"
#include "modules/text_wire.h"

namespace koruhv {

namespace {

constexpr size_t kFieldMax = 63; // port names, IP texts, on/off texts

// A value text may not carry the protocol's separators.
bool sendableText(const char *s, size_t cap)
{
    const size_t n = strnlen(s, cap);
    return n < cap && std::strpbrk(s, ",:;\r\n") == nullptr;
}

} // namespace

int Trixhv_ParseAddress(const TextFamily &, const char *link, const char *address, LinkParams *out)
{
    const std::vector<std::string> f = SplitText(address, '_');
    if (f[0].empty())
        return -1;
    for (const std::string &field : f)
        if (field.size() > kFieldMax)
            return -1;
    auto num = [&](size_t i, int def) { return i < f.size() ? ParseIntText(f[i].c_str()) : def; };
    if (std::strcmp(link, "TCP/IP") == 0) {
        out->kind = TEXT_LINK_TCP;
        out->ip = f[0];
        out->moduleAddress = -1;
        return 0;
    }
    out->kind = TEXT_LINK_SERIAL;
    out->port = f[0];
    out->baud = num(1, 9600);
    out->dataBits = num(2, 8);
    out->stopBits = num(3, 0);
    out->parity = num(4, 0);
    out->flow = 0;
    out->moduleAddress = num(5, -1);
    return 0;
}

bool Trixhv_FormatValue(const ParamRow &row, const void *value, char *out, size_t cap)
{
    out[0] = '\0';
    int32_t i = 0;
    if (row.type() != PT_TEXT)
        std::memcpy(&i, value, sizeof i);
    int n;
    switch (row.type()) {
    case PT_NUMERIC: {
        float v;
        std::memcpy(&v, value, sizeof v);
        char num[64];
        if (!FormatFixed(v, row.textDigits + row.textDecimals, row.textDecimals, num, sizeof num))
            return false;
        CommaToDot(num);
        n = std::snprintf(out, cap, ",VAL:%s", num);
        break;
    }
    case PT_ONOFF:
        n = std::snprintf(out, cap, ",VAL:%s", i ? row.onWord : row.offWord);
        break;
    case PT_CHSTATUS:
    case PT_BDSTATUS:
        n = std::snprintf(out, cap, ",VAL:%05d", static_cast<int>(i));
        break;
    case PT_TEXT: {
        const char *text = static_cast<const char *>(value);
        if (!sendableText(text, 900))
            return false;
        n = std::snprintf(out, cap, ",VAL:%s", text);
        break;
    }
    default:
        return true;
    }
    return n > 0 && static_cast<size_t>(n) < cap;
}

int Trixhv_BuildRequest(const TextInstance &in, RequestKind kind, int channel, const char *name,
                        const void *value, char *out, size_t cap)
{
    if (!name || !*name)
        return -1;
    const char *verb = kind == REQ_SET ? "SET" : kind == REQ_INFO ? "INFO" : "MON";
    char head[48];
    if (in.params.kind == TEXT_LINK_SERIAL && in.params.moduleAddress >= 0)
        std::snprintf(head, sizeof head, "$BD:%d,CMD:%s,", in.params.moduleAddress, verb);
    else
        std::snprintf(head, sizeof head, "$CMD:%s,", verb);
    char ch[24] = "";
    if (channel >= 0)
        std::snprintf(ch, sizeof ch, "CH:%d,", channel);
    char part[1024] = "";
    if (kind == REQ_SET && value && strcasecmp(name, "BDCLR") != 0) {
        // The first row of that name formats the value.
        const ParamRow *row = Text_FindRowByMnemonic(in, name);
        if (row && !Trixhv_FormatValue(*row, value, part, sizeof part))
            return -1;
    }
    const int n = std::snprintf(out, cap, "%s%sPAR:%s%s\r\n", head, ch, name, part);
    return n > 0 && static_cast<size_t>(n) < cap ? 0 : -1;
}

int Trixhv_ParseReply(const TextInstance &, const char *, const char *line, char *value, size_t cap)
{
    if (value && cap)
        value[0] = '\0';
    if (!std::strstr(line, "OK"))
        return Text_ErrorToken(line);
    const std::vector<std::string> f = SplitText(line, ',');
    if (f.size() < 2 || f[0].size() != 7 || f[1].size() <= 4)
        return -1;
    const size_t c0 = f[0].find(':');
    if (c0 == std::string::npos || f[0].substr(c0 + 1) != "OK")
        return -1;
    const size_t c1 = f[1].find(':');
    if (c1 == std::string::npos)
        return -1;
    std::string v = f[1].substr(c1 + 1);
    v = v.substr(0, v.find(':'));
    if (!value || v.size() + 1 > cap)
        return -1;
    std::memcpy(value, v.c_str(), v.size() + 1);
    return 0;
}

int Trixhv_SetResult(const TextInstance &, const char *line)
{
    return std::strstr(line, "OK") ? 0 : Text_ErrorToken(line);
}

bool Trixhv_SkipSet(const char *name, const void *value)
{
    // The name first: a text value may be shorter than 4 bytes.
    if (std::strcmp(name, "ON") != 0 && std::strcmp(name, "OFF") != 0)
        return false;
    int32_t v;
    std::memcpy(&v, value, sizeof v);
    return v == 0;
}

uint8_t Trixhv_UnitCode(const char *unit)
{
    static const char *const kUnits[] = {"ampere", "volt",   "watt", "celsius", "hertz", "bar",
                                         "vps",    "second", "rpm",  "count",   "bit"};
    for (size_t i = 0; i < std::size(kUnits); ++i)
        if (std::strcmp(unit, kUnits[i]) == 0)
            return static_cast<uint8_t>(i + 1);
    return 0;
}

int Trixhv_ParseInfo(const char *record, TrixhvDescription *out)
{
    if (!record || !out)
        return -1;
    const std::vector<std::string> f = SplitText(record, ';');
    if (f.size() != 10)
        return -1;
    if (f[8].size() >= sizeof out->onText || f[9].size() >= sizeof out->offText)
        return -1;
    TrixhvDescription d;
    d.type = ParseIntText(f[0].c_str()) & 7;
    d.mode = ParseIntText(f[1].c_str()) & 3;
    d.minimum = static_cast<float>(ParseDecimal(f[2].c_str()));
    d.maximum = static_cast<float>(ParseDecimal(f[3].c_str()));
    int digits = 0;
    for (double m = std::fabs(static_cast<double>(d.maximum)); m >= 1 && digits < 40; m /= 10)
        ++digits;
    d.integerDigits = static_cast<int16_t>(digits);
    const int dec = ParseIntText(f[4].c_str());
    d.decimals = static_cast<int16_t>(dec < -32768 ? -32768 : dec > 32767 ? 32767 : dec);
    d.spare = static_cast<uint8_t>(ParseIntText(f[5].c_str()));
    d.exponent = static_cast<int8_t>(ParseIntText(f[6].c_str()));
    d.unit = Trixhv_UnitCode(f[7].c_str());
    std::memcpy(d.onText, f[8].c_str(), f[8].size() + 1);
    std::memcpy(d.offText, f[9].c_str(), f[9].size() + 1);
    *out = d;
    return 0;
}

} // namespace koruhv
