// The BQ71XXE unit model and the device side of its "$CMD" text protocol.
// Strict on purpose: whatever the unit would not take gets its error reply
// and is marked as a protocol violation in the log.
#include "modules/bq71xxe_sim.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

#include "modules/text_request.h"

namespace korusim {

namespace {

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

std::string word5(unsigned v)
{
    char b[16];
    std::snprintf(b, sizeof b, "%05u", v & 0xFFFFu);
    return b;
}

bool isBoardMnemonic(const std::string &p)
{
    static const char *const kBoard[] = {"BDNAME", "BDNCH", "BDFREL", "BDSNUM", "BDILK", "BDALARM", "BDCLR"};
    return std::any_of(std::begin(kBoard), std::end(kBoard), [&](const char *b) { return p == b; });
}

// Mnemonics only a unit with current ranges knows.
bool isRangeMnemonic(const std::string &p)
{
    return p == "IMRANGE" || p == "IMAXL" || p == "IMDECL";
}

enum class Kind { Number, Word, Command };

bool channelSetKind(const std::string &p, Kind &k)
{
    if (p == "VSET" || p == "ISET" || p == "MAXV" || p == "RUP" || p == "RDW" || p == "TRIP")
        k = Kind::Number;
    else if (p == "IMRANGE" || p == "PDWN")
        k = Kind::Word;
    else if (p == "ON" || p == "OFF")
        k = Kind::Command;
    else
        return false;
    return true;
}

} // namespace

unsigned BQ71XXEChannel::status() const
{
    unsigned s = extraStatus;
    double target = (on && !tripped) ? std::min(vset, maxv) : 0.0;
    if (on)
        s |= kBQ71XXEOn;
    if (on && !tripped && vmon < target)
        s |= kBQ71XXERampUp;
    if (vmon > target)
        s |= kBQ71XXERampDown;
    if (vmon > 0.0 && imon >= iset)
        s |= kBQ71XXEOverCurrent;
    if (on && vset > maxv)
        s |= kBQ71XXEMaxV;
    if (tripped)
        s |= kBQ71XXETripped;
    if (kill)
        s |= kBQ71XXEKill;
    return s;
}

BQ71XXEUnit BQ71XXEUnit::make(int channelCount, bool hasRange)
{
    BQ71XXEUnit u;
    u.hasRange = hasRange;
    u.channels.resize(size_t(std::clamp(channelCount, 0, 16))); // real units have at most 8
    return u;
}

struct BQ71XXEDialect::Impl {
    mutable std::mutex m;
    BQ71XXEUnit u;

    static bool boardValue(const BQ71XXEUnit &u, const std::string &p, std::string &out)
    {
        if (p == "BDNAME")
            out = u.model;
        else if (p == "BDNCH")
            out = std::to_string(u.reportedChannels >= 0 ? size_t(u.reportedChannels) : u.channels.size());
        else if (p == "BDFREL")
            out = u.firmware;
        else if (p == "BDSNUM")
            out = std::to_string(u.serial);
        else if (p == "BDILK")
            out = u.interlockActive ? "YES" : "NO";
        else if (p == "BDALARM")
            out = word5(u.alarm);
        else
            return false;
        return true;
    }

    static bool channelValue(const BQ71XXEUnit &u, const BQ71XXEChannel &c, const std::string &p,
                             std::string &out)
    {
        const BQ71XXELimits &l = u.limits;
        if (!u.hasRange && isRangeMnemonic(p))
            return false;
        int imdec = (u.hasRange && c.lowRange) ? l.imdecl : l.imdech;
        if (p == "VSET")
            out = fixedText(c.vset, l.vsdec, 4);
        else if (p == "VMON")
            out = fixedText(std::max(0.0, c.vmon), l.vmdec, 4);
        else if (p == "ISET")
            out = fixedText(c.iset, l.isdec, 4);
        else if (p == "IMON")
            out = fixedText(std::max(0.0, c.imon), imdec, 4);
        else if (p == "IMRANGE")
            out = c.lowRange ? "LOW" : "HIGH";
        else if (p == "MAXV")
            out = fixedText(c.maxv, l.mvdec, 4);
        else if (p == "RUP")
            out = fixedText(c.rup, l.rupdec, 3);
        else if (p == "RDW")
            out = fixedText(c.rdw, l.rdwdec, 3);
        else if (p == "TRIP")
            out = fixedText(c.trip, l.tripdec, 4);
        else if (p == "PDWN")
            out = c.kill ? "KILL" : "RAMP";
        else if (p == "POL")
            out = std::string(1, c.polarity == '-' ? '-' : '+');
        else if (p == "STAT")
            out = word5(c.status() | (u.interlockActive ? unsigned(kBQ71XXEInterlock) : 0u));
        else if (p == "VMIN")
            out = std::to_string(l.vmin);
        else if (p == "VMAX")
            out = std::to_string(l.vmax);
        else if (p == "VSDEC")
            out = std::to_string(l.vsdec);
        else if (p == "VMDEC")
            out = std::to_string(l.vmdec);
        else if (p == "IMIN")
            out = std::to_string(l.imin);
        else if (p == "IMAXH")
            out = std::to_string(l.imaxh);
        else if (p == "IMAXL")
            out = std::to_string(l.imaxl);
        else if (p == "ISDEC")
            out = std::to_string(l.isdec);
        else if (p == "IMDECH")
            out = std::to_string(l.imdech);
        else if (p == "IMDECL")
            out = std::to_string(l.imdecl);
        else if (p == "MVMIN")
            out = std::to_string(l.mvmin);
        else if (p == "MVMAX")
            out = std::to_string(l.mvmax);
        else if (p == "MVDEC")
            out = std::to_string(l.mvdec);
        else if (p == "RUPMIN")
            out = std::to_string(l.rupmin);
        else if (p == "RUPMAX")
            out = std::to_string(l.rupmax);
        else if (p == "RUPDEC")
            out = std::to_string(l.rupdec);
        else if (p == "RDWMIN")
            out = std::to_string(l.rdwmin);
        else if (p == "RDWMAX")
            out = std::to_string(l.rdwmax);
        else if (p == "RDWDEC")
            out = std::to_string(l.rdwdec);
        else if (p == "TRIPMIN")
            out = std::to_string(l.tripmin);
        else if (p == "TRIPMAX")
            out = std::to_string(l.tripmax);
        else if (p == "TRIPDEC")
            out = std::to_string(l.tripdec);
        else
            return false;
        return true;
    }

    bool knownChannelMnemonic(const std::string &p) const
    {
        Kind k;
        std::string v;
        BQ71XXEChannel none;
        if (!u.hasRange && isRangeMnemonic(p))
            return false;
        return channelSetKind(p, k) || channelValue(u, none, p, v);
    }

    static bool numberLimits(const BQ71XXEUnit &u, const BQ71XXEChannel &c, const std::string &p, double &lo,
                             double &hi)
    {
        const BQ71XXELimits &l = u.limits;
        if (p == "VSET") {
            lo = l.vmin;
            hi = l.vmax;
        } else if (p == "ISET") {
            lo = l.imin;
            hi = (u.hasRange && c.lowRange) ? l.imaxl : l.imaxh;
        } else if (p == "MAXV") {
            lo = l.mvmin;
            hi = l.mvmax;
        } else if (p == "RUP") {
            lo = l.rupmin;
            hi = l.rupmax;
        } else if (p == "RDW") {
            lo = l.rdwmin;
            hi = l.rdwmax;
        } else if (p == "TRIP") {
            lo = l.tripmin;
            hi = l.tripmax;
        } else
            return false;
        return true;
    }

    bool checkChannelSet(const BQ71XXEChannel &c, const TextRequest &r, DeviceError &e,
                         std::string &why) const
    {
        Kind k;
        if (!channelSetKind(r.par, k)) {
            e = knownChannelMnemonic(r.par) ? DeviceError::Cmd : DeviceError::Par;
            return false;
        }
        if (k == Kind::Command) {
            if (r.hasValue) {
                e = DeviceError::Val;
                why = r.par + " takes no value";
                return false;
            }
            return true;
        }
        if (!r.hasValue) {
            e = DeviceError::Val;
            why = "set of " + r.par + " without a value";
            return false;
        }
        if (k == Kind::Word) {
            bool good = r.par == "IMRANGE" ? (r.value == "LOW" || r.value == "HIGH")
                                           : (r.value == "RAMP" || r.value == "KILL");
            if (!good) {
                e = DeviceError::Val;
                why = "value " + r.value + " is not a word of " + r.par;
            }
            return good;
        }
        double v, lo = 0, hi = 0;
        if (parsePlainNumber(r.value, v, true) && v < 0) {
            e = DeviceError::Val; // below every minimum: the operator's business
            return false;
        }
        if (!parsePlainNumber(r.value, v)) {
            e = DeviceError::Val;
            why = "value " + r.value + " is not a plain decimal number";
            return false;
        }
        numberLimits(u, c, r.par, lo, hi);
        if (v < lo || v > hi) {
            e = DeviceError::Val;
            return false;
        }
        return true;
    }

    void applyChannelSet(BQ71XXEChannel &c, const TextRequest &r)
    {
        if (r.par == "ON") {
            c.tripped = false;
            c.overCurrentSeconds = 0;
            if (!u.interlockActive)
                c.on = true;
        } else if (r.par == "OFF") {
            c.on = false;
            if (c.kill && !c.hold)
                c.vmon = 0, c.imon = 0;
        } else if (r.par == "IMRANGE") {
            c.lowRange = r.value == "LOW";
        } else if (r.par == "PDWN") {
            c.kill = r.value == "KILL";
        } else {
            double v = 0;
            parsePlainNumber(r.value, v);
            if (r.par == "VSET")
                c.vset = v;
            else if (r.par == "ISET")
                c.iset = v;
            else if (r.par == "MAXV")
                c.maxv = v;
            else if (r.par == "RUP")
                c.rup = v;
            else if (r.par == "RDW")
                c.rdw = v;
            else if (r.par == "TRIP")
                c.trip = v;
        }
    }

    DialectReply handle(std::string_view line, bool execute)
    {
        DialectReply out;
        TextRequest r;
        std::string bad = parseCmdRequest(line, r);
        if (!bad.empty()) {
            out.violation = bad;
            out.text = errReply(DeviceError::Cmd);
            return out;
        }
        std::lock_guard<std::mutex> lk(m);
        const int n = int(u.channels.size());
        const bool board = isBoardMnemonic(r.par);
        auto fail = [&](DeviceError e, std::string why = {}) {
            out.text = errReply(e);
            out.violation = std::move(why);
            return out;
        };

        if (board && r.hasChannel)
            return fail(DeviceError::Ch, "board parameter " + r.par + " with a channel");
        if (r.hasChannel && r.channel > n)
            return fail(DeviceError::Ch);

        if (!r.set) {
            if (r.hasValue)
                return fail(DeviceError::Val, "monitor request with a value");
            std::string v;
            if (board) {
                if (!boardValue(u, r.par, v))
                    return fail(DeviceError::Cmd, "monitor of the command " + r.par);
                out.text = valReply(v);
                return out;
            }
            if (!knownChannelMnemonic(r.par))
                return fail(DeviceError::Par);
            BQ71XXEChannel none;
            if (!channelValue(u, n > 0 ? u.channels[0] : none, r.par, v)) {
                return fail(DeviceError::Cmd, "monitor of the command " + r.par);
            }
            if (!r.hasChannel)
                return fail(DeviceError::Ch, "channel parameter " + r.par + " without a channel");
            v.clear();
            if (r.channel < n) {
                channelValue(u, u.channels[size_t(r.channel)], r.par, v);
            } else {
                for (int c = 0; c < n; ++c) {
                    std::string one;
                    channelValue(u, u.channels[size_t(c)], r.par, one);
                    v += (c ? ";" : "") + one;
                }
            }
            out.text = valReply(v);
            return out;
        }

        if (u.local)
            return fail(DeviceError::Loc);
        if (board) {
            if (r.par != "BDCLR")
                return fail(DeviceError::Cmd); // read-only board parameter
            if (r.hasValue)
                return fail(DeviceError::Val, "BDCLR takes no value");
            if (execute) {
                u.alarm = u.interlockActive ? unsigned(kBQ71XXEAlarmInterlock) : 0u;
                for (auto &c : u.channels)
                    c.tripped = false, c.overCurrentSeconds = 0;
            }
            out.text = okReply();
            return out;
        }
        if (!knownChannelMnemonic(r.par))
            return fail(DeviceError::Par);
        if (!r.hasChannel) {
            Kind k;
            if (channelSetKind(r.par, k))
                return fail(DeviceError::Ch, "channel parameter " + r.par + " without a channel");
            return fail(DeviceError::Cmd);
        }
        DeviceError e = DeviceError::Cmd;
        std::string why;
        const BQ71XXEChannel &probe =
            (r.channel < n) ? u.channels[size_t(r.channel)] : (n > 0 ? u.channels[0] : BQ71XXEChannel{});
        if (!checkChannelSet(probe, r, e, why))
            return fail(e, why);
        if (execute) {
            if (r.channel < n)
                applyChannelSet(u.channels[size_t(r.channel)], r);
            else
                for (auto &c : u.channels)
                    applyChannelSet(c, r);
        }
        out.text = okReply();
        return out;
    }

    void tick(double dt)
    {
        if (dt <= 0)
            return;
        std::lock_guard<std::mutex> lk(m);
        if (u.interlockActive)
            u.alarm |= kBQ71XXEAlarmInterlock;
        for (size_t ci = 0; ci < u.channels.size(); ++ci) {
            BQ71XXEChannel &c = u.channels[ci];
            if (u.interlockActive && c.on) {
                c.on = false;
                if (!c.hold)
                    c.vmon = 0;
            }
            if (!c.hold) {
                double target = (c.on && !c.tripped) ? std::min(c.vset, c.maxv) : 0.0;
                if (c.vmon < target)
                    c.vmon = std::min(target, c.vmon + c.rup * dt);
                else if (c.vmon > target)
                    c.vmon = (!c.on && c.kill) ? 0.0 : std::max(target, c.vmon - c.rdw * dt);
                c.imon = c.loadMOhm > 0 ? c.vmon / c.loadMOhm : 0.0;
            }
            bool over = c.vmon > 0.0 && c.imon >= c.iset;
            if (over && c.on) {
                c.overCurrentSeconds += dt;
                if (c.overCurrentSeconds >= c.trip) {
                    c.tripped = true;
                    c.on = false;
                    if (ci < 8) // the alarm word has a trip bit for channels 0..7
                        u.alarm |= 1u << ci;
                    if (c.kill && !c.hold)
                        c.vmon = 0, c.imon = 0;
                }
            } else {
                c.overCurrentSeconds = 0;
            }
        }
    }
};

BQ71XXEDialect::BQ71XXEDialect(BQ71XXEUnit unit) : impl_(std::make_unique<Impl>())
{
    impl_->u = std::move(unit);
}
BQ71XXEDialect::~BQ71XXEDialect() = default;

DialectReply BQ71XXEDialect::handle(std::string_view line, bool execute)
{
    return impl_->handle(line, execute);
}

std::string BQ71XXEDialect::errorReply(std::string_view, DeviceError kind) const
{
    return errReply(kind);
}

void BQ71XXEDialect::tick(double seconds)
{
    impl_->tick(seconds);
}

void BQ71XXEDialect::withUnit(const std::function<void(BQ71XXEUnit &)> &fn)
{
    std::lock_guard<std::mutex> lk(impl_->m);
    fn(impl_->u);
}

BQ71XXEUnit BQ71XXEDialect::unit() const
{
    std::lock_guard<std::mutex> lk(impl_->m);
    return impl_->u;
}

BQ71XXESim::BQ71XXESim(BQ71XXEUnit unit) : BQ71XXESim(std::make_shared<BQ71XXEDialect>(std::move(unit))) {}
BQ71XXESim::BQ71XXESim(std::shared_ptr<BQ71XXEDialect> d) : TextLinkSim(d), model_(std::move(d)) {}
BQ71XXESim::~BQ71XXESim()
{
    stop();
}

void BQ71XXESim::withUnit(const std::function<void(BQ71XXEUnit &)> &fn)
{
    model_->withUnit(fn);
}
BQ71XXEUnit BQ71XXESim::unit() const
{
    return model_->unit();
}

BQ71XXEChannel BQ71XXESim::channel(int ch) const
{
    BQ71XXEUnit u = unit();
    return ch >= 0 && size_t(ch) < u.channels.size() ? u.channels[size_t(ch)] : BQ71XXEChannel{};
}

void BQ71XXESim::setMonitored(int ch, double vmon, double imon)
{
    withUnit([&](BQ71XXEUnit &u) {
        if (ch >= 0 && size_t(ch) < u.channels.size()) {
            auto &c = u.channels[size_t(ch)];
            c.hold = true;
            c.vmon = vmon;
            c.imon = imon;
        }
    });
}

void BQ71XXESim::release(int ch)
{
    withUnit([&](BQ71XXEUnit &u) {
        if (ch >= 0 && size_t(ch) < u.channels.size())
            u.channels[size_t(ch)].hold = false;
    });
}

void BQ71XXESim::setInterlock(bool active)
{
    withUnit([&](BQ71XXEUnit &u) { u.interlockActive = active; });
}

void BQ71XXESim::setLocal(bool local)
{
    withUnit([&](BQ71XXEUnit &u) { u.local = local; });
}

void BQ71XXESim::setExtraStatus(int ch, unsigned bits)
{
    withUnit([&](BQ71XXEUnit &u) {
        if (ch >= 0 && size_t(ch) < u.channels.size())
            u.channels[size_t(ch)].extraStatus = bits;
    });
}

} // namespace korusim
