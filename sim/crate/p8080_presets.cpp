#include "crate/p8080_presets.h"

namespace korusim {

namespace {

P8080SystemParam word(const std::string &name, uint16_t type, bool writable, int32_t maxRaw, uint32_t initial)
{
    P8080SystemParam s;
    s.desc = numericParam(name, writable, 0, maxRaw, 0, 1, 0, 0, initial);
    s.desc.type = type;
    return s;
}

P8080SystemParam text(const std::string &name, const std::string &value)
{
    P8080SystemParam s;
    s.desc = numericParam(name, false, 0, 0, 0, 1, 0, 0, 0);
    s.desc.type = kSysText;
    s.text = value;
    return s;
}

} // namespace

P8080Model techInfoRack()
{
    P8080Model m = P8080Model::smallRack();
    const std::vector<P8080SystemParam> more = {
        text("FwRelease", "1.4"),
        text("HwRelease", "2.1"),
        word("FrontPanOut", kSysU16, false, 0xFFFF, 0x0301),
        word("FrontPan", kSysU16, false, 0xFFFF, 0),
        word("ACDCStatus", kSysU16, false, 0xFFFF, 5),
        word("Logic", kSysU16, true, 1, 0),
        word("LowFreq", kSysU16, false, 0xFFFF, 50),
        word("HighFreq", kSysU16, false, 0xFFFF, 60),
        word("RecPeriod", kSysU16, false, 0xFFFF, 100),
        word("RstPeriod", kSysU16, false, 0xFFFF, 200),
        word("ACDCIlim", kSysU16, true, 3, 1),
    };
    m.systemParams.insert(m.systemParams.end(), more.begin(), more.end());
    return m;
}

} // namespace korusim
