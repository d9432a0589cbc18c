// The L317E amplifier model and the device side of its "$BD" text protocol.
// Strict on purpose: whatever the module would not take gets its error reply
// and is marked as a protocol violation in the log.
#include "modules/l317e_sim.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

#include "modules/text_request.h"

namespace korusim {

namespace {

std::string addr2(int a)
{
    char b[16];
    std::snprintf(b, sizeof b, "%02d", a % 100);
    return b;
}

std::string ok(int a)
{
    return "#BD:" + addr2(a) + ",CMD:OK";
}
std::string val(int a, const std::string &v)
{
    return ok(a) + ",VAL:" + v;
}
std::string err(int a, DeviceError k)
{
    return "#BD:" + addr2(a) + "," + deviceErrorWord(k) + ":ERR";
}

std::string three(int v)
{
    char b[16];
    std::snprintf(b, sizeof b, "%03d", v);
    return b;
}

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
        return three(m.offset);
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
        return three(c.fineGain);
    if (p == "SHAPE")
        return std::to_string(c.shape);
    if (p == "CONF")
        return std::to_string(c.outConf);
    if (p == "POL")
        return std::to_string(c.outPol);
    if (p == "PZADJ")
        return three(c.poleZero);
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
    mutable std::mutex m;
    std::vector<L317EModule> modules;
    std::vector<double> scanClock; // per module, seconds towards the next mux step

    L317EModule *find(int address)
    {
        for (auto &mod : modules)
            if (mod.address == address)
                return &mod;
        return nullptr;
    }

    DialectReply handle(std::string_view line, bool execute)
    {
        DialectReply out;
        TextRequest r;
        std::string bad = parseBdRequest(line, r);
        std::lock_guard<std::mutex> lk(m);
        L317EModule *mod = r.address >= 0 ? find(r.address) : nullptr;
        if (!bad.empty()) {
            out.violation = bad;
            if (mod)
                out.text = err(mod->address, DeviceError::Cmd);
            return out;
        }
        if (!mod)
            return out; // nobody at that address answers
        const int a = mod->address;
        const int n = int(mod->channels.size());
        auto fail = [&](DeviceError e, std::string why = {}) {
            out.text = err(a, e);
            out.violation = std::move(why);
            return out;
        };
        const bool board = isBoardMnemonic(r.par), chan = isChannelMnemonic(r.par);
        if (!board && !chan)
            return fail(DeviceError::Par);
        if (board && r.hasChannel)
            return fail(DeviceError::Ch, "board parameter " + r.par + " with a channel");
        if (chan && !r.hasChannel)
            return fail(DeviceError::Ch, "channel parameter " + r.par + " without a channel");
        const bool allChannels = r.hasChannel && r.channel == kL317EChannels;
        if (r.hasChannel && r.channel >= n && !allChannels)
            return fail(DeviceError::Ch);

        if (!r.set) {
            if (r.hasValue)
                return fail(DeviceError::Val, "monitor request with a value");
            std::string v;
            if (board) {
                v = boardValue(*mod, r.par);
            } else if (!allChannels) {
                v = channelValue(mod->channels[size_t(r.channel)], r.par);
            } else {
                for (int c = 0; c < n; ++c)
                    v += (c ? ";" : "") + channelValue(mod->channels[size_t(c)], r.par);
            }
            out.text = val(a, v);
            return out;
        }

        if (mod->local)
            return fail(DeviceError::Loc);
        const Range *range = board ? findRange(kBoardSets, r.par) : findRange(kChannelSets, r.par);
        if (!range)
            return fail(DeviceError::Cmd); // read-only parameter
        int v = 0;
        std::string why;
        if (!checkInteger(r, *range, v, why))
            return fail(DeviceError::Val, why);
        if (execute) {
            if (board) {
                (r.par == "OFFSET" ? mod->offset : mod->muxEnabled) = v;
            } else if (!allChannels) {
                applyChannel(mod->channels[size_t(r.channel)], r.par, v);
            } else {
                for (auto &c : mod->channels)
                    applyChannel(c, r.par, v);
            }
        }
        out.text = ok(a);
        return out;
    }

    void tick(double dt)
    {
        if (dt <= 0)
            return;
        std::lock_guard<std::mutex> lk(m);
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

L317EDialect::L317EDialect(std::vector<L317EModule> modules) : impl_(std::make_unique<Impl>())
{
    impl_->modules = std::move(modules);
}

L317EDialect::~L317EDialect() = default;

DialectReply L317EDialect::handle(std::string_view line, bool execute)
{
    return impl_->handle(line, execute);
}

std::string L317EDialect::errorReply(std::string_view line, DeviceError kind) const
{
    TextRequest r;
    parseBdRequest(line, r);
    return err(r.address >= 0 ? r.address : 0, kind);
}

std::string L317EDialect::withAddress(std::string_view reply, int address) const
{
    std::string s(reply);
    if (s.rfind("#BD:", 0) == 0 && s.size() >= 6)
        s.replace(4, 2, addr2(address));
    return s;
}

void L317EDialect::tick(double seconds)
{
    impl_->tick(seconds);
}

void L317EDialect::withModule(int address, const std::function<void(L317EModule &)> &fn)
{
    std::lock_guard<std::mutex> lk(impl_->m);
    if (L317EModule *mod = impl_->find(address))
        fn(*mod);
}

bool L317EDialect::copyModule(int address, L317EModule &out) const
{
    std::lock_guard<std::mutex> lk(impl_->m);
    for (auto &mod : impl_->modules)
        if (mod.address == address) {
            out = mod;
            return true;
        }
    return false;
}

std::vector<int> L317EDialect::addresses() const
{
    std::lock_guard<std::mutex> lk(impl_->m);
    std::vector<int> out;
    for (auto &mod : impl_->modules)
        out.push_back(mod.address);
    return out;
}

L317ESim::L317ESim(std::vector<L317EModule> modules)
    : L317ESim(std::make_shared<L317EDialect>(std::move(modules)))
{
}
L317ESim::L317ESim(std::shared_ptr<L317EDialect> d) : TextLinkSim(d), model_(std::move(d)) {}
L317ESim::~L317ESim()
{
    stop();
}

void L317ESim::withModule(int address, const std::function<void(L317EModule &)> &fn)
{
    model_->withModule(address, fn);
}

L317EModule L317ESim::module(int address) const
{
    L317EModule m;
    model_->copyModule(address, m);
    return m;
}

L317EChannel L317ESim::channel(int address, int ch) const
{
    L317EModule m = module(address);
    return ch >= 0 && size_t(ch) < m.channels.size() ? m.channels[size_t(ch)] : L317EChannel{};
}

std::vector<int> L317ESim::addresses() const
{
    return model_->addresses();
}

void L317ESim::setLocal(int address, bool local)
{
    withModule(address, [&](L317EModule &m) { m.local = local; });
}

void L317ESim::setLastChannel(int address, int ch)
{
    withModule(address, [&](L317EModule &m) { m.lastChannel = ch; });
}

} // namespace korusim
