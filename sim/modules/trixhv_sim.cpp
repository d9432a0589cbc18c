// The TRIXHV unit model and the device side of its self-describing text
// protocol. The parser is strict on purpose: anything a real unit would not
// take gets the unit's error reply and is marked as a protocol violation in
// the log.
#include "modules/trixhv_sim.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <mutex>

#include "modules/hv_channel.h"

namespace korusim {

namespace {

// A plain decimal number: optional '-', digits, optionally '.' and digits.
// `fracDigits` gives the number of digits after the point.
bool parseNumber(std::string_view s, double &out, int &fracDigits)
{
    bool neg = false;
    if (!s.empty() && s[0] == '-') {
        neg = true;
        s.remove_prefix(1);
    }
    size_t dot = s.find('.');
    std::string_view whole = s.substr(0, dot);
    if (!allDigits(whole) || whole.size() > 12)
        return false;
    double v = 0;
    for (char c : whole)
        v = v * 10 + (c - '0');
    fracDigits = 0;
    if (dot != std::string_view::npos) {
        std::string_view frac = s.substr(dot + 1);
        if (!allDigits(frac) || frac.size() > 12)
            return false;
        double scale = 0.1;
        for (char c : frac) {
            v += (c - '0') * scale;
            scale /= 10;
        }
        fracDigits = int(frac.size());
    }
    out = neg ? -v : v;
    return true;
}

// A stored number as a whole number, bounded (setters store anything).
long whole(double v)
{
    if (!(v == v))
        return 0;
    return long(std::clamp(v, -1e15, 1e15));
}

// A stored number as a status word.
unsigned word(double v)
{
    return unsigned(std::clamp(whole(v), 0L, 0xFFFFFFFFL));
}

bool sameText(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// Fixed-point text with `dec` decimals (locale-independent).
std::string fixed(double v, int dec)
{
    char b[64];
    std::snprintf(b, sizeof b, "%.*f", std::clamp(dec, 0, 9), v);
    return b;
}

// A limit in the INFO record: the shortest plain form ("3000", "0.5").
std::string plain(double v)
{
    char b[64];
    std::snprintf(b, sizeof b, "%.6f", v);
    std::string s = b;
    while (s.find('.') != std::string::npos && (s.back() == '0' || s.back() == '.')) {
        bool dot = s.back() == '.';
        s.pop_back();
        if (dot)
            break;
    }
    return s == "-0" ? "0" : s;
}

std::string errText(DeviceError k)
{
    return k == DeviceError::Cmd ? std::string("#CMD:ERR")
                                 : std::string("#CMD:ERR,") + deviceErrorWord(k) + ":ERR";
}

enum class Cmd { Mon, Set, Info };

struct Request {
    bool addressed = false;
    int address = -1;
    Cmd cmd = Cmd::Mon;
    bool hasChannel = false;
    int channel = 0;
    std::string par;
    bool hasValue = false;
    std::string value;
};

// Parses "[$BD:n,CMD:|$CMD:]MON|SET|INFO,[CH:c,]PAR:p[,VAL:v]". Returns an
// empty text on success, else what is wrong; the address part is filled as
// soon as it is known. `note` gets a violation that still lets the request
// through.
std::string parseRequest(std::string_view s, Request &r, std::string &note)
{
    if (s.substr(0, 4) == "$BD:") {
        s.remove_prefix(4);
        size_t comma = s.find(',');
        std::string_view a = s.substr(0, comma);
        if (!allDigits(a) || a.size() > 3)
            return "bad bus address";
        if (a.size() > 1 && a[0] == '0')
            note = "bus address with leading zeros";
        r.addressed = true;
        r.address = std::stoi(std::string(a));
        s.remove_prefix(a.size());
        if (s.substr(0, 5) != ",CMD:")
            return "no ,CMD: after the bus address";
        s.remove_prefix(5);
    } else if (s.substr(0, 5) == "$CMD:") {
        s.remove_prefix(5);
    } else {
        return "request begins with neither $CMD: nor $BD:";
    }
    if (s.substr(0, 4) == "MON,") {
        r.cmd = Cmd::Mon;
        s.remove_prefix(4);
    } else if (s.substr(0, 4) == "SET,") {
        r.cmd = Cmd::Set;
        s.remove_prefix(4);
    } else if (s.substr(0, 5) == "INFO,") {
        r.cmd = Cmd::Info;
        s.remove_prefix(5);
    } else {
        return "command is neither MON, SET nor INFO";
    }
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
            return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
        }))
        return "bad parameter name";
    if (comma == std::string_view::npos)
        return {};
    s.remove_prefix(comma);
    if (s.substr(0, 5) != ",VAL:")
        return "unexpected field after PAR";
    s.remove_prefix(5);
    if (s.empty())
        return "empty VAL field";
    if (s.find_first_of(",:;") != std::string_view::npos)
        return "',', ':' or ';' inside the value";
    r.hasValue = true;
    r.value = std::string(s);
    return {};
}

bool isIdentity(const std::string &p)
{
    return p == "BDNAME" || p == "BDNCH" || p == "BDFREL" || p == "BDSNUM" || p == "PARLIST" ||
           p == "PARCHLIST";
}

// What a monitor request of `p` reads.
std::string reading(const TrixParam &p)
{
    switch (p.type) {
    case kTrixNumber:
        return fixed(p.number, p.decimals);
    case kTrixOnOff:
        return p.number != 0 ? p.onText : p.offText;
    case kTrixChStatus:
    case kTrixBdStatus: {
        char b[32];
        std::snprintf(b, sizeof b, "%05ld", whole(p.number));
        return b;
    }
    case kTrixText:
        return p.text;
    default:
        return std::to_string(whole(p.number));
    }
}

double valueOf(const TrixChannel &c, const char *name, double dflt)
{
    const TrixParam *p = c.find(name);
    return p ? p->number : dflt;
}

void setNumber(TrixChannel &c, const char *name, double v)
{
    if (TrixParam *p = c.find(name))
        p->number = v;
}

// A channel of the default physics as the HV channel model sees it: its
// parameters' numbers, with the defaults where it lacks one (no IMON: no
// current, so no load).
struct HvView {
    bool on, hold, tripped, kill;
    double vmon, imon, vset, maxv, rup, rdw, iset, trip, loadMOhm, overCurrentSeconds;
    unsigned extraStatus;
};

HvView hvView(const TrixChannel &c)
{
    return {c.on,
            c.hold,
            c.tripped,
            valueOf(c, "PDWN", 0) != 0,
            valueOf(c, "VMON", 0),
            valueOf(c, "IMON", 0),
            valueOf(c, "VSET", 0),
            valueOf(c, "MAXV", 1e300),
            valueOf(c, "RUP", 50),
            valueOf(c, "RDW", 50),
            valueOf(c, "ISET", 1e300),
            valueOf(c, "TRIP", 0),
            c.find("IMON") ? c.loadMOhm : 0.0,
            c.overCurrentSeconds,
            c.extraStatus};
}

void storeHvView(TrixChannel &c, const HvView &v)
{
    c.on = v.on;
    c.tripped = v.tripped;
    c.overCurrentSeconds = v.overCurrentSeconds;
    setNumber(c, "VMON", v.vmon);
    setNumber(c, "IMON", v.imon);
}

} // namespace

std::string TrixParam::describe() const
{
    if (!infoOverride.empty())
        return infoOverride;
    return std::to_string(type) + ";" + std::to_string(mode) + ";" + plain(min) + ";" + plain(max) + ";" +
           std::to_string(decimals) + ";" + std::to_string(spare) + ";" + std::to_string(exponent) + ";" +
           unit + ";" + onText + ";" + offText;
}

TrixParam TrixParam::numeric(std::string name, int mode, double min, double max, int decimals,
                             std::string unit, int exponent, double initial)
{
    TrixParam p;
    p.name = std::move(name);
    p.type = kTrixNumber;
    p.mode = mode;
    p.min = min;
    p.max = max;
    p.decimals = decimals;
    p.unit = std::move(unit);
    p.exponent = exponent;
    p.number = initial;
    return p;
}

TrixParam TrixParam::onOff(std::string name, int mode, std::string onText, std::string offText, bool initial)
{
    TrixParam p;
    p.name = std::move(name);
    p.type = kTrixOnOff;
    p.mode = mode;
    p.max = 1;
    p.onText = std::move(onText);
    p.offText = std::move(offText);
    p.number = initial ? 1 : 0;
    return p;
}

TrixParam TrixParam::status(std::string name, int type)
{
    TrixParam p;
    p.name = std::move(name);
    p.type = type;
    p.mode = kTrixReadOnly;
    p.max = 65535;
    return p;
}

TrixParam TrixParam::textual(std::string name, std::string value)
{
    TrixParam p;
    p.name = std::move(name);
    p.type = kTrixText;
    p.mode = kTrixReadOnly;
    p.text = std::move(value);
    return p;
}

TrixParam TrixParam::command(std::string name, std::string onText)
{
    TrixParam p;
    p.name = std::move(name);
    p.type = kTrixOnOff;
    p.mode = kTrixCommand;
    p.max = 1;
    p.onText = std::move(onText);
    return p;
}

TrixParam *TrixChannel::find(const std::string &name)
{
    for (auto &p : params)
        if (p.name == name)
            return &p;
    return nullptr;
}

const TrixParam *TrixChannel::find(const std::string &name) const
{
    for (auto &p : params)
        if (p.name == name)
            return &p;
    return nullptr;
}

std::vector<TrixParam> TrixUnit::defaultBoardParams()
{
    TrixParam clr;
    clr.name = "BDCLR";
    clr.type = kTrixNone;
    clr.mode = kTrixCommand;
    return {TrixParam::onOff("BDILK", kTrixReadOnly, "YES", "NO"), TrixParam::textual("BDCTR", "REMOTE"),
            TrixParam::onOff("BDTERM", kTrixReadWrite, "ON", "OFF"),
            TrixParam::status("BDALARM", kTrixBdStatus), clr};
}

std::vector<TrixParam> TrixUnit::defaultChannelParams()
{
    TrixParam imon = TrixParam::numeric("IMON", kTrixReadOnly, 0, 3000, 2, "ampere", -6);
    imon.spare = 1;
    return {TrixParam::numeric("VSET", kTrixReadWrite, 0, 3000, 1, "volt"),
            TrixParam::numeric("VMON", kTrixReadOnly, 0, 3000, 1, "volt"),
            TrixParam::numeric("ISET", kTrixReadWrite, 0, 3000, 2, "ampere", -6, 3000),
            imon,
            TrixParam::numeric("MAXV", kTrixReadWrite, 0, 3100, 0, "volt", 0, 3100),
            TrixParam::numeric("RUP", kTrixReadWrite, 1, 500, 0, "vps", 0, 50),
            TrixParam::numeric("RDW", kTrixReadWrite, 1, 500, 0, "vps", 0, 50),
            TrixParam::numeric("TRIP", kTrixReadWrite, 0, 1000, 1, "second", 0, 10),
            TrixParam::onOff("PDWN", kTrixReadWrite, "KILL", "RAMP"),
            TrixParam::onOff("IMRANGE", kTrixReadWrite, "LOW", "HIGH"),
            TrixParam::textual("POL", "+"),
            TrixParam::status("STAT", kTrixChStatus),
            TrixParam::command("ON", "ON"),
            TrixParam::command("OFF", "OFF")};
}

TrixUnit TrixUnit::make(int channels, int busAddress)
{
    TrixUnit u;
    u.busAddress = busAddress;
    u.serial = 4000 + busAddress;
    u.board = defaultBoardParams();
    u.channels.resize(size_t(std::max(0, channels)));
    for (auto &c : u.channels)
        c.params = defaultChannelParams();
    return u;
}

TrixParam *TrixUnit::findBoard(const std::string &name)
{
    for (auto &p : board)
        if (p.name == name)
            return &p;
    return nullptr;
}

const TrixParam *TrixUnit::findBoard(const std::string &name) const
{
    for (auto &p : board)
        if (p.name == name)
            return &p;
    return nullptr;
}

struct TrixhvDialect::Impl {
    explicit Impl(std::vector<TrixUnit> units) : bus(std::move(units)) {}
    UnitBus<TrixUnit, &TrixUnit::busAddress> bus;

    static unsigned channelStatus(const TrixUnit &u, const TrixChannel &c)
    {
        return hvStatus(hvView(c), true, false) | (u.interlock ? unsigned(kTrixInterlock) : 0u);
    }

    // Brings the values the unit derives from its state up to date.
    static void refresh(TrixUnit &u)
    {
        if (TrixParam *p = u.findBoard("BDILK"); p && p->type == kTrixOnOff)
            p->number = u.interlock ? 1 : 0;
        if (TrixParam *p = u.findBoard("BDCTR"); p && p->type == kTrixText)
            p->text = u.local ? "LOCAL" : "REMOTE";
        if (TrixParam *p = u.findBoard("BDALARM"); p && u.interlock)
            p->number = double(word(p->number) | (1u << 8));
        // Only channels with the default physics derive their status word.
        for (auto &c : u.channels)
            if (TrixParam *p = c.find("STAT");
                p && c.find("VMON") && (p->type == kTrixChStatus || p->type == kTrixBdStatus))
                p->number = double(channelStatus(u, c) & 0xFFFFu);
    }

    static void command(TrixUnit &u, TrixChannel *c, const std::string &name)
    {
        if (name == "BDCLR") {
            if (TrixParam *p = u.findBoard("BDALARM"))
                p->number = u.interlock ? double(1u << 8) : 0;
            for (auto &ch : u.channels)
                ch.tripped = false, ch.overCurrentSeconds = 0;
            return;
        }
        if (!c)
            return;
        if (name == "ON") {
            c->tripped = false;
            c->overCurrentSeconds = 0;
            if (!u.interlock)
                c->on = true;
        } else if (name == "OFF") {
            c->on = false;
            if (valueOf(*c, "PDWN", 0) != 0 && !c->hold) {
                setNumber(*c, "VMON", 0);
                setNumber(*c, "IMON", 0);
            }
        }
    }

    // Checks a set of `p`; on success fills the new number or text.
    static bool checkSet(const TrixParam &p, const Request &r, double &num, std::string &text, DeviceError &e,
                         std::string &why)
    {
        if (p.mode == kTrixReadOnly) {
            e = DeviceError::Cmd;
            return false;
        }
        if (p.mode == kTrixCommand) {
            if (!r.hasValue || (!p.onText.empty() && sameText(r.value, p.onText)))
                return true;
            e = DeviceError::Val;
            why = "command " + p.name + " with the value " + r.value;
            return false;
        }
        if (!r.hasValue) {
            e = DeviceError::Val;
            why = "set of " + p.name + " without a value";
            return false;
        }
        switch (p.type) {
        case kTrixNumber:
        case kTrixChStatus:
        case kTrixBdStatus:
        case kTrixInteger:
        case kTrixEnum: {
            int frac = 0;
            if (!parseNumber(r.value, num, frac)) {
                e = DeviceError::Val;
                why = "value " + r.value + " of " + p.name + " is not a plain decimal number";
                return false;
            }
            int allowed = p.type == kTrixNumber ? p.decimals : 0;
            if (frac > allowed) {
                e = DeviceError::Val;
                why = "value " + r.value + " of " + p.name + " has more than " + std::to_string(allowed) +
                      " decimals";
                return false;
            }
            if (num < p.min || num > p.max) {
                e = DeviceError::Val; // out of range is the operator's business, not a violation
                return false;
            }
            return true;
        }
        case kTrixOnOff:
            if (sameText(r.value, p.onText) && !p.onText.empty()) {
                num = 1;
                return true;
            }
            if (sameText(r.value, p.offText) && !p.offText.empty()) {
                num = 0;
                return true;
            }
            e = DeviceError::Val;
            why = "value " + r.value + " is neither " + p.onText + " nor " + p.offText;
            return false;
        case kTrixText:
            text = r.value;
            return true;
        default:
            e = DeviceError::Val;
            why = "set of " + p.name + ", which takes no value";
            return false;
        }
    }

    DialectReply handle(std::string_view line, bool execute)
    {
        DialectReply out;
        Request r;
        std::string note;
        std::string bad = parseRequest(line, r, note);
        std::lock_guard<std::mutex> lk(bus.m);
        // Unaddressed requests go to the first unit, addressed ones to theirs.
        TrixUnit *u = nullptr;
        if (r.addressed)
            u = bus.find(r.address);
        else if (line.substr(0, 5) == "$CMD:" && !bus.units.empty())
            u = &bus.units.front();
        auto fail = [&](DeviceError k, std::string why = {}) {
            out.violation = why;
            out.text = errText(k);
            return out;
        };
        if (!bad.empty()) {
            out.violation = bad;
            if (u)
                out.text = errText(DeviceError::Cmd);
            return out;
        }
        out.violation = note;
        if (!u)
            return out; // nobody at that bus address answers
        refresh(*u);
        const int n = u->channelCount();
        const int real = int(u->channels.size());

        if (isIdentity(r.par)) {
            if (r.cmd != Cmd::Mon) // nothing to set, no description
                return fail(r.cmd == Cmd::Set ? DeviceError::Cmd : DeviceError::Par);
            if (r.hasValue)
                return fail(DeviceError::Val, "monitor request with a value");
            if (r.par == "PARCHLIST") {
                if (!r.hasChannel)
                    return fail(DeviceError::Ch, "PARCHLIST without a channel");
                if (r.channel >= n)
                    return fail(DeviceError::Ch);
                std::string v;
                if (r.channel < real)
                    for (auto &p : u->channels[size_t(r.channel)].params)
                        v += (v.empty() ? "" : ";") + p.name;
                out.text = "#CMD:OK,VAL:" + (v.empty() ? std::string(";") : v);
                return out;
            }
            if (r.hasChannel)
                return fail(DeviceError::Ch, "board parameter " + r.par + " with a channel");
            std::string v;
            if (r.par == "BDNAME")
                v = u->model;
            else if (r.par == "BDNCH")
                v = std::to_string(n);
            else if (r.par == "BDFREL")
                v = u->firmware;
            else if (r.par == "BDSNUM")
                v = std::to_string(u->serial);
            else {
                for (auto &p : u->board)
                    v += (v.empty() ? "" : ";") + p.name;
                if (v.empty())
                    v = ";";
            }
            out.text = "#CMD:OK,VAL:" + v;
            return out;
        }

        TrixParam *bp = u->findBoard(r.par);
        bool channelParam = false;
        for (auto &c : u->channels)
            channelParam = channelParam || c.find(r.par);
        if (!bp && !channelParam)
            return fail(DeviceError::Par);
        // A name both on the board and on channels: the channel field decides.
        const bool board = bp && (!channelParam || !r.hasChannel);
        if (board && r.hasChannel)
            return fail(DeviceError::Ch, "board parameter " + r.par + " with a channel");
        if (!board && !r.hasChannel)
            return fail(DeviceError::Ch, "channel parameter " + r.par + " without a channel");
        if (r.hasChannel && r.channel > n)
            return fail(DeviceError::Ch);
        TrixParam *cp = nullptr;
        if (!board && r.channel < n) {
            cp = r.channel < real ? u->channels[size_t(r.channel)].find(r.par) : nullptr;
            if (!cp)
                return fail(DeviceError::Par); // this channel has no such parameter
        }
        const bool all = !board && r.channel == n;

        if (r.cmd == Cmd::Info) {
            if (r.hasValue)
                return fail(DeviceError::Val, "info request with a value");
            if (all)
                return fail(DeviceError::Ch, "info request for all channels");
            out.text = "#CMD:OK,VAL:" + (board ? bp : cp)->describe();
            return out;
        }

        if (r.cmd == Cmd::Mon) {
            if (r.hasValue)
                return fail(DeviceError::Val, "monitor request with a value");
            const TrixParam *probe = board ? bp : cp;
            for (size_t c = 0; !probe && c < u->channels.size(); ++c)
                probe = u->channels[c].find(r.par);
            if (probe->mode == kTrixCommand || probe->type == kTrixNone)
                return fail(DeviceError::Cmd);
            std::string v;
            if (board) {
                v = reading(*bp);
            } else if (!all) {
                v = reading(*cp);
            } else {
                for (int c = 0; c < n; ++c) {
                    const TrixParam *p = c < real ? u->channels[size_t(c)].find(r.par) : nullptr;
                    v += (c ? ";" : "") + (p ? reading(*p) : std::string());
                }
            }
            out.text = "#CMD:OK,VAL:" + v;
            return out;
        }

        // Set requests.
        if (u->local)
            return fail(DeviceError::Loc);
        std::vector<TrixParam *> targets;
        std::vector<TrixChannel *> chans;
        if (board) {
            targets.push_back(bp);
            chans.push_back(nullptr);
        } else if (!all) {
            targets.push_back(cp);
            chans.push_back(&u->channels[size_t(r.channel)]);
        } else {
            for (auto &c : u->channels)
                if (TrixParam *p = c.find(r.par)) {
                    targets.push_back(p);
                    chans.push_back(&c);
                }
        }
        for (TrixParam *p : targets) {
            double num = 0;
            std::string text;
            DeviceError e = DeviceError::Cmd;
            std::string why;
            if (!checkSet(*p, r, num, text, e, why))
                return fail(e, why);
        }
        if (execute) {
            for (size_t i = 0; i < targets.size(); ++i) {
                TrixParam *p = targets[i];
                if (p->mode == kTrixCommand) {
                    command(*u, chans[i], p->name);
                    continue;
                }
                double num = 0;
                std::string text, why;
                DeviceError e;
                checkSet(*p, r, num, text, e, why);
                if (p->type == kTrixText)
                    p->text = text;
                else
                    p->number = num;
            }
            refresh(*u);
        }
        out.text = "#CMD:OK";
        return out;
    }

    void tick(double dt)
    {
        if (dt <= 0)
            return;
        std::lock_guard<std::mutex> lk(bus.m);
        for (auto &u : bus.units) {
            TrixParam *alarm = u.findBoard("BDALARM");
            for (size_t ci = 0; ci < u.channels.size(); ++ci) {
                TrixChannel &c = u.channels[ci];
                if (!c.find("VMON"))
                    continue;
                HvView v = hvView(c);
                const bool tripped = hvTick(v, dt, u.interlock);
                storeHvView(c, v);
                if (tripped && alarm && ci < 8) // bits 0-7: trips of channels 0-7, bit 8: interlock
                    alarm->number = double(word(alarm->number) | (1u << ci));
            }
            refresh(u);
        }
    }
};

TrixhvDialect::TrixhvDialect(std::vector<TrixUnit> units) : impl_(std::make_unique<Impl>(std::move(units))) {}

TrixhvDialect::~TrixhvDialect() = default;

DialectReply TrixhvDialect::handle(std::string_view line, bool execute)
{
    return impl_->handle(line, execute);
}

std::string TrixhvDialect::errorReply(std::string_view, DeviceError kind) const
{
    return errText(kind);
}

void TrixhvDialect::tick(double seconds)
{
    impl_->tick(seconds);
}

void TrixhvDialect::withUnit(int a, const std::function<void(TrixUnit &)> &fn)
{
    impl_->bus.with(a, [&](TrixUnit &u) {
        fn(u);
        Impl::refresh(u);
    });
}

bool TrixhvDialect::copyUnit(int a, TrixUnit &out) const
{
    if (!impl_->bus.copy(a, out))
        return false;
    Impl::refresh(out);
    return true;
}

std::vector<int> TrixhvDialect::addresses() const
{
    return impl_->bus.addresses();
}

TrixhvSim::TrixhvSim(std::vector<TrixUnit> units)
    : TrixhvSim(std::make_shared<TrixhvDialect>(std::move(units)))
{
}

TrixhvSim::TrixhvSim(std::shared_ptr<TrixhvDialect> d) : TextLinkSim(d), trixhv_(std::move(d)) {}

TrixhvSim::~TrixhvSim()
{
    stop();
}

void TrixhvSim::withUnit(int a, const std::function<void(TrixUnit &)> &fn)
{
    trixhv_->withUnit(a, fn);
}

TrixUnit TrixhvSim::unit(int a) const
{
    TrixUnit u;
    trixhv_->copyUnit(a, u);
    return u;
}

std::vector<int> TrixhvSim::addresses() const
{
    return trixhv_->addresses();
}

namespace {

// The parameter `name` of channel `ch`, or of the board for ch < 0.
TrixParam *paramOf(TrixUnit &u, int ch, const std::string &name)
{
    if (ch < 0)
        return u.findBoard(name);
    return size_t(ch) < u.channels.size() ? u.channels[size_t(ch)].find(name) : nullptr;
}

} // namespace

bool TrixhvSim::setValue(int a, int ch, const std::string &name, double v)
{
    bool done = false;
    withUnit(a, [&](TrixUnit &u) {
        if (TrixParam *p = ch >= 0 ? paramOf(u, ch, name) : nullptr)
            p->number = v, done = true;
    });
    return done;
}

bool TrixhvSim::setText(int a, int ch, const std::string &name, const std::string &text)
{
    bool done = false;
    withUnit(a, [&](TrixUnit &u) {
        if (TrixParam *p = ch >= 0 ? paramOf(u, ch, name) : nullptr)
            p->text = text, done = true;
    });
    return done;
}

bool TrixhvSim::setBoardValue(int a, const std::string &name, double v)
{
    bool done = false;
    withUnit(a, [&](TrixUnit &u) {
        if (TrixParam *p = u.findBoard(name))
            p->number = v, done = true;
    });
    return done;
}

bool TrixhvSim::setBoardText(int a, const std::string &name, const std::string &text)
{
    bool done = false;
    withUnit(a, [&](TrixUnit &u) {
        if (TrixParam *p = u.findBoard(name))
            p->text = text, done = true;
    });
    return done;
}

double TrixhvSim::value(int a, int ch, const std::string &name) const
{
    TrixUnit u;
    if (!trixhv_->copyUnit(a, u) || ch < 0)
        return std::nan("");
    const TrixParam *p = paramOf(u, ch, name);
    return p ? p->number : std::nan("");
}

double TrixhvSim::boardValue(int a, const std::string &name) const
{
    TrixUnit u;
    if (!trixhv_->copyUnit(a, u))
        return std::nan("");
    const TrixParam *p = u.findBoard(name);
    return p ? p->number : std::nan("");
}

bool TrixhvSim::channelOn(int a, int ch) const
{
    TrixUnit u;
    return trixhv_->copyUnit(a, u) && ch >= 0 && size_t(ch) < u.channels.size() && u.channels[size_t(ch)].on;
}

void TrixhvSim::setMonitored(int a, int ch, double vmon, double imon)
{
    withUnit(a, [&](TrixUnit &u) {
        onChannel(u.channels, ch, [&](TrixChannel &c) {
            c.hold = true;
            setNumber(c, "VMON", vmon);
            setNumber(c, "IMON", imon);
        });
    });
}

void TrixhvSim::release(int a, int ch)
{
    withUnit(a, [&](TrixUnit &u) { onChannel(u.channels, ch, [](TrixChannel &c) { c.hold = false; }); });
}

void TrixhvSim::setInterlock(int a, bool active)
{
    withUnit(a, [&](TrixUnit &u) { u.interlock = active; });
}

void TrixhvSim::setLocal(int a, bool local)
{
    withUnit(a, [&](TrixUnit &u) { u.local = local; });
}

void TrixhvSim::setExtraStatus(int a, int ch, unsigned bits)
{
    withUnit(a,
             [&](TrixUnit &u) { onChannel(u.channels, ch, [&](TrixChannel &c) { c.extraStatus = bits; }); });
}

} // namespace korusim
