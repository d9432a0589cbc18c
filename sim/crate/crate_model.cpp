// Crate contents as data: parameter helpers, the crate's own raw/value
// scaling, and the two preset crates.
#include <cmath>
#include <cstdio>

#include "crate/crate_panel.h"
#include "crate/crate_sim.h"

namespace korusim {

CrateParam numericParam(const std::string &name, bool writable, int32_t minRaw, int32_t maxRaw,
                        uint16_t decimals, uint16_t factor, int16_t unit, int16_t exp, uint32_t initialRaw,
                        bool isSigned)
{
    CrateParam p;
    p.name = name;
    p.type = 0;
    p.writable = writable;
    p.isSigned = isSigned;
    p.minRaw = minRaw;
    p.maxRaw = maxRaw;
    p.decimals = decimals;
    p.factor = factor;
    p.unit = unit;
    p.exp = exp;
    p.initialRaw = initialRaw;
    return p;
}

CrateParam onOffParam(const std::string &name, bool writable, const std::string &onText,
                      const std::string &offText, uint32_t initialRaw)
{
    CrateParam p;
    p.name = name;
    p.type = 1;
    p.writable = writable;
    p.onText = onText;
    p.offText = offText;
    p.minRaw = 0;
    p.maxRaw = 1;
    p.initialRaw = initialRaw;
    return p;
}

CrateParam wordParam(const std::string &name, uint16_t type, bool writable, uint32_t initialRaw)
{
    CrateParam p;
    p.name = name;
    p.type = type;
    p.writable = writable;
    p.minRaw = 0;
    p.maxRaw = INT32_MAX;
    p.initialRaw = initialRaw;
    return p;
}

const std::vector<CrateParam> &CrateBoard::paramsOf(unsigned channel) const
{
    auto it = channelParamsOverride.find(channel);
    return it == channelParamsOverride.end() ? channelParams : it->second;
}

double rawToValue(const CrateParam &p, uint32_t raw)
{
    double v = p.isSigned ? double(int32_t(raw)) : double(raw);
    double f = p.factor ? double(p.factor) : 1.0;
    return p.decimals ? v / f : v * f;
}

uint32_t valueToRaw(const CrateParam &p, double value)
{
    double f = p.factor ? double(p.factor) : 1.0;
    double scaled = p.decimals ? value * f : value / f;
    if (p.isSigned) {
        double r = std::round(scaled);
        if (r < double(INT32_MIN))
            r = double(INT32_MIN);
        if (r > double(INT32_MAX))
            r = double(INT32_MAX);
        return uint32_t(int32_t(r));
    }
    double r = std::floor(scaled + 0.5);
    if (r < 0)
        r = 0;
    if (r > double(UINT32_MAX))
        r = double(UINT32_MAX);
    return uint32_t(r);
}

// Unit codes: 1 A, 2 V, 4 degrees Celsius, 7 V/s, 8 s. Exponent -6: micro.
CrateBoard hvBoard(const std::string &model, unsigned channels, uint16_t serial)
{
    CrateBoard b;
    b.model = model;
    b.description = " " + std::to_string(channels) + " Ch Pos. 3KV 300uA ";
    b.serial = serial;
    b.serial32 = 0x10000u + serial;
    b.fwMajor = 2;
    b.fwMinor = 5;
    b.channels = channels;
    b.boardParams = {
        wordParam("BdStatus", 3, false, 0),
        numericParam("HVMax", false, 0, 3100, 0, 1, 2, 0, 3100),
        numericParam("Temp", false, -400, 1200, 1, 10, 4, 0, 325, true),
        onOffParam("IntlkMode", true, "Open", "Closed", 0),
    };
    b.channelParams = {
        numericParam("V0Set", true, 0, 30000, 1, 10, 2, 0, 0),
        numericParam("I0Set", true, 0, 30000, 2, 100, 1, -6, 20000),
        numericParam("VMon", false, 0, 31000, 1, 10, 2, 0, 0),
        numericParam("IMon", false, 0, 31000, 2, 100, 1, -6, 0),
        numericParam("RUp", true, 1, 500, 0, 1, 7, 0, 50),
        numericParam("RDWn", true, 1, 500, 0, 1, 7, 0, 50),
        numericParam("Trip", true, 0, 10000, 1, 10, 8, 0, 10),
        numericParam("SVMax", true, 0, 30000, 1, 10, 2, 0, 30000),
        onOffParam("Pw", true, "On", "Off", 0),
        onOffParam("POn", true, "Enabled", "Disable", 0),
        onOffParam("PDwn", true, "Ramp", "Kill", 1),
        wordParam("Status", 2, false, 0),
    };
    for (unsigned c = 0; c < channels; ++c) {
        char name[16];
        std::snprintf(name, sizeof name, "CH%02u", c);
        b.channelNames.push_back(name);
    }
    return b;
}

namespace {

std::string be16(uint16_t v)
{
    return std::string{char(v >> 8), char(v & 0xFF)};
}
std::string be32(uint32_t v)
{
    return std::string{char(v >> 24), char((v >> 16) & 0xFF), char((v >> 8) & 0xFF), char(v & 0xFF)};
}

// The current generation's system properties with plausible contents.
std::vector<CrateSysProp> currentSysProps()
{
    using K = SysPropKind;
    std::string psm{char(5), char(7), char(1), char(2), char(0)};
    // Every fan runs at the middle speed; the front panel starts dark.
    std::string hvFans = fanStatusBytes(3, 0, 1);
    std::string pwFans = fanStatusBytes(2, 0, 1, 3);
    return {
        {"Sessions", "GETACTLOG", "", K::Sessions, ""},
        {"ModelName", "GETSYSNAME", "", K::Text, "HX4400"},
        {"SwRelease", "GETSWREL", "", K::Text, "3.1.2"},
        {"GenSignCfg", "GETGENCFG", "SETGENCFG", K::Byte, std::string(1, char(0))},
        {"FrontPanIn", "GETFPIN", "", K::Word16, be16(0x0003)},
        {"FrontPanOut", "GETFPOUT", "", K::Word16, be16(0)},
        {"ResFlagCfg", "GETRSFLAGCFG", "SETRSFLAGCFG", K::Byte, std::string(1, char(0))},
        {"ResFlag", "GETRSFLAG", "", K::Word16, be16(0)},
        {"HvPwSM", "GETHVPSM", "", K::Raw, psm},
        {"HVFanStat", "GETHVFANSTAT", "", K::Raw, hvFans},
        {"ClkFreq", "GETCLKFREQ", "", K::Byte, std::string(1, char(40))},
        {"HVClkConf", "GETHVCLKCFG", "SETHVCLKCFG", K::Clock, std::string{char(0), char(1)}},
        {"IPAddr", "GETIPADDR", "SETIPADDR", K::Text, "192.168.0.250"},
        {"IPNetMsk", "GETIPNETMSK", "SETIPNETMSK", K::Text, "255.255.255.0"},
        {"IPGw", "GETIPGWY", "SETIPGTW", K::Text, "192.168.0.1"},
        {"PWCurrent", "GETPWCUR", "", K::Text, "12.40"},
        {"OutputLevel", "GETOUTPUTLEVEL", "SETOUTPUTLEVEL", K::Word16, be16(0)},
        {"SymbolicName", "GETSYSNAME", "SETSYSNAME", K::Text, "crate-sim"},
        {"CmdQueueStatus", "GETCMDQSTATUS", "", K::Word16, be16(0)},
        {"CPULoad", "GETCPULOAD", "", K::Text, "7.5"},
        {"MemoryStatus", "GETMEMORYSTATUS", "", K::Text, "48236 KB free"},
        {"HVFanSpeed", "GETFANSPEED", "SETFANSPEED", K::Word16, be16(1)},
        {"PWFanStat", "GETPWFANSTAT", "", K::Raw, pwFans},
        {"PWVoltage", "GETPWVOLT", "", K::Text, "48.10"},
        {"DummyReg", "GETDUMMY", "SETDUMMY", K::Word32, be32(0)},
        {"CMDExecMode", "GETCMDMODE", "SETCMDMODE", K::Word16, be16(0)},
        {"DHCPDStatus", "GETDHCPDSTATUS", "", K::Text, "disabled"},
        {"IPCIDR", "GETIPCIDR", "SETIPCIDR", K::Text, "24"},
        {"LowFanEnable", "GETLOWFANENABLE", "SETLOWFANENABLE", K::Word32, be32(0)},
    };
}

std::vector<std::string> currentCommands()
{
    return {"KILL_1", "KILL_2", "CLRALARM_1", "CLRALARM_2", "ENABLEMSG", "DISABLEMSG", "FORMAT"};
}

} // namespace

CrateModel CrateModel::fullCrate()
{
    CrateModel m;
    m.sysProps = currentSysProps();
    m.commands = currentCommands();
    // Channel counts per slot; 0 is an empty slot.
    const unsigned layout[16] = {24, 12, 48, 0, 36, 24, 12, 0, 48, 24, 0, 12, 36, 24, 48, 0};
    const char *models[] = {"HB3012", "HB3024", "HB3036", "HB3048"};
    uint16_t serial = 101;
    for (unsigned s = 0; s < 16; ++s) {
        if (!layout[s]) {
            m.slots.emplace_back(std::nullopt);
            continue;
        }
        m.slots.emplace_back(hvBoard(models[layout[s] / 12 - 1], layout[s], serial++));
    }
    return m;
}

CrateModel CrateModel::smallCrate()
{
    CrateModel m;
    m.sysProps = currentSysProps();
    m.commands = currentCommands();
    m.slots.resize(4);
    m.slots[0] = hvBoard("HB3004", 4, 11);
    CrateBoard b = hvBoard("HB3003", 3, 12);
    b.description = " 3 Ch Bipolar 3KV ";
    // Two board parameters only, and a signed calibration offset per channel.
    b.boardParams = {wordParam("BdStatus", 3, false, 0), b.boardParams[2]};
    b.channelParams.push_back(numericParam("VCal", true, -1000, 1000, 1, 10, 2, 0, 0, true));
    // Channel 1 carries V0Set in finer steps: a descriptor of its own.
    std::vector<CrateParam> own = b.channelParams;
    own[0] = numericParam("V0Set", true, 0, 300000, 2, 100, 2, 0, 0);
    b.channelParamsOverride[1] = own;
    m.slots[2] = b;
    return m;
}

} // namespace korusim
