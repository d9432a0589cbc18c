// Rack contents as data: the two preset racks and the event item helpers.
#include "crate/p8080_sim.h"

namespace korusim {

namespace {

P8080SystemParam sysParam(const std::string &name, uint16_t type, bool writable, int32_t minRaw,
                          int32_t maxRaw, uint16_t decimals, uint16_t factor, int16_t unit,
                          uint32_t initialRaw, bool isSigned = false, const std::string &text = {})
{
    P8080SystemParam s;
    s.desc = numericParam(name, writable, minRaw, maxRaw, decimals, factor, unit, 0, initialRaw, isSigned);
    s.desc.type = type;
    s.text = text;
    return s;
}

P8080SystemParam textParam(const std::string &name, bool writable, const std::string &text)
{
    return sysParam(name, kSysText, writable, 0, 0, 0, 1, 0, 0, false, text);
}

std::vector<P8080SystemParam> rackSystemParams()
{
    return {
        textParam("ModelName", false, "P8080"),
        textParam("SwRelease", false, "2.0.7"),
        sysParam("Temp", kSysS16, false, -400, 1200, 1, 10, 4, 312, true),
        sysParam("ACVolt", kSysU16, false, 0, 300, 0, 1, 2, 231),
        sysParam("Uptime", kSysU32, false, 0, INT32_MAX, 0, 1, 8, 3600),
        sysParam("Interlock", kSysBool, true, 0, 1, 0, 1, 0, 0),
        sysParam("Alarm", kSysS32, true, -100000, 100000, 0, 1, 0, 0, true),
        textParam("Label", true, "rack-sim"),
    };
}

CrateBoard module(const std::string &model, unsigned channels, uint16_t serial)
{
    CrateBoard b = hvBoard(model, channels, serial);
    b.serial32 = 700000u + serial;
    return b;
}

} // namespace

P8080Model P8080Model::rack()
{
    P8080Model m;
    m.systemParams = rackSystemParams();
    m.systemParams.push_back(sysParam("FrontPanOut", kSysU16, false, 0, 0xFFFF, 0, 1, 0, 0));
    m.systemParams.push_back(sysParam("ACDCPwr", kSysU16, true, 0, 1, 0, 1, 0, 1));
    m.systemParams.push_back(sysParam("ACDCStatus", kSysU16, false, 0, 0xFFFF, 0, 1, 0, 1));
    m.panelFollowsChannels = true;
    m.modules.resize(6);
    m.modules[0] = module("PM808", 8, 21);
    m.modules[1] = module("PM804", 4, 22);
    m.modules[3] = module("PM812", 12, 23);
    return m;
}

P8080Model P8080Model::smallRack()
{
    P8080Model m;
    m.systemParams = rackSystemParams();
    m.modules.resize(3);
    m.modules[0] = module("PM804", 4, 31);
    CrateBoard b = module("PM802", 2, 32);
    b.description = " 2 Ch Bipolar 3KV ";
    b.channelParams.push_back(numericParam("VCal", true, -1000, 1000, 1, 10, 2, 0, 0, true));
    m.modules[2] = b;
    return m;
}

P8080EventItem P8080EventItem::word(uint32_t id, uint32_t w)
{
    P8080EventItem i;
    i.id = id;
    i.value = std::string{char(w & 0xFF), char((w >> 8) & 0xFF), char((w >> 16) & 0xFF), char(w >> 24)};
    return i;
}

P8080EventItem P8080EventItem::text(uint32_t id, const std::string &t)
{
    P8080EventItem i;
    i.id = id;
    i.value = t + "#";
    return i;
}

} // namespace korusim
