// The first-generation crate: its system properties, presets and datagram
// form. The server is CrateSim run with generation First.
#include "crate/hx1100_sim.h"
#include "crate/crate_panel.h"

namespace korusim {

namespace {

std::string be16(uint16_t v)
{
    return std::string{char(v >> 8), char(v & 0xFF)};
}

void put32(std::string &s, uint32_t v)
{
    s.push_back(char(v >> 24));
    s.push_back(char((v >> 16) & 0xFF));
    s.push_back(char((v >> 8) & 0xFF));
    s.push_back(char(v & 0xFF));
}

std::vector<std::string> firstGenCommands()
{
    return {"KILL_1",    "KILL_2",     "CLRALARM_1", "CLRALARM_2",
            "ENABLEMSG", "DISABLEMSG", "FORMAT",     "RS232CMDOFF"};
}

CrateModel withFirstGen(CrateModel m)
{
    m.sysProps = hx1100SysProps();
    m.commands = firstGenCommands();
    return m;
}

} // namespace

std::vector<CrateSysProp> hx1100SysProps()
{
    using K = SysPropKind;
    std::string psm{char(1), char(2), char(3), char(4), char(5)};
    // Every fan runs at the middle speed; the front panel starts dark.
    std::string fans = fanStatusBytes(3, 0, 1);
    return {
        {"Sessions", "GETACTLOG", "", K::Sessions, ""},
        {"ModelName", "GETSYSNAME", "", K::Text, "HX1100"},
        {"SwRelease", "GETSWREL", "", K::Text, "1.4.3"},
        {"GenSignCfg", "GETGENCFG", "SETGENCFG", K::Byte, std::string(1, char(0))},
        {"FrontPanIn", "GETFPIN", "", K::Word16, be16(0x0003)},
        {"FrontPanOut", "GETFPOUT", "", K::Word16, be16(0)},
        {"ResFlagCfg", "GETRSFLAGCFG", "SETRSFLAGCFG", K::Byte, std::string(1, char(0))},
        {"ResFlag", "GETRSFLAG", "", K::Word16, be16(0)},
        {"HvPwSM", "GETHVPSM", "", K::Raw, psm},
        {"FanStat", "GETFANSTAT", "", K::Raw, fans},
        {"ClkFreq", "GETCLKFREQ", "", K::Byte, std::string(1, char(-20))},
        {"HVClkConf", "GETHVCLKCFG", "SETHVCLKCFG", K::Clock, std::string{char(0), char(1)}},
        {"IPAddr", "GETIPADDR", "SETIPADDR", K::Text, "192.168.0.98"},
        {"IPNetMsk", "GETIPNETMSK", "SETIPNETMSK", K::Text, "255.255.255.0"},
        {"IPGw", "GETIPGWY", "SETIPGWY", K::Text, "192.168.0.1"},
        {"RS232Par", "GETRS232PARAM", "SETRS232PARAM", K::Text, "9600_8_1_0"},
        {"KnetCrNum", "GETKNETCRNUM", "SETKNETCRNUM", K::Word16, be16(3)},
        {"SymbolicName", "GETSYSNAME", "SETSYSNAME", K::Text, "crate-one"},
        {"CmdQueueStatus", "GETCMDQSTATUS", "", K::Word16, be16(0)},
        {"CPULoad", "GETCPULOAD", "", K::Text, "12.0"},
        {"MemoryStatus", "GETMEMORYSTATUS", "", K::Text, "6120 KB free"},
    };
}

CrateModel Hx1100Model::fullCrate()
{
    return withFirstGen(CrateModel::fullCrate());
}
CrateModel Hx1100Model::smallCrate()
{
    return withFirstGen(CrateModel::smallCrate());
}

CrateSimOptions hx1100Options()
{
    CrateSimOptions o;
    o.generation = CrateGeneration::First;
    return o;
}

namespace {
CrateSimOptions firstGen(CrateSimOptions o)
{
    o.generation = CrateGeneration::First;
    return o;
}
} // namespace

Hx1100Sim::Hx1100Sim(CrateModel model, std::string bindAddress, uint16_t port, CrateSimOptions options)
    : CrateSim(std::move(model), std::move(bindAddress), port, firstGen(std::move(options)))
{
}

std::string hx1100Datagram(const std::vector<EventItem> &items, bool multi)
{
    std::string d = "KORU";
    d.push_back(char(kHx1100Form));
    d.push_back(char(multi ? kHx1100MultiFlag : kHx1100SingleFlag));
    std::string body;
    for (auto &it : items) {
        body.push_back(char(it.text ? 1 : 0));
        body.push_back(char(1));
        body.append(8, '\0');
        put32(body, it.id);
        put32(body, uint32_t(it.value.size()));
        body += it.value;
    }
    if (multi) {
        size_t total = 10 + body.size();
        d += be16(uint16_t(total));
        d += be16(uint16_t(items.size()));
    }
    return d + body;
}

} // namespace korusim
