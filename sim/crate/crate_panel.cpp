#include "crate/crate_panel.h"

namespace korusim {

uint16_t frontPanelBits(uint32_t st)
{
    uint16_t w = 0;
    if (st & kChannelOn)
        w |= kPanelChannelOn;
    if (st & kChannelOverCurrent)
        w |= kPanelOverCurrent;
    if (st & kChannelOverVoltage)
        w |= kPanelOverVoltage;
    if (st & kChannelUnderVoltage)
        w |= kPanelUnderVoltage;
    if (st & (kChannelExternalTrip | kChannelInternalTrip))
        w |= kPanelTrip;
    return w;
}

uint16_t rackPanelBits(uint32_t st)
{
    uint16_t w = frontPanelBits(st);
    if (w & kPanelTrip)
        w = uint16_t((w & ~kPanelTrip) | kRackPanelTrip);
    return w;
}

std::string fanStatusBytes(unsigned fanCount, uint32_t failedMask, unsigned speedSetting, unsigned firstFan)
{
    static const unsigned base[3] = {1800, 2400, 3000};
    static const int spread[4] = {0, 50, -30, 20};
    const unsigned nominal = base[speedSetting < 3 ? speedSetting : 1];
    std::string b;
    for (unsigned f = 0; f < fanCount; ++f) {
        const bool failed = f < 32 && (failedMask >> f) & 1u;
        const unsigned rpm = failed ? 0u : unsigned(int(nominal) + spread[(firstFan + f) % 4]);
        b.push_back(char(failed ? 0 : 1));
        b.push_back(char(rpm >> 8));
        b.push_back(char(rpm & 0xFF));
    }
    return b;
}

bool isFanStatusName(const std::string &name)
{
    return name.size() >= 7 && name.compare(name.size() - 7, 7, "FanStat") == 0;
}

} // namespace korusim
