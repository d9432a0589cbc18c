// The ZORN unit model and the device side of its query grammar. Requests
// the unit would refuse get "#NAK"; those a correct client never sends
// (unknown mnemonics, malformed numbers, settings of monitored values) are
// also marked as protocol violations in the log.
#include "modules/zorn_sim.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>

namespace korusim {

namespace {

constexpr const char *kAck = "#AK";
constexpr const char *kNak = "#NAK";

// A plain decimal number as "%f" prints it: optional '-', digits,
// optionally '.' and digits.
bool parseNumber(std::string_view s, double &out)
{
    bool neg = false;
    if (!s.empty() && s[0] == '-') {
        neg = true;
        s.remove_prefix(1);
    }
    size_t i = 0, whole = 0;
    double v = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9' && whole < 12) {
        v = v * 10 + (s[i++] - '0');
        ++whole;
    }
    if (whole == 0)
        return false;
    if (i < s.size()) {
        if (s[i++] != '.')
            return false;
        double scale = 0.1;
        size_t frac = 0;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9' && frac < 12) {
            v += (s[i++] - '0') * scale;
            scale /= 10;
            ++frac;
        }
        if (frac == 0 || i != s.size())
            return false;
    }
    out = neg ? -v : v;
    return true;
}

std::string fixed(double v, int dec)
{
    char b[64];
    std::snprintf(b, sizeof b, "%.*f", dec, v);
    return b;
}

// Output targets of the regulation: the set value of the loop, bounded by
// the other set value through the load.
double voltageTarget(const ZornUnit &u)
{
    if (!u.on)
        return 0;
    return std::min(u.vset, u.loadOhm > 0 ? u.iset * u.loadOhm : u.vset);
}

double currentTarget(const ZornUnit &u)
{
    if (!u.on)
        return 0;
    return std::min(u.iset, u.loadOhm > 0 ? u.vset / u.loadOhm : 0.0);
}

// Present causes of the latched alarms.
unsigned alarmCauses(const ZornUnit &u)
{
    unsigned a = 0;
    if (u.temp > u.tempLimit || u.tempIgbt > u.tempLimit || u.tempHf > u.tempLimit)
        a |= kZornOverTemp;
    if (u.interlockOpen)
        a |= kZornInterlock;
    if (u.groundCurrent > u.groundLimit)
        a |= kZornGroundFault;
    return a;
}

// Takes the output to its targets at once (direct set values, output off).
void snap(ZornUnit &u)
{
    if (u.hold)
        return;
    if (u.currentLoop) {
        u.imon = currentTarget(u);
        u.vmon = u.imon * u.loadOhm;
    } else {
        u.vmon = voltageTarget(u);
        u.imon = u.loadOhm > 0 ? u.vmon / u.loadOhm : 0;
    }
}

} // namespace

unsigned ZornUnit::status() const
{
    unsigned s = extraStatus | alarms;
    if (on)
        s |= kZornOutputOn;
    bool ramping = currentLoop ? std::fabs(imon - currentTarget(*this)) > 1e-6
                               : std::fabs(vmon - voltageTarget(*this)) > 1e-6;
    if (ramping)
        s |= kZornRamping;
    // Regulating current: in the current loop unless the voltage limits it,
    // in the voltage loop when the current limit holds the output down.
    if (on && loadOhm > 0 && (currentLoop ? iset * loadOhm <= vset : iset * loadOhm < vset))
        s |= kZornCurrentLoop;
    if (analog)
        s |= kZornAnalogMode;
    return s;
}

struct ZornDialect::Impl {
    mutable std::mutex m;
    ZornUnit u;

    // The value a query of `mn` reads; false for a mnemonic that cannot be read.
    bool query(const std::string &mn, std::string &v) const
    {
        char b[32];
        if (mn == "MRID")
            v = u.model;
        else if (mn == "VER")
            v = u.version;
        else if (mn == "MRV")
            v = fixed(u.vmon, 3);
        else if (mn == "MRI")
            v = fixed(u.imon, 3);
        else if (mn == "MWVR" || mn == "MWV")
            v = fixed(u.vset, 3);
        else if (mn == "MWIR" || mn == "MWI")
            v = fixed(u.iset, 3);
        else if (mn == "MSRV")
            v = fixed(u.vramp, 3);
        else if (mn == "MSRI")
            v = fixed(u.iramp, 3);
        else if (mn == "LOOP")
            v = u.currentLoop ? "I" : "V";
        else if (mn == "UPMODE")
            v = u.analog ? "ANALOG" : "NORMAL";
        else if (mn == "MGC")
            v = fixed(u.groundCurrent, 6);
        else if (mn == "MRT")
            v = fixed(u.temp, 2);
        else if (mn == "MRT:1")
            v = fixed(u.tempIgbt, 2);
        else if (mn == "MRT:2")
            v = fixed(u.tempHf, 2);
        else if (mn == "MST") {
            std::snprintf(b, sizeof b, "%08X", u.status());
            v = b;
        } else
            return false;
        return true;
    }

    static bool isCommand(const std::string &mn) { return mn == "MON" || mn == "MOFF" || mn == "MRESET"; }

    DialectReply handle(std::string_view line, bool execute)
    {
        DialectReply out;
        std::lock_guard<std::mutex> lk(m);
        std::string s(line);
        if (s.empty() || s.find_first_of(" \t#") != std::string::npos) {
            out.violation = "empty or malformed request";
            out.text = kNak;
            return out;
        }

        if (s.size() > 2 && s.compare(s.size() - 2, 2, ":?") == 0) {
            std::string mn = s.substr(0, s.size() - 2);
            std::string v;
            if (!query(mn, v)) {
                out.violation =
                    isCommand(mn) ? "query of the command " + mn : "query of unknown mnemonic " + mn;
                out.text = kNak;
                return out;
            }
            out.text = "#" + mn.substr(0, mn.find(':')) + ":" + v;
            return out;
        }

        size_t colon = s.find(':');
        if (colon == std::string::npos) {
            if (!isCommand(s)) {
                std::string v;
                out.violation = query(s, v) ? s + " without a value or a query" : "unknown command " + s;
                out.text = kNak;
                return out;
            }
            if (u.local) {
                out.text = kNak;
                return out;
            }
            if (s == "MON") {
                if (u.alarms) { // latched alarms keep the output off until MRESET
                    out.text = kNak;
                    return out;
                }
                if (execute)
                    u.on = true;
            } else if (s == "MOFF") {
                if (execute) {
                    u.on = false;
                    snap(u);
                }
            } else if (execute) {
                u.alarms &= alarmCauses(u);
            }
            out.text = kAck;
            return out;
        }

        std::string mn = s.substr(0, colon);
        std::string val = s.substr(colon + 1);
        auto nak = [&](std::string why) {
            out.violation = std::move(why);
            out.text = kNak;
            return out;
        };
        if (mn == "LOOP" || mn == "UPMODE") {
            const char *one = mn == "LOOP" ? "I" : "ANALOG";
            const char *zero = mn == "LOOP" ? "V" : "NORMAL";
            bool on;
            if (val == "1" || val == one)
                on = true;
            else if (val == "0" || val == zero)
                on = false;
            else
                return nak("value " + val + " of " + mn + " is neither 1, 0, " + one + " nor " + zero);
            if (u.local)
                return nak({});
            if (execute) {
                if (mn == "LOOP")
                    u.currentLoop = on;
                else
                    u.analog = on;
            }
            out.text = kAck;
            return out;
        }
        double lo, hi;
        if (mn == "MWVR" || mn == "MWV")
            lo = 0, hi = u.vmax;
        else if (mn == "MWIR" || mn == "MWI")
            lo = 0, hi = u.imax;
        else if (mn == "MSRV")
            lo = 1, hi = u.vmax;
        else if (mn == "MSRI")
            lo = 1, hi = u.imax;
        else {
            std::string v;
            return nak(query(mn, v) ? "setting of the monitored value " + mn
                                    : "setting of unknown mnemonic " + mn);
        }
        double x;
        if (!parseNumber(val, x))
            return nak("value " + val + " of " + mn + " is not a plain decimal number");
        if (u.local || x < lo || x > hi)
            return nak({}); // refused, but a request a client may well send
        if (execute) {
            if (mn == "MWVR" || mn == "MWV")
                u.vset = x;
            else if (mn == "MWIR" || mn == "MWI")
                u.iset = x;
            else if (mn == "MSRV")
                u.vramp = x;
            else
                u.iramp = x;
            if (mn == "MWV" || mn == "MWI")
                snap(u);
        }
        out.text = kAck;
        return out;
    }

    void tick(double dt)
    {
        if (dt <= 0)
            return;
        std::lock_guard<std::mutex> lk(m);
        u.alarms |= alarmCauses(u);
        if (u.alarms && u.on) {
            u.on = false;
            snap(u);
        }
        if (u.hold)
            return;
        if (!u.on) {
            snap(u);
            return;
        }
        if (u.currentLoop) {
            double t = currentTarget(u);
            double step = u.iramp * dt;
            u.imon = u.imon < t ? std::min(t, u.imon + step) : std::max(t, u.imon - step);
            u.vmon = u.imon * u.loadOhm;
        } else {
            double t = voltageTarget(u);
            double step = u.vramp * dt;
            u.vmon = u.vmon < t ? std::min(t, u.vmon + step) : std::max(t, u.vmon - step);
            u.imon = u.loadOhm > 0 ? u.vmon / u.loadOhm : 0;
        }
    }
};

ZornDialect::ZornDialect(ZornUnit unit) : impl_(std::make_unique<Impl>())
{
    impl_->u = std::move(unit);
}

ZornDialect::~ZornDialect() = default;

DialectReply ZornDialect::handle(std::string_view line, bool execute)
{
    return impl_->handle(line, execute);
}

std::string ZornDialect::errorReply(std::string_view, DeviceError) const
{
    return kNak;
}

void ZornDialect::tick(double seconds)
{
    impl_->tick(seconds);
}

void ZornDialect::withUnit(const std::function<void(ZornUnit &)> &fn)
{
    std::lock_guard<std::mutex> lk(impl_->m);
    fn(impl_->u);
}

ZornUnit ZornDialect::copyUnit() const
{
    std::lock_guard<std::mutex> lk(impl_->m);
    return impl_->u;
}

ZornSim::ZornSim(ZornUnit unit) : ZornSim(std::make_shared<ZornDialect>(std::move(unit))) {}

ZornSim::ZornSim(std::shared_ptr<ZornDialect> d) : TextLinkSim(d), zorn_(std::move(d)) {}

ZornSim::~ZornSim()
{
    stop();
}

void ZornSim::withUnit(const std::function<void(ZornUnit &)> &fn)
{
    zorn_->withUnit(fn);
}

ZornUnit ZornSim::unit() const
{
    return zorn_->copyUnit();
}

void ZornSim::setMonitored(double vmon, double imon)
{
    withUnit([&](ZornUnit &u) {
        u.hold = true;
        u.vmon = vmon;
        u.imon = imon;
    });
}

void ZornSim::release()
{
    withUnit([](ZornUnit &u) { u.hold = false; });
}

void ZornSim::setTemperatures(double t, double igbt, double hf)
{
    withUnit([&](ZornUnit &u) {
        u.temp = t;
        u.tempIgbt = igbt;
        u.tempHf = hf;
    });
}

void ZornSim::setGroundCurrent(double a)
{
    withUnit([&](ZornUnit &u) { u.groundCurrent = a; });
}

void ZornSim::setInterlock(bool open)
{
    withUnit([&](ZornUnit &u) { u.interlockOpen = open; });
}

void ZornSim::setLocal(bool local)
{
    withUnit([&](ZornUnit &u) { u.local = local; });
}

void ZornSim::setExtraStatus(unsigned bits)
{
    withUnit([&](ZornUnit &u) { u.extraStatus = bits; });
}

} // namespace korusim
