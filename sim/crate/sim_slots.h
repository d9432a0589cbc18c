// The slots of a simulated crate or rack as both simulators keep them: each
// board's raw parameter values and its channels (raw values, name, exact ramp
// position), the ramp step, and the look-ups their test knobs answer with.
// Callers hold their simulator's lock.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "crate/crate_sim.h"

namespace korusim {

struct SimChannel {
    std::vector<uint32_t> raw;
    std::string name;
    double vmon = 0; // exact ramp position, in volts
};

struct SimSlot {
    std::optional<CrateBoard> board; // empty: an empty slot
    std::vector<uint32_t> bdRaw;
    std::vector<SimChannel> ch;
};

using SimSlots = std::vector<SimSlot>;

// A slot holding the board at its initial values; channels without a name
// in the model are called CHAN000, CHAN001 and so on.
SimSlot makeSimSlot(std::optional<CrateBoard> board);

SimSlot *findSlot(SimSlots &slots, unsigned slot);
const SimSlot *findSlot(const SimSlots &slots, unsigned slot);
SimChannel *findChannel(SimSlots &slots, unsigned slot, unsigned channel);
const SimChannel *findChannel(const SimSlots &slots, unsigned slot, unsigned channel);

// One ramp step of dt seconds: a channel that is on moves its "VMon" towards
// "V0Set" at "RUp" or "RDWn" volts per second, "IMon" follows a 20 MOhm load
// and the low three "Status" bits say on and ramping up or down. Every
// changed value goes through `set`, so that the caller marks it.
using SetChannelRaw = std::function<void(unsigned slot, unsigned channel, int index, uint32_t raw)>;
void rampSlots(SimSlots &slots, double dt, const SetChannelRaw &set);

// The raw or engineering value of a parameter (a number parameter scaled, a
// switch as its raw value), none for an empty slot or an unknown name.
std::optional<uint32_t> channelRawOf(const SimSlots &slots, unsigned slot, unsigned channel,
                                     const std::string &param);
std::optional<double> channelValueOf(const SimSlots &slots, unsigned slot, unsigned channel,
                                     const std::string &param);
std::optional<uint32_t> boardRawOf(const SimSlots &slots, unsigned slot, const std::string &param);
std::optional<std::string> channelNameOf(const SimSlots &slots, unsigned slot, unsigned channel);
// The index of a channel parameter a test sets to `raw` (none for an empty
// slot or an unknown name); a raw "VMon" also moves the ramp's position.
std::optional<int> channelIndexToSet(SimSlots &slots, unsigned slot, unsigned channel,
                                     const std::string &param, uint32_t raw);
// The raw value for an engineering value of a channel or board parameter.
std::optional<uint32_t> channelRawFor(const SimSlots &slots, unsigned slot, unsigned channel,
                                      const std::string &param, double value);
std::optional<uint32_t> boardRawFor(const SimSlots &slots, unsigned slot, const std::string &param,
                                    double value);

} // namespace korusim
