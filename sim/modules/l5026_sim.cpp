// The L5026/L5126 amplifier model and the device side of their "$BD" text
// protocol. The parser is strict on purpose: anything a real module would
// not take gets the module's error reply and is marked as a protocol
// violation in the log.
#include "modules/l5026_sim.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

namespace korusim {

namespace {

constexpr int kAmpChannels = 16;

bool allDigits(std::string_view s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A whole decimal number, optionally signed; false for anything else
// (decimals included: the modules take whole numbers only).
bool parseWhole(std::string_view s, long long &out)
{
    bool neg = false;
    if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
        neg = s[0] == '-';
        s.remove_prefix(1);
    }
    if (!allDigits(s) || s.size() > 12)
        return false;
    long long v = 0;
    for (char c : s)
        v = v * 10 + (c - '0');
    out = neg ? -v : v;
    return true;
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
    size_t comma = s.find(',');
    std::string_view a = s.substr(0, comma);
    if (a.size() < 2 || a.size() > 3 || !allDigits(a))
        return "module address is not two digits";
    r.address = std::stoi(std::string(a));
    s.remove_prefix(a.size());
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
        comma = s.find(',');
        if (comma == std::string_view::npos || !allDigits(s.substr(0, comma)) || comma > 3)
            return "bad channel field";
        r.hasChannel = true;
        r.channel = std::stoi(std::string(s.substr(0, comma)));
        s.remove_prefix(comma + 1);
    }
    if (s.substr(0, 4) != "PAR:")
        return "no PAR: field";
    s.remove_prefix(4);
    comma = s.find(',');
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

AmpParam num(const char *m, int lo, int hi, int initial = 0)
{
    return AmpParam{m, AmpKind::Number, lo, hi, false, initial};
}
AmpParam onoff(const char *m, int initial = 0)
{
    return AmpParam{m, AmpKind::OnOff, 0, 1, false, initial};
}
AmpParam enumer(const char *m, int hi, int initial = 0)
{
    return AmpParam{m, AmpKind::Enum, 0, hi, false, initial};
}

bool isIdentification(const std::string &p)
{
    return p == "BDNAME" || p == "BDNCH" || p == "BDFREL" || p == "SERNUM";
}

} // namespace

std::vector<AmpParam> ampBoardParams()
{
    return {num("BDOFFSET", 0, 255, 128), num("BDMULTITHR", 0, 255, 1)};
}

std::vector<AmpParam> ampChannelParams(AmpFamily family)
{
    AmpParam name{"NAME", AmpKind::Text, 0, 0, true, 0};
    if (family == AmpFamily::L5026) {
        return {name,
                enumer("MUX", 2),
                onoff("POL"),
                enumer("SHAPE", 4, 1),
                enumer("CGAIN", 7, 2),
                num("FGAIN", 0, 127, 64),
                num("PZADJ", 0, 255, 128),
                enumer("TGAIN", 1),
                enumer("TINT", 1),
                enumer("TDIFF", 1),
                num("OFFADJTST", 0, 65535, 32768),
                num("THR", 0, 4095, 100),
                onoff("CFDED"),
                num("CFDDEL", 0, 31, 8),
                num("CFDWDT", 0, 31, 8),
                onoff("OR"),
                num("ORWDT", 0, 31, 4),
                onoff("PUR")};
    }
    return {name,
            enumer("SHAPE", 2, 1),
            num("SLOWFGAIN", 0, 191, 96),
            num("AUXFGAIN", 0, 191, 96),
            enumer("SLOWCGAIN", 3),
            enumer(kL5126AuxCoarseGain, 3),
            onoff("PUR"),
            enumer("MUX", 2),
            enumer("OUTSEL", 1),
            num("THR", 0, 4000, 100),
            onoff("CFDED"),
            num("CFDDEL", 0, 31, 8),
            num("CFDWDT", 0, 31, 8),
            num("ORWDT", 0, 31, 4),
            onoff("OR")};
}

AmpModule AmpModule::make(AmpFamily family, int address, std::string model)
{
    AmpModule m;
    m.family = family;
    m.address = address;
    m.model = model.empty() ? (family == AmpFamily::L5026 ? "L5026" : "L5126") : std::move(model);
    m.serial = (family == AmpFamily::L5026 ? 26000 : 126000) + address;
    m.boardParams = ampBoardParams();
    m.channelParams = ampChannelParams(family);
    for (auto &p : m.boardParams)
        m.board[p.mnemonic] = p.initial;
    m.channels.resize(kAmpChannels);
    for (int c = 0; c < kAmpChannels; ++c) {
        AmpChannel &ch = m.channels[size_t(c)];
        ch.name = "IN" + addr2(c);
        for (auto &p : m.channelParams)
            if (p.kind != AmpKind::Text)
                ch.values[p.mnemonic] = p.initial;
    }
    return m;
}

const AmpParam *AmpModule::boardParam(const std::string &mnemonic) const
{
    for (auto &p : boardParams)
        if (p.mnemonic == mnemonic)
            return &p;
    return nullptr;
}

const AmpParam *AmpModule::channelParam(const std::string &mnemonic) const
{
    for (auto &p : channelParams)
        if (p.mnemonic == mnemonic)
            return &p;
    return nullptr;
}

struct AmpDialect::Impl {
    mutable std::mutex m;
    std::vector<AmpModule> modules;

    AmpModule *find(int address)
    {
        for (auto &mod : modules)
            if (mod.address == address)
                return &mod;
        return nullptr;
    }

    static std::string ok(int a) { return "#BD:" + addr2(a) + ",CMD:OK"; }
    static std::string val(int a, const std::string &v) { return ok(a) + ",VAL:" + v; }
    static std::string err(int a, DeviceError k) { return "#BD:" + addr2(a) + "," + errorWord(k) + ":ERR"; }

    static std::string channelValue(const AmpModule &mod, int c, const AmpParam &p)
    {
        const AmpChannel &ch = mod.channels[size_t(c)];
        if (p.kind == AmpKind::Text)
            return ch.name;
        auto it = ch.values.find(p.mnemonic);
        return std::to_string(it == ch.values.end() ? p.initial : it->second);
    }

    // Checks the value text of a set; fills `v` when good.
    static bool checkValue(const AmpParam &p, const Request &r, long long &v, DeviceError &e,
                           std::string &why)
    {
        if (p.readOnly || p.kind == AmpKind::Text) {
            e = DeviceError::Cmd;
            return false;
        }
        if (!r.hasValue) {
            e = DeviceError::Val;
            why = "set of " + r.par + " without a value";
            return false;
        }
        if (!parseWhole(r.value, v)) {
            e = DeviceError::Val;
            why = "value " + r.value + " of " + r.par + " is not a whole decimal number";
            return false;
        }
        if (v < p.min || v > p.max) {
            e = DeviceError::Val; // out of range is the operator's business, not a violation
            return false;
        }
        return true;
    }

    DialectReply handle(std::string_view line, bool execute)
    {
        DialectReply out;
        Request r;
        std::string bad = parseRequest(line, r);
        std::lock_guard<std::mutex> lk(m);
        AmpModule *mod = r.address >= 0 ? find(r.address) : nullptr;
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
        const AmpParam *bp = mod->boardParam(r.par);
        const AmpParam *cp = mod->channelParam(r.par);
        const bool board = bp || isIdentification(r.par);

        if (!board && !cp) {
            out.text = err(a, DeviceError::Par);
            return out;
        }
        if (board && r.hasChannel) {
            out.violation = "board parameter " + r.par + " with a channel";
            out.text = err(a, DeviceError::Ch);
            return out;
        }
        if (!board && !r.hasChannel) {
            out.violation = "channel parameter " + r.par + " without a channel";
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
            if (r.par == "BDNAME")
                v = mod->model;
            else if (r.par == "BDNCH")
                v = std::to_string(n);
            else if (r.par == "BDFREL")
                v = mod->firmware;
            else if (r.par == "SERNUM")
                v = std::to_string(mod->serial);
            else if (bp) {
                auto it = mod->board.find(bp->mnemonic);
                v = std::to_string(it == mod->board.end() ? bp->initial : it->second);
            } else if (r.channel < n) {
                v = channelValue(*mod, r.channel, *cp);
            } else {
                for (int c = 0; c < n; ++c)
                    v += (c ? ";" : "") + channelValue(*mod, c, *cp);
            }
            out.text = val(a, v);
            return out;
        }

        // Set requests.
        if (isIdentification(r.par)) {
            out.text = err(a, DeviceError::Cmd);
            return out;
        }
        if (mod->local) {
            out.text = err(a, DeviceError::Loc);
            return out;
        }
        long long v = 0;
        DeviceError e = DeviceError::Cmd;
        std::string why;
        if (!checkValue(board ? *bp : *cp, r, v, e, why)) {
            out.violation = why;
            out.text = err(a, e);
            return out;
        }
        if (execute) {
            if (board)
                mod->board[r.par] = int(v);
            else if (r.channel < n)
                mod->channels[size_t(r.channel)].values[r.par] = int(v);
            else
                for (auto &ch : mod->channels)
                    ch.values[r.par] = int(v);
        }
        out.text = ok(a);
        return out;
    }
};

AmpDialect::AmpDialect(std::vector<AmpModule> modules) : impl_(std::make_unique<Impl>())
{
    impl_->modules = std::move(modules);
}

AmpDialect::~AmpDialect() = default;

std::string AmpDialect::name() const
{
    std::lock_guard<std::mutex> lk(impl_->m);
    return !impl_->modules.empty() && impl_->modules.front().family == AmpFamily::L5126 ? "L5126" : "L5026";
}

DialectReply AmpDialect::handle(std::string_view line, bool execute)
{
    return impl_->handle(line, execute);
}

std::string AmpDialect::errorReply(std::string_view line, DeviceError kind) const
{
    Request r;
    parseRequest(line, r);
    return Impl::err(r.address >= 0 ? r.address : 0, kind);
}

std::string AmpDialect::withAddress(std::string_view reply, int address) const
{
    std::string s(reply);
    if (s.rfind("#BD:", 0) == 0 && s.size() >= 6)
        s.replace(4, 2, addr2(address % 100));
    return s;
}

void AmpDialect::withModule(int address, const std::function<void(AmpModule &)> &fn)
{
    std::lock_guard<std::mutex> lk(impl_->m);
    if (AmpModule *mod = impl_->find(address))
        fn(*mod);
}

bool AmpDialect::copyModule(int address, AmpModule &out) const
{
    std::lock_guard<std::mutex> lk(impl_->m);
    for (auto &mod : impl_->modules)
        if (mod.address == address) {
            out = mod;
            return true;
        }
    return false;
}

std::vector<int> AmpDialect::addresses() const
{
    std::lock_guard<std::mutex> lk(impl_->m);
    std::vector<int> out;
    for (auto &mod : impl_->modules)
        out.push_back(mod.address);
    return out;
}

AmpSim::AmpSim(std::vector<AmpModule> modules) : AmpSim(std::make_shared<AmpDialect>(std::move(modules))) {}

AmpSim::AmpSim(std::shared_ptr<AmpDialect> d) : TextLinkSim(d), amp_(std::move(d)) {}

AmpSim::~AmpSim()
{
    stop();
}

void AmpSim::withModule(int address, const std::function<void(AmpModule &)> &fn)
{
    amp_->withModule(address, fn);
}

AmpModule AmpSim::module(int address) const
{
    AmpModule m;
    amp_->copyModule(address, m);
    return m;
}

std::vector<int> AmpSim::addresses() const
{
    return amp_->addresses();
}

bool AmpSim::setValue(int address, int ch, const std::string &mnemonic, int value)
{
    bool done = false;
    withModule(address, [&](AmpModule &m) {
        if (ch < 0 || size_t(ch) >= m.channels.size() || !m.channelParam(mnemonic))
            return;
        m.channels[size_t(ch)].values[mnemonic] = value;
        done = true;
    });
    return done;
}

bool AmpSim::setBoardValue(int address, const std::string &mnemonic, int value)
{
    bool done = false;
    withModule(address, [&](AmpModule &m) {
        if (!m.boardParam(mnemonic))
            return;
        m.board[mnemonic] = value;
        done = true;
    });
    return done;
}

bool AmpSim::setChannelName(int address, int ch, const std::string &name)
{
    bool done = false;
    withModule(address, [&](AmpModule &m) {
        if (ch < 0 || size_t(ch) >= m.channels.size())
            return;
        m.channels[size_t(ch)].name = name;
        done = true;
    });
    return done;
}

void AmpSim::setLocal(int address, bool local)
{
    withModule(address, [&](AmpModule &m) { m.local = local; });
}

int AmpSim::value(int address, int ch, const std::string &mnemonic) const
{
    AmpModule m;
    if (!amp_->copyModule(address, m) || ch < 0 || size_t(ch) >= m.channels.size())
        return -1;
    auto it = m.channels[size_t(ch)].values.find(mnemonic);
    return it == m.channels[size_t(ch)].values.end() ? -1 : it->second;
}

int AmpSim::boardValue(int address, const std::string &mnemonic) const
{
    AmpModule m;
    if (!amp_->copyModule(address, m))
        return -1;
    auto it = m.board.find(mnemonic);
    return it == m.board.end() ? -1 : it->second;
}

} // namespace korusim
