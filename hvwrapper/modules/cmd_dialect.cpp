#include "modules/cmd_dialect.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "modules/text_wire.h"

namespace koruhv {

int Cmd_ParseAddress(const TextFamily &, const char *link, const char *address, LinkParams *out)
{
    const std::vector<std::string> f = SplitText(address, '_');
    if (f.empty() || f[0].empty() || f[0].size() > 99)
        return -1;
    for (size_t i = 1; i < f.size(); ++i)
        if (f[i].size() > 39)
            return -1;
    auto num = [&](size_t i, int def) { return i < f.size() ? ParseIntText(f[i].c_str()) : def; };
    out->moduleAddress = -1;
    if (std::strcmp(link, "TCP/IP") == 0) {
        out->kind = TEXT_LINK_TCP;
        out->ip = f[0];
    } else {
        out->kind = TEXT_LINK_SERIAL;
        out->port = f[0];
        out->baud = num(1, 9600);
        out->dataBits = num(2, 8);
        out->stopBits = num(3, 0);
        out->parity = num(4, 0);
        out->flow = 0;
    }
    return 0;
}

int Cmd_BuildRequest(RequestKind kind, int channel, const char *mnemonic, const char *valuePart, char *out,
                     size_t cap)
{
    if (!mnemonic || kind == REQ_INFO)
        return -1;
    char ch[24] = "";
    if (channel >= 0)
        std::snprintf(ch, sizeof ch, "CH:%d,", channel);
    const int n = std::snprintf(out, cap, "$CMD:%s,%sPAR:%s%s\r\n", kind == REQ_MONITOR ? "MON" : "SET", ch,
                                mnemonic, valuePart ? valuePart : "");
    return n > 0 && static_cast<size_t>(n) < cap ? 0 : -1;
}

int Cmd_ParseReply(const TextInstance &, const char *, const char *line, char *value, size_t cap)
{
    if (value && cap)
        value[0] = '\0';
    if (!std::strstr(line, "OK"))
        return Text_ErrorToken(line);
    const std::vector<std::string> f = SplitText(line, ',');
    if (f.size() < 2 || f[0].size() != 7 || f[1].size() <= 4)
        return -1;
    const size_t head = f[0].find(':');
    if (head == std::string::npos || f[0].substr(head + 1) != "OK")
        return -1;
    const size_t at = f[1].find(':');
    if (at == std::string::npos || !value)
        return -1;
    const std::string v = f[1].substr(at + 1);
    if (v.size() + 1 > cap)
        return -1;
    std::memcpy(value, v.c_str(), v.size() + 1);
    return 0;
}

int Cmd_SetResult(const TextInstance &, const char *line)
{
    return std::strstr(line, "OK") ? 0 : Text_ErrorToken(line);
}

int Cmd_RequestLine(const TextInstance &, RequestKind kind, int channel, const char *mnemonic,
                    const char *valuePart, char *out, size_t cap)
{
    return Cmd_BuildRequest(kind, channel, mnemonic, valuePart, out, cap);
}

} // namespace koruhv
