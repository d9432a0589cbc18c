// The W9300 crate model and the device side of its "$CMD" text protocol.
// Strict on purpose: whatever the crate would not take gets its error reply
// and is marked as a protocol violation in the log.
#include "modules/w9300_sim.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "modules/text_unit.h"

namespace korusim {

namespace {

using Crate = W9300Crate;
using Output = W9300Channel;

constexpr int kCrateChannel = 8;
constexpr double kRampVps = 20.0; // soft start and stop of the outputs
constexpr double kFanRpmPerS = 800.0;
constexpr size_t kMaxChannelName = 12;

bool isCrateCommand(const std::string &p)
{
    return p == "ON" || p == "OFF" || p == "SYSR" || p == "CLR";
}

std::string whole(double v)
{
    return fixedText(v, 0);
}

const BoardRow<Crate> kCrateRows[] = {
    {"CRNAME", [](const Crate &c) { return c.name; }},
    {"NUMCH",
     [](const Crate &c) {
         return std::to_string(c.reportedChannels >= 0 ? size_t(c.reportedChannels) : c.channels.size());
     }},
    {"PSFREL", [](const Crate &c) { return c.firmware; }},
    {"PSSNUM", [](const Crate &c) { return std::to_string(c.serial); }},
    {"PSTEMP", [](const Crate &c) { return whole(c.temp); }},
    {"FANSP", [](const Crate &c) { return std::to_string(c.fanSpeed); }},
    {"FAN1", [](const Crate &c) { return whole(c.fanRpm[0]); }},
    {"FAN2", [](const Crate &c) { return whole(c.fanRpm[1]); }},
    {"FAN3", [](const Crate &c) { return whole(c.fanRpm[2]); }},
    {"FUFREL", [](const Crate &c) { return c.fuFirmware; }},
    {"FUTEMP", [](const Crate &c) { return whole(c.futemp); }},
    {"FUSNUM", [](const Crate &c) { return std::to_string(c.fuSerial); }},
    {"CRST", [](const Crate &c) { return std::to_string(c.status()); }},
    {"VPMAX", [](const Crate &c) { return fixedText(c.vpmax, 2); }},
    {"VPMIN", [](const Crate &c) { return fixedText(c.vpmin, 2); }},
    {"RS232BR", [](const Crate &c) { return std::to_string(c.rs232br); }},
    {"CANBR", [](const Crate &c) { return std::to_string(c.canbr); }},
    {"CANADD", [](const Crate &c) { return std::to_string(c.canadd); }},
    {"IPADD", [](const Crate &c) { return c.ip; }},
    {"IPMSK", [](const Crate &c) { return c.mask; }},
    {"IPGTW", [](const Crate &c) { return c.gateway; }},
    {"MACADD", [](const Crate &c) { return c.mac; }},
};

std::string volts(const Output &o, double v)
{
    return fixedText(v, decimalsOf(o.vres));
}

std::string amperes(const Output &o, double v)
{
    return fixedText(v, decimalsOf(o.ires));
}

const ReadRow<Crate, Output> kOutputRows[] = {
    {"NAME", [](const Crate &, const Output &o) { return o.name; }},
    {"VSET", [](const Crate &, const Output &o) { return volts(o, o.vset); }},
    {"VMON", [](const Crate &, const Output &o) { return volts(o, std::max(0.0, o.vmon)); }},
    {"ISET", [](const Crate &, const Output &o) { return amperes(o, o.iset); }},
    {"IMON", [](const Crate &, const Output &o) { return amperes(o, std::max(0.0, o.imon)); }},
    {"OVP", [](const Crate &, const Output &o) { return volts(o, o.ovp()); }},
    {"UVP", [](const Crate &, const Output &o) { return volts(o, o.uvp()); }},
    {"STAT", [](const Crate &c, const Output &o) { return std::to_string(o.status(c.on)); }},
    {"VMIN", [](const Crate &, const Output &o) { return volts(o, o.vmin); }},
    {"VMAX", [](const Crate &, const Output &o) { return volts(o, o.vmax); }},
    {"IMIN", [](const Crate &, const Output &o) { return amperes(o, o.imin); }},
    {"IMAX", [](const Crate &, const Output &o) { return amperes(o, o.imax); }},
    {"VRES", [](const Crate &, const Output &o) { return std::to_string(o.vres); }},
    {"IRES", [](const Crate &, const Output &o) { return std::to_string(o.ires); }},
};

bool nameCharsOk(const std::string &s)
{
    return std::all_of(s.begin(), s.end(),
                       [](char c) { return c >= 0x20 && c < 0x7F && c != ',' && c != ';'; });
}

} // namespace

unsigned W9300Channel::status(bool crateOn) const
{
    unsigned s = extraStatus;
    const double target = crateOn ? vset : 0.0;
    const bool limiting = crateOn && iset > 0 && imon >= iset;
    if (crateOn)
        s |= kW9300On;
    if (vmon > 0.0 && vmon > ovp())
        s |= kW9300OverVoltage;
    // Below UVP while not on its way up: held down by the current limit or by
    // an outside cause.
    if (crateOn && vmon < uvp() && (limiting || hold))
        s |= kW9300UnderVoltage;
    if (limiting)
        s |= kW9300OverCurrent;
    if (!hold && !limiting && std::fabs(vmon - target) > 0.005)
        s |= kW9300Ramping;
    return s;
}

unsigned W9300Crate::status() const
{
    unsigned s = 0;
    if (on)
        s |= kW9300CrateOn;
    if (temp > 60.0)
        s |= kW9300CrateOverTemp;
    if (on && onSeconds > 5.0 && fanSpeed > 0 &&
        std::any_of(std::begin(fanRpm), std::end(fanRpm), [](double r) { return r < 100.0; }))
        s |= kW9300CrateFanFail;
    if (acFail)
        s |= kW9300CrateAcFail;
    for (const auto &c : channels)
        if (c.status(on) & (kW9300OverVoltage | kW9300UnderVoltage | kW9300OverCurrent))
            s |= kW9300CrateChannelAlarm;
    if (sysReset)
        s |= kW9300CrateSysReset;
    return s;
}

W9300Crate W9300Crate::make(int channelCount)
{
    struct Out {
        const char *name;
        double v, i, vmax, imax, load;
    };
    static const Out kOuts[8] = {
        {"+5V", 5.0, 100.0, 6.0, 115.0, 0.1},  {"+3.3V", 3.3, 100.0, 4.0, 115.0, 0.066},
        {"+12V", 12.0, 30.0, 14.0, 35.0, 1.2}, {"-12V", 12.0, 30.0, 14.0, 35.0, 1.2},
        {"+48V", 48.0, 10.0, 55.0, 12.0, 9.6}, {"-5V", 5.0, 20.0, 6.0, 23.0, 0.5},
        {"+6V", 6.0, 50.0, 7.0, 58.0, 0.2},    {"-6V", 6.0, 50.0, 7.0, 58.0, 0.2},
    };
    W9300Crate c;
    int n = std::clamp(channelCount, 0, 8);
    for (int i = 0; i < n; ++i) {
        W9300Channel ch;
        ch.name = kOuts[i].name;
        ch.vset = kOuts[i].v;
        ch.iset = kOuts[i].i;
        ch.vmax = kOuts[i].vmax;
        ch.imax = kOuts[i].imax;
        ch.loadOhm = kOuts[i].load;
        c.channels.push_back(ch);
    }
    return c;
}

struct W9300Dialect::Impl {
    explicit Impl(OneUnit<Crate> &one) : one(one) {}
    OneUnit<Crate> &one;
    Answer ans{cmdError};

    void execCrate(Crate &c, const std::string &p)
    {
        if (p == "ON") {
            if (!c.on)
                c.onSeconds = 0;
            c.on = true;
        } else if (p == "OFF") {
            c.on = false;
        } else if (p == "SYSR") {
            // The supply restarts: outputs drop at once and stay off.
            c.on = false;
            c.sysReset = true;
            for (auto &ch : c.channels)
                if (!ch.hold)
                    ch.vmon = 0, ch.imon = 0;
        } else if (p == "CLR") {
            c.sysReset = false;
        }
    }

    DialectReply setCrate(Crate &c, const TextRequest &r, bool execute)
    {
        if (isCrateCommand(r.par)) {
            if (r.hasValue)
                return ans.fail(DeviceError::Val, r.par + " takes no value");
            if (execute)
                execCrate(c, r.par);
            return Answer::text(cmdOk());
        }
        if (r.par != "FANSP")
            return ans.fail(DeviceError::Cmd); // read-only crate parameter
        if (!r.hasValue)
            return ans.fail(DeviceError::Val, "set of FANSP without a value");
        double v;
        if (!parsePlainNumber(r.value, v, true))
            return ans.fail(DeviceError::Val, "value " + r.value + " is not a plain decimal number");
        if (v < 0 || v > 6 || v != std::floor(v))
            return ans.fail(DeviceError::Val);
        if (execute)
            c.fanSpeed = int(v), c.holdFans = false;
        return Answer::text(cmdOk());
    }

    DialectReply setOutput(Output &o, const TextRequest &r, bool execute)
    {
        if (r.par != "NAME" && r.par != "VSET" && r.par != "ISET")
            return ans.fail(DeviceError::Cmd); // read-only output parameter
        if (!r.hasValue)
            return ans.fail(DeviceError::Val, "set of " + r.par + " without a value");
        if (r.par == "NAME") {
            if (r.value.size() > kMaxChannelName || !nameCharsOk(r.value))
                return ans.fail(DeviceError::Val, "channel name longer than 12 or with bad characters");
            if (execute)
                o.name = r.value;
            return Answer::text(cmdOk());
        }
        double v;
        if (!parsePlainNumber(r.value, v, true))
            return ans.fail(DeviceError::Val, "value " + r.value + " is not a plain decimal number");
        const bool volt = r.par == "VSET";
        if (v < (volt ? o.vmin : o.imin) || v > (volt ? o.vmax : o.imax))
            return ans.fail(DeviceError::Val);
        if (execute)
            (volt ? o.vset : o.iset) = v;
        return Answer::text(cmdOk());
    }

    DialectReply handle(std::string_view line, bool execute)
    {
        TextRequest r;
        std::string bad = parseCmdRequest(line, r);
        if (!bad.empty())
            return ans.fail(DeviceError::Cmd, bad);
        std::lock_guard<std::mutex> lk(one.m);
        Crate &c = one.unit;
        const auto *crateRow = findRow(kCrateRows, r.par);
        const auto *outputRow = findRow(kOutputRows, r.par);
        const bool crateMn = crateRow || isCrateCommand(r.par);
        if (!r.hasChannel)
            return ans.fail(DeviceError::Ch, "request without a channel (the crate is CH:8)");
        const bool onCrate = r.channel == kCrateChannel;
        if (!onCrate && r.channel >= int(c.channels.size()))
            return ans.fail(DeviceError::Ch);
        if (!crateMn && !outputRow)
            return ans.fail(DeviceError::Par);
        if (onCrate && !crateMn)
            return ans.fail(DeviceError::Ch, "output parameter " + r.par + " on the crate channel 8");
        if (!onCrate && !outputRow)
            return ans.fail(DeviceError::Ch, "crate parameter " + r.par + " on an output channel");
        if (!r.set) {
            if (r.hasValue)
                return ans.fail(DeviceError::Val, "monitor request with a value");
            if (isCrateCommand(r.par))
                return ans.fail(DeviceError::Cmd, "monitor of the command " + r.par);
            return Answer::text(
                cmdValue(onCrate ? crateRow->read(c) : outputRow->read(c, c.channels[size_t(r.channel)])));
        }
        if (c.local)
            return ans.fail(DeviceError::Loc);
        return onCrate ? setCrate(c, r, execute) : setOutput(c.channels[size_t(r.channel)], r, execute);
    }

    void tick(double dt)
    {
        if (dt <= 0)
            return;
        std::lock_guard<std::mutex> lk(one.m);
        Crate &c = one.unit;
        if (c.on)
            c.onSeconds += dt;
        double power = 0;
        for (auto &ch : c.channels) {
            if (!ch.hold) {
                double target = c.on ? ch.vset : 0.0;
                // Current limit: the output cannot drive more than ISET into its load.
                if (ch.loadOhm > 0 && target / ch.loadOhm > ch.iset)
                    target = ch.iset * ch.loadOhm;
                if (ch.vmon < target)
                    ch.vmon = std::min(target, ch.vmon + kRampVps * dt);
                else
                    ch.vmon = std::max(target, ch.vmon - kRampVps * dt);
                ch.imon = ch.loadOhm > 0 ? std::min(ch.iset, ch.vmon / ch.loadOhm) : 0.0;
            }
            power += std::max(0.0, ch.vmon) * std::max(0.0, ch.imon);
        }
        if (!c.holdFans) {
            double target = c.on ? 1200.0 + 600.0 * c.fanSpeed : 0.0;
            for (double &rpm : c.fanRpm)
                rpm = rpm < target ? std::min(target, rpm + kFanRpmPerS * dt)
                                   : std::max(target, rpm - kFanRpmPerS * dt);
        }
        if (!c.holdTemp) {
            // First-order approach to ambient plus the heat of the load, less with faster fans.
            double target = 25.0 + power / (20.0 + 10.0 * (c.on ? c.fanSpeed : 0));
            double k = std::min(1.0, dt / 20.0);
            c.temp += (target - c.temp) * k;
            c.futemp += (target - 2.0 - c.futemp) * k;
        }
    }
};

W9300Dialect::W9300Dialect(W9300Crate crate)
    : OneUnitDialect(std::move(crate)), impl_(std::make_unique<Impl>(one_))
{
}
W9300Dialect::~W9300Dialect() = default;

DialectReply W9300Dialect::handle(std::string_view line, bool execute)
{
    return impl_->handle(line, execute);
}
void W9300Dialect::tick(double seconds)
{
    impl_->tick(seconds);
}

W9300Sim::W9300Sim(W9300Crate crate) : W9300Sim(std::make_shared<W9300Dialect>(std::move(crate))) {}
W9300Sim::W9300Sim(std::shared_ptr<W9300Dialect> d) : OneUnitSim(std::move(d)) {}
void W9300Sim::setMonitored(int ch, double vmon, double imon)
{
    withCrate([&](W9300Crate &c) {
        onChannel(c.channels, ch, [&](W9300Channel &o) { o.hold = true, o.vmon = vmon, o.imon = imon; });
    });
}

void W9300Sim::setTemperature(double celsius)
{
    withCrate([&](W9300Crate &c) {
        c.temp = celsius;
        c.holdTemp = true;
    });
}

void W9300Sim::setFanRpm(double fan1, double fan2, double fan3)
{
    withCrate([&](W9300Crate &c) {
        c.fanRpm[0] = fan1;
        c.fanRpm[1] = fan2;
        c.fanRpm[2] = fan3;
        c.holdFans = true;
    });
}

void W9300Sim::setFanSpeed(int speed)
{
    withCrate([&](W9300Crate &c) {
        c.fanSpeed = std::clamp(speed, 0, 6);
        c.holdFans = false;
    });
}

} // namespace korusim
