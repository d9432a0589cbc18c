// The L317E amplifier model and the device side of its "$BD" text protocol.
// Strict on purpose: whatever the module would not take gets its error reply
// and is marked as a protocol violation in the log.
#include "modules/l317e_sim.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

#include "modules/text_unit.h"

namespace korusim {

namespace {

// A settable integer parameter and its range.
struct Range {
    const char *mnemonic;
    int lo, hi;
};
constexpr Range kBoardSets[] = {{"OFFSET", 0, 255}, {"MUXEN", 0, 1}};
constexpr Range kChannelSets[] = {{"CGAIN", 0, 7}, {"FGAIN", 0, 255}, {"SHAPE", 0, 3},
                                  {"CONF", 0, 1},  {"POL", 0, 1},     {"PZADJ", 0, 255}};

template <size_t N> const Range *findRange(const Range (&table)[N], const std::string &p)
{
    for (const Range &r : table)
        if (p == r.mnemonic)
            return &r;
    return nullptr;
}

bool isBoardMnemonic(const std::string &p)
{
    static const char *const k[] = {"BDNAME", "BDNCH", "BDFREL", "SERNUM", "OFFSET", "MUXEN", "LASTCH"};
    return std::any_of(std::begin(k), std::end(k), [&](const char *b) { return p == b; });
}

bool isChannelMnemonic(const std::string &p)
{
    return p == "NAME" || findRange(kChannelSets, p) != nullptr;
}

std::string boardValue(const L317EModule &m, const std::string &p)
{
    if (p == "BDNAME")
        return m.model;
    if (p == "BDNCH")
        return std::to_string(m.channels.size());
    if (p == "BDFREL")
        return m.firmware;
    if (p == "SERNUM")
        return std::to_string(m.serial);
    if (p == "OFFSET")
        return threeDigits(m.offset);
    if (p == "MUXEN")
        return std::to_string(m.muxEnabled);
    if (p == "LASTCH")
        return std::to_string(m.lastChannel);
    return {};
}

std::string channelValue(const L317EChannel &c, const std::string &p)
{
    if (p == "NAME")
        return c.name;
    if (p == "CGAIN")
        return std::to_string(c.coarseGain);
    if (p == "FGAIN")
        return threeDigits(c.fineGain);
    if (p == "SHAPE")
        return std::to_string(c.shape);
    if (p == "CONF")
        return std::to_string(c.outConf);
    if (p == "POL")
        return std::to_string(c.outPol);
    if (p == "PZADJ")
        return threeDigits(c.poleZero);
    return {};
}

void applyChannel(L317EChannel &c, const std::string &p, int v)
{
    if (p == "CGAIN")
        c.coarseGain = v;
    else if (p == "FGAIN")
        c.fineGain = v;
    else if (p == "SHAPE")
        c.shape = v;
    else if (p == "CONF")
        c.outConf = v;
    else if (p == "POL")
        c.outPol = v;
    else if (p == "PZADJ")
        c.poleZero = v;
}

// Checks the value of an integer set; empty on success, else the violation
// text ("" with ok false: in the grammar but out of range).
bool checkInteger(const TextRequest &r, const Range &range, int &v, std::string &why)
{
    if (!r.hasValue) {
        why = "set of " + r.par + " without a value";
        return false;
    }
    std::string_view s = r.value;
    bool neg = !s.empty() && s[0] == '-';
    if (neg)
        s.remove_prefix(1);
    if (!allDigits(s) || s.size() > 9) {
        why = "value " + r.value + " is not an integer";
        return false;
    }
    long x = std::stol(std::string(s));
    if (neg)
        x = -x;
    if (x < range.lo || x > range.hi)
        return false;
    v = int(x);
    return true;
}

} // namespace

L317EModule L317EModule::make(int address, const std::string &model, int channelCount)
{
    L317EModule m;
    m.address = address;
    m.model = model;
    m.serial = 3170 + address;
    channelCount = std::clamp(channelCount, 0, kL317EChannels);
    m.channels.resize(size_t(channelCount));
    for (int c = 0; c < channelCount; ++c) {
        char b[16];
        std::snprintf(b, sizeof b, "IN%02d", c);
        m.channels[size_t(c)].name = b;
    }
    return m;
}

struct L317EDialect::Impl {
    explicit Impl(UnitBus<L317EModule, &L317EModule::address> &bus) : bus(bus) {}
    UnitBus<L317EModule, &L317EModule::address> &bus;
    std::vector<double> scanClock; // per module, seconds towards the next mux step

    DialectReply set(L317EModule &mod, const TextRequest &r, Answer &ans, bool board, int ch, bool execute)
    {
        if (mod.local)
            return ans.fail(DeviceError::Loc);
        const Range *range = board ? findRange(kBoardSets, r.par) : findRange(kChannelSets, r.par);
        if (!range)
            return ans.fail(DeviceError::Cmd); // read-only parameter
        int v = 0;
        std::string why;
        if (!checkInteger(r, *range, v, why))
            return ans.fail(DeviceError::Val, why);
        if (execute) {
            if (board)
                (r.par == "OFFSET" ? mod.offset : mod.muxEnabled) = v;
            else
                eachChannel(mod.channels, ch, [&](L317EChannel &c) { applyChannel(c, r.par, v); });
        }
        return Answer::text(bdOk(mod.address));
    }

    DialectReply handle(std::string_view line, bool execute)
    {
        DialectReply out;
        TextRequest r;
        std::lock_guard<std::mutex> lk(bus.m);
        L317EModule *mod = bdTarget(bus, line, r, out);
        if (!mod)
            return out; // malformed, or nobody at that address answers
        Answer ans([a = mod->address](DeviceError k) { return bdError(a, k); });
        const int n = int(mod->channels.size());
        const bool board = isBoardMnemonic(r.par), chan = isChannelMnemonic(r.par);
        if (!board && !chan)
            return ans.fail(DeviceError::Par);
        if (board && r.hasChannel)
            return ans.fail(DeviceError::Ch, "board parameter " + r.par + " with a channel");
        if (chan && !r.hasChannel)
            return ans.fail(DeviceError::Ch, "channel parameter " + r.par + " without a channel");
        const bool allChannels = r.hasChannel && r.channel == kL317EChannels;
        if (r.hasChannel && r.channel >= n && !allChannels)
            return ans.fail(DeviceError::Ch);
        const int ch = allChannels ? n : r.channel;
        if (r.set)
            return set(*mod, r, ans, board, ch, execute);
        if (r.hasValue)
            return ans.fail(DeviceError::Val, "monitor request with a value");
        return Answer::text(
            bdValue(mod->address, board ? boardValue(*mod, r.par) : eachChannelValue(ch, n, [&](int c) {
                        return channelValue(mod->channels[size_t(c)], r.par);
                    })));
    }

    void tick(double dt)
    {
        if (dt <= 0)
            return;
        std::lock_guard<std::mutex> lk(bus.m);
        auto &modules = bus.units;
        scanClock.resize(modules.size(), 0.0);
        for (size_t i = 0; i < modules.size(); ++i) {
            L317EModule &mod = modules[i];
            if (!mod.muxScan || !mod.muxEnabled || mod.channels.empty()) {
                scanClock[i] = 0;
                continue;
            }
            scanClock[i] += dt;
            while (scanClock[i] >= 1.0) {
                scanClock[i] -= 1.0;
                mod.lastChannel = (mod.lastChannel + 1) % int(mod.channels.size());
            }
        }
    }
};

L317EDialect::L317EDialect(std::vector<L317EModule> modules)
    : BusDialect(std::move(modules)), impl_(std::make_unique<Impl>(bus_))
{
}

L317EDialect::~L317EDialect() = default;

DialectReply L317EDialect::handle(std::string_view line, bool execute)
{
    return impl_->handle(line, execute);
}

std::string L317EDialect::errorReply(std::string_view line, DeviceError kind) const
{
    return bdErrorFor(line, kind);
}

void L317EDialect::tick(double seconds)
{
    impl_->tick(seconds);
}

L317ESim::L317ESim(std::vector<L317EModule> modules)
    : L317ESim(std::make_shared<L317EDialect>(std::move(modules)))
{
}
L317ESim::L317ESim(std::shared_ptr<L317EDialect> d) : BusSim(std::move(d)) {}

void L317ESim::setLastChannel(int address, int ch)
{
    withModule(address, [&](L317EModule &m) { m.lastChannel = ch; });
}

} // namespace korusim
