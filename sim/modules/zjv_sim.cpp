// The ZJV unit model and the device side of its "$CMD" text protocol.
// Strict on purpose: whatever the unit would not take gets its error reply
// and is marked as a protocol violation in the log.
#include "modules/zjv_sim.h"

#include <algorithm>
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

// Decimals of a resolution in counts per unit (100 -> 2, 10 -> 1, 1 -> 0).
int decimalsOf(int res)
{
    int d = 0;
    for (long long p = 1; p < res && d < 6; p *= 10)
        ++d;
    return d;
}

bool isBoardMnemonic(const std::string &p)
{
    return p == "BDNAME" || p == "BDNCH" || p == "BDFREL";
}
bool isSwitch(const std::string &p)
{
    return p == "ON" || p == "OFF";
}

bool isChannelReadable(const std::string &p)
{
    static const char *const k[] = {"V5",    "V48",    "VFAN",    "I5",    "I48",    "IFAN",   "STAT",
                                    "V5RES", "V48RES", "VFANRES", "I5RES", "I48RES", "IFANRES"};
    return std::any_of(std::begin(k), std::end(k), [&](const char *b) { return p == b; });
}

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
    mutable std::mutex m;
    ZJVUnit u;

    std::string channelValue(const ZJVChannel &c, const std::string &p) const
    {
        if (p == "V5")
            return fixedText(std::max(0.0, c.v5.v), decimalsOf(u.v5res));
        if (p == "V48")
            return fixedText(std::max(0.0, c.v48.v), decimalsOf(u.v48res));
        if (p == "VFAN")
            return fixedText(std::max(0.0, c.fan.v), decimalsOf(u.vfanres));
        if (p == "I5")
            return fixedText(std::max(0.0, c.v5.i), decimalsOf(u.i5res));
        if (p == "I48")
            return fixedText(std::max(0.0, c.v48.i), decimalsOf(u.i48res));
        if (p == "IFAN")
            return fixedText(std::max(0.0, c.fan.i), decimalsOf(u.ifanres));
        if (p == "STAT")
            return std::to_string(c.status());
        if (p == "V5RES")
            return std::to_string(u.v5res);
        if (p == "V48RES")
            return std::to_string(u.v48res);
        if (p == "VFANRES")
            return std::to_string(u.vfanres);
        if (p == "I5RES")
            return std::to_string(u.i5res);
        if (p == "I48RES")
            return std::to_string(u.i48res);
        if (p == "IFANRES")
            return std::to_string(u.ifanres);
        return {};
    }

    static void zero(ZJVChannel &c)
    {
        for (ZJVRail *r : {&c.v5, &c.v48, &c.fan})
            r->v = 0, r->i = 0;
    }

    static void apply(ZJVChannel &c, bool on)
    {
        if (on)
            c.tripped = false;
        c.on = on;
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
        const int n = int(u.channels.size());
        const bool board = isBoardMnemonic(r.par);
        const bool readable = isChannelReadable(r.par);
        if (!board && !readable && !isSwitch(r.par))
            return fail(DeviceError::Par);
        if (board && r.hasChannel)
            return fail(DeviceError::Ch, "unit parameter " + r.par + " with a channel");
        if (r.hasChannel && r.channel > n)
            return fail(DeviceError::Ch);

        if (!r.set) {
            if (r.hasValue)
                return fail(DeviceError::Val, "monitor request with a value");
            if (board) {
                out.text = valReply(r.par == "BDNAME"  ? u.model
                                    : r.par == "BDNCH" ? std::to_string(n)
                                                       : u.firmware);
                return out;
            }
            if (isSwitch(r.par))
                return fail(DeviceError::Cmd, "monitor of the command " + r.par);
            if (!r.hasChannel)
                return fail(DeviceError::Ch, "channel parameter " + r.par + " without a channel");
            std::string v;
            if (r.channel < n) {
                v = channelValue(u.channels[size_t(r.channel)], r.par);
            } else {
                for (int c = 0; c < n; ++c)
                    v += (c ? ";" : "") + channelValue(u.channels[size_t(c)], r.par);
            }
            out.text = valReply(v);
            return out;
        }

        if (u.local)
            return fail(DeviceError::Loc);
        if (!isSwitch(r.par))
            return fail(DeviceError::Cmd); // everything but the switch is read-only
        if (r.hasValue)
            return fail(DeviceError::Val, r.par + " takes no value");
        if (!r.hasChannel)
            return fail(DeviceError::Ch, r.par + " without a channel");
        if (execute) {
            bool on = r.par == "ON";
            if (r.channel < n)
                apply(u.channels[size_t(r.channel)], on);
            else
                for (auto &c : u.channels)
                    apply(c, on);
        }
        out.text = okReply();
        return out;
    }

    void tick(double dt)
    {
        if (dt <= 0)
            return;
        std::lock_guard<std::mutex> lk(m);
        for (auto &c : u.channels) {
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

ZJVDialect::ZJVDialect(ZJVUnit unit) : impl_(std::make_unique<Impl>())
{
    impl_->u = std::move(unit);
}
ZJVDialect::~ZJVDialect() = default;

DialectReply ZJVDialect::handle(std::string_view line, bool execute)
{
    return impl_->handle(line, execute);
}
std::string ZJVDialect::errorReply(std::string_view, DeviceError kind) const
{
    return errReply(kind);
}
void ZJVDialect::tick(double seconds)
{
    impl_->tick(seconds);
}

void ZJVDialect::withUnit(const std::function<void(ZJVUnit &)> &fn)
{
    std::lock_guard<std::mutex> lk(impl_->m);
    fn(impl_->u);
}

ZJVUnit ZJVDialect::unit() const
{
    std::lock_guard<std::mutex> lk(impl_->m);
    return impl_->u;
}

ZJVSim::ZJVSim(ZJVUnit unit) : ZJVSim(std::make_shared<ZJVDialect>(std::move(unit))) {}
ZJVSim::ZJVSim(std::shared_ptr<ZJVDialect> d) : TextLinkSim(d), model_(std::move(d)) {}
ZJVSim::~ZJVSim()
{
    stop();
}

void ZJVSim::withUnit(const std::function<void(ZJVUnit &)> &fn)
{
    model_->withUnit(fn);
}
ZJVUnit ZJVSim::unit() const
{
    return model_->unit();
}

ZJVChannel ZJVSim::channel(int ch) const
{
    ZJVUnit u = unit();
    return ch >= 0 && size_t(ch) < u.channels.size() ? u.channels[size_t(ch)] : ZJVChannel{};
}

void ZJVSim::setMonitored(int ch, double v5, double i5, double v48, double i48, double vfan, double ifan)
{
    withUnit([&](ZJVUnit &u) {
        if (ch < 0 || size_t(ch) >= u.channels.size())
            return;
        ZJVChannel &c = u.channels[size_t(ch)];
        c.hold = true;
        c.v5.v = v5, c.v5.i = i5;
        c.v48.v = v48, c.v48.i = i48;
        c.fan.v = vfan, c.fan.i = ifan;
    });
}

void ZJVSim::release(int ch)
{
    withUnit([&](ZJVUnit &u) {
        if (ch >= 0 && size_t(ch) < u.channels.size())
            u.channels[size_t(ch)].hold = false;
    });
}

void ZJVSim::setLocal(bool local)
{
    withUnit([&](ZJVUnit &u) { u.local = local; });
}

void ZJVSim::setExtraStatus(int ch, unsigned bits)
{
    withUnit([&](ZJVUnit &u) {
        if (ch >= 0 && size_t(ch) < u.channels.size())
            u.channels[size_t(ch)].extraStatus = bits;
    });
}

} // namespace korusim
