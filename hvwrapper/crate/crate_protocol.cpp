#include "crate_protocol.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "item_name.h"

namespace koruhv {

const char kTextOk[] = "ok";
const char kTextTimeout[] = "Timeout from server";
const char kTextServerDown[] = "KFE server down";
const char kTextSlotNotPresent[] = "Slot NOT Present";
const char kTextNotTcp[] = "Communication on the RS232 device is not yet avalaible";
const char kTextNoMemoryTransport[] = "User Memory not sufficient for communication";
const char kTextNoMemorySysInfo[] = "User Memory not sufficient:Please MAKE LOGOUT";
const char kTextOutOfRange[] = "Value out of range";
const char kTextExecNotAvailable[] = "Execute command not yet avalaible";
const char kTextPropNotAvailable[] = "Property yet not avalaible";
const char kTextPropNotFound[] = "Property not found";
const char kTextExecNotFound[] = "Execute command not found";
const char kTextNoSysProp[] = "No System Property";
const char kTextNoGetProp[] = "No Get Property";
const char kTextNoSetProp[] = "No Set Property";
const char kTextNoExec[] = "No Execute Command";
const char kTextConfigChanged[] = "System configuration is change";
const char kTextParamPropNotFound[] = "Param Property Not Found";
const char kTextParamNotFound[] = "Param Not Found";
const char kTextMalformedReply[] = "Malformed reply from server";
const char kTextReplyTooLong[] = "Reply length out of range";
const char kTextEventBatchTooLarge[] = "Event batch too large";
const char kTextNoEncoding[] = "No Set Property";

namespace {

// clang-format off
const CommandRow kFirstGenCommands[] = {
    {"LOGIN", 1, 2, 1},         {"LOGOUT", 2, 0, 0},        {"ENABLEMSG", 2, 0, 0},
    {"DISABLEMSG", 2, 0, 0},    {"ADDCHTOGRP", 2, 3, 0},    {"REMCHFROMGRP", 2, 3, 0},
    {"GETCHNAME", 2, 3, 1},     {"SETCHNAME", 2, 4, 0},     {"GETCHPARAM", 2, 4, 1},
    {"SETCHPARAM", 2, 5, 0},    {"GETGRPCOMP", 2, 1, 2},    {"GETGRPPARAM", 2, 3, 1},
    {"SETGRPPARAM", 2, 2, 0},   {"GETSYSCOMP", 2, 0, 3},    {"TSTBDPRES", 2, 1, 4},
    {"GETCRATEMAP", 2, 0, 4},   {"GETSYSINFO", 2, 1, 9},    {"GETBDPARAM", 2, 3, 1},
    {"SETBDPARAM", 2, 3, 0},    {"GETACTLOG", 2, 0, 5},     {"GETSYSNAME", 2, 0, 1},
    {"SETSYSNAME", 2, 1, 0},    {"GETSWREL", 2, 0, 1},      {"KILL_1", 2, 0, 0},
    {"KILL_2", 2, 0, 0},        {"CLRALARM_1", 2, 0, 0},    {"CLRALARM_2", 2, 0, 0},
    {"GETGENCFG", 2, 0, 1},     {"SETGENCFG", 2, 2, 0},     {"FORMAT", 2, 0, 0},
    {"GETRSFLAGCFG", 2, 0, 1},  {"SETRSFLAGCFG", 2, 2, 0},  {"GETRSFLAG", 2, 0, 1},
    {"GETIPADDR", 2, 0, 1},     {"SETIPADDR", 2, 1, 0},     {"GETIPNETMSK", 2, 0, 1},
    {"SETIPNETMSK", 2, 1, 0},   {"GETIPGWY", 2, 0, 1},      {"SETIPGWY", 2, 1, 0},
    {"GETRS232PARAM", 2, 0, 1}, {"SETRS232PARAM", 2, 1, 0}, {"GETKNETCRNUM", 2, 0, 1},
    {"SETKNETCRNUM", 2, 1, 0},  {"GETHVPSM", 2, 0, 1},      {"GETFANSTAT", 2, 0, 1},
    {"GETCLKFREQ", 2, 0, 1},    {"GETHVCLKCFG", 2, 0, 1},   {"SETHVCLKCFG", 2, 1, 0},
    {"GETFPIN", 2, 0, 1},       {"GETFPOUT", 2, 0, 1},      {"RS232CMDOFF", 2, 0, 0},
    {"KNETCOMM", 2, 4, 1},      {"SUBSCRIBE", 2, 3, 2},     {"UNSUBSCRIBE", 2, 3, 2},
    {"GETCMDQSTATUS", 2, 0, 1}, {"GETCPULOAD", 2, 0, 1},    {"GETMEMORYSTATUS", 2, 0, 1},
    {"", 0, 0, 0},
};

const CommandRow kCurrentGenCommands[] = {
    {"LOGIN", 1, 2, 1},          {"LOGINSYSTEM", 1, 2, 1},    {"LOGOUT", 2, 0, 0},
    {"ENABLEMSG", 2, 0, 0},      {"DISABLEMSG", 2, 0, 0},     {"ADDCHTOGRP", 2, 3, 0},
    {"REMCHFROMGRP", 2, 3, 0},   {"GETCHNAME", 2, 3, 1},      {"SETCHNAME", 2, 4, 0},
    {"GETCHPARAM", 2, 4, 1},     {"SETCHPARAM", 2, 5, 0},     {"GETGRPCOMP", 2, 1, 2},
    {"GETGRPPARAM", 2, 3, 1},    {"SETGRPPARAM", 2, 2, 0},    {"GETSYSCOMP", 2, 0, 3},
    {"TSTBDPRES", 2, 1, 4},      {"GETCRATEMAP", 2, 0, 4},    {"GETSYSINFO", 2, 1, 9},
    {"GETBDPARAM", 2, 3, 1},     {"SETBDPARAM", 2, 3, 0},     {"GETACTLOG", 2, 0, 5},
    {"GETSYSNAME", 2, 0, 1},     {"SETSYSNAME", 2, 1, 0},     {"GETSWREL", 2, 0, 1},
    {"KILL_1", 2, 0, 0},         {"KILL_2", 2, 0, 0},         {"CLRALARM_1", 2, 0, 0},
    {"CLRALARM_2", 2, 0, 0},     {"GETGENCFG", 2, 0, 1},      {"SETGENCFG", 2, 2, 0},
    {"FORMAT", 2, 0, 0},         {"GETRSFLAGCFG", 2, 0, 1},   {"SETRSFLAGCFG", 2, 2, 0},
    {"GETRSFLAG", 2, 0, 1},      {"GETIPADDR", 2, 0, 1},      {"SETIPADDR", 2, 1, 0},
    {"GETLOWFANENABLE", 2, 0, 1}, {"SETLOWFANENABLE", 2, 1, 0}, {"GETIPNETMSK", 2, 0, 1},
    {"SETIPNETMSK", 2, 1, 0},    {"GETIPCIDR", 2, 0, 1},      {"SETIPCIDR", 2, 1, 0},
    {"GETIPGWY", 2, 0, 1},       {"SETIPGTW", 2, 1, 0},       {"GETKNETCRNUM", 2, 0, 1},
    {"SETKNETCRNUM", 2, 1, 0},   {"GETHVPSM", 2, 0, 1},       {"GETHVFANSTAT", 2, 0, 1},
    {"GETCLKFREQ", 2, 0, 1},     {"GETHVCLKCFG", 2, 0, 1},    {"SETHVCLKCFG", 2, 1, 0},
    {"GETFPIN", 2, 0, 1},        {"GETFPOUT", 2, 0, 1},       {"KNETCOMM", 2, 4, 1},
    {"SUBSCRIBE", 2, 3, 2},      {"UNSUBSCRIBE", 2, 3, 2},    {"NEWSUBSCRIBE", 2, 3, 2},
    {"NEWUNSUBSCRIBE", 2, 3, 2}, {"GETCMDQSTATUS", 2, 0, 1},  {"GETCPULOAD", 2, 0, 1},
    {"GETMEMORYSTATUS", 2, 0, 1}, {"GETFANSPEED", 2, 0, 1},   {"SETFANSPEED", 2, 1, 0},
    {"GETPWFANSTAT", 2, 0, 1},   {"GETPWCUR", 2, 0, 1},       {"GETPWVOLT", 2, 0, 1},
    {"GETOUTPUTLEVEL", 2, 0, 1}, {"SETOUTPUTLEVEL", 2, 2, 0}, {"GETDUMMY", 2, 0, 1},
    {"SETDUMMY", 2, 2, 0},       {"GETCMDMODE", 2, 0, 1},     {"SETCMDMODE", 2, 2, 0},
    {"GETDHCPDSTATUS", 2, 0, 1},
    {"", 0, 0, 0},
};

const PropertyRow kFirstGenProperties[] = {
    {"Sessions", 0, "", "GETACTLOG", "", 1, 0},
    {"Kill", 3, "", "", "KILL", 1, 1},
    {"ClearAlarm", 3, "", "", "CLRALARM", 1, 2},
    {"EnMsg", 3, "", "", "ENABLEMSG", 0, 3},
    {"DisMsg", 3, "", "", "DISABLEMSG", 0, 4},
    {"Format", 3, "", "", "FORMAT", 0, 5},
    {"RS232CmdOff", 3, "", "", "RS232CMDOFF", 0, 6},
    {"ModelName", 0, "", "GETSYSNAME", "", 1, 7},
    {"SwRelease", 0, "", "GETSWREL", "", 1, 8},
    {"GenSignCfg", 2, "SETGENCFG", "GETGENCFG", "", 1, 9},
    {"FrontPanIn", 0, "", "GETFPIN", "", 1, 10},
    {"FrontPanOut", 0, "", "GETFPOUT", "", 1, 11},
    {"ResFlagCfg", 2, "SETRSFLAGCFG", "GETRSFLAGCFG", "", 1, 12},
    {"ResFlag", 0, "", "GETRSFLAG", "", 0, 13},
    {"HvPwSM", 0, "", "GETHVPSM", "", 1, 14},
    {"FanStat", 0, "", "GETFANSTAT", "", 1, 15},
    {"ClkFreq", 0, "", "GETCLKFREQ", "", 1, 16},
    {"HVClkConf", 2, "SETHVCLKCFG", "GETHVCLKCFG", "", 1, 17},
    {"IPAddr", 2, "SETIPADDR", "GETIPADDR", "", 1, 18},
    {"IPNetMsk", 2, "SETIPNETMSK", "GETIPNETMSK", "", 1, 19},
    {"IPGw", 2, "SETIPGWY", "GETIPGWY", "", 1, 20},
    {"RS232Par", 2, "SETRS232PARAM", "GETRS232PARAM", "", 1, 21},
    {"KnetCrNum", 2, "SETKNETCRNUM", "GETKNETCRNUM", "", 1, 22},
    {"SymbolicName", 2, "SETSYSNAME", "GETSYSNAME", "", 1, 23},
    {"CmdQueueStatus", 0, "", "GETCMDQSTATUS", "", 1, 24},
    {"CPULoad", 0, "", "GETCPULOAD", "", 1, 25},
    {"MemoryStatus", 0, "", "GETMEMORYSTATUS", "", 1, 26},
    {"Nothing", 255, "", "", "", 0, 0xFFFFFFFFu},
};

const PropertyRow kCurrentGenProperties[] = {
    {"Sessions", 0, "", "GETACTLOG", "", 1, 0},
    {"Kill", 3, "", "", "KILL", 1, 1},
    {"ClearAlarm", 3, "", "", "CLRALARM", 1, 2},
    {"EnMsg", 3, "", "", "ENABLEMSG", 0, 3},
    {"DisMsg", 3, "", "", "DISABLEMSG", 0, 4},
    {"Format", 3, "", "", "FORMAT", 0, 5},
    {"ModelName", 0, "", "GETSYSNAME", "", 1, 7},
    {"SwRelease", 0, "", "GETSWREL", "", 1, 8},
    {"GenSignCfg", 2, "SETGENCFG", "GETGENCFG", "", 1, 9},
    {"FrontPanIn", 0, "", "GETFPIN", "", 1, 10},
    {"FrontPanOut", 0, "", "GETFPOUT", "", 1, 11},
    {"ResFlagCfg", 2, "SETRSFLAGCFG", "GETRSFLAGCFG", "", 1, 12},
    {"ResFlag", 0, "", "GETRSFLAG", "", 0, 13},
    {"HvPwSM", 0, "", "GETHVPSM", "", 1, 14},
    {"HVFanStat", 0, "", "GETHVFANSTAT", "", 1, 15},
    {"ClkFreq", 0, "", "GETCLKFREQ", "", 1, 16},
    {"HVClkConf", 2, "SETHVCLKCFG", "GETHVCLKCFG", "", 1, 17},
    {"IPAddr", 2, "SETIPADDR", "GETIPADDR", "", 1, 18},
    {"IPNetMsk", 2, "SETIPNETMSK", "GETIPNETMSK", "", 1, 19},
    {"IPGw", 2, "SETIPGTW", "GETIPGWY", "", 1, 20},
    {"PWCurrent", 0, "", "GETPWCUR", "", 1, 21},
    {"OutputLevel", 2, "SETOUTPUTLEVEL", "GETOUTPUTLEVEL", "", 1, 22},
    {"SymbolicName", 2, "SETSYSNAME", "GETSYSNAME", "", 1, 23},
    {"CmdQueueStatus", 0, "", "GETCMDQSTATUS", "", 1, 24},
    {"CPULoad", 0, "", "GETCPULOAD", "", 1, 25},
    {"MemoryStatus", 0, "", "GETMEMORYSTATUS", "", 1, 26},
    {"HVFanSpeed", 2, "SETFANSPEED", "GETFANSPEED", "", 1, 27},
    {"PWFanStat", 0, "", "GETPWFANSTAT", "", 1, 28},
    {"PWVoltage", 0, "", "GETPWVOLT", "", 1, 29},
    {"DummyReg", 2, "SETDUMMY", "GETDUMMY", "", 1, 31},
    {"CMDExecMode", 2, "SETCMDMODE", "GETCMDMODE", "", 1, 32},
    {"DHCPDStatus", 0, "", "GETDHCPDSTATUS", "", 1, 33},
    {"IPCIDR", 2, "SETIPCIDR", "GETIPCIDR", "", 1, 34},
    {"LowFanEnable", 2, "SETLOWFANENABLE", "GETLOWFANENABLE", "", 1, 35},
    {"Nothing", 255, "", "", "", 0, 0xFFFFFFFFu},
};

struct ParamPropName {
    char name[10];
    uint16_t index;
};

const ParamPropName kParamProps[] = {
    {"Type", 0},    {"Mode", 1},    {"Sign", 2},     {"Minval", 3},   {"Maxval", 4},
    {"Unit", 5},    {"Exp", 6},     {"Onstate", 7},  {"Offstate", 8}, {"Decimal", 9},
    {"NULL", 0},
};
// clang-format on

} // namespace

const CommandRow *Crate_CommandTable(int generation)
{
    if (generation == CRATE_GEN_FIRST)
        return kFirstGenCommands;
    if (generation == CRATE_GEN_CURRENT)
        return kCurrentGenCommands;
    return nullptr;
}

namespace {

// Every request looks its row up: the rows of both tables hashed once, the
// first-generation row first where a keyword is in both.
class CommandIndex {
public:
    CommandIndex()
    {
        for (const CommandRow *table : {kFirstGenCommands, kCurrentGenCommands})
            for (const CommandRow *r = table; r->keyword[0]; ++r) {
                size_t i = hash(r->keyword) % kSize;
                while (slots_[i].row && slots_[i].keyword != r->keyword)
                    i = (i + 1) % kSize;
                if (!slots_[i].row)
                    slots_[i] = {r->keyword, r};
            }
    }
    const CommandRow *find(std::string_view keyword) const
    {
        for (size_t i = hash(keyword) % kSize; slots_[i].row; i = (i + 1) % kSize)
            if (slots_[i].keyword == keyword)
                return slots_[i].row;
        return nullptr;
    }

private:
    static constexpr size_t kSize = 256; // more than twice the rows
    static size_t hash(std::string_view s)
    {
        uint32_t h = 2166136261u;
        for (char c : s)
            h = (h ^ uint8_t(c)) * 16777619u;
        return h;
    }
    struct Slot {
        std::string_view keyword;
        const CommandRow *row = nullptr;
    };
    Slot slots_[kSize];
};

} // namespace

const CommandRow *Crate_FindCommand(std::string_view keyword)
{
    static const CommandIndex index;
    return index.find(keyword);
}

const PropertyRow *Crate_PropertyTable(int generation)
{
    if (generation == CRATE_GEN_FIRST)
        return kFirstGenProperties;
    if (generation == CRATE_GEN_CURRENT)
        return kCurrentGenProperties;
    return nullptr;
}

const PropertyRow *Crate_FindProperty(int generation, const char *name)
{
    const PropertyRow *r = Crate_PropertyTable(generation);
    if (!r || !name)
        return nullptr;
    for (; r->access != PROP_END; ++r)
        if (std::strcmp(r->name, name) == 0)
            return r;
    return nullptr;
}

int Crate_ParamPropertyIndex(const char *name)
{
    if (!name)
        return -1;
    for (const ParamPropName *p = kParamProps; std::strcmp(p->name, "NULL") != 0; ++p)
        if (std::strcmp(p->name, name) == 0)
            return p->index;
    return -1;
}

// ---- byte order ----

void Crate_CopyText(char *dst, size_t cap, std::string_view text)
{
    if (!dst || cap == 0)
        return;
    size_t n = text.size() < cap - 1 ? text.size() : cap - 1;
    if (n) // an empty view may carry a null pointer, which memcpy must not get
        std::memcpy(dst, text.data(), n);
    dst[n] = '\0';
}

// ---- RequestBuffer ----

RequestBuffer::~RequestBuffer()
{
    if (data_ != inline_)
        std::free(data_);
}

void RequestBuffer::clear()
{
    len_ = 0;
}

bool RequestBuffer::grow(size_t extra)
{
    if (extra > kCrateMaxFrame || len_ > kCrateMaxFrame - extra)
        return false;
    size_t need = len_ + extra;
    if (need <= cap_)
        return true;
    size_t cap = cap_;
    while (cap < need)
        cap *= 2;
    if (cap > kCrateMaxFrame)
        cap = kCrateMaxFrame; // the room never passes the frame limit
    void *p = data_ == inline_ ? std::malloc(cap) : std::realloc(data_, cap);
    if (!p)
        return false;
    if (data_ == inline_ && len_)
        std::memcpy(p, inline_, len_);
    data_ = static_cast<uint8_t *>(p);
    cap_ = cap;
    return true;
}

bool RequestBuffer::putBytes(const void *p, size_t n)
{
    if (!grow(n + 1))
        return false;
    raw(p, n);
    return colon();
}

bool RequestBuffer::text(const char *s)
{
    return raw(s ? s : "", s ? std::strlen(s) : 0);
}

// ---- ByteCursor ----

bool ByteCursor::expect(uint8_t c)
{
    if (!need(1))
        return false;
    if (p_[pos_] != c) {
        ok_ = false;
        return false;
    }
    ++pos_;
    return true;
}

bool ByteCursor::skip(size_t n)
{
    if (!need(n))
        return false;
    pos_ += n;
    return true;
}

bool ByteCursor::until(uint8_t delim, std::string_view *out)
{
    if (!ok_)
        return false;
    const void *hit = remaining() ? std::memchr(p_ + pos_, delim, remaining()) : nullptr;
    if (!hit) {
        ok_ = false;
        return false;
    }
    size_t n = static_cast<const uint8_t *>(hit) - (p_ + pos_);
    if (out)
        *out = std::string_view(reinterpret_cast<const char *>(p_ + pos_), n);
    pos_ += n + 1;
    return true;
}

std::string_view ByteCursor::rest() const
{
    if (!ok_ || !remaining())
        return {};
    return std::string_view(reinterpret_cast<const char *>(p_ + pos_), remaining());
}

// ---- subscription item lists ----

unsigned Crate_CountItems(const char *items)
{
    if (!items)
        return 0;
    unsigned n = 1;
    for (const char *p = items; *p; ++p)
        if (*p == ':')
            ++n;
    return n;
}

int Crate_EncodeSubscribeList(unsigned count, const char *items, ByteOrder order, uint8_t **out, size_t *len)
{
    *out = nullptr;
    *len = 0;
    if (!items || Crate_CountItems(items) != count)
        return -1;
    std::string work(items);
    RequestBuffer buf(order);
    char *cursor = nullptr;
    bool ok = true;
    for (char *tok = NextToken(work.data(), ":", &cursor); tok && ok;
         tok = NextToken(nullptr, ":", &cursor)) {
        int16_t board = 0;
        uint16_t channel = 0;
        char param[256] = {};
        int kind = ParseItemName(tok, &board, &channel, param, sizeof param);
        switch (kind) {
        case ITEM_CHANNEL:
            ok = buf.put16(0) && buf.put16(uint16_t(board)) && buf.put16(channel);
            break;
        case ITEM_BOARD:
            ok = buf.put16(1) && buf.put16(uint16_t(board));
            break;
        case ITEM_SYSTEM:
            ok = buf.put16(2);
            break;
        case ITEM_KEEPALIVE:
            ok = buf.put16(3);
            break;
        default:
            continue; // not an item: skipped
        }
        ok = ok && buf.putBytes(param, std::strlen(param));
    }
    if (!ok)
        return -1;
    return Crate_TakeList(buf, out, len);
}

int Crate_TakeList(const RequestBuffer &buf, uint8_t **out, size_t *len)
{
    const size_t n = buf.size();
    uint8_t *p = static_cast<uint8_t *>(std::malloc(n ? n : 1));
    if (!p)
        return -1;
    if (n) {
        std::memcpy(p, buf.data(), n);
        p[n - 1] = '\0';
    }
    *out = p;
    *len = n;
    return 0;
}

} // namespace koruhv
