// The high-voltage channel both the L2290 modules and the BQ71XXE units
// have (the same fields under the same names): its status word, its
// physics, its set requests and the table of its numbers. Each family keeps
// its own limits, decimals and the order of its checks.
#pragma once

#include <algorithm>
#include <string>

#include "modules/text_unit.h"

namespace korusim {

// Status bits both families report in "STAT".
enum HvStatusBit : unsigned {
    kHvOn = 1u << 0,
    kHvRampUp = 1u << 1,
    kHvRampDown = 1u << 2,
    kHvOverCurrent = 1u << 3,
    kHvMaxV = 1u << 6,
    kHvTripped = 1u << 7,
    kHvKill = 1u << 11,
};

// The status word of a channel. `liveIsOn`: a channel still holding a
// voltage reports itself on; `reportKill`: the kill bit follows "PDWN".
template <class Channel> unsigned hvStatus(const Channel &c, bool liveIsOn, bool reportKill)
{
    unsigned s = c.extraStatus;
    const double target = (c.on && !c.tripped) ? std::min(c.vset, c.maxv) : 0.0;
    if (c.on || (liveIsOn && c.vmon > 0.0))
        s |= kHvOn;
    if (c.on && !c.tripped && c.vmon < target)
        s |= kHvRampUp;
    if (c.vmon > target)
        s |= kHvRampDown;
    if (c.vmon > 0.0 && c.imon >= c.iset)
        s |= kHvOverCurrent;
    if (c.on && c.vset > c.maxv)
        s |= kHvMaxV;
    if (c.tripped)
        s |= kHvTripped;
    if (reportKill && c.kill)
        s |= kHvKill;
    return s;
}

// Monitored values fixed until the hold is released; the physics leaves them alone.
template <class Channel> void hvHold(Channel &c, double vmon, double imon)
{
    c.hold = true;
    c.vmon = vmon;
    c.imon = imon;
}

// Advances one channel by dt seconds: an interlock switches it off, the
// voltage ramps towards its target, an over-current lasting "TRIP" seconds
// trips it. True when it tripped now.
template <class Channel> bool hvTick(Channel &c, double dt, bool interlock)
{
    if (interlock && c.on) {
        c.on = false;
        if (!c.hold)
            c.vmon = 0;
    }
    if (!c.hold) {
        const double target = (c.on && !c.tripped) ? std::min(c.vset, c.maxv) : 0.0;
        if (c.vmon < target)
            c.vmon = std::min(target, c.vmon + c.rup * dt);
        else if (c.vmon > target)
            c.vmon = (!c.on && c.kill) ? 0.0 : std::max(target, c.vmon - c.rdw * dt);
        c.imon = c.loadMOhm > 0 ? c.vmon / c.loadMOhm : 0.0;
    }
    const bool over = c.vmon > 0.0 && c.imon >= c.iset;
    if (!over || !c.on) {
        c.overCurrentSeconds = 0;
        return false;
    }
    c.overCurrentSeconds += dt;
    if (c.overCurrentSeconds < c.trip)
        return false;
    c.tripped = true;
    c.on = false;
    if (c.kill && !c.hold)
        c.vmon = 0, c.imon = 0;
    return true;
}

// A number a channel reads and sets, with its bounds in the limits (the
// upper one in the low current range where that differs).
template <class Limits, class Channel> struct HvNumberRow {
    const char *name;
    double Channel::*field;
    int Limits::*lo;
    int Limits::*hi;
    int Limits::*hiLowRange = nullptr;
};

// A limit or decimals count, reported as a plain integer.
template <class Limits> struct LimitRow {
    const char *name;
    int Limits::*field;
};

// A family's table of the channel's numbers ("VSET" "ISET" "MAXV" "RUP" "RDW" "TRIP").
template <class Limits, class Channel> using HvNumberTable = HvNumberRow<Limits, Channel>[6];

enum class HvSetKind { Number, Word, Command };

// What a channel set of `p` takes; false when `p` is not settable.
inline bool hvSetKind(const std::string &p, HvSetKind &k)
{
    if (p == "VSET" || p == "ISET" || p == "MAXV" || p == "RUP" || p == "RDW" || p == "TRIP")
        k = HvSetKind::Number;
    else if (p == "IMRANGE" || p == "PDWN")
        k = HvSetKind::Word;
    else if (p == "ON" || p == "OFF")
        k = HvSetKind::Command;
    else
        return false;
    return true;
}

// Checks the value of a settable channel parameter (hvSetKind true): false
// with the error kind and the violation text when refused. `negative` tells
// a negative number (below every minimum: refused, not a violation);
// `lowRange` picks the upper bound of a current in the low range; a number
// has at most `maxIntDigits` integer digits.
template <class Limits, class Channel, class Negative>
bool hvCheckValue(const HvNumberTable<Limits, Channel> &numbers, const Limits &l, bool lowRange,
                  const TextRequest &r, Negative negative, size_t maxIntDigits, DeviceError &e,
                  std::string &why)
{
    HvSetKind k = HvSetKind::Command;
    hvSetKind(r.par, k);
    e = DeviceError::Val;
    if (k == HvSetKind::Command) {
        if (r.hasValue)
            why = r.par + " takes no value";
        return !r.hasValue;
    }
    if (!r.hasValue) {
        why = "set of " + r.par + " without a value";
        return false;
    }
    if (k == HvSetKind::Word) {
        const bool good = r.par == "IMRANGE" ? (r.value == "LOW" || r.value == "HIGH")
                                             : (r.value == "RAMP" || r.value == "KILL");
        if (!good)
            why = "value " + r.value + " is not a word of " + r.par;
        return good;
    }
    double v = 0;
    if (negative(r.value))
        return false;
    if (!parsePlainNumber(r.value, v, false, maxIntDigits)) {
        why = "value " + r.value + " is not a plain decimal number";
        return false;
    }
    const auto *row = findRow(numbers, r.par);
    const int Limits::*hi = lowRange && row->hiLowRange ? row->hiLowRange : row->hi;
    // Out of range is the operator's business, not a violation.
    return v >= l.*(row->lo) && v <= l.*hi;
}

// Applies a checked channel set; `interlock` keeps "ON" from switching on.
template <class Limits, class Channel>
void hvApplySet(const HvNumberTable<Limits, Channel> &numbers, Channel &c, const TextRequest &r,
                bool interlock)
{
    if (r.par == "ON") {
        c.tripped = false;
        c.overCurrentSeconds = 0;
        if (!interlock)
            c.on = true;
    } else if (r.par == "OFF") {
        c.on = false;
        if (c.kill && !c.hold)
            c.vmon = 0, c.imon = 0;
    } else if (r.par == "IMRANGE") {
        c.lowRange = r.value == "LOW";
    } else if (r.par == "PDWN") {
        c.kill = r.value == "KILL";
    } else if (const auto *row = findRow(numbers, r.par)) {
        double v = 0;
        parsePlainNumber(r.value, v, false, size_t(-1));
        c.*(row->field) = v;
    }
}

} // namespace korusim
