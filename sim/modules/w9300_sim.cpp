// The W9300 crate model and the device side of its "$CMD" text protocol.
// Strict on purpose: whatever the crate would not take gets its error reply
// and is marked as a protocol violation in the log.
#include "modules/w9300_sim.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "modules/text_request.h"

namespace korusim {

namespace {

constexpr int kCrateChannel = 8;
constexpr double kRampVps = 20.0; // soft start and stop of the outputs
constexpr double kFanRpmPerS = 800.0;
constexpr size_t kMaxChannelName = 12;

std::string okReply()
{
    return "#CMD:OK";
}
std::string valReply(const std::string &v)
{
    return "#CMD:OK,VAL:" + v;
}
std::string errReply(DeviceError k)
{
    return std::string("#") + deviceErrorWord(k) + ":ERR";
}

// Decimals of a resolution in counts per unit (100 -> 2, 10 -> 1, 1 -> 0).
int decimalsOf(int res)
{
    int d = 0;
    for (long long p = 1; p < res && d < 6; p *= 10)
        ++d;
    return d;
}

bool isCrateCommand(const std::string &p)
{
    return p == "ON" || p == "OFF" || p == "SYSR" || p == "CLR";
}

bool isCrateMnemonic(const std::string &p)
{
    static const char *const k[] = {"CRNAME", "NUMCH", "PSFREL", "PSSNUM",  "PSTEMP", "FANSP",
                                    "FAN1",   "FAN2",  "FAN3",   "FUFREL",  "FUTEMP", "FUSNUM",
                                    "CRST",   "VPMAX", "VPMIN",  "RS232BR", "CANBR",  "CANADD",
                                    "IPADD",  "IPMSK", "IPGTW",  "MACADD"};
    return isCrateCommand(p) ||
           std::any_of(std::begin(k), std::end(k), [&](const char *b) { return p == b; });
}

bool isChannelMnemonic(const std::string &p)
{
    static const char *const k[] = {"NAME", "VSET", "VMON", "ISET", "IMON", "OVP",  "UVP",
                                    "STAT", "VMIN", "VMAX", "IMIN", "IMAX", "VRES", "IRES"};
    return std::any_of(std::begin(k), std::end(k), [&](const char *b) { return p == b; });
}

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
    mutable std::mutex m;
    W9300Crate c;

    std::string crateValue(const std::string &p) const
    {
        if (p == "CRNAME")
            return c.name;
        if (p == "NUMCH")
            return std::to_string(c.reportedChannels >= 0 ? size_t(c.reportedChannels) : c.channels.size());
        if (p == "PSFREL")
            return c.firmware;
        if (p == "PSSNUM")
            return std::to_string(c.serial);
        if (p == "PSTEMP")
            return fixedText(c.temp, 0);
        if (p == "FANSP")
            return std::to_string(c.fanSpeed);
        if (p == "FAN1")
            return fixedText(c.fanRpm[0], 0);
        if (p == "FAN2")
            return fixedText(c.fanRpm[1], 0);
        if (p == "FAN3")
            return fixedText(c.fanRpm[2], 0);
        if (p == "FUFREL")
            return c.fuFirmware;
        if (p == "FUTEMP")
            return fixedText(c.futemp, 0);
        if (p == "FUSNUM")
            return std::to_string(c.fuSerial);
        if (p == "CRST")
            return std::to_string(c.status());
        if (p == "VPMAX")
            return fixedText(c.vpmax, 2);
        if (p == "VPMIN")
            return fixedText(c.vpmin, 2);
        if (p == "RS232BR")
            return std::to_string(c.rs232br);
        if (p == "CANBR")
            return std::to_string(c.canbr);
        if (p == "CANADD")
            return std::to_string(c.canadd);
        if (p == "IPADD")
            return c.ip;
        if (p == "IPMSK")
            return c.mask;
        if (p == "IPGTW")
            return c.gateway;
        if (p == "MACADD")
            return c.mac;
        return {};
    }

    std::string channelValue(const W9300Channel &ch, const std::string &p) const
    {
        int vd = decimalsOf(ch.vres), id = decimalsOf(ch.ires);
        if (p == "NAME")
            return ch.name;
        if (p == "VSET")
            return fixedText(ch.vset, vd);
        if (p == "VMON")
            return fixedText(std::max(0.0, ch.vmon), vd);
        if (p == "ISET")
            return fixedText(ch.iset, id);
        if (p == "IMON")
            return fixedText(std::max(0.0, ch.imon), id);
        if (p == "OVP")
            return fixedText(ch.ovp(), vd);
        if (p == "UVP")
            return fixedText(ch.uvp(), vd);
        if (p == "STAT")
            return std::to_string(ch.status(c.on));
        if (p == "VMIN")
            return fixedText(ch.vmin, vd);
        if (p == "VMAX")
            return fixedText(ch.vmax, vd);
        if (p == "IMIN")
            return fixedText(ch.imin, id);
        if (p == "IMAX")
            return fixedText(ch.imax, id);
        if (p == "VRES")
            return std::to_string(ch.vres);
        if (p == "IRES")
            return std::to_string(ch.ires);
        return {};
    }

    void execCrate(const std::string &p)
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

    DialectReply handle(std::string_view line, bool execute)
    {
        DialectReply out;
        TextRequest r;
        std::string bad = parseCmdRequest(line, r);
        auto fail = [&](DeviceError e, std::string why = {}) {
            out.text = errReply(e);
            out.violation = std::move(why);
            return out;
        };
        if (!bad.empty())
            return fail(DeviceError::Cmd, bad);
        std::lock_guard<std::mutex> lk(m);
        const int n = int(c.channels.size());
        const bool crateMn = isCrateMnemonic(r.par), chanMn = isChannelMnemonic(r.par);
        if (!r.hasChannel)
            return fail(DeviceError::Ch, "request without a channel (the crate is CH:8)");
        const bool onCrate = r.channel == kCrateChannel;
        if (!onCrate && r.channel >= n)
            return fail(DeviceError::Ch);
        if (!crateMn && !chanMn)
            return fail(DeviceError::Par);
        if (onCrate && !crateMn)
            return fail(DeviceError::Ch, "output parameter " + r.par + " on the crate channel 8");
        if (!onCrate && !chanMn)
            return fail(DeviceError::Ch, "crate parameter " + r.par + " on an output channel");

        if (!r.set) {
            if (r.hasValue)
                return fail(DeviceError::Val, "monitor request with a value");
            if (isCrateCommand(r.par))
                return fail(DeviceError::Cmd, "monitor of the command " + r.par);
            out.text =
                valReply(onCrate ? crateValue(r.par) : channelValue(c.channels[size_t(r.channel)], r.par));
            return out;
        }

        if (c.local)
            return fail(DeviceError::Loc);
        if (onCrate) {
            if (isCrateCommand(r.par)) {
                if (r.hasValue)
                    return fail(DeviceError::Val, r.par + " takes no value");
                if (execute)
                    execCrate(r.par);
                out.text = okReply();
                return out;
            }
            if (r.par != "FANSP")
                return fail(DeviceError::Cmd); // read-only crate parameter
            if (!r.hasValue)
                return fail(DeviceError::Val, "set of FANSP without a value");
            double v;
            if (!parsePlainNumber(r.value, v, true))
                return fail(DeviceError::Val, "value " + r.value + " is not a plain decimal number");
            if (v < 0 || v > 6 || v != std::floor(v))
                return fail(DeviceError::Val);
            if (execute)
                c.fanSpeed = int(v), c.holdFans = false;
            out.text = okReply();
            return out;
        }

        W9300Channel &ch = c.channels[size_t(r.channel)];
        if (r.par != "NAME" && r.par != "VSET" && r.par != "ISET")
            return fail(DeviceError::Cmd); // read-only output parameter
        if (!r.hasValue)
            return fail(DeviceError::Val, "set of " + r.par + " without a value");
        if (r.par == "NAME") {
            if (r.value.size() > kMaxChannelName || !nameCharsOk(r.value))
                return fail(DeviceError::Val, "channel name longer than 12 or with bad characters");
            if (execute)
                ch.name = r.value;
            out.text = okReply();
            return out;
        }
        double v;
        if (!parsePlainNumber(r.value, v, true))
            return fail(DeviceError::Val, "value " + r.value + " is not a plain decimal number");
        double lo = r.par == "VSET" ? ch.vmin : ch.imin, hi = r.par == "VSET" ? ch.vmax : ch.imax;
        if (v < lo || v > hi)
            return fail(DeviceError::Val);
        if (execute)
            (r.par == "VSET" ? ch.vset : ch.iset) = v;
        out.text = okReply();
        return out;
    }

    void tick(double dt)
    {
        if (dt <= 0)
            return;
        std::lock_guard<std::mutex> lk(m);
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

W9300Dialect::W9300Dialect(W9300Crate crate) : impl_(std::make_unique<Impl>())
{
    impl_->c = std::move(crate);
}
W9300Dialect::~W9300Dialect() = default;

DialectReply W9300Dialect::handle(std::string_view line, bool execute)
{
    return impl_->handle(line, execute);
}
std::string W9300Dialect::errorReply(std::string_view, DeviceError kind) const
{
    return errReply(kind);
}
void W9300Dialect::tick(double seconds)
{
    impl_->tick(seconds);
}

void W9300Dialect::withCrate(const std::function<void(W9300Crate &)> &fn)
{
    std::lock_guard<std::mutex> lk(impl_->m);
    fn(impl_->c);
}

W9300Crate W9300Dialect::crate() const
{
    std::lock_guard<std::mutex> lk(impl_->m);
    return impl_->c;
}

W9300Sim::W9300Sim(W9300Crate crate) : W9300Sim(std::make_shared<W9300Dialect>(std::move(crate))) {}
W9300Sim::W9300Sim(std::shared_ptr<W9300Dialect> d) : TextLinkSim(d), model_(std::move(d)) {}
W9300Sim::~W9300Sim()
{
    stop();
}

void W9300Sim::withCrate(const std::function<void(W9300Crate &)> &fn)
{
    model_->withCrate(fn);
}
W9300Crate W9300Sim::crate() const
{
    return model_->crate();
}

W9300Channel W9300Sim::channel(int ch) const
{
    W9300Crate c = crate();
    return ch >= 0 && size_t(ch) < c.channels.size() ? c.channels[size_t(ch)] : W9300Channel{};
}

void W9300Sim::setMonitored(int ch, double vmon, double imon)
{
    withCrate([&](W9300Crate &c) {
        if (ch >= 0 && size_t(ch) < c.channels.size()) {
            auto &o = c.channels[size_t(ch)];
            o.hold = true;
            o.vmon = vmon;
            o.imon = imon;
        }
    });
}

void W9300Sim::release(int ch)
{
    withCrate([&](W9300Crate &c) {
        if (ch >= 0 && size_t(ch) < c.channels.size())
            c.channels[size_t(ch)].hold = false;
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

void W9300Sim::setLocal(bool local)
{
    withCrate([&](W9300Crate &c) { c.local = local; });
}

void W9300Sim::setExtraStatus(int ch, unsigned bits)
{
    withCrate([&](W9300Crate &c) {
        if (ch >= 0 && size_t(ch) < c.channels.size())
            c.channels[size_t(ch)].extraStatus = bits;
    });
}

} // namespace korusim
