// What a crate derives from its channels and fans rather than storing: the
// front-panel output word and the fan readings. Kept apart from the protocol
// code so that both generations and the tests share one definition.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace korusim {

// Bits of a crate channel's "Status" word that the front panel gathers.
enum CrateChannelBit : uint32_t {
    kChannelOn = 1u << 0,
    kChannelOverCurrent = 1u << 3,
    kChannelOverVoltage = 1u << 4,
    kChannelUnderVoltage = 1u << 5,
    kChannelExternalTrip = 1u << 6,
    kChannelInternalTrip = 1u << 9,
};

// Bits of the front-panel output word ("FrontPanOut").
enum FrontPanelBit : uint16_t {
    kPanelOverCurrent = 1u << 0,
    kPanelUnderVoltage = 1u << 1,
    kPanelOverVoltage = 1u << 2,
    kPanelChannelOn = 1u << 3,
    kPanelTrip = 1u << 4,
    kPanelFanFailure = 1u << 8,
};

// Folds one channel's status word into the front-panel word: a lamp is lit
// while any channel has its condition.
uint16_t frontPanelBits(uint32_t channelStatus);

// The rack supply's front-panel output word keeps the crate's low four
// lamps but has its trip lamp at bit 9 and an over-temperature lamp at bit 8.
enum RackPanelBit : uint16_t {
    kRackPanelOverTemp = 1u << 8,
    kRackPanelTrip = 1u << 9,
};
uint16_t rackPanelBits(uint32_t channelStatus);

// The rack's temperature (degrees) above which its over-temperature lamp lights.
constexpr double kRackOverTemperature = 60.0;

// A fan-status property ("HVFanStat", "PWFanStat", "FanStat") is a list of
// records: a status byte (1 running, 0 failed) and the speed in rpm as a
// 16-bit big-endian number. Running fans turn at the speed the "HVFanSpeed"
// setting asks for (0 low, 1 middle, 2 high), each a little apart from the
// others as real fans are; a failed fan stands still.
std::string fanStatusBytes(unsigned fanCount, uint32_t failedMask, unsigned speedSetting,
                           unsigned firstFan = 0);
bool isFanStatusName(const std::string &name);

} // namespace korusim
