// The L2290 module model and the device side of its text protocol. The
// parser is strict on purpose: anything a real module would not take gets
// the module's error reply and is marked as a protocol violation in the log.
#include "modules/l2290_sim.h"

#include <algorithm>

#include "modules/hv_channel.h"

namespace korusim {

namespace {

using Module = L2290Module;
using Channel = L2290Channel;
using Limits = L2290Limits;

// Four integer digits and the reported decimals ("0150.0"); never negative.
std::string number(double v, int dec, int intDigits = 4)
{
    return fixedText(std::max(0.0, v), dec, intDigits);
}

int imonDecimals(const Module &m, const Channel &c)
{
    return c.lowRange ? m.limits.imdecLow : m.limits.imdecHigh;
}

const BoardRow<Module> kBoardRows[] = {
    {"BDNAME", [](const Module &m) { return m.model; }},
    {"BDNCH", [](const Module &m) { return std::to_string(m.channels.size()); }},
    {"BDFREL", [](const Module &m) { return m.firmware; }},
    {"BDSNUM", [](const Module &m) { return std::to_string(m.serial); }},
    {"BDILK", [](const Module &m) { return std::string(m.interlockActive ? "YES" : "NO"); }},
    {"BDILKM", [](const Module &m) { return std::string(m.interlockClosed ? "CLOSED" : "OPEN"); }},
    {"BDCTR", [](const Module &m) { return std::string(m.local ? "LOCAL" : "REMOTE"); }},
    {"BDTERM", [](const Module &m) { return std::string(m.termination ? "ON" : "OFF"); }},
    {"BDALARM", [](const Module &m) { return word5(m.alarm); }},
};

// Board mnemonics: the readable ones and the command BDCLR.
bool isBoardMnemonic(const std::string &p)
{
    return p == "BDCLR" || findRow(kBoardRows, p);
}

const ReadRow<Module, Channel> kChannelRows[] = {
    {"VSET", [](const Module &m, const Channel &c) { return number(c.vset, m.limits.vdec); }},
    {"VMON", [](const Module &m, const Channel &c) { return number(c.vmon, m.limits.vdec); }},
    {"ISET", [](const Module &m, const Channel &c) { return number(c.iset, m.limits.isdec); }},
    {"IMON", [](const Module &m, const Channel &c) { return number(c.imon, imonDecimals(m, c)); }},
    {"IMRANGE", [](const Module &, const Channel &c) { return std::string(c.lowRange ? "LOW" : "HIGH"); }},
    {"MAXV", [](const Module &m, const Channel &c) { return number(c.maxv, m.limits.mvdec); }},
    {"RUP", [](const Module &m, const Channel &c) { return number(c.rup, m.limits.rupdec, 3); }},
    {"RDW", [](const Module &m, const Channel &c) { return number(c.rdw, m.limits.rdwdec, 3); }},
    {"TRIP", [](const Module &m, const Channel &c) { return number(c.trip, m.limits.tripdec); }},
    {"PDWN", [](const Module &, const Channel &c) { return std::string(c.kill ? "KILL" : "RAMP"); }},
    {"POL", [](const Module &, const Channel &c) { return std::string(1, c.polarity == '-' ? '-' : '+'); }},
    {"STAT",
     [](const Module &m, const Channel &c) {
         return word5(c.status() | (m.interlockActive ? unsigned(kL2290Interlock) : 0u));
     }},
    {"IMDEC", [](const Module &m, const Channel &c) { return std::to_string(imonDecimals(m, c)); }},
};

const LimitRow<Limits> kLimitRows[] = {
    {"VMIN", &Limits::vmin},       {"VMAX", &Limits::vmax},       {"VDEC", &Limits::vdec},
    {"IMIN", &Limits::imin},       {"IMAX", &Limits::imax},       {"ISDEC", &Limits::isdec},
    {"MVMIN", &Limits::mvmin},     {"MVMAX", &Limits::mvmax},     {"MVDEC", &Limits::mvdec},
    {"RUPMIN", &Limits::rupmin},   {"RUPMAX", &Limits::rupmax},   {"RUPDEC", &Limits::rupdec},
    {"RDWMIN", &Limits::rdwmin},   {"RDWMAX", &Limits::rdwmax},   {"RDWDEC", &Limits::rdwdec},
    {"TRIPMIN", &Limits::tripmin}, {"TRIPMAX", &Limits::tripmax}, {"TRIPDEC", &Limits::tripdec},
};

const HvNumberTable<Limits, Channel> kNumbers = {
    {"VSET", &Channel::vset, &Limits::vmin, &Limits::vmax},
    {"ISET", &Channel::iset, &Limits::imin, &Limits::imax},
    {"MAXV", &Channel::maxv, &Limits::mvmin, &Limits::mvmax},
    {"RUP", &Channel::rup, &Limits::rupmin, &Limits::rupmax},
    {"RDW", &Channel::rdw, &Limits::rdwmin, &Limits::rdwmax},
    {"TRIP", &Channel::trip, &Limits::tripmin, &Limits::tripmax},
};

bool readable(const std::string &p)
{
    return findRow(kChannelRows, p) || findRow(kLimitRows, p);
}

std::string channelValue(const Module &m, const Channel &c, const std::string &p)
{
    if (const auto *row = findRow(kChannelRows, p))
        return row->read(m, c);
    return std::to_string(m.limits.*(findRow(kLimitRows, p)->field));
}

// A minus sign before a number: below every minimum.
bool negative(const std::string &v)
{
    double x;
    return v.size() > 1 && v[0] == '-' &&
           parsePlainNumber(std::string_view(v).substr(1), x, false, size_t(-1));
}

} // namespace

unsigned L2290Channel::status() const
{
    return hvStatus(*this, true, false);
}

L2290Module L2290Module::make(int address, int channelCount)
{
    L2290Module m;
    m.address = address;
    m.serial = 1000 + address;
    m.channels.resize(size_t(std::max(0, channelCount)));
    return m;
}

struct L2290Dialect::Impl {
    explicit Impl(UnitBus<Module, &Module::address> &bus) : bus(bus) {}
    UnitBus<Module, &Module::address> &bus;

    DialectReply monitor(const Module &mod, const TextRequest &r, Answer &ans, bool board)
    {
        const int a = mod.address, n = int(mod.channels.size());
        if (r.hasValue)
            return ans.fail(DeviceError::Val, "monitor request with a value");
        if (board) {
            const auto *row = findRow(kBoardRows, r.par);
            return row ? Answer::text(bdValue(a, row->read(mod))) : ans.fail(DeviceError::Cmd); // BDCLR
        }
        HvSetKind k;
        if (!readable(r.par))
            return ans.fail(hvSetKind(r.par, k) ? DeviceError::Cmd : DeviceError::Par);
        if (!r.hasChannel)
            return ans.fail(DeviceError::Ch, "channel parameter " + r.par + " without a channel");
        return Answer::text(bdValue(a, eachChannelValue(r.channel, n, [&](int c) {
                                        return channelValue(mod, mod.channels[size_t(c)], r.par);
                                    })));
    }

    DialectReply setBoard(Module &mod, const TextRequest &r, Answer &ans, bool execute)
    {
        if (r.par == "BDCLR") {
            if (r.hasValue)
                return ans.fail(DeviceError::Val, "BDCLR takes no value");
            if (execute) {
                mod.alarm = 0;
                for (auto &c : mod.channels)
                    c.tripped = false, c.overCurrentSeconds = 0;
                if (mod.interlockActive)
                    mod.alarm |= kL2290AlarmInterlock;
            }
        } else if (r.par == "BDILKM") {
            if (!r.hasValue || (r.value != "OPEN" && r.value != "CLOSED"))
                return ans.fail(DeviceError::Val, "BDILKM needs VAL:OPEN or VAL:CLOSED");
            if (execute)
                mod.interlockClosed = r.value == "CLOSED";
        } else {
            return ans.fail(DeviceError::Cmd); // read-only board parameter
        }
        return Answer::text(bdOk(mod.address));
    }

    DialectReply setChannel(Module &mod, const TextRequest &r, Answer &ans, bool execute)
    {
        HvSetKind k;
        const bool settable = hvSetKind(r.par, k);
        if (!r.hasChannel)
            return settable ? ans.fail(DeviceError::Ch, "channel parameter " + r.par + " without a channel")
                            : ans.fail(DeviceError::Par);
        if (!settable)
            return ans.fail(!mod.channels.empty() && readable(r.par) ? DeviceError::Cmd : DeviceError::Par);
        DeviceError e = DeviceError::Cmd;
        std::string why;
        if (!hvCheckValue(kNumbers, mod.limits, false, r, negative, size_t(-1), e, why))
            return ans.fail(e, why);
        if (execute)
            eachChannel(mod.channels, r.channel,
                        [&](Channel &c) { hvApplySet(kNumbers, c, r, mod.interlockActive); });
        return Answer::text(bdOk(mod.address));
    }

    DialectReply handle(std::string_view line, bool execute)
    {
        DialectReply out;
        TextRequest r;
        std::lock_guard<std::mutex> lk(bus.m);
        Module *mod = bdTarget(bus, line, r, out);
        if (!mod)
            return out; // malformed, or nobody at that address answers
        Answer ans([a = mod->address](DeviceError k) { return bdError(a, k); });
        const bool board = isBoardMnemonic(r.par);
        if (board && r.hasChannel)
            return ans.fail(DeviceError::Ch, "board parameter " + r.par + " with a channel");
        if (r.hasChannel && r.channel > int(mod->channels.size()))
            return ans.fail(DeviceError::Ch);
        if (!r.set)
            return monitor(*mod, r, ans, board);
        if (mod->local)
            return ans.fail(DeviceError::Loc);
        return board ? setBoard(*mod, r, ans, execute) : setChannel(*mod, r, ans, execute);
    }

    void tick(double dt)
    {
        if (dt <= 0)
            return;
        std::lock_guard<std::mutex> lk(bus.m);
        for (auto &mod : bus.units) {
            if (mod.interlockActive)
                mod.alarm |= kL2290AlarmInterlock;
            for (size_t ci = 0; ci < mod.channels.size(); ++ci)
                if (hvTick(mod.channels[ci], dt, mod.interlockActive))
                    mod.alarm |= 1u << (ci & 31);
        }
    }
};

L2290Dialect::L2290Dialect(std::vector<L2290Module> modules)
    : BusDialect(std::move(modules)), impl_(std::make_unique<Impl>(bus_))
{
}

L2290Dialect::~L2290Dialect() = default;

DialectReply L2290Dialect::handle(std::string_view line, bool execute)
{
    return impl_->handle(line, execute);
}

std::string L2290Dialect::errorReply(std::string_view line, DeviceError kind) const
{
    return bdErrorFor(line, kind);
}

void L2290Dialect::tick(double seconds)
{
    impl_->tick(seconds);
}

L2290Sim::L2290Sim(std::vector<L2290Module> modules)
    : L2290Sim(std::make_shared<L2290Dialect>(std::move(modules)))
{
}

L2290Sim::L2290Sim(std::shared_ptr<L2290Dialect> d) : BusSim(std::move(d)) {}

void L2290Sim::setMonitored(int address, int ch, double vmon, double imon)
{
    onModuleChannel(address, ch, [&](L2290Channel &c) { hvHold(c, vmon, imon); });
}

void L2290Sim::release(int address, int ch)
{
    onModuleChannel(address, ch, [](L2290Channel &c) { c.hold = false; });
}

void L2290Sim::setInterlock(int address, bool active)
{
    withModule(address, [&](L2290Module &m) { m.interlockActive = active; });
}

void L2290Sim::setExtraStatus(int address, int ch, unsigned bits)
{
    onModuleChannel(address, ch, [&](L2290Channel &c) { c.extraStatus = bits; });
}

} // namespace korusim
