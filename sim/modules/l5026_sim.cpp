// The L5026/L5126 amplifier model and the device side of their "$BD" text
// protocol. The parser is strict on purpose: anything a real module would
// not take gets the module's error reply and is marked as a protocol
// violation in the log.
#include "modules/l5026_sim.h"

#include <algorithm>
#include <mutex>

#include "modules/text_unit.h"

namespace korusim {

namespace {

constexpr int kAmpChannels = 16;

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
        ch.name = "IN" + twoDigits(c);
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
    explicit Impl(UnitBus<AmpModule, &AmpModule::address> &bus) : bus(bus) {}
    UnitBus<AmpModule, &AmpModule::address> &bus;

    static std::string channelValue(const AmpModule &mod, int c, const AmpParam &p)
    {
        const AmpChannel &ch = mod.channels[size_t(c)];
        if (p.kind == AmpKind::Text)
            return ch.name;
        auto it = ch.values.find(p.mnemonic);
        return std::to_string(it == ch.values.end() ? p.initial : it->second);
    }

    static std::string boardValue(const AmpModule &mod, const AmpParam *bp, const std::string &p)
    {
        if (p == "BDNAME")
            return mod.model;
        if (p == "BDNCH")
            return std::to_string(mod.channels.size());
        if (p == "BDFREL")
            return mod.firmware;
        if (p == "SERNUM")
            return std::to_string(mod.serial);
        auto it = mod.board.find(bp->mnemonic);
        return std::to_string(it == mod.board.end() ? bp->initial : it->second);
    }

    // Checks the value text of a set; fills `v` when good.
    static bool checkValue(const AmpParam &p, const TextRequest &r, long long &v, DeviceError &e,
                           std::string &why)
    {
        e = DeviceError::Val;
        if (p.readOnly || p.kind == AmpKind::Text) {
            e = DeviceError::Cmd;
            return false;
        }
        if (!r.hasValue) {
            why = "set of " + r.par + " without a value";
            return false;
        }
        if (!parseWhole(r.value, v)) {
            why = "value " + r.value + " of " + r.par + " is not a whole decimal number";
            return false;
        }
        // Out of range is the operator's business, not a violation.
        return v >= p.min && v <= p.max;
    }

    DialectReply set(AmpModule &mod, const TextRequest &r, Answer &ans, const AmpParam *p, bool board,
                     bool execute)
    {
        if (isIdentification(r.par))
            return ans.fail(DeviceError::Cmd);
        if (mod.local)
            return ans.fail(DeviceError::Loc);
        long long v = 0;
        DeviceError e = DeviceError::Cmd;
        std::string why;
        if (!checkValue(*p, r, v, e, why))
            return ans.fail(e, why);
        if (execute) {
            if (board)
                mod.board[r.par] = int(v);
            else
                eachChannel(mod.channels, r.channel, [&](AmpChannel &ch) { ch.values[r.par] = int(v); });
        }
        return Answer::text(bdOk(mod.address));
    }

    DialectReply handle(std::string_view line, bool execute)
    {
        DialectReply out;
        TextRequest r;
        std::lock_guard<std::mutex> lk(bus.m);
        AmpModule *mod = bdTarget(bus, line, r, out, 3);
        if (!mod)
            return out; // malformed, or nobody at that address answers
        Answer ans([a = mod->address](DeviceError k) { return bdError(a, k); });
        const int n = int(mod->channels.size());
        const AmpParam *bp = mod->boardParam(r.par);
        const AmpParam *cp = mod->channelParam(r.par);
        const bool board = bp || isIdentification(r.par);
        if (!board && !cp)
            return ans.fail(DeviceError::Par);
        if (board && r.hasChannel)
            return ans.fail(DeviceError::Ch, "board parameter " + r.par + " with a channel");
        if (!board && !r.hasChannel)
            return ans.fail(DeviceError::Ch, "channel parameter " + r.par + " without a channel");
        if (r.hasChannel && r.channel > n)
            return ans.fail(DeviceError::Ch);
        if (r.set)
            return set(*mod, r, ans, board ? bp : cp, board, execute);
        if (r.hasValue)
            return ans.fail(DeviceError::Val, "monitor request with a value");
        return Answer::text(bdValue(mod->address, board ? boardValue(*mod, bp, r.par)
                                                        : eachChannelValue(r.channel, n, [&](int c) {
                                                              return channelValue(*mod, c, *cp);
                                                          })));
    }
};

AmpDialect::AmpDialect(std::vector<AmpModule> modules)
    : BusDialect(std::move(modules)), impl_(std::make_unique<Impl>(bus_))
{
}

AmpDialect::~AmpDialect() = default;

std::string AmpDialect::name() const
{
    std::lock_guard<std::mutex> lk(impl_->bus.m);
    const auto &modules = impl_->bus.units;
    return !modules.empty() && modules.front().family == AmpFamily::L5126 ? "L5126" : "L5026";
}

DialectReply AmpDialect::handle(std::string_view line, bool execute)
{
    return impl_->handle(line, execute);
}

std::string AmpDialect::errorReply(std::string_view line, DeviceError kind) const
{
    return bdErrorFor(line, kind, 3);
}

AmpSim::AmpSim(std::vector<AmpModule> modules) : AmpSim(std::make_shared<AmpDialect>(std::move(modules))) {}

AmpSim::AmpSim(std::shared_ptr<AmpDialect> d) : BusSim(std::move(d)) {}

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

int AmpSim::value(int address, int ch, const std::string &mnemonic) const
{
    AmpModule m;
    if (!model_->copyModule(address, m) || ch < 0 || size_t(ch) >= m.channels.size())
        return -1;
    auto it = m.channels[size_t(ch)].values.find(mnemonic);
    return it == m.channels[size_t(ch)].values.end() ? -1 : it->second;
}

int AmpSim::boardValue(int address, const std::string &mnemonic) const
{
    AmpModule m;
    if (!model_->copyModule(address, m))
        return -1;
    auto it = m.board.find(mnemonic);
    return it == m.board.end() ? -1 : it->second;
}

} // namespace korusim
