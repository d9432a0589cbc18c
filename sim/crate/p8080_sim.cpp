// The rack's server: command connections (one session each, RSA login),
// an event service on a second port, and an event thread that ramps the
// channels and sends event batches and keep-alive messages.
#include "crate/p8080_sim.h"
#include "crate/crate_panel.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <list>
#include <mutex>
#include <thread>

#include "crate/p8080_key.h"

namespace korusim {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

void le16(std::string &s, uint16_t v)
{
    s.push_back(char(v & 0xFF));
    s.push_back(char(v >> 8));
}

void le32(std::string &s, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        s.push_back(char((v >> (8 * i)) & 0xFF));
}

uint16_t rdLe16(const std::string &s, size_t p)
{
    return uint16_t(uint8_t(s[p]) | (uint8_t(s[p + 1]) << 8));
}
uint32_t rdLe32(const std::string &s, size_t p)
{
    return uint32_t(uint8_t(s[p])) | (uint32_t(uint8_t(s[p + 1])) << 8) |
           (uint32_t(uint8_t(s[p + 2])) << 16) | (uint32_t(uint8_t(s[p + 3])) << 24);
}
uint16_t rdBe16(const std::string &s, size_t p)
{
    return uint16_t((uint8_t(s[p]) << 8) | uint8_t(s[p + 1]));
}

bool sendAll(int fd, const char *data, size_t n)
{
    while (n) {
        ssize_t w = ::send(fd, data, n, MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        data += w;
        n -= size_t(w);
    }
    return true;
}

bool isLoopback(const std::string &ip)
{
    in_addr a{};
    if (inet_pton(AF_INET, ip.c_str(), &a) != 1)
        return false;
    return (ntohl(a.s_addr) >> 24) == 127;
}

std::string printable(const std::string &s)
{
    std::string out;
    for (unsigned char c : s) {
        if (c >= 0x20 && c < 0x7F)
            out.push_back(char(c));
        else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
    }
    return out;
}

std::string frameOf(const std::string &payload)
{
    std::string f;
    le32(f, uint32_t(payload.size()));
    return f + payload;
}

// Field reader over one request payload (little-endian numbers); the first
// departure from the expected layout is kept.
struct Reader {
    const std::string &b;
    size_t p;
    std::string where;
    std::string error;

    bool fail(const std::string &what)
    {
        if (error.empty())
            error = where + ": " + what + " at byte " + std::to_string(p);
        return false;
    }
    bool ok() const { return error.empty(); }
    bool need(size_t n, const char *what)
    {
        if (!ok())
            return false;
        if (p + n > b.size())
            return fail(std::string("request ends inside ") + what);
        return true;
    }
    uint16_t u16(const char *what)
    {
        if (!need(2, what))
            return 0;
        uint16_t v = rdLe16(b, p);
        p += 2;
        return v;
    }
    uint32_t u32(const char *what)
    {
        if (!need(4, what))
            return 0;
        uint32_t v = rdLe32(b, p);
        p += 4;
        return v;
    }
    bool colon(const char *after)
    {
        if (!ok())
            return false;
        if (p < b.size() && b[p] == ':') {
            ++p;
            return true;
        }
        return fail(std::string("':' expected after ") + after);
    }
    std::string name(const char *what)
    {
        if (!ok())
            return {};
        size_t e = b.find(':', p);
        if (e == std::string::npos) {
            fail(std::string("no ':' after ") + what);
            return {};
        }
        std::string n = b.substr(p, e - p);
        if (n.find('\0') != std::string::npos)
            fail(std::string("NUL inside ") + what);
        p = e + 1;
        return n;
    }
    std::vector<uint16_t> list(uint16_t n, const char *what)
    {
        std::vector<uint16_t> v;
        for (unsigned i = 0; i < n && ok(); ++i)
            v.push_back(u16(what));
        return v;
    }
    // The rack's requests end exactly after their last field.
    bool end()
    {
        if (!ok())
            return false;
        if (p == b.size())
            return true;
        return fail(std::to_string(b.size() - p) + " unexpected bytes at the end");
    }
};

const char *statusText(int16_t st)
{
    switch (st) {
    case kP8080Ok:
        return "Command Ok";
    case kP8080UnknownCommand:
        return "Unknown command";
    case kP8080Malformed:
        return "Malformed request";
    case kP8080SlotNotPresent:
        return "Slot not present";
    case kP8080BadSession:
        return "Session not valid";
    case kP8080ParamNotFound:
        return "Parameter not found";
    case kP8080ReadOnly:
        return "Parameter read only";
    case kP8080ValueRange:
        return "Value out of range";
    case kP8080ChannelRange:
        return "Channel out of range";
    case kP8080LoginRefused:
        return "Login refused";
    case kP8080ConnectionRefused:
        return "Too many connections";
    default:
        return "Error";
    }
}

int paramIndex(const std::vector<CrateParam> &list, const std::string &name)
{
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i].name == name)
            return int(i);
    return -1;
}

bool sameDescriptor(const CrateParam &a, const CrateParam &b)
{
    if (a.name != b.name || a.type != b.type || a.writable != b.writable || a.isSigned != b.isSigned)
        return false;
    if (a.type == 1)
        return a.onText == b.onText && a.offText == b.offText;
    return a.minRaw == b.minRaw && a.maxRaw == b.maxRaw && a.decimals == b.decimals && a.factor == b.factor &&
           a.unit == b.unit && a.exp == b.exp;
}

bool inRange(const CrateParam &p, uint32_t raw)
{
    if (p.type == 1)
        return raw <= 1;
    if (p.type != 0)
        return true;
    if (p.isSigned)
        return int32_t(raw) >= p.minRaw && int32_t(raw) <= p.maxRaw;
    return int64_t(raw) >= int64_t(p.minRaw) && int64_t(raw) <= int64_t(p.maxRaw);
}

constexpr uint32_t kRefused = 0xFFFFFFFFu;
constexpr unsigned kNameSlot = 0xFF;
const char *const kExecKeywords[] = {"KILL", "CLRALARM", "GLOBALON", "GLOBALOFF", "KEEPALIVE"};

EVP_PKEY *readPrivateKey(const std::string &pem)
{
    BIO *bio = BIO_new_mem_buf(pem.data(), int(pem.size()));
    if (!bio)
        return nullptr;
    EVP_PKEY *k = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    return k;
}

} // namespace

// ------------------------------------------------------------------ state

struct P8080Sim::Impl {
    struct Chan {
        std::vector<uint32_t> raw;
        std::string name;
        double vmon = 0;
    };
    struct Module {
        std::optional<CrateBoard> board;
        std::vector<uint32_t> bdRaw;
        std::vector<Chan> ch;
    };
    struct Sub {
        P8080Subscription s;
        int index = 0;
        bool dirty = true;
    };
    struct Session {
        uint32_t id = 0;
        std::string user;
        std::string peer;
        int conn = 0;
    };
    struct EvConn {
        uint32_t session = 0; // 0: the session has ended
        int fd = -1;
        bool dead = false;
        Clock::time_point lastSend{};
        bool keepAliveDue = false; // a periodic keep-alive waits for its answer
        Clock::time_point keepAliveSent{};
    };
    struct Pending {
        uint32_t session;
        std::string peer;
    };
    struct Conn {
        int id = 0;
        int fd = -1;
        std::string peer;
        std::thread th;
        std::atomic<bool> done{false};
    };
    struct Reply {
        std::string body;
        int16_t status = 0;
        bool none = false; // exec frames get no reply
        bool close = false;
        bool silent = false;
        std::optional<P8080Fault> fault;
    };

    std::string address;
    uint16_t port = 0;
    uint16_t evPort = 0;
    P8080SimOptions opt;

    mutable std::mutex m;
    std::condition_variable cv;
    mutable std::condition_variable linkCv;
    bool wake = false;
    std::vector<Module> modules;
    std::vector<P8080SystemParam> sysDesc;
    std::vector<uint32_t> sysRaw;
    std::vector<std::string> sysText;
    std::string ctlModel, ctlDescription;
    uint32_t ctlSerial = 0;
    bool panelFollows = false;
    std::vector<Session> sessions;
    std::vector<Sub> subs;
    std::vector<EvConn> evconns;
    std::vector<Pending> pending;
    std::vector<std::string> rawQueue; // payloads for every event connection
    std::list<P8080Fault> faults;
    std::list<P8080EventFault> eventFaults;
    std::vector<P8080Request> log;
    std::vector<std::string> errors;
    uint32_t nextSession = 0;
    int connCounter = 0;
    int keepAliveAnswers = 0;
    std::string lastPassword;
    std::string errorText;
    EVP_PKEY *key = nullptr;

    int listenFd = -1;
    int evListenFd = -1;
    std::atomic<bool> stopping{false};
    bool started = false;
    std::thread acceptTh;
    std::thread eventTh;
    std::mutex connM;
    std::list<std::unique_ptr<Conn>> conns;

    Impl(P8080Model model, std::string addr, uint16_t p, P8080SimOptions o)
        : address(std::move(addr)), port(p), opt(std::move(o))
    {
        if (model.modules.size() > 150)
            model.modules.resize(150);
        for (auto &b : model.modules)
            modules.push_back(makeModule(std::move(b)));
        sysDesc = std::move(model.systemParams);
        for (auto &s : sysDesc) {
            sysRaw.push_back(s.desc.initialRaw);
            sysText.push_back(s.text);
        }
        ctlModel = model.controllerModel;
        ctlDescription = model.controllerDescription;
        ctlSerial = model.controllerSerial;
        panelFollows = model.panelFollowsChannels;
        nextSession = opt.firstSessionId;
        refreshPanel();
    }
    ~Impl()
    {
        if (key)
            EVP_PKEY_free(key);
    }

    static Module makeModule(std::optional<CrateBoard> b)
    {
        Module s;
        if (!b)
            return s;
        s.board = std::move(b);
        for (auto &p : s.board->boardParams)
            s.bdRaw.push_back(p.initialRaw);
        s.ch.resize(s.board->channels);
        for (unsigned c = 0; c < s.board->channels; ++c) {
            for (auto &p : s.board->paramsOf(c))
                s.ch[c].raw.push_back(p.initialRaw);
            if (c < s.board->channelNames.size())
                s.ch[c].name = s.board->channelNames[c];
            else {
                char n[16];
                std::snprintf(n, sizeof n, "CHAN%03u", c);
                s.ch[c].name = n;
            }
            int vi = paramIndex(s.board->paramsOf(c), "VMon");
            if (vi >= 0)
                s.ch[c].vmon = rawToValue(s.board->paramsOf(c)[vi], s.ch[c].raw[vi]);
        }
        return s;
    }

    void protocolError(const std::string &e) { errors.push_back(e); }

    Module *module(unsigned b) { return b < modules.size() && modules[b].board ? &modules[b] : nullptr; }
    Chan *chan(unsigned b, unsigned c)
    {
        Module *md = module(b);
        return md && c < md->ch.size() ? &md->ch[c] : nullptr;
    }
    int sysIndex(const std::string &name) const
    {
        for (size_t i = 0; i < sysDesc.size(); ++i)
            if (sysDesc[i].desc.name == name)
                return int(i);
        return -1;
    }

    // ---------------------------------------------------------- changes

    void markSubs(int kind, int board, int ch, int idx)
    {
        for (auto &s : subs)
            if (s.s.kind == kind && (kind == 2 || s.s.board == board) && (kind != 0 || s.s.channel == ch) &&
                s.index == idx)
                s.dirty = true;
        wake = true;
        cv.notify_all();
    }
    void setChRaw(unsigned b, unsigned c, int idx, uint32_t raw)
    {
        Chan &ch = modules[b].ch[c];
        if (ch.raw[idx] == raw)
            return;
        ch.raw[idx] = raw;
        markSubs(0, int(b), int(c), idx);
        refreshPanel();
    }
    void setSysRaw(int i, uint32_t raw)
    {
        if (sysRaw[i] == raw)
            return;
        sysRaw[i] = raw;
        markSubs(2, -1, -1, i);
        const std::string &name = sysDesc[i].desc.name;
        if (name == "ACDCPwr") {
            int iSt = sysIndex("ACDCStatus");
            if (iSt >= 0)
                setSysRaw(iSt, (sysRaw[iSt] & ~1u) | (raw ? 1u : 0u));
        } else if (name == "Temp") {
            refreshPanel();
        }
    }

    // Recomputes "FrontPanOut" from every channel's status (its "Pw" when it
    // has none) and the rack temperature, when the model asks for it.
    void refreshPanel()
    {
        int iPanel = sysIndex("FrontPanOut");
        if (!panelFollows || iPanel < 0)
            return;
        uint32_t word = 0;
        for (const Module &md : modules) {
            if (!md.board)
                continue;
            for (unsigned c = 0; c < md.ch.size(); ++c) {
                const auto &ps = md.board->paramsOf(c);
                int iSt = paramIndex(ps, "Status"), iPw = paramIndex(ps, "Pw");
                if (iSt >= 0)
                    word |= rackPanelBits(md.ch[c].raw[iSt]);
                else if (iPw >= 0 && md.ch[c].raw[iPw])
                    word |= kPanelChannelOn;
            }
        }
        int iTemp = sysIndex("Temp");
        if (iTemp >= 0) {
            const CrateParam &t = sysDesc[iTemp].desc;
            if (rawToValue(t, sysRaw[iTemp]) > kRackOverTemperature)
                word |= kRackPanelOverTemp;
        }
        if (sysRaw[iPanel] != word) {
            sysRaw[iPanel] = word;
            markSubs(2, -1, -1, iPanel);
        }
    }

    void rampStep(double dt)
    {
        for (unsigned b = 0; b < modules.size(); ++b) {
            Module &md = modules[b];
            if (!md.board)
                continue;
            for (unsigned c = 0; c < md.ch.size(); ++c) {
                const auto &ps = md.board->paramsOf(c);
                int iV = paramIndex(ps, "VMon"), iSet = paramIndex(ps, "V0Set"), iPw = paramIndex(ps, "Pw");
                if (iV < 0 || iSet < 0 || iPw < 0)
                    continue;
                int iI = paramIndex(ps, "IMon"), iSt = paramIndex(ps, "Status");
                int iUp = paramIndex(ps, "RUp"), iDn = paramIndex(ps, "RDWn");
                Chan &ch = md.ch[c];
                bool on = ch.raw[iPw] != 0;
                double target = on ? rawToValue(ps[iSet], ch.raw[iSet]) : 0.0;
                double v = ch.vmon;
                uint32_t st = iSt >= 0 ? ch.raw[iSt] & ~uint32_t(0x7) : 0;
                if (on)
                    st |= 1;
                if (std::fabs(target - v) > 1e-9) {
                    bool up = target > v;
                    double rate = 50.0;
                    if (up && iUp >= 0)
                        rate = rawToValue(ps[iUp], ch.raw[iUp]);
                    if (!up && iDn >= 0)
                        rate = rawToValue(ps[iDn], ch.raw[iDn]);
                    double step = std::max(rate, 1.0) * dt;
                    v = up ? std::min(target, v + step) : std::max(target, v - step);
                    if (std::fabs(target - v) > 1e-9)
                        st |= up ? 2 : 4;
                }
                ch.vmon = v;
                setChRaw(b, c, iV, valueToRaw(ps[iV], v));
                if (iI >= 0)
                    setChRaw(b, c, iI, valueToRaw(ps[iI], v * 0.05));
                if (iSt >= 0)
                    setChRaw(b, c, iSt, st);
            }
        }
    }

    void forEachChannel(const char *param, uint32_t raw)
    {
        for (unsigned b = 0; b < modules.size(); ++b) {
            if (!modules[b].board)
                continue;
            for (unsigned c = 0; c < modules[b].ch.size(); ++c) {
                int i = paramIndex(modules[b].board->paramsOf(c), param);
                if (i >= 0)
                    setChRaw(b, c, i, raw);
            }
        }
    }

    void runExec(const std::string &kw)
    {
        if (kw == "KILL") {
            for (const char *n : {"Pw", "VMon", "IMon", "Status"})
                forEachChannel(n, 0);
            for (auto &md : modules)
                for (auto &c : md.ch)
                    c.vmon = 0;
        } else if (kw == "CLRALARM") {
            for (unsigned b = 0; b < modules.size(); ++b) {
                if (!modules[b].board)
                    continue;
                for (unsigned c = 0; c < modules[b].ch.size(); ++c) {
                    int i = paramIndex(modules[b].board->paramsOf(c), "Status");
                    if (i >= 0)
                        setChRaw(b, c, i, modules[b].ch[c].raw[i] & 0x7u);
                }
            }
        } else if (kw == "GLOBALON") {
            forEachChannel("Pw", 1);
        } else if (kw == "GLOBALOFF") {
            forEachChannel("Pw", 0);
        } else if (kw == "KEEPALIVE") {
            ++keepAliveAnswers;
        }
    }

    void keepAliveAnswered(uint32_t session)
    {
        for (auto &e : evconns)
            if (e.session == session)
                e.keepAliveDue = false;
    }

    // --------------------------------------------------------- replies

    static std::string head(const std::string &kw, const std::string &sid, int16_t st, const std::string &msg)
    {
        std::string r = kw + ":" + sid;
        le16(r, uint16_t(st));
        return r + ":" + msg + ":";
    }
    Reply plain(const std::string &kw, const std::string &sid, int16_t st)
    {
        Reply r;
        r.status = st;
        r.body = head(kw, sid, st, statusText(st));
        return r;
    }
    Reply data(const std::string &kw, const std::string &sid, const std::string &bytes)
    {
        Reply r;
        r.body = head(kw, sid, 0, statusText(0)) + bytes;
        return r;
    }
    Reply malformed(const std::string &kw, const std::string &sid, const Reader &rd)
    {
        protocolError(rd.error);
        return plain(kw, sid, kP8080Malformed);
    }

    // ------------------------------------------------------ system data

    std::string sysInfo() const
    {
        struct Entry {
            int board;
            unsigned channels;
            std::vector<uint16_t> bd;
            std::vector<std::vector<uint16_t>> ch;
        };
        std::vector<CrateParam> desc;
        auto indexOf = [&](const CrateParam &p) {
            for (size_t i = 0; i < desc.size(); ++i)
                if (sameDescriptor(desc[i], p))
                    return uint16_t(i);
            desc.push_back(p);
            return uint16_t(desc.size() - 1);
        };
        std::vector<Entry> entries;
        for (unsigned b = 0; b < modules.size(); ++b) {
            if (!modules[b].board)
                continue;
            const CrateBoard &cb = *modules[b].board;
            Entry e{int(b), cb.channels, {}, {}};
            for (auto &p : cb.boardParams)
                e.bd.push_back(indexOf(p));
            for (unsigned c = 0; c < cb.channels; ++c) {
                std::vector<uint16_t> l;
                for (auto &p : cb.paramsOf(c))
                    l.push_back(indexOf(p));
                e.ch.push_back(l);
            }
            entries.push_back(std::move(e));
        }
        Entry sys{kP8080SystemBoard, 0, {}, {}};
        for (auto &s : sysDesc)
            sys.bd.push_back(indexOf(s.desc));
        entries.push_back(std::move(sys));

        std::string d;
        le16(d, uint16_t(desc.size()));
        d += ":";
        for (auto &p : desc) {
            d += p.name.substr(0, 11) + ":";
            d.push_back(char(p.type));
            d.push_back(char(p.writable ? 1 : 0));
            d.push_back(char(p.isSigned ? 1 : 0));
            if (p.type == 1) {
                d += p.onText.substr(0, 7) + ":" + p.offText.substr(0, 7) + ":";
            } else {
                le32(d, uint32_t(p.minRaw));
                le32(d, uint32_t(p.maxRaw));
                le32(d, p.decimals);
                le32(d, p.factor);
                d.push_back(char(int8_t(p.unit)));
                le16(d, uint16_t(p.exp));
            }
        }
        d += ":";
        le16(d, uint16_t(entries.size()));
        d += ":";
        for (auto &e : entries) {
            d.push_back(char(e.board % 25));
            d.push_back(char(e.board / 25));
        }
        d += ":";
        for (auto &e : entries)
            le16(d, uint16_t(e.channels));
        d += ":";
        for (auto &e : entries) {
            le16(d, uint16_t(e.bd.size()));
            for (uint16_t i : e.bd)
                le16(d, i);
            d += ":";
            for (auto &l : e.ch) {
                le16(d, uint16_t(l.size()));
                for (uint16_t i : l)
                    le16(d, i);
            }
        }
        return d;
    }

    // Module slots and, last, the rack controller (which the library drops).
    std::string crateMap() const
    {
        std::string d(1, char(uint8_t(modules.size() + 1)));
        auto entry = [&](const std::string &model, const std::string &descr, uint32_t serial, uint8_t maj,
                         uint8_t min) {
            d += ":" + model + ":" + descr + ":";
            le32(d, serial);
            d += ":";
            d.push_back(char(maj));
            d.push_back(char(min));
        };
        for (auto &md : modules) {
            if (!md.board) {
                d += ":";
                d.push_back('\0');
                continue;
            }
            entry(md.board->model, md.board->description, md.board->serial32, md.board->fwMajor,
                  md.board->fwMinor);
        }
        entry(ctlModel, ctlDescription, ctlSerial, 1, 3);
        return d;
    }

    std::string sysComp() const
    {
        std::string d;
        le16(d, 1);
        d += ":";
        le16(d, uint16_t(modules.size() + 1));
        d += ":";
        for (auto &md : modules)
            le32(d, md.board ? (0x10000u | md.board->channels) : 0);
        le32(d, 0);
        return d;
    }

    // ----------------------------------------------------- subscriptions

    uint32_t subscribe(uint32_t session, int kind, int board, int ch, const std::string &name)
    {
        int idx = -1;
        uint32_t id = kRefused;
        if (kind == 0) {
            Chan *c = board >= 0 ? chan(unsigned(board), unsigned(ch)) : nullptr;
            if (!c)
                return kRefused;
            idx = name == "Name" ? int(kNameSlot) : paramIndex(modules[board].board->paramsOf(ch), name);
            if (idx < 0 || idx > 0xFF)
                return kRefused;
            id = p8080Id(unsigned(board), unsigned(ch), unsigned(idx));
        } else if (kind == 1) {
            if (board < 0 || !module(unsigned(board)))
                return kRefused;
            idx = paramIndex(modules[board].board->boardParams, name);
            if (idx < 0 || idx >= 30)
                return kRefused;
            id = p8080Id(unsigned(board), 0xFFFF, unsigned(idx));
        } else if (kind == 2) {
            idx = sysIndex(name);
            if (idx < 0 || idx >= 30)
                return kRefused;
            id = p8080Id(kP8080SystemBoard, 0xFFFF, unsigned(idx));
        } else if (kind == 3) {
            if (name.rfind("KeepAlive", 0) == 0)
                idx = 0;
            else if (name.rfind("LiveInsRem", 0) == 0)
                idx = 1;
            else
                return kRefused;
            id = p8080Id(kP8080SpecialBoard, 0xFFFF, unsigned(idx));
        } else {
            return kRefused;
        }
        bool known = false;
        for (auto &s : subs)
            if (s.s.session == session && s.s.id == id) {
                s.dirty = kind != 3;
                known = true;
            }
        if (!known) {
            Sub s;
            s.s = P8080Subscription{id, session, kind, kind <= 1 ? board : -1, kind == 0 ? ch : -1, name};
            s.index = idx;
            // Items of board 254 are stored by the library, but their values have
            // no width it knows: the rack reports those events as rack messages.
            s.dirty = kind != 3;
            subs.push_back(std::move(s));
        }
        return id;
    }

    Reply cmdEnable(const std::string &kw, const std::string &sid, Reader &rd, const Session &ses)
    {
        rd.colon("session id");
        uint16_t n = rd.u16("item count");
        rd.colon("item count");
        struct Item {
            int kind, board, ch;
            std::string name;
        };
        std::vector<Item> items;
        // The item list is the crate protocol's encoding: big-endian numbers,
        // each field ended by ':', the last name ended by NUL.
        for (unsigned i = 0; i < n && rd.ok(); ++i) {
            auto be = [&](const char *what) -> int {
                if (!rd.need(3, what))
                    return -1;
                int v = rdBe16(rd.b, rd.p);
                rd.p += 2;
                rd.colon(what);
                return v;
            };
            Item it{be("item kind"), -1, -1, {}};
            if (it.kind == 0) {
                it.board = be("board");
                it.ch = be("channel");
            } else if (it.kind == 1) {
                it.board = be("board");
            } else if (it.kind != 2 && it.kind != 3) {
                bool swapped = it.kind > 0xFF && (it.kind & 0xFF) == 0 && (it.kind >> 8) <= 3;
                rd.fail(
                    "item kind " + std::to_string(it.kind) +
                    (swapped
                         ? " (little-endian? the item list keeps the crate protocol's big-endian encoding)"
                         : ""));
            }
            if (!rd.ok())
                break;
            size_t e = rd.b.find_first_of(std::string(":\0", 2), rd.p);
            if (e == std::string::npos) {
                rd.fail("item name not ended");
                break;
            }
            bool last = i + 1 == n;
            if (rd.b[e] == '\0' && !last) {
                rd.fail("NUL ends an item that is not the last");
                break;
            }
            if (rd.b[e] == ':' && last)
                protocolError(kw + ": the last item ends with ':' instead of NUL");
            it.name = rd.b.substr(rd.p, e - rd.p);
            rd.p = e + 1;
            items.push_back(it);
        }
        if (!rd.end())
            return malformed(kw, sid, rd);
        if (n == 0) {
            protocolError(kw + ": no items");
            return plain(kw, sid, kP8080Malformed);
        }
        std::string d;
        le16(d, evPort);
        d += ":";
        for (auto &it : items)
            le32(d, subscribe(ses.id, it.kind, it.board, it.ch, it.name));
        bool haveConn = std::any_of(evconns.begin(), evconns.end(),
                                    [&](const EvConn &e) { return e.session == ses.id && !e.dead; });
        bool waiting = std::any_of(pending.begin(), pending.end(),
                                   [&](const Pending &p) { return p.session == ses.id; });
        if (!haveConn && !waiting)
            pending.push_back({ses.id, ses.peer});
        wake = true;
        cv.notify_all();
        return data(kw, sid, d);
    }

    // ------------------------------------------------------ the requests

    Reply login(const std::string &body, Conn &conn, std::optional<Session> &ses)
    {
        const std::string kw = "LOGIN";
        auto answer = [&](int16_t st, uint32_t id) {
            Reply r;
            r.status = st;
            r.body = kw + ":";
            le16(r.body, uint16_t(st));
            r.body += std::string(":") + (st ? statusText(st) : "Login Ok") + ":";
            le32(r.body, id);
            return r;
        };
        Reader rd{body, kw.size(), kw, {}};
        rd.colon("keyword");
        std::string user = rd.name("user name");
        if (!rd.ok()) {
            protocolError(rd.error);
            return answer(kP8080LoginRefused, 0);
        }
        std::string enc = body.substr(rd.p);
        size_t keyBytes = size_t(EVP_PKEY_get_size(key));
        if (enc.size() != keyBytes) {
            protocolError("LOGIN: encrypted password of " + std::to_string(enc.size()) +
                          " bytes, the key takes " + std::to_string(keyBytes));
            return answer(kP8080LoginRefused, 0);
        }
        std::string pass;
        EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new(key, nullptr);
        bool ok =
            ctx && EVP_PKEY_decrypt_init(ctx) > 0 && EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) > 0;
        size_t outLen = 0;
        const auto *in = reinterpret_cast<const unsigned char *>(enc.data());
        ok = ok && EVP_PKEY_decrypt(ctx, nullptr, &outLen, in, enc.size()) > 0;
        if (ok) {
            pass.resize(outLen);
            ok = EVP_PKEY_decrypt(ctx, reinterpret_cast<unsigned char *>(pass.data()), &outLen, in,
                                  enc.size()) > 0;
            pass.resize(ok ? outLen : 0);
        }
        if (ctx)
            EVP_PKEY_CTX_free(ctx);
        ERR_clear_error();
        if (!ok) {
            protocolError("LOGIN: the password does not decrypt with the rack's key (PKCS #1 v1.5)");
            return answer(kP8080LoginRefused, 0);
        }
        lastPassword = pass;
        if (user != opt.user || pass != opt.password)
            return answer(kP8080LoginRefused, 0);
        if (!ses && int(sessions.size()) >= opt.maxSessions)
            return answer(kP8080ConnectionRefused, 0);
        if (ses)
            endSession(ses->id);
        Session s;
        s.id = nextSession++;
        if (s.id == 0)
            s.id = nextSession++;
        s.user = user;
        s.peer = conn.peer;
        s.conn = conn.id;
        sessions.push_back(s);
        ses = s;
        return answer(0, s.id);
    }

    Reply execute(const std::string &body, Conn &conn, std::optional<Session> &ses)
    {
        size_t colon = body.find(':');
        std::string kw = body.substr(0, colon);
        if (kw == "LOGIN")
            return login(body, conn, ses);
        Reader rd{body, kw.size(), kw, {}};
        std::string sid;
        rd.colon("keyword");
        if (rd.need(4, "session id"))
            sid = body.substr(rd.p, 4);
        uint32_t id = rd.u32("session id");
        bool exec =
            std::find(std::begin(kExecKeywords), std::end(kExecKeywords), kw) != std::end(kExecKeywords);
        if (exec) {
            // keyword ':' session id and three further bytes; no reply.
            Reply r;
            r.none = true;
            if (rd.ok() && body.size() != rd.p + 3)
                protocolError(kw + ": " + std::to_string(body.size() - rd.p) +
                              " bytes after the session id, 3 expected");
            if (!rd.ok())
                protocolError(rd.error);
            else if (!ses || ses->id != id)
                protocolError(kw + ": session id not valid");
            else {
                runExec(kw);
                if (kw == "KEEPALIVE")
                    keepAliveAnswered(id);
            }
            return r;
        }
        if (!rd.ok())
            return malformed(kw, sid, rd);
        if (!ses || ses->id != id)
            return plain(kw, sid, kP8080BadSession);

        if (kw == "LOGOUT") {
            if (!rd.end())
                return malformed(kw, sid, rd);
            Reply r = plain(kw, sid, 0);
            endSession(ses->id);
            ses.reset();
            return r;
        }
        if (kw == "GETCRATEMAP") {
            if (!rd.end())
                return malformed(kw, sid, rd);
            return data(kw, sid, crateMap());
        }
        if (kw == "GETSYSCOMP") {
            if (!rd.end())
                return malformed(kw, sid, rd);
            return data(kw, sid, sysComp());
        }
        if (kw == "GETSYSINFO") {
            rd.colon("session id");
            uint16_t zero = rd.u16("argument");
            if (!rd.end())
                return malformed(kw, sid, rd);
            if (zero != 0)
                protocolError("GETSYSINFO: argument " + std::to_string(zero) + ", 0 expected");
            return data(kw, sid, sysInfo());
        }
        if (kw == "GETBDPARAM") {
            rd.colon("session id");
            std::string name = rd.name("parameter name");
            uint16_t n = rd.u16("slot count");
            rd.colon("slot count");
            auto list = rd.list(n, "slot list");
            if (!rd.end())
                return malformed(kw, sid, rd);
            std::string d;
            for (uint16_t b : list) {
                if (b == kP8080SystemBoard) {
                    int i = sysIndex(name);
                    if (i < 0)
                        return plain(kw, sid, kP8080ParamNotFound);
                    if (sysDesc[i].desc.type == kSysText) {
                        if (n != 1)
                            return plain(kw, sid, kP8080Malformed);
                        d += sysText[i];
                        d.push_back('\0');
                    } else {
                        le32(d, sysRaw[i]);
                    }
                    continue;
                }
                Module *md = module(b);
                if (!md)
                    return plain(kw, sid, kP8080SlotNotPresent);
                int i = paramIndex(md->board->boardParams, name);
                if (i < 0)
                    return plain(kw, sid, kP8080ParamNotFound);
                le32(d, md->bdRaw[i]);
            }
            return data(kw, sid, d);
        }
        if (kw == "SETBDPARAM")
            return setBdParam(kw, sid, rd);
        if (kw == "GETCHPARAM" || kw == "GETCHNAME") {
            bool names = kw == "GETCHNAME";
            rd.colon("session id");
            uint16_t b = rd.u16("slot");
            rd.colon("slot");
            std::string name = names ? std::string() : rd.name("parameter name");
            uint16_t n = rd.u16("channel count");
            rd.colon("channel count");
            auto list = rd.list(n, "channel list");
            if (!rd.end())
                return malformed(kw, sid, rd);
            Module *md = module(b);
            if (!md)
                return plain(kw, sid, kP8080SlotNotPresent);
            std::string d;
            for (uint16_t c : list) {
                if (c >= md->ch.size())
                    return plain(kw, sid, kP8080ChannelRange);
                if (names) {
                    d += md->ch[c].name;
                    d.push_back('\0');
                    continue;
                }
                int i = paramIndex(md->board->paramsOf(c), name);
                if (i < 0)
                    return plain(kw, sid, kP8080ParamNotFound);
                le32(d, md->ch[c].raw[i]);
            }
            return data(kw, sid, d);
        }
        if (kw == "SETCHPARAM" || kw == "SETCHNAME") {
            bool names = kw == "SETCHNAME";
            rd.colon("session id");
            uint16_t b = rd.u16("slot");
            rd.colon("slot");
            std::string name = rd.name(names ? "channel name" : "parameter name");
            uint32_t raw = 0;
            if (!names) {
                raw = rd.u32("value");
                rd.colon("value");
            }
            uint16_t n = rd.u16("channel count");
            rd.colon("channel count");
            auto list = rd.list(n, "channel list");
            if (!rd.end())
                return malformed(kw, sid, rd);
            Module *md = module(b);
            if (!md)
                return plain(kw, sid, kP8080SlotNotPresent);
            // '#' ends a text in the event stream: a name may not hold one.
            if (names && (name.size() > 11 || name.find('#') != std::string::npos))
                return plain(kw, sid, kP8080ValueRange);
            for (uint16_t c : list) {
                if (c >= md->ch.size())
                    return plain(kw, sid, kP8080ChannelRange);
                if (names)
                    continue;
                int i = paramIndex(md->board->paramsOf(c), name);
                if (i < 0)
                    return plain(kw, sid, kP8080ParamNotFound);
                const CrateParam &p = md->board->paramsOf(c)[i];
                if (!p.writable)
                    return plain(kw, sid, kP8080ReadOnly);
                if (!inRange(p, raw))
                    return plain(kw, sid, kP8080ValueRange);
            }
            for (uint16_t c : list) {
                if (names) {
                    if (md->ch[c].name != name) {
                        md->ch[c].name = name;
                        markSubs(0, b, c, int(kNameSlot));
                    }
                    continue;
                }
                setChRaw(b, c, paramIndex(md->board->paramsOf(c), name), raw);
            }
            return plain(kw, sid, 0);
        }
        if (kw == "ENABLEMSG")
            return cmdEnable(kw, sid, rd, *ses);
        if (kw == "DISABLEMSG") {
            if (!rd.end())
                return malformed(kw, sid, rd);
            uint32_t me = ses->id;
            std::erase_if(subs, [&](const Sub &s) { return s.s.session == me; });
            return plain(opt.disableReplyKeyword, sid, 0);
        }
        protocolError("unknown keyword " + printable(kw));
        return plain(kw, sid, kP8080UnknownCommand);
    }

    // SETBDPARAM ':' name ':' value ':' n ':' slots; the value is a 32-bit
    // word, or for a text parameter of the pseudo-board its text.
    Reply setBdParam(const std::string &kw, const std::string &sid, Reader &rd)
    {
        rd.colon("session id");
        std::string name = rd.name("parameter name");
        if (!rd.ok())
            return malformed(kw, sid, rd);
        int si = sysIndex(name);
        std::string rest = rd.b.substr(rd.p);
        static const std::string sysTail{':', 1, 0, ':', char(kP8080SystemBoard), 0};
        if (si >= 0 && sysDesc[si].desc.type == kSysText && rest.size() >= sysTail.size() &&
            rest.compare(rest.size() - sysTail.size(), sysTail.size(), sysTail) == 0) {
            std::string text = rest.substr(0, rest.size() - sysTail.size());
            if (!sysDesc[si].desc.writable)
                return plain(kw, sid, kP8080ReadOnly);
            if (text.find('\0') != std::string::npos) {
                protocolError(kw + ": NUL inside the text value");
                return plain(kw, sid, kP8080Malformed);
            }
            if (text.size() > 63 || text.find('#') != std::string::npos)
                return plain(kw, sid, kP8080ValueRange);
            if (sysText[si] != text) {
                sysText[si] = text;
                markSubs(2, -1, -1, si);
            }
            return plain(kw, sid, 0);
        }
        uint32_t raw = rd.u32("value");
        rd.colon("value");
        uint16_t n = rd.u16("slot count");
        rd.colon("slot count");
        auto list = rd.list(n, "slot list");
        if (!rd.end())
            return malformed(kw, sid, rd);
        // Check every slot before changing any.
        for (uint16_t b : list) {
            if (b == kP8080SystemBoard) {
                if (si < 0)
                    return plain(kw, sid, kP8080ParamNotFound);
                const CrateParam &p = sysDesc[si].desc;
                if (!p.writable)
                    return plain(kw, sid, kP8080ReadOnly);
                if (p.type == kSysText)
                    return plain(kw, sid, kP8080Malformed);
                if (p.type == kSysBool && raw > 1)
                    return plain(kw, sid, kP8080ValueRange);
                if (p.type != kSysBool && p.minRaw < p.maxRaw) {
                    bool sgn = p.type == kSysS16 || p.type == kSysS32 || p.isSigned;
                    int64_t v = sgn ? int64_t(int32_t(raw)) : int64_t(raw);
                    if (v < p.minRaw || v > p.maxRaw)
                        return plain(kw, sid, kP8080ValueRange);
                }
                continue;
            }
            Module *md = module(b);
            if (!md)
                return plain(kw, sid, kP8080SlotNotPresent);
            int i = paramIndex(md->board->boardParams, name);
            if (i < 0)
                return plain(kw, sid, kP8080ParamNotFound);
            const CrateParam &p = md->board->boardParams[i];
            if (!p.writable)
                return plain(kw, sid, kP8080ReadOnly);
            if (!inRange(p, raw))
                return plain(kw, sid, kP8080ValueRange);
        }
        for (uint16_t b : list) {
            if (b == kP8080SystemBoard) {
                setSysRaw(si, raw);
                continue;
            }
            int i = paramIndex(modules[b].board->boardParams, name);
            if (modules[b].bdRaw[i] != raw) {
                modules[b].bdRaw[i] = raw;
                markSubs(1, b, -1, i);
            }
        }
        return plain(kw, sid, 0);
    }

    void endSession(uint32_t id)
    {
        std::erase_if(sessions, [&](const Session &s) { return s.id == id; });
        std::erase_if(subs, [&](const Sub &s) { return s.s.session == id; });
        std::erase_if(pending, [&](const Pending &p) { return p.session == id; });
        // The library closes the event connection itself; the rack stops using it.
        for (auto &e : evconns)
            if (e.session == id)
                e.session = 0;
        wake = true;
        cv.notify_all();
    }

    std::optional<P8080Fault> takeFault(const std::string &kw)
    {
        for (auto it = faults.begin(); it != faults.end(); ++it) {
            if (!it->keyword.empty() && it->keyword != kw)
                continue;
            P8080Fault f = *it;
            if (it->count > 0 && --it->count == 0)
                faults.erase(it);
            return f;
        }
        return std::nullopt;
    }

    // ------------------------------------------------ command connection

    bool readExact(int fd, char *buf, size_t n)
    {
        while (n) {
            pollfd p{fd, POLLIN, 0};
            int r = ::poll(&p, 1, 100);
            if (stopping)
                return false;
            if (r < 0 && errno == EINTR)
                continue;
            if (r < 0)
                return false;
            if (r == 0)
                continue;
            ssize_t got = ::recv(fd, buf, n, 0);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return false;
            buf += got;
            n -= size_t(got);
        }
        return true;
    }

    void pause(milliseconds d)
    {
        auto until = Clock::now() + d;
        while (!stopping && Clock::now() < until)
            std::this_thread::sleep_for(milliseconds(5));
    }

    void sendReply(int fd, const Reply &r)
    {
        std::string frame = frameOf(r.body);
        if (!r.fault) {
            sendAll(fd, frame.data(), frame.size());
            return;
        }
        const P8080Fault &f = *r.fault;
        switch (f.action) {
        case P8080Fault::SplitLength:
            sendAll(fd, frame.data(), 2);
            pause(f.delay);
            sendAll(fd, frame.data() + 2, frame.size() - 2);
            break;
        case P8080Fault::SplitReply: {
            size_t step = std::max<size_t>(1, f.chunk);
            for (size_t p = 0; p < frame.size() && !stopping; p += step) {
                sendAll(fd, frame.data() + p, std::min(step, frame.size() - p));
                if (p + step < frame.size())
                    pause(f.delay);
            }
            break;
        }
        case P8080Fault::CutFrame:
            sendAll(fd, frame.data(), 4 + std::min(f.bytes, r.body.size()));
            break;
        case P8080Fault::LengthOverride: {
            std::string l;
            le32(l, uint32_t(f.bytes));
            std::string fr = l + r.body;
            sendAll(fd, fr.data(), fr.size());
            break;
        }
        default:
            sendAll(fd, frame.data(), frame.size());
        }
    }

    void serve(Conn &c)
    {
        std::optional<Session> ses;
        while (!stopping) {
            char lenBytes[4];
            if (!readExact(c.fd, lenBytes, 4))
                break;
            uint32_t len = rdLe32(std::string(lenBytes, 4), 0);
            if (len == 0 || len > opt.maxRequest) {
                std::lock_guard lk(m);
                protocolError("request length " + std::to_string(len) + " refused, connection closed");
                break;
            }
            std::string body(len, '\0');
            if (!readExact(c.fd, body.data(), len)) {
                std::lock_guard lk(m);
                protocolError("connection ended inside a request of " + std::to_string(len) + " bytes");
                break;
            }
            Reply r;
            std::string kw = body.substr(0, body.find(':'));
            {
                std::lock_guard lk(m);
                P8080Request req{c.id, len, body, kw, 0, false};
                std::optional<P8080Fault> f = takeFault(kw);
                bool exec = std::find(std::begin(kExecKeywords), std::end(kExecKeywords), kw) !=
                            std::end(kExecKeywords);
                std::string sidBytes = body.size() >= kw.size() + 5 ? body.substr(kw.size() + 1, 4) : "";
                if (f && f->action == P8080Fault::Close) {
                    r.close = true;
                } else if (f && f->action == P8080Fault::Silent) {
                    r.silent = true;
                } else if (f && f->action == P8080Fault::Refuse && !exec) {
                    r.status = f->status;
                    if (kw == "LOGIN") {
                        r.body = kw + ":";
                        le16(r.body, uint16_t(f->status));
                        r.body += std::string(":") + statusText(f->status) + ":";
                        le32(r.body, 0);
                    } else {
                        r.body = head(kw, sidBytes, f->status, statusText(f->status));
                    }
                } else {
                    r = execute(body, c, ses);
                    if (f && !exec)
                        r.fault = f;
                }
                req.status = r.status;
                req.replied = !r.none && !r.close && !r.silent;
                log.push_back(std::move(req));
            }
            if (r.close)
                break;
            if (r.silent || r.none)
                continue;
            if (r.fault) {
                const P8080Fault &f = *r.fault;
                if (f.action == P8080Fault::Delay)
                    pause(f.delay);
                if (f.action == P8080Fault::CutData)
                    r.body.resize(std::min(f.bytes, r.body.size()));
                if (f.action == P8080Fault::ReplaceBody)
                    r.body = f.body;
                if (f.action == P8080Fault::WrongKeyword)
                    r.body = "XXXX" + r.body;
                if (f.action == P8080Fault::WrongSession && kw != "LOGIN" && r.body.size() >= kw.size() + 5)
                    for (size_t i = 0; i < 4; ++i)
                        r.body[kw.size() + 1 + i] ^= char(0x11);
            }
            sendReply(c.fd, r);
            if (r.fault &&
                (r.fault->action == P8080Fault::CutFrame || r.fault->action == P8080Fault::LengthOverride))
                break;
        }
        {
            std::lock_guard lk(m);
            if (ses)
                endSession(ses->id);
        }
        ::shutdown(c.fd, SHUT_RDWR);
        c.done = true;
    }

    // -------------------------------------------------------- acceptor

    void acceptCommand()
    {
        sockaddr_in peer{};
        socklen_t pl = sizeof peer;
        int fd = ::accept4(listenFd, reinterpret_cast<sockaddr *>(&peer), &pl, SOCK_CLOEXEC);
        if (fd < 0)
            return;
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        char ip[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &peer.sin_addr, ip, sizeof ip);
        auto c = std::make_unique<Conn>();
        c->fd = fd;
        c->peer = ip;
        {
            std::lock_guard lk(m);
            c->id = ++connCounter;
        }
        Conn *raw = c.get();
        std::lock_guard lk(connM);
        for (auto it = conns.begin(); it != conns.end();) {
            if ((*it)->done) {
                (*it)->th.join();
                ::close((*it)->fd);
                it = conns.erase(it);
            } else {
                ++it;
            }
        }
        conns.push_back(std::move(c));
        raw->th = std::thread([this, raw] { serve(*raw); });
    }

    // An event connection belongs to the oldest session from that address
    // that subscribed and has none yet.
    void acceptEvent()
    {
        sockaddr_in peer{};
        socklen_t pl = sizeof peer;
        int fd = ::accept4(evListenFd, reinterpret_cast<sockaddr *>(&peer), &pl, SOCK_CLOEXEC);
        if (fd < 0)
            return;
        char ip[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &peer.sin_addr, ip, sizeof ip);
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        timeval tv{2, 0};
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        std::lock_guard lk(m);
        auto it =
            std::find_if(pending.begin(), pending.end(), [&](const Pending &p) { return p.peer == ip; });
        if (it == pending.end()) {
            protocolError(std::string("event connection from ") + ip + " without a subscription, closed");
            ::close(fd);
            return;
        }
        EvConn e;
        e.session = it->session;
        e.fd = fd;
        e.lastSend = Clock::now();
        pending.erase(it);
        evconns.push_back(e);
        linkCv.notify_all();
        wake = true;
        cv.notify_all();
    }

    void acceptLoop()
    {
        while (!stopping) {
            pollfd p[2] = {{listenFd, POLLIN, 0}, {evListenFd, POLLIN, 0}};
            int r = ::poll(p, 2, 100);
            if (r <= 0)
                continue;
            if (p[0].revents & POLLIN)
                acceptCommand();
            if (p[1].revents & POLLIN)
                acceptEvent();
        }
    }

    // ----------------------------------------------------- event stream

    static std::string batchPayload(const std::vector<P8080EventItem> &items, bool noHash)
    {
        std::string b;
        le32(b, uint32_t(items.size()));
        b += ":";
        for (auto &it : items) {
            le32(b, it.id);
            std::string v = it.value;
            if (noHash && !v.empty() && v.back() == '#')
                v.pop_back();
            b += v;
        }
        return b;
    }

    std::optional<P8080EventItem> itemOf(const Sub &s)
    {
        if (s.s.kind == 0) {
            Chan *c = chan(unsigned(s.s.board), unsigned(s.s.channel));
            if (!c)
                return std::nullopt;
            if (s.index == int(kNameSlot))
                return P8080EventItem::text(s.s.id, c->name);
            if (size_t(s.index) >= c->raw.size())
                return std::nullopt;
            return P8080EventItem::word(s.s.id, c->raw[s.index]);
        }
        if (s.s.kind == 1) {
            Module *md = module(unsigned(s.s.board));
            if (!md || size_t(s.index) >= md->bdRaw.size())
                return std::nullopt;
            return P8080EventItem::word(s.s.id, md->bdRaw[s.index]);
        }
        if (s.s.kind == 2) {
            if (size_t(s.index) >= sysDesc.size())
                return std::nullopt;
            if (sysDesc[s.index].desc.type == kSysText)
                return P8080EventItem::text(s.s.id, sysText[s.index]);
            return P8080EventItem::word(s.s.id, sysRaw[s.index]);
        }
        return std::nullopt;
    }

    struct Out {
        int fd;
        std::string frame;
        size_t split = 0;
        bool closeAfter = false;
    };

    // Builds the frame of a batch, applying the next event fault.
    Out makeOut(int fd, const std::vector<P8080EventItem> &items, const std::string *raw)
    {
        Out o{fd, {}, 0, false};
        std::optional<P8080EventFault> f;
        if (!eventFaults.empty()) {
            f = eventFaults.front();
            if (f->count > 0 && --eventFaults.front().count == 0)
                eventFaults.pop_front();
        }
        std::string payload = raw ? *raw : batchPayload(items, f && f->action == P8080EventFault::NoHash);
        if (f && f->action == P8080EventFault::CountTooHigh && payload.size() >= 4) {
            std::string c;
            le32(c, rdLe32(payload, 0) + 5);
            payload.replace(0, 4, c);
        }
        o.frame = frameOf(payload);
        if (f && f->action == P8080EventFault::CutBatch) {
            o.frame.resize(std::min(f->bytes, o.frame.size()));
            o.closeAfter = true;
        }
        if (f && f->action == P8080EventFault::SplitBatch)
            o.split = std::max<size_t>(1, f->bytes);
        if (f && f->action == P8080EventFault::CloseAfter)
            o.closeAfter = true;
        return o;
    }

    void eventLoop()
    {
        auto nextTick = Clock::now() + opt.tickPeriod;
        auto lastTick = Clock::now();
        std::unique_lock lk(m);
        while (!stopping) {
            cv.wait_until(lk, std::min(nextTick, Clock::now() + milliseconds(250)),
                          [&] { return stopping.load() || wake; });
            if (stopping)
                break;
            wake = false;
            auto now = Clock::now();
            if (now >= nextTick) {
                if (opt.ramp)
                    rampStep(std::chrono::duration<double>(now - lastTick).count());
                lastTick = now;
                nextTick = now + opt.tickPeriod;
            }
            for (auto &e : evconns)
                if (e.dead && e.fd >= 0) {
                    ::close(e.fd);
                    e.fd = -1;
                }
            std::erase_if(evconns, [](const EvConn &e) { return e.fd < 0; });
            std::vector<Out> outs;
            std::vector<std::string> raws;
            raws.swap(rawQueue);
            now = Clock::now();
            for (auto &e : evconns) {
                for (auto &r : raws)
                    outs.push_back(makeOut(e.fd, {}, &r));
                if (e.session == 0)
                    continue;
                std::vector<P8080EventItem> items;
                for (auto &s : subs)
                    if (s.dirty && s.s.session == e.session) {
                        if (auto it = itemOf(s))
                            items.push_back(*it);
                        s.dirty = false;
                    }
                if (!items.empty()) {
                    outs.push_back(makeOut(e.fd, items, nullptr));
                } else if (opt.keepAlivePeriod.count() > 0 && now - e.lastSend >= opt.keepAlivePeriod) {
                    outs.push_back(
                        makeOut(e.fd, {P8080EventItem::word(p8080Id(kP8080RackMessageBoard, 0xFFFF, 0), 0)},
                                nullptr));
                    if (!e.keepAliveDue) {
                        e.keepAliveDue = true;
                        e.keepAliveSent = now;
                    }
                }
                if (e.keepAliveDue && opt.keepAliveTimeout.count() > 0 &&
                    now - e.keepAliveSent > opt.keepAliveTimeout) {
                    protocolError("keep-alive not answered within " +
                                  std::to_string(opt.keepAliveTimeout.count()) +
                                  " ms, event connection closed");
                    e.dead = true;
                }
            }
            if (outs.empty())
                continue;
            lk.unlock();
            std::vector<int> failed;
            for (auto &o : outs) {
                bool ok = true;
                if (o.split) {
                    for (size_t p = 0; ok && p < o.frame.size(); p += o.split) {
                        ok = sendAll(o.fd, o.frame.data() + p, std::min(o.split, o.frame.size() - p));
                        std::this_thread::sleep_for(milliseconds(20));
                    }
                } else {
                    ok = sendAll(o.fd, o.frame.data(), o.frame.size());
                }
                if (!ok || o.closeAfter)
                    failed.push_back(o.fd);
            }
            lk.lock();
            now = Clock::now();
            for (auto &e : evconns) {
                for (auto &o : outs)
                    if (o.fd == e.fd)
                        e.lastSend = now;
                if (std::find(failed.begin(), failed.end(), e.fd) != failed.end())
                    e.dead = true;
            }
            for (auto &e : evconns)
                if (e.dead && e.fd >= 0) {
                    ::close(e.fd);
                    e.fd = -1;
                }
            std::erase_if(evconns, [](const EvConn &e) { return e.fd < 0; });
        }
    }

    void queueRaw(std::string payload)
    {
        rawQueue.push_back(std::move(payload));
        wake = true;
        cv.notify_all();
    }

    void rackMessage(unsigned slot, uint32_t word)
    {
        queueRaw(
            batchPayload({P8080EventItem::word(p8080Id(kP8080RackMessageBoard, 0xFFFF, slot), word)}, false));
    }

    int listenOn(uint16_t &p)
    {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            errorText = std::strerror(errno);
            return -1;
        }
        int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(p);
        inet_pton(AF_INET, address.c_str(), &a.sin_addr);
        if (::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(fd, 16) != 0) {
            errorText = "cannot listen on " + address + ":" + std::to_string(p) + ": " + std::strerror(errno);
            ::close(fd);
            return -1;
        }
        socklen_t al = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr *>(&a), &al);
        p = ntohs(a.sin_port);
        return fd;
    }
};

// --------------------------------------------------------------- public

P8080Sim::P8080Sim(P8080Model model, std::string bindAddress, uint16_t port, P8080SimOptions options)
    : d(std::make_unique<Impl>(std::move(model), std::move(bindAddress), port, std::move(options)))
{
}

P8080Sim::~P8080Sim()
{
    stop();
}

const std::string &P8080Sim::builtinPublicKeyPem()
{
    static const std::string pem = kP8080PublicKeyPem;
    return pem;
}

std::string P8080Sim::publicKeyPem() const
{
    if (d->opt.privateKeyPem.empty())
        return builtinPublicKeyPem();
    EVP_PKEY *k = readPrivateKey(d->opt.privateKeyPem);
    if (!k)
        return {};
    std::string out;
    BIO *bio = BIO_new(BIO_s_mem());
    if (bio && PEM_write_bio_PUBKEY(bio, k) > 0) {
        char *p = nullptr;
        long n = BIO_get_mem_data(bio, &p);
        out.assign(p, size_t(n));
    }
    if (bio)
        BIO_free(bio);
    EVP_PKEY_free(k);
    return out;
}

bool P8080Sim::start()
{
    if (d->started)
        return true;
    if (!isLoopback(d->address) || d->address == "127.0.0.1") {
        d->errorText = "the rack simulator serves 127.0.0.2 and up only, not " + d->address;
        return false;
    }
    if (!d->key)
        d->key = readPrivateKey(d->opt.privateKeyPem.empty() ? std::string(kP8080PrivateKeyPem)
                                                             : d->opt.privateKeyPem);
    if (!d->key) {
        d->errorText = "the rack's private key is not readable";
        return false;
    }
    d->listenFd = d->listenOn(d->port);
    if (d->listenFd < 0)
        return false;
    d->evPort = d->opt.eventPort;
    d->evListenFd = d->listenOn(d->evPort);
    if (d->evListenFd < 0) {
        ::close(d->listenFd);
        d->listenFd = -1;
        return false;
    }
    d->stopping = false;
    d->started = true;
    d->acceptTh = std::thread([this] { d->acceptLoop(); });
    d->eventTh = std::thread([this] { d->eventLoop(); });
    return true;
}

void P8080Sim::stop()
{
    if (!d->started)
        return;
    {
        std::lock_guard lk(d->m);
        d->stopping = true;
        d->cv.notify_all();
    }
    d->acceptTh.join();
    d->eventTh.join();
    {
        std::lock_guard lk(d->connM);
        for (auto &c : d->conns) {
            c->th.join();
            ::close(c->fd);
        }
        d->conns.clear();
    }
    ::close(d->listenFd);
    ::close(d->evListenFd);
    d->listenFd = d->evListenFd = -1;
    std::lock_guard lk(d->m);
    for (auto &e : d->evconns)
        if (e.fd >= 0)
            ::close(e.fd);
    d->evconns.clear();
    d->pending.clear();
    d->sessions.clear();
    d->subs.clear();
    d->started = false;
}

uint16_t P8080Sim::port() const
{
    return d->port;
}
uint16_t P8080Sim::eventPort() const
{
    return d->evPort;
}
const std::string &P8080Sim::address() const
{
    return d->address;
}
std::string P8080Sim::errorText() const
{
    std::lock_guard lk(d->m);
    return d->errorText;
}

void P8080Sim::setCredentials(const std::string &user, const std::string &password)
{
    std::lock_guard lk(d->m);
    d->opt.user = user;
    d->opt.password = password;
}

bool P8080Sim::setChannelRaw(unsigned board, unsigned channel, const std::string &param, uint32_t raw)
{
    std::lock_guard lk(d->m);
    auto *c = d->chan(board, channel);
    if (!c)
        return false;
    const auto &ps = d->modules[board].board->paramsOf(channel);
    int i = paramIndex(ps, param);
    if (i < 0)
        return false;
    if (param == "VMon")
        c->vmon = rawToValue(ps[i], raw);
    d->setChRaw(board, channel, i, raw);
    return true;
}

bool P8080Sim::setChannelValue(unsigned board, unsigned channel, const std::string &param, double value)
{
    uint32_t raw;
    {
        std::lock_guard lk(d->m);
        if (!d->chan(board, channel))
            return false;
        const auto &ps = d->modules[board].board->paramsOf(channel);
        int i = paramIndex(ps, param);
        if (i < 0)
            return false;
        raw = ps[i].type == 0 ? valueToRaw(ps[i], value) : uint32_t(int64_t(value));
    }
    return setChannelRaw(board, channel, param, raw);
}

bool P8080Sim::setBoardRaw(unsigned board, const std::string &param, uint32_t raw)
{
    std::lock_guard lk(d->m);
    auto *md = d->module(board);
    if (!md)
        return false;
    int i = paramIndex(md->board->boardParams, param);
    if (i < 0)
        return false;
    if (md->bdRaw[i] != raw) {
        md->bdRaw[i] = raw;
        d->markSubs(1, int(board), -1, i);
    }
    return true;
}

bool P8080Sim::setChannelName(unsigned board, unsigned channel, const std::string &name)
{
    std::lock_guard lk(d->m);
    auto *c = d->chan(board, channel);
    if (!c)
        return false;
    if (c->name != name) {
        c->name = name;
        d->markSubs(0, int(board), int(channel), int(kNameSlot));
    }
    return true;
}

bool P8080Sim::setSystemRaw(const std::string &param, uint32_t raw)
{
    std::lock_guard lk(d->m);
    int i = d->sysIndex(param);
    if (i < 0 || d->sysDesc[i].desc.type == kSysText)
        return false;
    d->setSysRaw(i, raw);
    return true;
}

bool P8080Sim::setSystemText(const std::string &param, const std::string &text)
{
    std::lock_guard lk(d->m);
    int i = d->sysIndex(param);
    if (i < 0 || d->sysDesc[i].desc.type != kSysText)
        return false;
    if (d->sysText[i] != text) {
        d->sysText[i] = text;
        d->markSubs(2, -1, -1, i);
    }
    return true;
}

std::optional<uint32_t> P8080Sim::channelRaw(unsigned board, unsigned channel, const std::string &param) const
{
    std::lock_guard lk(d->m);
    auto *c = d->chan(board, channel);
    if (!c)
        return std::nullopt;
    int i = paramIndex(d->modules[board].board->paramsOf(channel), param);
    if (i < 0)
        return std::nullopt;
    return c->raw[i];
}

std::optional<double> P8080Sim::channelValue(unsigned board, unsigned channel, const std::string &param) const
{
    std::lock_guard lk(d->m);
    auto *c = d->chan(board, channel);
    if (!c)
        return std::nullopt;
    const auto &ps = d->modules[board].board->paramsOf(channel);
    int i = paramIndex(ps, param);
    if (i < 0)
        return std::nullopt;
    return ps[i].type == 0 ? rawToValue(ps[i], c->raw[i]) : double(c->raw[i]);
}

std::optional<uint32_t> P8080Sim::boardRaw(unsigned board, const std::string &param) const
{
    std::lock_guard lk(d->m);
    auto *md = d->module(board);
    if (!md)
        return std::nullopt;
    int i = paramIndex(md->board->boardParams, param);
    if (i < 0)
        return std::nullopt;
    return md->bdRaw[i];
}

std::optional<std::string> P8080Sim::channelName(unsigned board, unsigned channel) const
{
    std::lock_guard lk(d->m);
    auto *c = d->chan(board, channel);
    if (!c)
        return std::nullopt;
    return c->name;
}

std::optional<uint32_t> P8080Sim::systemRaw(const std::string &param) const
{
    std::lock_guard lk(d->m);
    int i = d->sysIndex(param);
    if (i < 0)
        return std::nullopt;
    return d->sysRaw[i];
}

std::optional<std::string> P8080Sim::systemText(const std::string &param) const
{
    std::lock_guard lk(d->m);
    int i = d->sysIndex(param);
    if (i < 0)
        return std::nullopt;
    return d->sysText[i];
}

void P8080Sim::insertModule(unsigned board, CrateBoard module)
{
    std::lock_guard lk(d->m);
    if (board >= 150)
        return;
    if (board >= d->modules.size())
        d->modules.resize(board + 1);
    std::erase_if(d->subs, [&](const Impl::Sub &s) { return s.s.board == int(board) && s.s.kind <= 1; });
    d->modules[board] = Impl::makeModule(std::move(module));
    d->refreshPanel();
    d->rackMessage(1, board);
}

void P8080Sim::removeModule(unsigned board)
{
    std::lock_guard lk(d->m);
    if (board >= d->modules.size())
        return;
    std::erase_if(d->subs, [&](const Impl::Sub &s) { return s.s.board == int(board) && s.s.kind <= 1; });
    d->modules[board] = Impl::Module{};
    d->refreshPanel();
    d->rackMessage(1, board);
}

void P8080Sim::sendTransparentMode(uint32_t word)
{
    std::lock_guard lk(d->m);
    d->rackMessage(2, word);
}

void P8080Sim::sendKeepAlive(uint32_t word)
{
    std::lock_guard lk(d->m);
    d->rackMessage(0, word);
}

void P8080Sim::sendEventBatch(const std::vector<P8080EventItem> &items)
{
    std::lock_guard lk(d->m);
    d->queueRaw(Impl::batchPayload(items, false));
}

void P8080Sim::sendRawEvent(const std::string &payload)
{
    std::lock_guard lk(d->m);
    d->queueRaw(payload);
}

void P8080Sim::closeEventConnections()
{
    std::lock_guard lk(d->m);
    for (auto &e : d->evconns)
        e.dead = true;
    d->wake = true;
    d->cv.notify_all();
}

int P8080Sim::eventConnectionCount() const
{
    std::lock_guard lk(d->m);
    return int(
        std::count_if(d->evconns.begin(), d->evconns.end(), [](auto &e) { return e.fd >= 0 && !e.dead; }));
}

bool P8080Sim::waitEventConnection(std::chrono::milliseconds timeout) const
{
    std::unique_lock lk(d->m);
    return d->linkCv.wait_for(lk, timeout, [&] {
        return std::any_of(d->evconns.begin(), d->evconns.end(),
                           [](auto &e) { return e.fd >= 0 && !e.dead; });
    });
}

std::vector<P8080Subscription> P8080Sim::subscriptions() const
{
    std::lock_guard lk(d->m);
    std::vector<P8080Subscription> out;
    for (auto &s : d->subs)
        out.push_back(s.s);
    return out;
}

int P8080Sim::keepAliveAnswers() const
{
    std::lock_guard lk(d->m);
    return d->keepAliveAnswers;
}

void P8080Sim::tickNow()
{
    std::lock_guard lk(d->m);
    d->rampStep(std::chrono::duration<double>(d->opt.tickPeriod).count());
    d->wake = true;
    d->cv.notify_all();
}

void P8080Sim::addFault(P8080Fault fault)
{
    std::lock_guard lk(d->m);
    if (fault.count != 0)
        d->faults.push_back(std::move(fault));
}

void P8080Sim::addEventFault(P8080EventFault fault)
{
    std::lock_guard lk(d->m);
    if (fault.count != 0)
        d->eventFaults.push_back(fault);
}

void P8080Sim::clearFaults()
{
    std::lock_guard lk(d->m);
    d->faults.clear();
    d->eventFaults.clear();
}

std::vector<P8080Request> P8080Sim::requests() const
{
    std::lock_guard lk(d->m);
    return d->log;
}

std::vector<P8080Request> P8080Sim::requestsFor(const std::string &keyword) const
{
    std::lock_guard lk(d->m);
    std::vector<P8080Request> out;
    for (auto &r : d->log)
        if (r.keyword == keyword)
            out.push_back(r);
    return out;
}

void P8080Sim::clearRequests()
{
    std::lock_guard lk(d->m);
    d->log.clear();
}

std::vector<std::string> P8080Sim::protocolErrors() const
{
    std::lock_guard lk(d->m);
    return d->errors;
}

std::string P8080Sim::lastPassword() const
{
    std::lock_guard lk(d->m);
    return d->lastPassword;
}

int P8080Sim::connectionCount() const
{
    std::lock_guard lk(d->m);
    return d->connCounter;
}

int P8080Sim::activeSessions() const
{
    std::lock_guard lk(d->m);
    return int(d->sessions.size());
}

} // namespace korusim
