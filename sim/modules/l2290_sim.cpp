// The L2290 module model and the device side of its text protocol. The
// parser is strict on purpose: anything a real module would not take gets
// the module's error reply and is marked as a protocol violation in the log.
#include "modules/l2290_sim.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>

namespace korusim {

namespace {

// Locale-independent fixed-point text with at least `intDigits` integer
// digits ("0150.0" for 150, 1 decimal, 4 digits).
std::string fixed(double v, int dec, int intDigits = 4)
{
    if (v < 0)
        v = 0;
    long long scale = 1;
    for (int i = 0; i < dec; ++i)
        scale *= 10;
    long long units = std::llround(v * double(scale));
    std::string whole = std::to_string(units / scale);
    if (whole.size() < size_t(intDigits))
        whole.insert(0, size_t(intDigits) - whole.size(), '0');
    if (dec <= 0)
        return whole;
    std::string frac = std::to_string(units % scale);
    frac.insert(0, size_t(dec) - std::min(frac.size(), size_t(dec)), '0');
    return whole + "." + frac;
}

// A plain non-negative decimal number: digits, optionally '.' and digits.
bool parseNumber(std::string_view s, double &out)
{
    size_t i = 0;
    double v = 0;
    size_t intDigits = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
        v = v * 10 + (s[i] - '0');
        ++i;
        ++intDigits;
    }
    if (intDigits == 0)
        return false;
    if (i < s.size()) {
        if (s[i] != '.')
            return false;
        ++i;
        double scale = 0.1;
        size_t fracDigits = 0;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
            v += (s[i] - '0') * scale;
            scale /= 10;
            ++i;
            ++fracDigits;
        }
        if (fracDigits == 0 || i != s.size())
            return false;
    }
    out = v;
    return true;
}

bool allDigits(std::string_view s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

const char *errorWord(DeviceError k)
{
    switch (k) {
    case DeviceError::Cmd:
        return "CMD";
    case DeviceError::Ch:
        return "CH";
    case DeviceError::Par:
        return "PAR";
    case DeviceError::Val:
        return "VAL";
    case DeviceError::Loc:
        return "LOC";
    }
    return "CMD";
}

std::string addr2(int a)
{
    char b[16];
    std::snprintf(b, sizeof b, "%02d", a);
    return b;
}

// One request, split into its pieces.
struct Request {
    int address = -1;
    bool set = false;
    bool hasChannel = false;
    int channel = 0;
    std::string par;
    bool hasValue = false;
    std::string value;
};

// Parses "$BD:aa,CMD:MON|SET,[CH:n,]PAR:p[,VAL:v]". Returns an empty text on
// success, else what is wrong; `address` is filled as soon as it is known.
std::string parseRequest(std::string_view s, Request &r)
{
    if (s.substr(0, 4) != "$BD:")
        return "request does not begin with $BD:";
    s.remove_prefix(4);
    if (s.size() < 2 || !allDigits(s.substr(0, 2)))
        return "module address is not two digits";
    r.address = (s[0] - '0') * 10 + (s[1] - '0');
    s.remove_prefix(2);
    if (s.substr(0, 5) != ",CMD:")
        return "no ,CMD: after the address";
    s.remove_prefix(5);
    if (s.substr(0, 4) == "MON,")
        r.set = false;
    else if (s.substr(0, 4) == "SET,")
        r.set = true;
    else
        return "command is neither MON nor SET";
    s.remove_prefix(4);
    if (s.substr(0, 3) == "CH:") {
        s.remove_prefix(3);
        size_t comma = s.find(',');
        if (comma == std::string_view::npos || !allDigits(s.substr(0, comma)) || comma > 3)
            return "bad channel field";
        r.hasChannel = true;
        r.channel = std::stoi(std::string(s.substr(0, comma)));
        s.remove_prefix(comma + 1);
    }
    if (s.substr(0, 4) != "PAR:")
        return "no PAR: field";
    s.remove_prefix(4);
    size_t comma = s.find(',');
    r.par = std::string(s.substr(0, comma));
    if (r.par.empty() || !std::all_of(r.par.begin(), r.par.end(), [](char c) {
            return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        }))
        return "bad parameter mnemonic";
    if (comma == std::string_view::npos)
        return {};
    s.remove_prefix(comma);
    if (s.substr(0, 5) != ",VAL:")
        return "unexpected field after PAR";
    s.remove_prefix(5);
    if (s.empty())
        return "empty VAL field";
    r.hasValue = true;
    r.value = std::string(s);
    return {};
}

enum class Kind { Number, Word, Command };

} // namespace

unsigned L2290Channel::status() const
{
    unsigned s = extraStatus;
    double target = (on && !tripped) ? std::min(vset, maxv) : 0.0;
    if (on || vmon > 0.0)
        s |= kL2290On;
    if (on && !tripped && vmon < target)
        s |= kL2290RampUp;
    if (vmon > target)
        s |= kL2290RampDown;
    if (vmon > 0.0 && imon >= iset)
        s |= kL2290OverCurrent;
    if (on && vset > maxv)
        s |= kL2290MaxV;
    if (tripped)
        s |= kL2290Tripped;
    return s;
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
    mutable std::mutex m;
    std::vector<L2290Module> modules;

    L2290Module *find(int address)
    {
        for (auto &mod : modules)
            if (mod.address == address)
                return &mod;
        return nullptr;
    }

    static std::string ok(int a) { return "#BD:" + addr2(a) + ",CMD:OK"; }
    static std::string val(int a, const std::string &v) { return ok(a) + ",VAL:" + v; }
    static std::string err(int a, DeviceError k) { return "#BD:" + addr2(a) + "," + errorWord(k) + ":ERR"; }

    // Board-level monitor value; false for an unknown board mnemonic.
    static bool boardValue(const L2290Module &mod, const std::string &p, std::string &out)
    {
        if (p == "BDNAME")
            out = mod.model;
        else if (p == "BDNCH")
            out = std::to_string(mod.channels.size());
        else if (p == "BDFREL")
            out = mod.firmware;
        else if (p == "BDSNUM")
            out = std::to_string(mod.serial);
        else if (p == "BDILK")
            out = mod.interlockActive ? "YES" : "NO";
        else if (p == "BDILKM")
            out = mod.interlockClosed ? "CLOSED" : "OPEN";
        else if (p == "BDCTR")
            out = mod.local ? "LOCAL" : "REMOTE";
        else if (p == "BDTERM")
            out = mod.termination ? "ON" : "OFF";
        else if (p == "BDALARM") {
            char b[16];
            std::snprintf(b, sizeof b, "%05u", mod.alarm & 0xFFFFu);
            out = b;
        } else
            return false;
        return true;
    }

    static bool isBoardMnemonic(const std::string &p)
    {
        static const char *const kBoard[] = {"BDNAME", "BDNCH", "BDFREL", "BDSNUM",  "BDILK",
                                             "BDILKM", "BDCTR", "BDTERM", "BDALARM", "BDCLR"};
        return std::any_of(std::begin(kBoard), std::end(kBoard), [&](const char *b) { return p == b; });
    }

    // Channel monitor value; false for an unknown channel mnemonic.
    static bool channelValue(const L2290Module &mod, const L2290Channel &c, const std::string &p,
                             std::string &out)
    {
        const L2290Limits &l = mod.limits;
        int imdec = c.lowRange ? l.imdecLow : l.imdecHigh;
        if (p == "VSET")
            out = fixed(c.vset, l.vdec);
        else if (p == "VMON")
            out = fixed(c.vmon, l.vdec);
        else if (p == "ISET")
            out = fixed(c.iset, l.isdec);
        else if (p == "IMON")
            out = fixed(c.imon, imdec);
        else if (p == "IMRANGE")
            out = c.lowRange ? "LOW" : "HIGH";
        else if (p == "MAXV")
            out = fixed(c.maxv, l.mvdec);
        else if (p == "RUP")
            out = fixed(c.rup, l.rupdec, 3);
        else if (p == "RDW")
            out = fixed(c.rdw, l.rdwdec, 3);
        else if (p == "TRIP")
            out = fixed(c.trip, l.tripdec);
        else if (p == "PDWN")
            out = c.kill ? "KILL" : "RAMP";
        else if (p == "POL")
            out = std::string(1, c.polarity == '-' ? '-' : '+');
        else if (p == "STAT") {
            char b[16];
            unsigned s = c.status() | (mod.interlockActive ? unsigned(kL2290Interlock) : 0u);
            std::snprintf(b, sizeof b, "%05u", s & 0xFFFFu);
            out = b;
        } else if (p == "VMIN")
            out = std::to_string(l.vmin);
        else if (p == "VMAX")
            out = std::to_string(l.vmax);
        else if (p == "VDEC")
            out = std::to_string(l.vdec);
        else if (p == "IMIN")
            out = std::to_string(l.imin);
        else if (p == "IMAX")
            out = std::to_string(l.imax);
        else if (p == "ISDEC")
            out = std::to_string(l.isdec);
        else if (p == "IMDEC")
            out = std::to_string(imdec);
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

    // What a channel set of `p` takes; false when `p` is not settable.
    static bool channelSetKind(const std::string &p, Kind &k)
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

    static bool numberLimits(const L2290Limits &l, const std::string &p, double &lo, double &hi)
    {
        if (p == "VSET") {
            lo = l.vmin;
            hi = l.vmax;
        } else if (p == "ISET") {
            lo = l.imin;
            hi = l.imax;
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

    static void applyNumber(L2290Channel &c, const std::string &p, double v)
    {
        if (p == "VSET")
            c.vset = v;
        else if (p == "ISET")
            c.iset = v;
        else if (p == "MAXV")
            c.maxv = v;
        else if (p == "RUP")
            c.rup = v;
        else if (p == "RDW")
            c.rdw = v;
        else if (p == "TRIP")
            c.trip = v;
    }

    // Checks a channel set for one channel; fills the error kind and the
    // violation text when refused.
    static bool checkChannelSet(const L2290Module &mod, const Request &r, DeviceError &e, std::string &why)
    {
        Kind k;
        if (!channelSetKind(r.par, k)) {
            std::string dummy;
            bool readable = !mod.channels.empty() && channelValue(mod, mod.channels[0], r.par, dummy);
            e = readable ? DeviceError::Cmd : DeviceError::Par;
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
        double v, lo, hi;
        if (r.value.size() > 1 && r.value[0] == '-' && parseNumber(std::string_view(r.value).substr(1), v)) {
            e = DeviceError::Val; // negative: below every minimum
            return false;
        }
        if (!parseNumber(r.value, v)) {
            e = DeviceError::Val;
            why = "value " + r.value + " is not a plain decimal number";
            return false;
        }
        if (!numberLimits(mod.limits, r.par, lo, hi) || v < lo || v > hi) {
            e = DeviceError::Val; // out of range is the operator's business, not a violation
            return false;
        }
        return true;
    }

    static void applyChannelSet(L2290Module &mod, L2290Channel &c, const Request &r)
    {
        if (r.par == "ON") {
            c.tripped = false;
            c.overCurrentSeconds = 0;
            if (!mod.interlockActive)
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
            parseNumber(r.value, v);
            applyNumber(c, r.par, v);
        }
    }

    DialectReply handle(std::string_view line, bool execute)
    {
        DialectReply out;
        Request r;
        std::string bad = parseRequest(line, r);
        std::lock_guard<std::mutex> lk(m);
        L2290Module *mod = r.address >= 0 ? find(r.address) : nullptr;
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
        const bool board = isBoardMnemonic(r.par);

        if (board && r.hasChannel) {
            out.violation = "board parameter " + r.par + " with a channel";
            out.text = err(a, DeviceError::Ch);
            return out;
        }
        if (r.hasChannel && r.channel > n) {
            out.text = err(a, DeviceError::Ch);
            return out;
        }
        if (!r.set) {
            if (r.hasValue) {
                out.violation = "monitor request with a value";
                out.text = err(a, DeviceError::Val);
                return out;
            }
            std::string v;
            if (board) {
                if (!boardValue(*mod, r.par, v)) { // BDCLR is a command
                    out.text = err(a, DeviceError::Cmd);
                    return out;
                }
                out.text = val(a, v);
                return out;
            }
            std::string probe;
            L2290Channel none;
            if (!channelValue(*mod, n > 0 ? mod->channels[0] : none, r.par, probe)) {
                Kind k;
                out.text = err(a, channelSetKind(r.par, k) ? DeviceError::Cmd : DeviceError::Par);
                return out;
            }
            if (!r.hasChannel) {
                out.violation = "channel parameter " + r.par + " without a channel";
                out.text = err(a, DeviceError::Ch);
                return out;
            }
            if (r.channel < n) {
                channelValue(*mod, mod->channels[size_t(r.channel)], r.par, v);
            } else {
                for (int c = 0; c < n; ++c) {
                    std::string one;
                    channelValue(*mod, mod->channels[size_t(c)], r.par, one);
                    v += (c ? ";" : "") + one;
                }
            }
            out.text = val(a, v);
            return out;
        }

        // Set requests.
        if (mod->local) {
            out.text = err(a, DeviceError::Loc);
            return out;
        }
        if (board) {
            if (r.par == "BDCLR") {
                if (r.hasValue) {
                    out.violation = "BDCLR takes no value";
                    out.text = err(a, DeviceError::Val);
                    return out;
                }
                if (execute) {
                    mod->alarm = 0;
                    for (auto &c : mod->channels)
                        c.tripped = false, c.overCurrentSeconds = 0;
                    if (mod->interlockActive)
                        mod->alarm |= kL2290AlarmInterlock;
                }
            } else if (r.par == "BDILKM") {
                if (!r.hasValue || (r.value != "OPEN" && r.value != "CLOSED")) {
                    out.violation = "BDILKM needs VAL:OPEN or VAL:CLOSED";
                    out.text = err(a, DeviceError::Val);
                    return out;
                }
                if (execute)
                    mod->interlockClosed = r.value == "CLOSED";
            } else {
                out.text = err(a, DeviceError::Cmd); // read-only board parameter
                return out;
            }
            out.text = ok(a);
            return out;
        }
        if (!r.hasChannel) {
            Kind k;
            if (channelSetKind(r.par, k))
                out.violation = "channel parameter " + r.par + " without a channel";
            out.text = err(a, channelSetKind(r.par, k) ? DeviceError::Ch : DeviceError::Par);
            return out;
        }
        DeviceError e = DeviceError::Cmd;
        std::string why;
        if (!checkChannelSet(*mod, r, e, why)) {
            out.violation = why;
            out.text = err(a, e);
            return out;
        }
        if (execute) {
            if (r.channel < n)
                applyChannelSet(*mod, mod->channels[size_t(r.channel)], r);
            else
                for (auto &c : mod->channels)
                    applyChannelSet(*mod, c, r);
        }
        out.text = ok(a);
        return out;
    }

    void tick(double dt)
    {
        if (dt <= 0)
            return;
        std::lock_guard<std::mutex> lk(m);
        for (auto &mod : modules) {
            if (mod.interlockActive)
                mod.alarm |= kL2290AlarmInterlock;
            for (size_t ci = 0; ci < mod.channels.size(); ++ci) {
                L2290Channel &c = mod.channels[ci];
                if (mod.interlockActive && c.on) {
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
                        mod.alarm |= 1u << (ci & 31);
                        if (c.kill && !c.hold)
                            c.vmon = 0, c.imon = 0;
                    }
                } else {
                    c.overCurrentSeconds = 0;
                }
            }
        }
    }
};

L2290Dialect::L2290Dialect(std::vector<L2290Module> modules) : impl_(std::make_unique<Impl>())
{
    impl_->modules = std::move(modules);
}

L2290Dialect::~L2290Dialect() = default;

DialectReply L2290Dialect::handle(std::string_view line, bool execute)
{
    return impl_->handle(line, execute);
}

std::string L2290Dialect::errorReply(std::string_view line, DeviceError kind) const
{
    Request r;
    parseRequest(line, r);
    return Impl::err(r.address >= 0 ? r.address : 0, kind);
}

std::string L2290Dialect::withAddress(std::string_view reply, int address) const
{
    std::string s(reply);
    if (s.rfind("#BD:", 0) == 0 && s.size() >= 6)
        s.replace(4, 2, addr2(address % 100));
    return s;
}

void L2290Dialect::tick(double seconds)
{
    impl_->tick(seconds);
}

void L2290Dialect::withModule(int address, const std::function<void(L2290Module &)> &fn)
{
    std::lock_guard<std::mutex> lk(impl_->m);
    if (L2290Module *mod = impl_->find(address))
        fn(*mod);
}

bool L2290Dialect::copyModule(int address, L2290Module &out) const
{
    std::lock_guard<std::mutex> lk(impl_->m);
    for (auto &mod : impl_->modules)
        if (mod.address == address) {
            out = mod;
            return true;
        }
    return false;
}

std::vector<int> L2290Dialect::addresses() const
{
    std::lock_guard<std::mutex> lk(impl_->m);
    std::vector<int> out;
    for (auto &mod : impl_->modules)
        out.push_back(mod.address);
    return out;
}

L2290Sim::L2290Sim(std::vector<L2290Module> modules)
    : L2290Sim(std::make_shared<L2290Dialect>(std::move(modules)))
{
}

L2290Sim::L2290Sim(std::shared_ptr<L2290Dialect> d) : TextLinkSim(d), l2290_(std::move(d)) {}

L2290Sim::~L2290Sim()
{
    stop();
}

void L2290Sim::withModule(int address, const std::function<void(L2290Module &)> &fn)
{
    l2290_->withModule(address, fn);
}

L2290Module L2290Sim::module(int address) const
{
    L2290Module m;
    l2290_->copyModule(address, m);
    return m;
}

L2290Channel L2290Sim::channel(int address, int ch) const
{
    L2290Module m = module(address);
    return ch >= 0 && size_t(ch) < m.channels.size() ? m.channels[size_t(ch)] : L2290Channel{};
}

std::vector<int> L2290Sim::addresses() const
{
    return l2290_->addresses();
}

void L2290Sim::setMonitored(int address, int ch, double vmon, double imon)
{
    withModule(address, [&](L2290Module &m) {
        if (ch >= 0 && size_t(ch) < m.channels.size()) {
            auto &c = m.channels[size_t(ch)];
            c.hold = true;
            c.vmon = vmon;
            c.imon = imon;
        }
    });
}

void L2290Sim::release(int address, int ch)
{
    withModule(address, [&](L2290Module &m) {
        if (ch >= 0 && size_t(ch) < m.channels.size())
            m.channels[size_t(ch)].hold = false;
    });
}

void L2290Sim::setInterlock(int address, bool active)
{
    withModule(address, [&](L2290Module &m) { m.interlockActive = active; });
}

void L2290Sim::setLocal(int address, bool local)
{
    withModule(address, [&](L2290Module &m) { m.local = local; });
}

void L2290Sim::setExtraStatus(int address, int ch, unsigned bits)
{
    withModule(address, [&](L2290Module &m) {
        if (ch >= 0 && size_t(ch) < m.channels.size())
            m.channels[size_t(ch)].extraStatus = bits;
    });
}

} // namespace korusim
