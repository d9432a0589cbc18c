// The ZJV unit model and the device side of its "$CMD" text protocol.
// Strict on purpose: whatever the unit would not take gets its error reply
// and is marked as a protocol violation in the log.
#include "modules/zjv_sim.h"

#include <algorithm>
#include <mutex>

#include "modules/text_unit.h"

namespace korusim {

namespace {

using Unit = ZJVUnit;
using Channel = ZJVChannel;

bool isBoardMnemonic(const std::string &p)
{
    return p == "BDNAME" || p == "BDNCH" || p == "BDFREL";
}
bool isSwitch(const std::string &p)
{
    return p == "ON" || p == "OFF";
}

std::string reading(double v, int res)
{
    return fixedText(std::max(0.0, v), decimalsOf(res));
}

const ReadRow<Unit, Channel> kChannelRows[] = {
    {"V5", [](const Unit &u, const Channel &c) { return reading(c.v5.v, u.v5res); }},
    {"V48", [](const Unit &u, const Channel &c) { return reading(c.v48.v, u.v48res); }},
    {"VFAN", [](const Unit &u, const Channel &c) { return reading(c.fan.v, u.vfanres); }},
    {"I5", [](const Unit &u, const Channel &c) { return reading(c.v5.i, u.i5res); }},
    {"I48", [](const Unit &u, const Channel &c) { return reading(c.v48.i, u.i48res); }},
    {"IFAN", [](const Unit &u, const Channel &c) { return reading(c.fan.i, u.ifanres); }},
    {"STAT", [](const Unit &, const Channel &c) { return std::to_string(c.status()); }},
    {"V5RES", [](const Unit &u, const Channel &) { return std::to_string(u.v5res); }},
    {"V48RES", [](const Unit &u, const Channel &) { return std::to_string(u.v48res); }},
    {"VFANRES", [](const Unit &u, const Channel &) { return std::to_string(u.vfanres); }},
    {"I5RES", [](const Unit &u, const Channel &) { return std::to_string(u.i5res); }},
    {"I48RES", [](const Unit &u, const Channel &) { return std::to_string(u.i48res); }},
    {"IFANRES", [](const Unit &u, const Channel &) { return std::to_string(u.ifanres); }},
};

bool rampingUp(const ZJVRail &r)
{
    return r.v < r.nominal - 1e-6;
}

} // namespace

unsigned ZJVChannel::status() const
{
    unsigned s = extraStatus;
    if (on)
        s |= kZJVOn;
    if (on && !hold && (rampingUp(v5) || rampingUp(v48) || rampingUp(fan)))
        s |= kZJVRampUp;
    if (!on && !hold && (v5.v > 0 || v48.v > 0 || fan.v > 0))
        s |= kZJVRampDown;
    if (v5.i > v5.limit)
        s |= kZJVOverCurrent5;
    if (v48.i > v48.limit)
        s |= kZJVOverCurrent48;
    if (on && fan.v >= 0.9 * fan.nominal && fan.i < 0.05)
        s |= kZJVFanFail;
    if (tripped)
        s |= kZJVTripped;
    return s;
}

ZJVUnit ZJVUnit::make(int channelCount)
{
    ZJVUnit u;
    u.channels.resize(size_t(std::clamp(channelCount, 0, 8)));
    return u;
}

struct ZJVDialect::Impl {
    explicit Impl(OneUnit<Unit> &one) : one(one) {}
    OneUnit<Unit> &one;
    Answer ans{cmdError};

    static void zero(Channel &c)
    {
        for (ZJVRail *r : {&c.v5, &c.v48, &c.fan})
            r->v = 0, r->i = 0;
    }

    DialectReply monitor(const Unit &u, const TextRequest &r, bool board)
    {
        const int n = int(u.channels.size());
        if (r.hasValue)
            return ans.fail(DeviceError::Val, "monitor request with a value");
        if (board)
            return Answer::text(cmdValue(r.par == "BDNAME"  ? u.model
                                         : r.par == "BDNCH" ? std::to_string(n)
                                                            : u.firmware));
        if (isSwitch(r.par))
            return ans.fail(DeviceError::Cmd, "monitor of the command " + r.par);
        if (!r.hasChannel)
            return ans.fail(DeviceError::Ch, "channel parameter " + r.par + " without a channel");
        const auto *row = findRow(kChannelRows, r.par);
        return Answer::text(cmdValue(
            eachChannelValue(r.channel, n, [&](int c) { return row->read(u, u.channels[size_t(c)]); })));
    }

    DialectReply handle(std::string_view line, bool execute)
    {
        TextRequest r;
        std::string bad = parseCmdRequest(line, r);
        if (!bad.empty())
            return ans.fail(DeviceError::Cmd, bad);
        std::lock_guard<std::mutex> lk(one.m);
        Unit &u = one.unit;
        const bool board = isBoardMnemonic(r.par);
        if (!board && !findRow(kChannelRows, r.par) && !isSwitch(r.par))
            return ans.fail(DeviceError::Par);
        if (board && r.hasChannel)
            return ans.fail(DeviceError::Ch, "unit parameter " + r.par + " with a channel");
        if (r.hasChannel && r.channel > int(u.channels.size()))
            return ans.fail(DeviceError::Ch);
        if (!r.set)
            return monitor(u, r, board);
        if (u.local)
            return ans.fail(DeviceError::Loc);
        if (!isSwitch(r.par))
            return ans.fail(DeviceError::Cmd); // everything but the switch is read-only
        if (r.hasValue)
            return ans.fail(DeviceError::Val, r.par + " takes no value");
        if (!r.hasChannel)
            return ans.fail(DeviceError::Ch, r.par + " without a channel");
        const bool on = r.par == "ON";
        if (execute)
            eachChannel(u.channels, r.channel,
                        [&](Channel &c) { c.tripped = on ? false : c.tripped, c.on = on; });
        return Answer::text(cmdOk());
    }

    void tick(double dt)
    {
        if (dt <= 0)
            return;
        std::lock_guard<std::mutex> lk(one.m);
        for (auto &c : one.unit.channels) {
            if (c.hold)
                continue;
            for (ZJVRail *r : {&c.v5, &c.v48, &c.fan}) {
                double target = c.on ? r->nominal : 0.0;
                double step = c.rampVps * dt;
                r->v = r->v < target ? std::min(target, r->v + step) : std::max(target, r->v - step);
                r->i = r->loadOhm > 0 ? r->v / r->loadOhm : 0.0;
            }
            // Over-current on the 5 V or 48 V supply switches the channel off at once.
            if (c.on && (c.v5.i > c.v5.limit || c.v48.i > c.v48.limit || c.fan.i > c.fan.limit)) {
                c.on = false;
                c.tripped = true;
                zero(c);
            }
        }
    }
};

ZJVDialect::ZJVDialect(ZJVUnit unit) : OneUnitDialect(std::move(unit)), impl_(std::make_unique<Impl>(one_)) {}
ZJVDialect::~ZJVDialect() = default;

DialectReply ZJVDialect::handle(std::string_view line, bool execute)
{
    return impl_->handle(line, execute);
}
void ZJVDialect::tick(double seconds)
{
    impl_->tick(seconds);
}

ZJVSim::ZJVSim(ZJVUnit unit) : ZJVSim(std::make_shared<ZJVDialect>(std::move(unit))) {}
ZJVSim::ZJVSim(std::shared_ptr<ZJVDialect> d) : OneUnitSim(std::move(d)) {}
void ZJVSim::setMonitored(int ch, double v5, double i5, double v48, double i48, double vfan, double ifan)
{
    withUnit([&](ZJVUnit &u) {
        onChannel(u.channels, ch, [&](ZJVChannel &c) {
            c.hold = true;
            c.v5.v = v5, c.v5.i = i5;
            c.v48.v = v48, c.v48.i = i48;
            c.fan.v = vfan, c.fan.i = ifan;
        });
    });
}

} // namespace korusim
