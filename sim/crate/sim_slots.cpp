#include "crate/sim_slots.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "crate/sim_server.h"

namespace korusim {

using simserver::paramIndex;

SimSlot makeSimSlot(std::optional<CrateBoard> b)
{
    SimSlot s;
    if (!b)
        return s;
    s.board = std::move(b);
    for (auto &p : s.board->boardParams)
        s.bdRaw.push_back(p.initialRaw);
    s.ch.resize(s.board->channels);
    for (unsigned c = 0; c < s.board->channels; ++c) {
        for (auto &p : s.board->paramsOf(c))
            s.ch[c].raw.push_back(p.initialRaw);
        if (c < s.board->channelNames.size())
            s.ch[c].name = s.board->channelNames[c];
        else {
            char n[16];
            std::snprintf(n, sizeof n, "CHAN%03u", c);
            s.ch[c].name = n;
        }
        int vi = paramIndex(s.board->paramsOf(c), "VMon");
        if (vi >= 0)
            s.ch[c].vmon = rawToValue(s.board->paramsOf(c)[vi], s.ch[c].raw[vi]);
    }
    return s;
}

SimSlot *findSlot(SimSlots &slots, unsigned slot)
{
    return slot < slots.size() && slots[slot].board ? &slots[slot] : nullptr;
}

const SimSlot *findSlot(const SimSlots &slots, unsigned slot)
{
    return slot < slots.size() && slots[slot].board ? &slots[slot] : nullptr;
}

SimChannel *findChannel(SimSlots &slots, unsigned slot, unsigned channel)
{
    SimSlot *s = findSlot(slots, slot);
    return s && channel < s->ch.size() ? &s->ch[channel] : nullptr;
}

const SimChannel *findChannel(const SimSlots &slots, unsigned slot, unsigned channel)
{
    const SimSlot *s = findSlot(slots, slot);
    return s && channel < s->ch.size() ? &s->ch[channel] : nullptr;
}

void rampSlots(SimSlots &slots, double dt, const SetChannelRaw &set)
{
    for (unsigned s = 0; s < slots.size(); ++s) {
        SimSlot &sl = slots[s];
        if (!sl.board)
            continue;
        for (unsigned c = 0; c < sl.ch.size(); ++c) {
            const auto &ps = sl.board->paramsOf(c);
            int iV = paramIndex(ps, "VMon"), iSet = paramIndex(ps, "V0Set"), iPw = paramIndex(ps, "Pw");
            if (iV < 0 || iSet < 0 || iPw < 0)
                continue;
            int iI = paramIndex(ps, "IMon"), iSt = paramIndex(ps, "Status");
            int iUp = paramIndex(ps, "RUp"), iDn = paramIndex(ps, "RDWn");
            SimChannel &ch = sl.ch[c];
            bool on = ch.raw[iPw] != 0;
            double target = on ? rawToValue(ps[iSet], ch.raw[iSet]) : 0.0;
            double v = ch.vmon;
            uint32_t st = iSt >= 0 ? ch.raw[iSt] & ~uint32_t(0x7) : 0;
            if (on)
                st |= 1;
            if (std::fabs(target - v) > 1e-9) {
                bool up = target > v;
                double rate = 50.0;
                if (up && iUp >= 0)
                    rate = rawToValue(ps[iUp], ch.raw[iUp]);
                if (!up && iDn >= 0)
                    rate = rawToValue(ps[iDn], ch.raw[iDn]);
                double step = std::max(rate, 1.0) * dt;
                v = up ? std::min(target, v + step) : std::max(target, v - step);
                if (std::fabs(target - v) > 1e-9)
                    st |= up ? 2 : 4;
            }
            ch.vmon = v;
            set(s, c, iV, valueToRaw(ps[iV], v));
            if (iI >= 0)
                set(s, c, iI, valueToRaw(ps[iI], v * 0.05)); // a 20 MOhm load, in uA
            if (iSt >= 0)
                set(s, c, iSt, st);
        }
    }
}

std::optional<uint32_t> channelRawOf(const SimSlots &slots, unsigned slot, unsigned channel,
                                     const std::string &param)
{
    const SimChannel *c = findChannel(slots, slot, channel);
    if (!c)
        return std::nullopt;
    int i = paramIndex(slots[slot].board->paramsOf(channel), param);
    if (i < 0)
        return std::nullopt;
    return c->raw[i];
}

std::optional<double> channelValueOf(const SimSlots &slots, unsigned slot, unsigned channel,
                                     const std::string &param)
{
    const SimChannel *c = findChannel(slots, slot, channel);
    if (!c)
        return std::nullopt;
    const auto &ps = slots[slot].board->paramsOf(channel);
    int i = paramIndex(ps, param);
    if (i < 0)
        return std::nullopt;
    return ps[i].type == 0 ? rawToValue(ps[i], c->raw[i]) : double(c->raw[i]);
}

std::optional<uint32_t> boardRawOf(const SimSlots &slots, unsigned slot, const std::string &param)
{
    const SimSlot *s = findSlot(slots, slot);
    if (!s)
        return std::nullopt;
    int i = paramIndex(s->board->boardParams, param);
    if (i < 0)
        return std::nullopt;
    return s->bdRaw[i];
}

std::optional<std::string> channelNameOf(const SimSlots &slots, unsigned slot, unsigned channel)
{
    const SimChannel *c = findChannel(slots, slot, channel);
    if (!c)
        return std::nullopt;
    return c->name;
}

std::optional<int> channelIndexToSet(SimSlots &slots, unsigned slot, unsigned channel,
                                     const std::string &param, uint32_t raw)
{
    SimChannel *c = findChannel(slots, slot, channel);
    if (!c)
        return std::nullopt;
    const auto &ps = slots[slot].board->paramsOf(channel);
    int i = paramIndex(ps, param);
    if (i < 0)
        return std::nullopt;
    if (param == "VMon")
        c->vmon = rawToValue(ps[i], raw);
    return i;
}

namespace {

std::optional<uint32_t> rawFor(const std::vector<CrateParam> &ps, const std::string &param, double value)
{
    int i = paramIndex(ps, param);
    if (i < 0)
        return std::nullopt;
    return ps[i].type == 0 ? valueToRaw(ps[i], value) : uint32_t(int64_t(value));
}

} // namespace

std::optional<uint32_t> channelRawFor(const SimSlots &slots, unsigned slot, unsigned channel,
                                      const std::string &param, double value)
{
    if (!findChannel(slots, slot, channel))
        return std::nullopt;
    return rawFor(slots[slot].board->paramsOf(channel), param, value);
}

std::optional<uint32_t> boardRawFor(const SimSlots &slots, unsigned slot, const std::string &param,
                                    double value)
{
    const SimSlot *s = findSlot(slots, slot);
    if (!s)
        return std::nullopt;
    return rawFor(s->board->boardParams, param, value);
}

} // namespace korusim
