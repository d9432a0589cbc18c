// The BQ71XXE unit model and the device side of its "$CMD" text protocol.
// Strict on purpose: whatever the unit would not take gets its error reply
// and is marked as a protocol violation in the log.
#include "modules/bq71xxe_sim.h"

#include <algorithm>

#include "modules/hv_channel.h"

namespace korusim {

namespace {

using Unit = BQ71XXEUnit;
using Channel = BQ71XXEChannel;
using Limits = BQ71XXELimits;

std::string number(double v, int dec, int intDigits = 4)
{
    return fixedText(v, dec, intDigits);
}

int imonDecimals(const Unit &u, const Channel &c)
{
    return (u.hasRange && c.lowRange) ? u.limits.imdecl : u.limits.imdech;
}

const BoardRow<Unit> kBoardRows[] = {
    {"BDNAME", [](const Unit &u) { return u.model; }},
    {"BDNCH",
     [](const Unit &u) {
         return std::to_string(u.reportedChannels >= 0 ? size_t(u.reportedChannels) : u.channels.size());
     }},
    {"BDFREL", [](const Unit &u) { return u.firmware; }},
    {"BDSNUM", [](const Unit &u) { return std::to_string(u.serial); }},
    {"BDILK", [](const Unit &u) { return std::string(u.interlockActive ? "YES" : "NO"); }},
    {"BDALARM", [](const Unit &u) { return word5(u.alarm); }},
};

bool isBoardMnemonic(const std::string &p)
{
    return p == "BDCLR" || findRow(kBoardRows, p);
}

// Mnemonics only a unit with current ranges knows.
bool isRangeMnemonic(const std::string &p)
{
    return p == "IMRANGE" || p == "IMAXL" || p == "IMDECL";
}

const ReadRow<Unit, Channel> kChannelRows[] = {
    {"VSET", [](const Unit &u, const Channel &c) { return number(c.vset, u.limits.vsdec); }},
    {"VMON", [](const Unit &u, const Channel &c) { return number(std::max(0.0, c.vmon), u.limits.vmdec); }},
    {"ISET", [](const Unit &u, const Channel &c) { return number(c.iset, u.limits.isdec); }},
    {"IMON",
     [](const Unit &u, const Channel &c) { return number(std::max(0.0, c.imon), imonDecimals(u, c)); }},
    {"IMRANGE", [](const Unit &, const Channel &c) { return std::string(c.lowRange ? "LOW" : "HIGH"); }},
    {"MAXV", [](const Unit &u, const Channel &c) { return number(c.maxv, u.limits.mvdec); }},
    {"RUP", [](const Unit &u, const Channel &c) { return number(c.rup, u.limits.rupdec, 3); }},
    {"RDW", [](const Unit &u, const Channel &c) { return number(c.rdw, u.limits.rdwdec, 3); }},
    {"TRIP", [](const Unit &u, const Channel &c) { return number(c.trip, u.limits.tripdec); }},
    {"PDWN", [](const Unit &, const Channel &c) { return std::string(c.kill ? "KILL" : "RAMP"); }},
    {"POL", [](const Unit &, const Channel &c) { return std::string(1, c.polarity == '-' ? '-' : '+'); }},
    {"STAT",
     [](const Unit &u, const Channel &c) {
         return word5(c.status() | (u.interlockActive ? unsigned(kBQ71XXEInterlock) : 0u));
     }},
};

const LimitRow<Limits> kLimitRows[] = {
    {"VMIN", &Limits::vmin},       {"VMAX", &Limits::vmax},       {"VSDEC", &Limits::vsdec},
    {"VMDEC", &Limits::vmdec},     {"IMIN", &Limits::imin},       {"IMAXH", &Limits::imaxh},
    {"IMAXL", &Limits::imaxl},     {"ISDEC", &Limits::isdec},     {"IMDECH", &Limits::imdech},
    {"IMDECL", &Limits::imdecl},   {"MVMIN", &Limits::mvmin},     {"MVMAX", &Limits::mvmax},
    {"MVDEC", &Limits::mvdec},     {"RUPMIN", &Limits::rupmin},   {"RUPMAX", &Limits::rupmax},
    {"RUPDEC", &Limits::rupdec},   {"RDWMIN", &Limits::rdwmin},   {"RDWMAX", &Limits::rdwmax},
    {"RDWDEC", &Limits::rdwdec},   {"TRIPMIN", &Limits::tripmin}, {"TRIPMAX", &Limits::tripmax},
    {"TRIPDEC", &Limits::tripdec},
};

const HvNumberTable<Limits, Channel> kNumbers = {
    {"VSET", &Channel::vset, &Limits::vmin, &Limits::vmax},
    {"ISET", &Channel::iset, &Limits::imin, &Limits::imaxh, &Limits::imaxl},
    {"MAXV", &Channel::maxv, &Limits::mvmin, &Limits::mvmax},
    {"RUP", &Channel::rup, &Limits::rupmin, &Limits::rupmax},
    {"RDW", &Channel::rdw, &Limits::rdwmin, &Limits::rdwmax},
    {"TRIP", &Channel::trip, &Limits::tripmin, &Limits::tripmax},
};

bool readable(const Unit &u, const std::string &p)
{
    if (!u.hasRange && isRangeMnemonic(p))
        return false;
    return findRow(kChannelRows, p) || findRow(kLimitRows, p);
}

bool known(const Unit &u, const std::string &p)
{
    HvSetKind k;
    if (!u.hasRange && isRangeMnemonic(p))
        return false;
    return hvSetKind(p, k) || readable(u, p);
}

std::string channelValue(const Unit &u, const Channel &c, const std::string &p)
{
    if (const auto *row = findRow(kChannelRows, p))
        return row->read(u, c);
    return std::to_string(u.limits.*(findRow(kLimitRows, p)->field));
}

// A negative number: below every minimum.
bool negative(const std::string &v)
{
    double x;
    return parsePlainNumber(v, x, true) && x < 0;
}

} // namespace

unsigned BQ71XXEChannel::status() const
{
    return hvStatus(*this, false, true);
}

BQ71XXEUnit BQ71XXEUnit::make(int channelCount, bool hasRange)
{
    BQ71XXEUnit u;
    u.hasRange = hasRange;
    u.channels.resize(size_t(std::clamp(channelCount, 0, 16))); // real units have at most 8
    return u;
}

struct BQ71XXEDialect::Impl {
    explicit Impl(OneUnit<Unit> &one) : one(one) {}
    OneUnit<Unit> &one;
    Answer ans{cmdError};

    DialectReply monitor(const Unit &u, const TextRequest &r, bool board)
    {
        const int n = int(u.channels.size());
        if (r.hasValue)
            return ans.fail(DeviceError::Val, "monitor request with a value");
        if (board) {
            const auto *row = findRow(kBoardRows, r.par);
            return row ? Answer::text(cmdValue(row->read(u)))
                       : ans.fail(DeviceError::Cmd, "monitor of the command " + r.par);
        }
        if (!known(u, r.par))
            return ans.fail(DeviceError::Par);
        if (!readable(u, r.par))
            return ans.fail(DeviceError::Cmd, "monitor of the command " + r.par);
        if (!r.hasChannel)
            return ans.fail(DeviceError::Ch, "channel parameter " + r.par + " without a channel");
        return Answer::text(cmdValue(eachChannelValue(
            r.channel, n, [&](int c) { return channelValue(u, u.channels[size_t(c)], r.par); })));
    }

    DialectReply clearAlarms(Unit &u, const TextRequest &r, bool execute)
    {
        if (r.par != "BDCLR")
            return ans.fail(DeviceError::Cmd); // read-only board parameter
        if (r.hasValue)
            return ans.fail(DeviceError::Val, "BDCLR takes no value");
        if (execute) {
            u.alarm = u.interlockActive ? unsigned(kBQ71XXEAlarmInterlock) : 0u;
            for (auto &c : u.channels)
                c.tripped = false, c.overCurrentSeconds = 0;
        }
        return Answer::text(cmdOk());
    }

    DialectReply setChannel(Unit &u, const TextRequest &r, bool execute)
    {
        const int n = int(u.channels.size());
        HvSetKind k;
        const bool settable = hvSetKind(r.par, k);
        if (!known(u, r.par))
            return ans.fail(DeviceError::Par);
        if (!r.hasChannel)
            return settable ? ans.fail(DeviceError::Ch, "channel parameter " + r.par + " without a channel")
                            : ans.fail(DeviceError::Cmd);
        if (!settable)
            return ans.fail(DeviceError::Cmd);
        const Channel &probe =
            (r.channel < n) ? u.channels[size_t(r.channel)] : (n > 0 ? u.channels[0] : Channel{});
        DeviceError e = DeviceError::Cmd;
        std::string why;
        if (!hvCheckValue(kNumbers, u.limits, u.hasRange && probe.lowRange, r, negative, 15, e, why))
            return ans.fail(e, why);
        if (execute)
            eachChannel(u.channels, r.channel,
                        [&](Channel &c) { hvApplySet(kNumbers, c, r, u.interlockActive); });
        return Answer::text(cmdOk());
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
        if (board && r.hasChannel)
            return ans.fail(DeviceError::Ch, "board parameter " + r.par + " with a channel");
        if (r.hasChannel && r.channel > int(u.channels.size()))
            return ans.fail(DeviceError::Ch);
        if (!r.set)
            return monitor(u, r, board);
        if (u.local)
            return ans.fail(DeviceError::Loc);
        return board ? clearAlarms(u, r, execute) : setChannel(u, r, execute);
    }

    void tick(double dt)
    {
        if (dt <= 0)
            return;
        std::lock_guard<std::mutex> lk(one.m);
        Unit &u = one.unit;
        if (u.interlockActive)
            u.alarm |= kBQ71XXEAlarmInterlock;
        for (size_t ci = 0; ci < u.channels.size(); ++ci)
            if (hvTick(u.channels[ci], dt, u.interlockActive) && ci < 8) // trip bits for channels 0..7
                u.alarm |= 1u << ci;
    }
};

BQ71XXEDialect::BQ71XXEDialect(BQ71XXEUnit unit)
    : OneUnitDialect(std::move(unit)), impl_(std::make_unique<Impl>(one_))
{
}
BQ71XXEDialect::~BQ71XXEDialect() = default;

DialectReply BQ71XXEDialect::handle(std::string_view line, bool execute)
{
    return impl_->handle(line, execute);
}

void BQ71XXEDialect::tick(double seconds)
{
    impl_->tick(seconds);
}

BQ71XXESim::BQ71XXESim(BQ71XXEUnit unit) : BQ71XXESim(std::make_shared<BQ71XXEDialect>(std::move(unit))) {}
BQ71XXESim::BQ71XXESim(std::shared_ptr<BQ71XXEDialect> d) : OneUnitSim(std::move(d)) {}
void BQ71XXESim::setMonitored(int ch, double vmon, double imon)
{
    withUnit([&](BQ71XXEUnit &u) { onChannel(u.channels, ch, [&](auto &c) { hvHold(c, vmon, imon); }); });
}

void BQ71XXESim::setInterlock(bool active)
{
    withUnit([&](BQ71XXEUnit &u) { u.interlockActive = active; });
}

} // namespace korusim
