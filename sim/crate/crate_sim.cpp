// The crate's server: command connections on TCP, one session per
// connection, and an event thread that ramps the channels and sends event
// batches to the subscribers' event servers.
#include "crate/crate_sim.h"
#include "crate/crate_panel.h"
#include "crate/hx1100_sim.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
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
#include <ctime>
#include <list>
#include <mutex>
#include <thread>

namespace korusim {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

EventItem EventItem::number(uint32_t id, uint32_t w)
{
    EventItem i;
    i.id = id;
    i.value = std::string{char(w >> 24), char((w >> 16) & 0xFF), char((w >> 8) & 0xFF), char(w & 0xFF)};
    return i;
}

EventItem EventItem::word16(uint32_t id, uint16_t w)
{
    EventItem i;
    i.id = id;
    i.value = std::string{char(w >> 8), char(w & 0xFF)};
    return i;
}

EventItem EventItem::textItem(uint32_t id, const std::string &t)
{
    EventItem i;
    i.id = id;
    i.text = true;
    i.value = t;
    return i;
}

namespace {

void put16(std::string &s, uint16_t v)
{
    s.push_back(char(v >> 8));
    s.push_back(char(v & 0xFF));
}

void put32(std::string &s, uint32_t v)
{
    s.push_back(char(v >> 24));
    s.push_back(char((v >> 16) & 0xFF));
    s.push_back(char((v >> 8) & 0xFF));
    s.push_back(char(v & 0xFF));
}

uint16_t get16(const std::string &s, size_t p)
{
    return uint16_t((uint8_t(s[p]) << 8) | uint8_t(s[p + 1]));
}

uint32_t get32(const std::string &s, size_t p)
{
    return (uint32_t(uint8_t(s[p])) << 24) | (uint32_t(uint8_t(s[p + 1])) << 16) |
           (uint32_t(uint8_t(s[p + 2])) << 8) | uint32_t(uint8_t(s[p + 3]));
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

// Field reader over one request; every departure from the expected layout is
// noted so that a client's fault is visible to its tests.
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
        uint16_t v = get16(b, p);
        p += 2;
        return v;
    }
    uint32_t u32(const char *what)
    {
        if (!need(4, what))
            return 0;
        uint32_t v = get32(b, p);
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
    // A name ended by ':' (not included). NUL bytes inside are a fault.
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
    // The last field: the request ends here, with or without one ':'.
    bool end()
    {
        if (!ok())
            return false;
        if (p == b.size())
            return true;
        if (p + 1 == b.size() && b[p] == ':') {
            ++p;
            return true;
        }
        return fail(std::to_string(b.size() - p) + " unexpected bytes at the end");
    }
};

const char *statusText(int16_t st)
{
    switch (st) {
    case kStatusOk:
        return "Command Ok";
    case kStatusLoginFailed:
        return "Login failed";
    case kStatusBadSession:
        return "Session not valid";
    case kStatusUnknownCommand:
        return "Command not found";
    case kStatusMalformed:
        return "Malformed request";
    case kStatusSlotEmpty:
        return "Slot empty";
    case kStatusChannelRange:
        return "Channel out of range";
    case kStatusParamNotFound:
        return "Parameter not found";
    case kStatusReadOnly:
        return "Parameter read only";
    case kStatusValueRange:
        return "Value out of range";
    default:
        return "Error";
    }
}

bool sameDescriptor(const CrateParam &a, const CrateParam &b)
{
    if (a.name != b.name || a.type != b.type || a.writable != b.writable || a.isSigned != b.isSigned)
        return false;
    if (a.type == 1)
        return a.onText == b.onText && a.offText == b.offText;
    return a.minRaw == b.minRaw && a.maxRaw == b.maxRaw && a.decimals == b.decimals && a.factor == b.factor &&
           a.unit == b.unit && a.exp == b.exp && a.reserved == b.reserved;
}

int paramIndex(const std::vector<CrateParam> &list, const std::string &name)
{
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i].name == name)
            return int(i);
    return -1;
}

constexpr uint32_t kBadId = 0xFFFFFFFFu;
constexpr int kSlotName = 255; // slot field of a channel-name item

} // namespace

// ------------------------------------------------------------------ state

struct CrateSim::Impl {
    struct Chan {
        std::vector<uint32_t> raw;
        std::string name;
        double vmon = 0; // exact ramp position, in volts
    };
    struct Slot {
        std::optional<CrateBoard> board;
        std::vector<uint32_t> bdRaw;
        std::vector<Chan> ch;
    };
    struct Sub {
        CrateSubscription s;
        int index = 0; // parameter index, 255 for a channel name
        bool dirty = true;
    };
    struct Link {
        uint32_t session = 0;
        std::string peer;
        uint16_t port = 0;
        int fd = -1;
        bool dead = false;
        Clock::time_point lastSend{};
        Clock::time_point lastTry{};
        bool tried = false;
    };
    struct Session {
        uint32_t id = 0;
        std::string user;
        std::string peer;
        int conn = 0;
        time_t since = 0;
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
        bool close = false;
        bool silent = false;
        std::optional<CrateFault> fault;
    };

    std::string address;
    uint16_t port = 0;
    CrateSimOptions opt;

    mutable std::mutex m;
    std::condition_variable cv; // wakes the event thread
    mutable std::condition_variable linkCv;
    bool wake = false;
    std::vector<CrateSysProp> sysProps;
    std::vector<std::string> commands;
    std::vector<Slot> slots;
    uint8_t syncStatus[17]; // 0..15 slots, 16 the system
    std::vector<Sub> subs;
    std::vector<Link> links;
    std::vector<Session> sessions;
    // Hand-made batches for every link; with needId only for links whose
    // session subscribed that id (first-generation keep-alive and live insertion).
    struct RawOut {
        std::string bytes;
        uint32_t needId = 0;
    };
    std::vector<RawOut> rawQueue;
    std::list<CrateFault> faults;
    std::list<EventFault> eventFaults;
    std::vector<CrateRequest> log;
    std::vector<std::string> errors;
    uint32_t nextSession = 0;
    int connCounter = 0;
    std::string errorText;
    uint16_t keepAliveWord = 0;
    // The front-panel word and the fan readings follow the channels and the
    // fans unless a test set the property itself (then it stays as set).
    bool panelPinned = false;
    std::map<std::string, bool> fansPinned;
    std::map<std::string, uint32_t> failedFans; // property -> mask of failed fans

    int listenFd = -1;
    std::atomic<bool> stopping{false};
    bool started = false;
    std::thread acceptTh;
    std::thread eventTh;
    std::mutex connM;
    std::list<std::unique_ptr<Conn>> conns;

    Impl(CrateModel model, std::string addr, uint16_t p, CrateSimOptions o)
        : address(std::move(addr)), port(p), opt(std::move(o))
    {
        sysProps = std::move(model.sysProps);
        commands = std::move(model.commands);
        for (auto &b : model.slots)
            slots.push_back(makeSlot(std::move(b)));
        std::fill(std::begin(syncStatus), std::end(syncStatus), uint8_t(1));
        nextSession = opt.firstSessionId;
        refreshDerived();
    }

    // Recomputes "FrontPanOut" from every channel's status (its "Pw" when it
    // has none) and the fan-status properties from "HVFanSpeed" and the
    // failed fans; marks what changed.
    void refreshDerived()
    {
        uint16_t word = 0;
        for (auto &sl : slots) {
            if (!sl.board)
                continue;
            for (unsigned c = 0; c < sl.ch.size(); ++c) {
                const auto &ps = sl.board->paramsOf(c);
                int iSt = paramIndex(ps, "Status");
                if (iSt >= 0) {
                    word |= frontPanelBits(sl.ch[c].raw[iSt]);
                } else {
                    int iPw = paramIndex(ps, "Pw");
                    if (iPw >= 0 && sl.ch[c].raw[iPw])
                        word |= kPanelChannelOn;
                }
            }
        }
        unsigned speed = 1;
        int iSpeed = sysPropIndex("HVFanSpeed");
        if (iSpeed >= 0 && sysProps[iSpeed].value.size() >= 2)
            speed = (uint8_t(sysProps[iSpeed].value[0]) << 8) | uint8_t(sysProps[iSpeed].value[1]);
        unsigned firstFan = 0;
        for (size_t i = 0; i < sysProps.size(); ++i) {
            CrateSysProp &p = sysProps[i];
            if (p.kind != SysPropKind::Raw || !isFanStatusName(p.name))
                continue;
            const unsigned count = unsigned(p.value.size() / 3);
            const uint32_t failed = failedFans[p.name];
            if (failed)
                word |= kPanelFanFailure;
            if (!fansPinned[p.name]) {
                std::string v = fanStatusBytes(count, failed, speed, firstFan);
                if (v != p.value) {
                    p.value = std::move(v);
                    markSys(int(i));
                }
            }
            firstFan += count;
        }
        int iPanel = sysPropIndex("FrontPanOut");
        if (iPanel >= 0 && !panelPinned) {
            std::string v{char(word >> 8), char(word & 0xFF)};
            if (sysProps[iPanel].kind == SysPropKind::Word32)
                v = std::string(2, '\0') + v;
            if (v != sysProps[iPanel].value) {
                sysProps[iPanel].value = v;
                markSys(iPanel);
            }
        }
    }

    bool firstGen() const { return opt.generation == CrateGeneration::First; }

    static Slot makeSlot(std::optional<CrateBoard> b)
    {
        Slot s;
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

    // ---------------------------------------------------------- changes

    void markChannel(unsigned slot, unsigned ch, int idx)
    {
        for (auto &s : subs)
            if (s.s.kind == 0 && s.s.board == int(slot) && s.s.channel == int(ch) && s.index == idx)
                s.dirty = true;
        wake = true;
        cv.notify_all();
    }
    void markBoard(unsigned slot, int idx)
    {
        for (auto &s : subs)
            if (s.s.kind == 1 && s.s.board == int(slot) && s.index == idx)
                s.dirty = true;
        wake = true;
        cv.notify_all();
    }
    void markSys(int idx)
    {
        for (auto &s : subs)
            if (s.s.kind == 2 && s.index == idx)
                s.dirty = true;
        wake = true;
        cv.notify_all();
    }

    Chan *chan(unsigned slot, unsigned ch)
    {
        if (slot >= slots.size() || !slots[slot].board || ch >= slots[slot].ch.size())
            return nullptr;
        return &slots[slot].ch[ch];
    }

    bool setChRaw(unsigned slot, unsigned ch, int idx, uint32_t raw)
    {
        Chan &c = slots[slot].ch[ch];
        if (c.raw[idx] == raw)
            return false;
        c.raw[idx] = raw;
        markChannel(slot, ch, idx);
        return true;
    }

    int sysPropIndex(const std::string &name) const
    {
        for (size_t i = 0; i < sysProps.size(); ++i)
            if (sysProps[i].name == name)
                return int(i);
        return -1;
    }

    // ------------------------------------------------------------ ramp

    void rampStep(double dt)
    {
        for (unsigned s = 0; s < slots.size(); ++s) {
            Slot &sl = slots[s];
            if (!sl.board)
                continue;
            for (unsigned c = 0; c < sl.ch.size(); ++c) {
                const auto &ps = sl.board->paramsOf(c);
                int iV = paramIndex(ps, "VMon"), iSet = paramIndex(ps, "V0Set"), iPw = paramIndex(ps, "Pw");
                if (iV < 0 || iSet < 0 || iPw < 0)
                    continue;
                int iI = paramIndex(ps, "IMon"), iSt = paramIndex(ps, "Status");
                int iUp = paramIndex(ps, "RUp"), iDn = paramIndex(ps, "RDWn");
                Chan &ch = sl.ch[c];
                bool on = ch.raw[iPw] != 0;
                double target = on ? rawToValue(ps[iSet], ch.raw[iSet]) : 0.0;
                double v = ch.vmon;
                uint32_t st = iSt >= 0 ? ch.raw[iSt] : 0;
                st &= ~uint32_t(0x7);
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
                setChRaw(s, c, iV, valueToRaw(ps[iV], v));
                if (iI >= 0)
                    setChRaw(s, c, iI, valueToRaw(ps[iI], v * 0.05)); // a 20 MOhm load, in uA
                if (iSt >= 0)
                    setChRaw(s, c, iSt, st);
            }
        }
        refreshDerived();
    }

    void kill()
    {
        for (unsigned s = 0; s < slots.size(); ++s) {
            Slot &sl = slots[s];
            if (!sl.board)
                continue;
            for (unsigned c = 0; c < sl.ch.size(); ++c) {
                const auto &ps = sl.board->paramsOf(c);
                for (const char *n : {"Pw", "VMon", "IMon", "Status"}) {
                    int i = paramIndex(ps, n);
                    if (i >= 0)
                        setChRaw(s, c, i, 0);
                }
                sl.ch[c].vmon = 0;
            }
        }
        refreshDerived();
    }

    void clearAlarms()
    {
        for (unsigned s = 0; s < slots.size(); ++s) {
            Slot &sl = slots[s];
            if (!sl.board)
                continue;
            for (unsigned c = 0; c < sl.ch.size(); ++c) {
                int i = paramIndex(sl.board->paramsOf(c), "Status");
                if (i >= 0)
                    setChRaw(s, c, i, sl.ch[c].raw[i] & 0x7u);
            }
            int b = paramIndex(sl.board->boardParams, "BdStatus");
            if (b >= 0 && sl.bdRaw[b]) {
                sl.bdRaw[b] = 0;
                markBoard(s, b);
            }
        }
        refreshDerived();
    }

    // --------------------------------------------------------- replies

    static std::string head(const std::string &kw, bool login, const std::string &sid, int16_t st)
    {
        std::string r = kw + ":";
        if (!login)
            r += sid + ":";
        put16(r, uint16_t(st));
        r += ":";
        return r;
    }

    Reply plain(const std::string &kw, bool login, const std::string &sid, int16_t st,
                const std::string &msg = {})
    {
        Reply r;
        r.status = st;
        r.body = head(kw, login, sid, st) + (msg.empty() ? statusText(st) : msg);
        return r;
    }

    Reply data(const std::string &kw, const std::string &sid, const std::string &bytes)
    {
        Reply r;
        r.body = head(kw, false, sid, 0) + statusText(0) + ":" + bytes;
        return r;
    }

    Reply malformed(const std::string &kw, bool login, const std::string &sid, const Reader &rd)
    {
        protocolError(rd.error);
        return plain(kw, login, sid, kStatusMalformed);
    }

    // -------------------------------------------------------- commands

    std::string sysInfo() const
    {
        std::vector<CrateParam> desc;
        auto indexOf = [&](const CrateParam &p) {
            for (size_t i = 0; i < desc.size(); ++i)
                if (sameDescriptor(desc[i], p))
                    return uint16_t(i);
            desc.push_back(p);
            return uint16_t(desc.size() - 1);
        };
        std::string boards;
        std::vector<unsigned> present;
        for (unsigned s = 0; s < slots.size(); ++s) {
            if (!slots[s].board)
                continue;
            present.push_back(s);
            const CrateBoard &b = *slots[s].board;
            put16(boards, uint16_t(b.boardParams.size()));
            boards += ":";
            for (auto &p : b.boardParams)
                put16(boards, indexOf(p));
            boards += ":";
            for (unsigned c = 0; c < b.channels; ++c) {
                const auto &ps = b.paramsOf(c);
                put16(boards, uint16_t(ps.size()));
                boards += ":";
                for (auto &p : ps)
                    put16(boards, indexOf(p));
                boards += ":";
            }
        }
        std::string d;
        put16(d, uint16_t(desc.size()));
        d += ":";
        for (auto &p : desc) {
            std::string rec(10, '\0');
            std::memcpy(rec.data(), p.name.data(), std::min<size_t>(10, p.name.size()));
            uint32_t w = (uint32_t(p.type) << 16) | (p.writable ? 0x8000u : 0) | (p.isSigned ? 0x4000u : 0);
            put32(rec, w);
            if (p.type == 1) {
                std::string on(8, '\0'), off(8, '\0');
                std::memcpy(on.data(), p.onText.data(), std::min<size_t>(7, p.onText.size()));
                std::memcpy(off.data(), p.offText.data(), std::min<size_t>(7, p.offText.size()));
                rec += on + off + std::string(2, '\0');
            } else {
                put32(rec, uint32_t(p.minRaw));
                put32(rec, uint32_t(p.maxRaw));
                put16(rec, p.decimals);
                put16(rec, p.factor);
                put16(rec, uint16_t(p.unit));
                put16(rec, uint16_t(p.exp));
                put16(rec, p.reserved);
            }
            d += rec;
        }
        d += ":";
        put16(d, uint16_t(present.size()));
        d += ":";
        for (unsigned s : present)
            put16(d, uint16_t(s));
        d += ":";
        for (unsigned s : present)
            put16(d, uint16_t(slots[s].board->channels));
        d += ":";
        return d + boards;
    }

    std::string crateMap() const
    {
        std::string d;
        put16(d, uint16_t(slots.size()));
        for (auto &s : slots) {
            d += ":";
            if (!s.board) {
                d.push_back('\0');
                continue;
            }
            d += s.board->model + ":" + s.board->description + ":";
            put16(d, s.board->serial);
            d += ":";
            put16(d, uint16_t((s.board->fwMajor << 8) | s.board->fwMinor));
        }
        // The first generation has no tail of 32-bit serial numbers.
        if (!firstGen())
            for (auto &s : slots)
                put32(d, s.board ? s.board->serial32 : 0);
        return d;
    }

    std::string sysComp() const
    {
        std::string d(1, char(1));
        d += ":";
        put16(d, uint16_t(slots.size() & 0xFF));
        d += ":";
        for (auto &s : slots)
            put32(d, s.board ? (0x10000u | s.board->channels) : 0);
        return d;
    }

    // First generation: the lines alone (four fields, the last ended by '\n').
    std::string sessionLines() const
    {
        std::string d;
        for (auto &s : sessions)
            d += s.user + ":" + s.peer + ":TCP/IP:" + std::to_string(s.since) + "\n";
        return d;
    }

    // Reply data of a get keyword: the values of every property it serves, joined with ','.
    std::string getData(const std::string &kw) const
    {
        std::string d;
        bool first = true;
        for (auto &p : sysProps) {
            if (p.getKeyword != kw)
                continue;
            if (!first)
                d += ",";
            first = false;
            d += p.kind == SysPropKind::Sessions ? sessionLog() : p.value;
        }
        return d;
    }

    std::string sessionLog() const
    {
        std::string d;
        if (firstGen()) {
            put16(d, uint16_t(sessions.size()));
            return d + ":" + sessionLines();
        }
        put16(d, uint16_t(sessions.size()));
        d += ":";
        // Fields in the order the program's session list reads them: user,
        // access level, communication, login time ('_' between its parts,
        // since ':' separates the fields), client address.
        for (auto &s : sessions) {
            std::tm t{};
            localtime_r(&s.since, &t);
            char when[16];
            std::snprintf(when, sizeof when, "%02d_%02d_%02d", t.tm_hour, t.tm_min, t.tm_sec);
            d += s.user + ":Admin:TCP/IP:" + when + ":" + s.peer + ";";
        }
        return d;
    }

    // Subscription id of one encoded item, or kBadId.
    uint32_t subscribe(uint32_t session, uint16_t evPort, int kind, int board, int ch,
                       const std::string &name, const std::string &peer)
    {
        int idx = -1;
        uint32_t id = kBadId;
        if (kind == 0) {
            Chan *c = (board >= 0 && board < 16) ? chan(unsigned(board), unsigned(ch)) : nullptr;
            if (!c || ch >= 0xFFFF)
                return kBadId;
            if (name == "Name")
                idx = kSlotName;
            else
                idx = paramIndex(slots[board].board->paramsOf(ch), name);
            if (idx < 0 || idx > 255)
                return kBadId;
            id = (uint32_t(board) << 24) | (uint32_t(ch) << 8) | uint32_t(idx);
        } else if (kind == 1) {
            if (board < 0 || board >= 16 || unsigned(board) >= slots.size() || !slots[board].board)
                return kBadId;
            idx = paramIndex(slots[board].board->boardParams, name);
            if (idx < 0 || idx >= 30)
                return kBadId;
            id = (uint32_t(board) << 24) | (0xFFFFu << 8) | uint32_t(idx);
        } else if (kind == 2) {
            idx = sysPropIndex(name);
            if (idx < 0 || idx >= 30)
                return kBadId;
            id = (255u << 24) | (0xFFFFu << 8) | uint32_t(idx);
        } else if (kind == 3) {
            if (name.rfind("KeepAlive", 0) == 0)
                idx = 0;
            else if (name.rfind("LiveInsRem", 0) == 0)
                idx = 1;
            else
                return kBadId;
            id = (254u << 24) | (0xFFFFu << 8) | uint32_t(idx);
        } else {
            return kBadId;
        }
        bool known = false;
        for (auto &s : subs)
            if (s.s.session == session && s.s.port == evPort && s.s.id == id) {
                s.dirty = true;
                known = true;
            }
        if (!known) {
            Sub s;
            s.s = CrateSubscription{id,  session, evPort, kind, kind <= 1 ? board : -1, kind == 0 ? ch : -1,
                                    name};
            s.index = idx;
            s.dirty = kind != 3;
            subs.push_back(std::move(s));
        }
        bool haveLink = false;
        for (auto &l : links)
            if (l.session == session && l.port == evPort && !l.dead)
                haveLink = true;
        if (!haveLink) {
            Link l;
            l.session = session;
            l.peer = peer;
            l.port = evPort;
            links.push_back(l);
        }
        wake = true;
        cv.notify_all();
        return id;
    }

    Reply cmdSubscribe(const std::string &kw, const std::string &sid, Reader &rd, const Session &ses)
    {
        uint16_t evPort = rd.u16("event port");
        rd.colon("event port");
        uint16_t n = rd.u16("item count");
        rd.colon("item count");
        struct Item {
            int kind, board, ch;
            std::string name;
        };
        std::vector<Item> items;
        for (unsigned i = 0; i < n && rd.ok(); ++i) {
            Item it{int(rd.u16("item kind")), -1, -1, {}};
            rd.colon("item kind");
            if (it.kind == 0) {
                it.board = rd.u16("board");
                rd.colon("board");
                it.ch = rd.u16("channel");
                rd.colon("channel");
            } else if (it.kind == 1) {
                it.board = rd.u16("board");
                rd.colon("board");
            } else if (it.kind != 2 && it.kind != 3) {
                rd.fail("item kind " + std::to_string(it.kind));
            }
            if (!rd.ok())
                break;
            // The name ends with ':' between items; the last one with NUL (or ':').
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
            it.name = rd.b.substr(rd.p, e - rd.p);
            rd.p = e + 1;
            items.push_back(it);
        }
        if (rd.ok() && rd.p != rd.b.size())
            rd.fail(std::to_string(rd.b.size() - rd.p) + " bytes after the last item");
        if (!rd.ok())
            return malformed(kw, false, sid, rd);
        if (!isLoopback(ses.peer)) {
            protocolError(kw + ": subscriber outside loopback, refused");
            return plain(kw, false, sid, kStatusMalformed);
        }
        std::string d;
        put16(d, n);
        d += ":";
        for (auto &it : items)
            put32(d, subscribe(ses.id, evPort, it.kind, it.board, it.ch, it.name, ses.peer));
        return data(kw, sid, d);
    }

    Reply cmdUnsubscribe(const std::string &kw, const std::string &sid, Reader &rd, const Session &ses)
    {
        uint16_t evPort = rd.u16("event port");
        rd.colon("event port");
        uint16_t n = rd.u16("item count");
        rd.colon("item count");
        std::vector<uint32_t> ids;
        for (unsigned i = 0; i < n && rd.ok(); ++i) {
            ids.push_back(rd.u32("id"));
            bool last = i + 1 == n;
            if (!rd.need(1, "id separator"))
                break;
            char sep = rd.b[rd.p];
            if (sep == ':' || (last && sep == '\0'))
                ++rd.p;
            else
                rd.fail("':' expected after id");
        }
        if (rd.ok() && rd.p != rd.b.size())
            rd.fail(std::to_string(rd.b.size() - rd.p) + " bytes after the last id");
        if (!rd.ok())
            return malformed(kw, false, sid, rd);
        (void)evPort;
        for (uint32_t id : ids)
            std::erase_if(subs, [&](const Sub &s) { return s.s.session == ses.id && s.s.id == id; });
        std::string d;
        put16(d, n);
        return data(kw, sid, d);
    }

    // The value bytes of a system property's set request.
    bool decodeSet(const CrateSysProp &p, const std::string &v, std::string &out, std::string &why)
    {
        switch (p.kind) {
        case SysPropKind::Text:
            // The text travels without terminator; a final ':' is tolerated.
            out = v;
            if (!out.empty() && out.back() == ':')
                out.pop_back();
            if (!out.empty() && out.back() == '\0') {
                protocolError(p.setKeyword + ": the text carries a NUL terminator");
                out.pop_back();
            }
            if (out.find('\0') != std::string::npos)
                return why = "NUL inside the text", false;
            return true;
        case SysPropKind::Byte:
            if ((v.size() == 3 || (v.size() == 4 && v[3] == ':')) && v[1] == ':') {
                out = std::string(1, v[2]);
                return true;
            }
            return why = "expected high byte ':' low byte", false;
        case SysPropKind::Clock:
        case SysPropKind::Word16:
            if (v.size() == 2 || (v.size() == 3 && v[2] == ':')) {
                out = v.substr(0, 2);
                return true;
            }
            return why = "expected a 16-bit value", false;
        case SysPropKind::Word32:
            if (v.size() == 4 || v.size() == 8 || (v.size() == 5 && v[4] == ':') ||
                (v.size() == 9 && v[8] == ':')) {
                out = v.substr(0, 4);
                return true;
            }
            return why = "expected a 32-bit value and four more bytes", false;
        default:
            return why = "property cannot be set", false;
        }
    }

    Reply execute(const std::string &body, Conn &conn, std::optional<Session> &ses, int16_t &status)
    {
        size_t colon = body.find(':');
        std::string kw = body.substr(0, colon);
        bool login = kw == "LOGINSYSTEM" || kw == "LOGIN";
        if (login && firstGen() && kw == "LOGINSYSTEM") {
            protocolError("unknown keyword LOGINSYSTEM (the first generation logs in with LOGIN)");
            return plain(kw, true, {}, kStatusUnknownCommand);
        }
        if (login) {
            Reader rd{body, kw.size(), kw, {}};
            rd.colon("keyword");
            std::string user = rd.name("user name");
            std::string pass = rd.ok() ? body.substr(rd.p) : std::string();
            if (!rd.ok()) {
                Reply r = malformed(kw, true, {}, rd);
                r.body = head(kw, true, {}, kStatusLoginFailed) + statusText(kStatusLoginFailed);
                r.status = kStatusLoginFailed;
                return r;
            }
            // The password travels as its bytes alone: a NUL in it is a client's framing fault.
            if (pass.find('\0') != std::string::npos)
                protocolError(kw + ": NUL inside the password");
            if (user != opt.user || pass != opt.password)
                return plain(kw, true, {}, kStatusLoginFailed);
            if (ses)
                endSession(ses->id);
            Session s;
            s.id = nextSession;
            nextSession += 0x100;
            s.user = user;
            s.peer = conn.peer;
            s.conn = conn.id;
            s.since = std::time(nullptr);
            sessions.push_back(s);
            ses = s;
            Reply r;
            r.body = head(kw, true, {}, 0) + "Login Ok:";
            put32(r.body, s.id);
            return r;
        }
        // Every other request: keyword ':' session(4), then ':' and arguments.
        Reader rd{body, kw.size(), kw, {}};
        std::string sidBytes;
        rd.colon("keyword");
        if (rd.need(4, "session id"))
            sidBytes = body.substr(rd.p, 4);
        uint32_t sid = rd.u32("session id");
        if (!rd.ok())
            return malformed(kw, false, sidBytes, rd);
        if (!ses || ses->id != sid)
            return plain(kw, false, sidBytes, kStatusBadSession);
        // Argument-less requests end after the session id (a ':' there is tolerated).
        auto noArgs = [&]() { return rd.end(); };
        auto args = [&]() { return rd.colon("session id"); };

        auto findSlot = [&](uint16_t slot) -> Slot * {
            return slot < slots.size() && slots[slot].board ? &slots[slot] : nullptr;
        };

        if (kw == "LOGOUT") {
            if (!noArgs())
                return malformed(kw, false, sidBytes, rd);
            Reply r = plain(kw, false, sidBytes, 0);
            endSession(ses->id);
            ses.reset();
            return r;
        }
        if (kw == "GETSYSINFO") {
            // Its row has an argument, so the header ends with ':'; no argument bytes follow.
            if (!noArgs())
                return malformed(kw, false, sidBytes, rd);
            return data(kw, sidBytes, sysInfo());
        }
        if (kw == "GETCRATEMAP") {
            if (!noArgs())
                return malformed(kw, false, sidBytes, rd);
            return data(kw, sidBytes, crateMap());
        }
        if (kw == "GETSYSCOMP") {
            if (!noArgs())
                return malformed(kw, false, sidBytes, rd);
            return data(kw, sidBytes, sysComp());
        }
        if (kw == "TSTBDPRES") {
            args();
            uint16_t slot = rd.u16("slot");
            if (!rd.end())
                return malformed(kw, false, sidBytes, rd);
            Slot *s = findSlot(slot);
            if (!s)
                return plain(kw, false, sidBytes, kStatusSlotEmpty);
            std::string d = s->board->model + ":" + s->board->description + ":";
            put16(d, s->board->serial);
            d += ":";
            put16(d, uint16_t((s->board->fwMajor << 8) | s->board->fwMinor));
            return data(kw, sidBytes, d);
        }
        if (kw == "GETBDPARAM") {
            args();
            std::string name = rd.name("parameter name");
            uint16_t n = rd.u16("slot count");
            rd.colon("slot count");
            std::vector<uint16_t> list;
            for (unsigned i = 0; i < n && rd.ok(); ++i)
                list.push_back(rd.u16("slot list"));
            if (!rd.end())
                return malformed(kw, false, sidBytes, rd);
            std::string d;
            for (uint16_t sl : list) {
                Slot *s = findSlot(sl);
                if (!s)
                    return plain(kw, false, sidBytes, kStatusSlotEmpty);
                int i = paramIndex(s->board->boardParams, name);
                if (i < 0)
                    return plain(kw, false, sidBytes, kStatusParamNotFound);
                put32(d, s->bdRaw[i]);
            }
            return data(kw, sidBytes, d);
        }
        if (kw == "SETBDPARAM") {
            args();
            uint16_t sl = rd.u16("slot");
            rd.colon("slot");
            std::string name = rd.name("parameter name");
            uint32_t raw = rd.u32("value");
            if (!rd.end())
                return malformed(kw, false, sidBytes, rd);
            Slot *s = findSlot(sl);
            if (!s)
                return plain(kw, false, sidBytes, kStatusSlotEmpty);
            int i = paramIndex(s->board->boardParams, name);
            if (i < 0)
                return plain(kw, false, sidBytes, kStatusParamNotFound);
            const CrateParam &p = s->board->boardParams[i];
            if (!p.writable)
                return plain(kw, false, sidBytes, kStatusReadOnly);
            if (!inRange(p, raw))
                return plain(kw, false, sidBytes, kStatusValueRange);
            if (s->bdRaw[i] != raw) {
                s->bdRaw[i] = raw;
                markBoard(sl, i);
            }
            return plain(kw, false, sidBytes, 0);
        }
        if (kw == "GETCHPARAM" || kw == "GETCHNAME") {
            bool names = kw == "GETCHNAME";
            args();
            uint16_t sl = rd.u16("slot");
            rd.colon("slot");
            std::string name = names ? std::string() : rd.name("parameter name");
            uint16_t n = rd.u16("channel count");
            rd.colon("channel count");
            std::vector<uint16_t> list;
            for (unsigned i = 0; i < n && rd.ok(); ++i)
                list.push_back(rd.u16("channel list"));
            if (!rd.end())
                return malformed(kw, false, sidBytes, rd);
            Slot *s = findSlot(sl);
            if (!s)
                return plain(kw, false, sidBytes, kStatusSlotEmpty);
            std::string d;
            for (uint16_t c : list) {
                if (c >= s->ch.size())
                    return plain(kw, false, sidBytes, kStatusChannelRange);
                if (names) {
                    d += s->ch[c].name;
                    d.push_back('\0');
                    continue;
                }
                int i = paramIndex(s->board->paramsOf(c), name);
                if (i < 0)
                    return plain(kw, false, sidBytes, kStatusParamNotFound);
                put32(d, s->ch[c].raw[i]);
            }
            return data(kw, sidBytes, d);
        }
        if (kw == "SETCHPARAM" || kw == "SETCHNAME") {
            bool names = kw == "SETCHNAME";
            args();
            uint16_t sl = rd.u16("slot");
            rd.colon("slot");
            std::string name = rd.name(names ? "channel name" : "parameter name");
            uint32_t raw = 0;
            if (!names) {
                raw = rd.u32("value");
                rd.colon("value");
            }
            uint16_t n = rd.u16("channel count");
            rd.colon("channel count");
            std::vector<uint16_t> list;
            for (unsigned i = 0; i < n && rd.ok(); ++i)
                list.push_back(rd.u16("channel list"));
            if (!rd.end())
                return malformed(kw, false, sidBytes, rd);
            Slot *s = findSlot(sl);
            if (!s)
                return plain(kw, false, sidBytes, kStatusSlotEmpty);
            // Check every channel before changing any.
            for (uint16_t c : list) {
                if (c >= s->ch.size())
                    return plain(kw, false, sidBytes, kStatusChannelRange);
                if (names)
                    continue;
                int i = paramIndex(s->board->paramsOf(c), name);
                if (i < 0)
                    return plain(kw, false, sidBytes, kStatusParamNotFound);
                const CrateParam &p = s->board->paramsOf(c)[i];
                if (!p.writable)
                    return plain(kw, false, sidBytes, kStatusReadOnly);
                if (!inRange(p, raw))
                    return plain(kw, false, sidBytes, kStatusValueRange);
            }
            for (uint16_t c : list) {
                if (names) {
                    if (s->ch[c].name != name) {
                        s->ch[c].name = name;
                        markChannel(sl, c, kSlotName);
                    }
                    continue;
                }
                setChRaw(sl, c, paramIndex(s->board->paramsOf(c), name), raw);
            }
            if (!names)
                refreshDerived();
            return plain(kw, false, sidBytes, 0);
        }
        const char *subKw = firstGen() ? "SUBSCRIBE" : "NEWSUBSCRIBE";
        const char *unsubKw = firstGen() ? "UNSUBSCRIBE" : "NEWUNSUBSCRIBE";
        if (kw == subKw) {
            args();
            return cmdSubscribe(kw, sidBytes, rd, *ses);
        }
        if (kw == unsubKw) {
            args();
            return cmdUnsubscribe(kw, sidBytes, rd, *ses);
        }
        if (std::find(commands.begin(), commands.end(), kw) != commands.end()) {
            if (!noArgs())
                return malformed(kw, false, sidBytes, rd);
            if (kw == "KILL_2")
                kill();
            if (kw == "CLRALARM_2")
                clearAlarms();
            return plain(kw, false, sidBytes, 0);
        }
        // System properties: get keywords take no argument, set keywords one value.
        std::vector<int> getters;
        for (size_t i = 0; i < sysProps.size(); ++i)
            if (sysProps[i].getKeyword == kw)
                getters.push_back(int(i));
        if (!getters.empty()) {
            if (!noArgs())
                return malformed(kw, false, sidBytes, rd);
            return data(kw, sidBytes, getData(kw));
        }
        for (size_t i = 0; i < sysProps.size(); ++i) {
            CrateSysProp &p = sysProps[i];
            if (p.setKeyword != kw)
                continue;
            if (!args())
                return malformed(kw, false, sidBytes, rd);
            std::string v, why;
            if (!decodeSet(p, body.substr(rd.p), v, why)) {
                rd.fail(why);
                return malformed(kw, false, sidBytes, rd);
            }
            if (p.kind == SysPropKind::Word16 && kw == "SETOUTPUTLEVEL" &&
                (uint8_t(v[0]) != 0 || uint8_t(v[1]) > 1))
                return plain(kw, false, sidBytes, kStatusValueRange);
            if (p.value != v) {
                p.value = v;
                markSys(int(i));
                refreshDerived();
            }
            return plain(kw, false, sidBytes, 0);
        }
        status = kStatusUnknownCommand;
        protocolError("unknown keyword " + printable(kw));
        return plain(kw, false, sidBytes, kStatusUnknownCommand);
    }

    static bool inRange(const CrateParam &p, uint32_t raw)
    {
        if (p.type == 1)
            return raw <= 1;
        if (p.type != 0)
            return true;
        if (p.isSigned)
            return int32_t(raw) >= p.minRaw && int32_t(raw) <= p.maxRaw;
        return int64_t(raw) >= int64_t(p.minRaw) && int64_t(raw) <= int64_t(p.maxRaw);
    }

    void endSession(uint32_t id)
    {
        std::erase_if(sessions, [&](const Session &s) { return s.id == id; });
        std::erase_if(subs, [&](const Sub &s) { return s.s.session == id; });
        for (auto &l : links)
            if (l.session == id)
                l.dead = true;
        wake = true;
        cv.notify_all();
    }

    std::optional<CrateFault> takeFault(const std::string &kw)
    {
        for (auto it = faults.begin(); it != faults.end(); ++it) {
            if (!it->keyword.empty() && it->keyword != kw)
                continue;
            CrateFault f = *it;
            if (it->count > 0 && --it->count == 0)
                faults.erase(it);
            return f;
        }
        return std::nullopt;
    }

    // ------------------------------------------------ command connection

    bool readExact(Conn &c, char *buf, size_t n)
    {
        while (n) {
            pollfd p{c.fd, POLLIN, 0};
            int r = ::poll(&p, 1, 100);
            if (stopping)
                return false;
            if (r < 0 && errno == EINTR)
                continue;
            if (r < 0)
                return false;
            if (r == 0)
                continue;
            ssize_t got = ::recv(c.fd, buf, n, 0);
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

    void sendReply(Conn &c, const Reply &r)
    {
        std::string len;
        put32(len, uint32_t(r.body.size()));
        std::string frame = len + r.body;
        if (!r.fault) {
            sendAll(c.fd, frame.data(), frame.size());
            return;
        }
        const CrateFault &f = *r.fault;
        switch (f.action) {
        case CrateFault::SplitLength:
            sendAll(c.fd, frame.data(), 2);
            pause(f.delay);
            sendAll(c.fd, frame.data() + 2, frame.size() - 2);
            break;
        case CrateFault::SplitReply: {
            size_t step = std::max<size_t>(1, f.chunk);
            for (size_t p = 0; p < frame.size() && !stopping; p += step) {
                sendAll(c.fd, frame.data() + p, std::min(step, frame.size() - p));
                if (p + step < frame.size())
                    pause(f.delay);
            }
            break;
        }
        case CrateFault::CutFrame:
            sendAll(c.fd, frame.data(), 4 + std::min(f.bytes, r.body.size()));
            break;
        case CrateFault::LengthOverride: {
            std::string l;
            put32(l, uint32_t(f.bytes));
            std::string fr = l + r.body;
            sendAll(c.fd, fr.data(), fr.size());
            break;
        }
        default:
            sendAll(c.fd, frame.data(), frame.size());
        }
    }

    void serve(Conn &c)
    {
        std::optional<Session> ses;
        while (!stopping) {
            char lenBytes[4];
            if (!readExact(c, lenBytes, 4))
                break;
            uint32_t len = get32(std::string(lenBytes, 4), 0);
            if (len == 0 || len > opt.maxRequest) {
                std::lock_guard lk(m);
                protocolError("request length " + std::to_string(len) + " refused, connection closed");
                break;
            }
            std::string body(len, '\0');
            if (!readExact(c, body.data(), len)) {
                std::lock_guard lk(m);
                protocolError("connection ended inside a request of " + std::to_string(len) + " bytes");
                break;
            }
            Reply r;
            std::string kw = body.substr(0, body.find(':'));
            {
                std::lock_guard lk(m);
                CrateRequest req{c.id, len, body, kw, 0};
                std::optional<CrateFault> f = takeFault(kw);
                if (f && f->action == CrateFault::Refuse) {
                    bool login = kw == "LOGINSYSTEM" || kw == "LOGIN";
                    std::string sidBytes =
                        (!login && body.size() >= kw.size() + 5) ? body.substr(kw.size() + 1, 4) : "";
                    r = plain(kw, login, sidBytes, f->status, f->message);
                } else if (f && f->action == CrateFault::Close) {
                    r.close = true;
                } else if (f && f->action == CrateFault::Silent) {
                    r.silent = true;
                } else {
                    int16_t st = 0;
                    r = execute(body, c, ses, st);
                    if (f)
                        r.fault = f;
                }
                if (!r.close && !r.silent && r.body.size() >= 2) {
                    bool login = kw == "LOGINSYSTEM" || kw == "LOGIN";
                    size_t at = kw.size() + (login ? 1 : 6);
                    if (at + 2 <= r.body.size())
                        r.status = int16_t(get16(r.body, at));
                }
                req.status = r.status;
                log.push_back(std::move(req));
            }
            if (r.close)
                break;
            if (r.silent)
                continue;
            if (r.fault) {
                const CrateFault &f = *r.fault;
                if (f.action == CrateFault::Delay)
                    pause(f.delay);
                if (f.action == CrateFault::CutData)
                    r.body.resize(std::min(f.bytes, r.body.size()));
                if (f.action == CrateFault::ReplaceBody)
                    r.body = f.body;
                if (f.action == CrateFault::WrongKeyword)
                    r.body = "XXXX" + r.body;
            }
            sendReply(c, r);
            if (r.fault &&
                (r.fault->action == CrateFault::CutFrame || r.fault->action == CrateFault::LengthOverride))
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

    void acceptLoop()
    {
        while (!stopping) {
            pollfd p{listenFd, POLLIN, 0};
            int r = ::poll(&p, 1, 100);
            if (r <= 0)
                continue;
            sockaddr_in peer{};
            socklen_t pl = sizeof peer;
            int fd = ::accept(listenFd, reinterpret_cast<sockaddr *>(&peer), &pl);
            if (fd < 0)
                continue;
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
            // Reap connections that have ended.
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
    }

    // ----------------------------------------------------- event stream

    // The events of one pass as they go out: one batch, or for the first
    // generation datagrams of at most 4096 bytes each.
    std::vector<std::string> encode(const std::vector<EventItem> &items)
    {
        if (!firstGen())
            return {batch(items)};
        std::vector<std::string> out;
        std::vector<EventItem> part;
        size_t size = 10;
        for (auto &it : items) {
            size_t n = 18 + it.value.size();
            if (!part.empty() && size + n > kHx1100MaxDatagram) {
                out.push_back(hx1100Datagram(part, part.size() > 1));
                part.clear();
                size = 10;
            }
            part.push_back(it);
            size += n;
        }
        if (!part.empty())
            out.push_back(hx1100Datagram(part, part.size() > 1));
        return out;
    }

    // Keep-alive (index 0) and live-insertion (index 1) items: a 16-bit word
    // in the current generation's batches, a 32-bit one in datagrams.
    EventItem specialItem(uint32_t idx, uint32_t word) const
    {
        uint32_t id = (254u << 24) | (0xFFFFu << 8) | idx;
        return firstGen() ? EventItem::number(id, word) : EventItem::word16(id, uint16_t(word));
    }

    void queueSpecial(uint32_t idx, uint32_t word)
    {
        // A first-generation crate reports them only to sessions that subscribed them.
        uint32_t need = firstGen() ? ((254u << 24) | (0xFFFFu << 8) | idx) : 0;
        for (auto &e : encode({specialItem(idx, word)}))
            queueRaw(std::move(e), need);
    }

    bool linkHas(const Link &l, uint32_t id) const
    {
        return std::any_of(subs.begin(), subs.end(), [&](const Sub &s) {
            return s.s.session == l.session && s.s.port == l.port && s.s.id == id;
        });
    }

    // First-generation values fill at least the crate's 32-bit value field
    // (NUL-padded), so that no single-item datagram is shorter than 28 bytes.
    static EventItem padded(EventItem i)
    {
        if (i.value.size() < 4)
            i.value.resize(4, '\0');
        return i;
    }

    // A first-generation system property as its event carries it: the get
    // reply's bytes, but 16-bit numbers as 32-bit words and the session log
    // as its lines.
    EventItem firstGenSysItem(uint32_t id, const CrateSysProp &p) const
    {
        const std::string &v = p.value;
        switch (p.kind) {
        case SysPropKind::Word16:
            return EventItem::number(id, v.size() >= 2 ? get16(v, 0) : 0);
        case SysPropKind::Word32:
            return EventItem::number(id, v.size() >= 4 ? get32(v, 0) : 0);
        case SysPropKind::Sessions:
            return EventItem::textItem(id, sessionLines());
        case SysPropKind::Text:
            return EventItem::textItem(id, getData(p.getKeyword));
        default: {
            EventItem i;
            i.id = id;
            i.value = v;
            return i;
        }
        }
    }

    std::string batch(const std::vector<EventItem> &items)
    {
        std::string b = "KORUHV";
        b.append(14, '\0');
        put32(b, uint32_t(items.size()));
        for (int i = 0; i < 16; ++i)
            b.push_back(char(syncStatus[i]));
        b.push_back(char(syncStatus[16]));
        std::string body;
        for (auto &it : items) {
            put32(body, it.id);
            put16(body, it.text ? 1 : 0);
            put16(body, uint16_t(it.value.size()));
            body += it.value;
        }
        put32(b, uint32_t(45 + body.size()));
        return b + body;
    }

    std::optional<EventItem> itemOf(const Sub &s)
    {
        if (s.s.kind == 0) {
            Chan *c = chan(unsigned(s.s.board), unsigned(s.s.channel));
            if (!c)
                return std::nullopt;
            if (s.index == kSlotName) {
                EventItem name = EventItem::textItem(s.s.id, c->name);
                return firstGen() ? padded(name) : name;
            }
            if (size_t(s.index) >= c->raw.size())
                return std::nullopt;
            return EventItem::number(s.s.id, c->raw[s.index]);
        }
        if (s.s.kind == 1) {
            if (unsigned(s.s.board) >= slots.size() || !slots[s.s.board].board)
                return std::nullopt;
            if (size_t(s.index) >= slots[s.s.board].bdRaw.size())
                return std::nullopt;
            return EventItem::number(s.s.id, slots[s.s.board].bdRaw[s.index]);
        }
        if (s.s.kind == 2) {
            if (size_t(s.index) >= sysProps.size())
                return std::nullopt;
            const CrateSysProp &p = sysProps[s.index];
            if (firstGen())
                return padded(firstGenSysItem(s.s.id, p));
            const std::string &v = p.value;
            switch (p.kind) {
            case SysPropKind::Byte:
                return EventItem::number(s.s.id, v.empty() ? 0 : uint32_t(int8_t(v[0])));
            case SysPropKind::Clock:
            case SysPropKind::Word16:
                return EventItem::number(s.s.id, v.size() >= 2 ? get16(v, 0) : 0);
            case SysPropKind::Word32:
                return EventItem::number(s.s.id, v.size() >= 4 ? get32(v, 0) : 0);
            case SysPropKind::Sessions:
                return EventItem::textItem(s.s.id, sessionLog());
            default:
                return EventItem::textItem(s.s.id, v);
            }
        }
        return std::nullopt;
    }

    // Applies the next event fault to a batch; returns whether to close after sending.
    bool mangle(std::string &b, size_t &split)
    {
        if (eventFaults.empty())
            return false;
        EventFault f = eventFaults.front();
        if (f.count > 0 && --eventFaults.front().count == 0)
            eventFaults.pop_front();
        if (firstGen())
            return mangleDatagram(f, b);
        switch (f.action) {
        case EventFault::BadMagic:
            b[0] = 'X';
            return false;
        case EventFault::CutBatch:
            b.resize(std::min(f.bytes, b.size()));
            return true;
        case EventFault::ItemPastEnd:
            if (b.size() > 45 + 8) {
                // The last item's length field: walk the items to find it.
                size_t p = 45, last = 0;
                while (p + 8 <= b.size()) {
                    last = p;
                    p += 8 + get16(b, p + 6);
                }
                uint16_t l = uint16_t(get16(b, last + 6) + 64);
                b[last + 6] = char(l >> 8);
                b[last + 7] = char(l & 0xFF);
            }
            return false;
        case EventFault::CountTooHigh: {
            uint32_t n = get32(b, 20) + 5;
            std::string c;
            put32(c, n);
            b.replace(20, 4, c);
            return false;
        }
        case EventFault::SplitBatch:
            split = std::max<size_t>(1, f.bytes);
            return false;
        case EventFault::CloseAfter:
            return true;
        default:
            return false;
        }
        return false;
    }

    // Datagram faults; a datagram has no connection to close.
    static bool mangleDatagram(const EventFault &f, std::string &b)
    {
        if (b.size() < 6)
            return false;
        bool multi = !(uint8_t(b[4]) == kHx1100Form && uint8_t(b[5]) == kHx1100SingleFlag);
        size_t first = multi ? 10 : 6;
        auto put16At = [&](size_t at, uint16_t v) {
            if (at + 2 > b.size())
                return;
            b[at] = char(v >> 8);
            b[at + 1] = char(v & 0xFF);
        };
        switch (f.action) {
        case EventFault::BadMagic:
            b[0] = 'X';
            break;
        case EventFault::CutBatch:
            b.resize(std::min(f.bytes, b.size()));
            break;
        case EventFault::ItemPastEnd: {
            size_t p = first, last = 0;
            while (p + 18 <= b.size()) {
                last = p;
                p += 18 + get32(b, p + 14);
            }
            if (last) {
                uint32_t l = get32(b, last + 14) + 64;
                std::string w;
                put32(w, l);
                b.replace(last + 14, 4, w);
            }
            break;
        }
        case EventFault::CountTooHigh:
            if (multi && b.size() >= 10)
                put16At(8, uint16_t(get16(b, 8) + 5));
            break;
        case EventFault::WrongTotalLength:
            if (multi && b.size() >= 10)
                put16At(6, uint16_t(get16(b, 6) + 1));
            break;
        case EventFault::BadItemMarker:
            if (first + 2 <= b.size())
                b[first + 1] = 2;
            break;
        default:
            break;
        }
        return false;
    }

    int connectLink(const std::string &peer, uint16_t p)
    {
        if (!isLoopback(peer))
            return -1;
        if (firstGen())
            return datagramLink(peer, p);
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return -1;
        // From the crate's own address, so that the subscriber sees the crate as the peer.
        sockaddr_in me{};
        me.sin_family = AF_INET;
        inet_pton(AF_INET, address.c_str(), &me.sin_addr);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(p);
        inet_pton(AF_INET, peer.c_str(), &to.sin_addr);
        if (::bind(fd, reinterpret_cast<sockaddr *>(&me), sizeof me) != 0) {
            ::close(fd);
            return -1;
        }
        int flags = fcntl(fd, F_GETFL);
        fcntl(fd, F_SETFL, flags | O_NONBLOCK);
        int r = ::connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to);
        if (r != 0 && errno == EINPROGRESS) {
            pollfd pf{fd, POLLOUT, 0};
            if (::poll(&pf, 1, 1000) == 1) {
                int err = 0;
                socklen_t el = sizeof err;
                getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &el);
                r = err ? -1 : 0;
            }
        }
        if (r != 0) {
            ::close(fd);
            return -1;
        }
        fcntl(fd, F_SETFL, flags);
        timeval tv{2, 0};
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        return fd;
    }

    // A UDP socket from the crate's own address (the subscriber finds the
    // crate by the sender address), connected to the subscriber's port.
    int datagramLink(const std::string &peer, uint16_t p)
    {
        int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return -1;
        sockaddr_in me{};
        me.sin_family = AF_INET;
        inet_pton(AF_INET, address.c_str(), &me.sin_addr);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(p);
        inet_pton(AF_INET, peer.c_str(), &to.sin_addr);
        if (::bind(fd, reinterpret_cast<sockaddr *>(&me), sizeof me) != 0 ||
            ::connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0) {
            ::close(fd);
            return -1;
        }
        return fd;
    }

    struct Out {
        size_t link;
        int fd;
        std::string bytes;
        size_t split = 0;
        bool closeAfter = false;
    };

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
            // Drop links whose session ended.
            for (auto &l : links)
                if (l.dead && l.fd >= 0) {
                    ::close(l.fd);
                    l.fd = -1;
                }
            std::erase_if(links, [](const Link &l) { return l.dead; });
            // Connect links that are not up yet (one try per half second).
            for (size_t i = 0; i < links.size(); ++i) {
                Link &l = links[i];
                if (l.fd >= 0 || (l.tried && now - l.lastTry < milliseconds(500)))
                    continue;
                l.tried = true;
                l.lastTry = now;
                std::string peer = l.peer;
                uint16_t p = l.port;
                uint32_t session = l.session;
                lk.unlock();
                int fd = connectLink(peer, p);
                lk.lock();
                // The link list may have changed meanwhile: find it again.
                bool placed = false;
                for (auto &l2 : links)
                    if (!placed && l2.session == session && l2.port == p && l2.fd < 0 && !l2.dead) {
                        l2.fd = fd;
                        l2.lastSend = Clock::now();
                        placed = true;
                    }
                if (!placed && fd >= 0)
                    ::close(fd);
                if (fd >= 0)
                    linkCv.notify_all();
                if (stopping)
                    return;
            }
            // Build what goes out.
            std::vector<Out> outs;
            std::vector<RawOut> raws;
            raws.swap(rawQueue);
            now = Clock::now();
            for (size_t i = 0; i < links.size(); ++i) {
                Link &l = links[i];
                if (l.fd < 0)
                    continue;
                std::vector<EventItem> items;
                for (auto &s : subs)
                    if (s.dirty && s.s.session == l.session && s.s.port == l.port) {
                        if (auto it = itemOf(s))
                            items.push_back(*it);
                        s.dirty = false;
                    }
                for (auto &r : raws)
                    if (!r.needId || linkHas(l, r.needId))
                        outs.push_back({i, l.fd, r.bytes});
                if (!items.empty()) {
                    for (auto &e : encode(items))
                        outs.push_back({i, l.fd, std::move(e)});
                } else if (opt.keepAlivePeriod.count() > 0 && now - l.lastSend >= opt.keepAlivePeriod &&
                           (!firstGen() || linkHas(l, (254u << 24) | (0xFFFFu << 8)))) {
                    for (auto &e : encode({specialItem(0, ++keepAliveWord)}))
                        outs.push_back({i, l.fd, std::move(e)});
                }
            }
            for (auto &o : outs)
                o.closeAfter = mangle(o.bytes, o.split);
            if (outs.empty())
                continue;
            lk.unlock();
            std::vector<int> failed;
            for (auto &o : outs) {
                bool ok = true;
                if (o.split) {
                    for (size_t p = 0; ok && p < o.bytes.size(); p += o.split) {
                        ok = sendAll(o.fd, o.bytes.data() + p, std::min(o.split, o.bytes.size() - p));
                        std::this_thread::sleep_for(milliseconds(20));
                    }
                } else {
                    ok = sendAll(o.fd, o.bytes.data(), o.bytes.size());
                }
                // A datagram that found no listener does not end the subscription.
                if ((!ok && !firstGen()) || o.closeAfter)
                    failed.push_back(o.fd);
            }
            lk.lock();
            now = Clock::now();
            for (auto &l : links) {
                if (l.fd < 0)
                    continue;
                for (auto &o : outs)
                    if (o.fd == l.fd)
                        l.lastSend = now;
                if (std::find(failed.begin(), failed.end(), l.fd) != failed.end()) {
                    ::close(l.fd);
                    l.fd = -1;
                    l.dead = true; // a new subscription opens a new one
                }
            }
            std::erase_if(links, [](const Link &l) { return l.dead && l.fd < 0; });
        }
    }

    void queueRaw(std::string bytes, uint32_t needId = 0)
    {
        rawQueue.push_back({std::move(bytes), needId});
        wake = true;
        cv.notify_all();
    }
};

// --------------------------------------------------------------- public

CrateSim::CrateSim(CrateModel model, std::string bindAddress, uint16_t port, CrateSimOptions options)
    : d(std::make_unique<Impl>(std::move(model), std::move(bindAddress), port, std::move(options)))
{
}

CrateSim::~CrateSim()
{
    stop();
}

bool CrateSim::start()
{
    if (d->started)
        return true;
    if (!isLoopback(d->address) || d->address == "127.0.0.1") {
        d->errorText = "the crate simulator serves 127.0.0.2 and up only, not " + d->address;
        return false;
    }
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        d->errorText = std::strerror(errno);
        return false;
    }
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(d->port);
    inet_pton(AF_INET, d->address.c_str(), &a.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(fd, 16) != 0) {
        d->errorText = std::string("cannot listen on ") + d->address + ":" + std::to_string(d->port) + ": " +
                       std::strerror(errno);
        ::close(fd);
        return false;
    }
    socklen_t al = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr *>(&a), &al);
    d->port = ntohs(a.sin_port);
    d->listenFd = fd;
    d->stopping = false;
    d->started = true;
    d->acceptTh = std::thread([this] { d->acceptLoop(); });
    d->eventTh = std::thread([this] { d->eventLoop(); });
    return true;
}

void CrateSim::stop()
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
    d->listenFd = -1;
    std::lock_guard lk(d->m);
    for (auto &l : d->links)
        if (l.fd >= 0)
            ::close(l.fd);
    d->links.clear();
    d->sessions.clear();
    d->subs.clear();
    d->started = false;
}

uint16_t CrateSim::port() const
{
    return d->port;
}
const std::string &CrateSim::address() const
{
    return d->address;
}
std::string CrateSim::errorText() const
{
    std::lock_guard lk(d->m);
    return d->errorText;
}

void CrateSim::setCredentials(const std::string &user, const std::string &password)
{
    std::lock_guard lk(d->m);
    d->opt.user = user;
    d->opt.password = password;
}

bool CrateSim::setChannelRaw(unsigned slot, unsigned channel, const std::string &param, uint32_t raw)
{
    std::lock_guard lk(d->m);
    auto *c = d->chan(slot, channel);
    if (!c)
        return false;
    const auto &ps = d->slots[slot].board->paramsOf(channel);
    int i = paramIndex(ps, param);
    if (i < 0)
        return false;
    if (param == "VMon")
        c->vmon = rawToValue(ps[i], raw);
    d->setChRaw(slot, channel, i, raw);
    d->refreshDerived();
    return true;
}

bool CrateSim::setChannelValue(unsigned slot, unsigned channel, const std::string &param, double value)
{
    uint32_t raw;
    {
        std::lock_guard lk(d->m);
        auto *c = d->chan(slot, channel);
        if (!c)
            return false;
        const auto &ps = d->slots[slot].board->paramsOf(channel);
        int i = paramIndex(ps, param);
        if (i < 0)
            return false;
        raw = ps[i].type == 0 ? valueToRaw(ps[i], value) : uint32_t(int64_t(value));
    }
    return setChannelRaw(slot, channel, param, raw);
}

bool CrateSim::setBoardRaw(unsigned slot, const std::string &param, uint32_t raw)
{
    std::lock_guard lk(d->m);
    if (slot >= d->slots.size() || !d->slots[slot].board)
        return false;
    int i = paramIndex(d->slots[slot].board->boardParams, param);
    if (i < 0)
        return false;
    if (d->slots[slot].bdRaw[i] != raw) {
        d->slots[slot].bdRaw[i] = raw;
        d->markBoard(slot, i);
    }
    return true;
}

bool CrateSim::setBoardValue(unsigned slot, const std::string &param, double value)
{
    uint32_t raw;
    {
        std::lock_guard lk(d->m);
        if (slot >= d->slots.size() || !d->slots[slot].board)
            return false;
        const auto &ps = d->slots[slot].board->boardParams;
        int i = paramIndex(ps, param);
        if (i < 0)
            return false;
        raw = ps[i].type == 0 ? valueToRaw(ps[i], value) : uint32_t(int64_t(value));
    }
    return setBoardRaw(slot, param, raw);
}

bool CrateSim::setChannelName(unsigned slot, unsigned channel, const std::string &name)
{
    std::lock_guard lk(d->m);
    auto *c = d->chan(slot, channel);
    if (!c)
        return false;
    if (c->name != name) {
        c->name = name;
        d->markChannel(slot, channel, kSlotName);
    }
    return true;
}

bool CrateSim::setSysProp(const std::string &name, const std::string &bytes)
{
    std::lock_guard lk(d->m);
    int i = d->sysPropIndex(name);
    if (i < 0)
        return false;
    if (name == "FrontPanOut")
        d->panelPinned = true;
    if (isFanStatusName(name))
        d->fansPinned[name] = true;
    if (d->sysProps[i].value != bytes) {
        d->sysProps[i].value = bytes;
        d->markSys(i);
    }
    d->refreshDerived();
    return true;
}

bool CrateSim::setChannelAlarm(unsigned slot, unsigned channel, uint32_t statusBits, bool raised)
{
    std::lock_guard lk(d->m);
    auto *c = d->chan(slot, channel);
    if (!c)
        return false;
    int i = paramIndex(d->slots[slot].board->paramsOf(channel), "Status");
    if (i < 0)
        return false;
    // Bits 0-2 (on, ramping) belong to the ramp.
    statusBits &= ~uint32_t(0x7);
    d->setChRaw(slot, channel, i, raised ? c->raw[i] | statusBits : c->raw[i] & ~statusBits);
    d->refreshDerived();
    return true;
}

bool CrateSim::setFanFailed(const std::string &property, unsigned fan, bool failed)
{
    std::lock_guard lk(d->m);
    int i = d->sysPropIndex(property);
    if (i < 0 || !isFanStatusName(property) || fan >= d->sysProps[i].value.size() / 3 || fan >= 32)
        return false;
    uint32_t &mask = d->failedFans[property];
    mask = failed ? mask | (1u << fan) : mask & ~(1u << fan);
    d->refreshDerived();
    return true;
}

std::optional<uint32_t> CrateSim::channelRaw(unsigned slot, unsigned channel, const std::string &param) const
{
    std::lock_guard lk(d->m);
    auto *c = d->chan(slot, channel);
    if (!c)
        return std::nullopt;
    int i = paramIndex(d->slots[slot].board->paramsOf(channel), param);
    if (i < 0)
        return std::nullopt;
    return c->raw[i];
}

std::optional<double> CrateSim::channelValue(unsigned slot, unsigned channel, const std::string &param) const
{
    std::lock_guard lk(d->m);
    auto *c = d->chan(slot, channel);
    if (!c)
        return std::nullopt;
    const auto &ps = d->slots[slot].board->paramsOf(channel);
    int i = paramIndex(ps, param);
    if (i < 0)
        return std::nullopt;
    return ps[i].type == 0 ? rawToValue(ps[i], c->raw[i]) : double(c->raw[i]);
}

std::optional<uint32_t> CrateSim::boardRaw(unsigned slot, const std::string &param) const
{
    std::lock_guard lk(d->m);
    if (slot >= d->slots.size() || !d->slots[slot].board)
        return std::nullopt;
    int i = paramIndex(d->slots[slot].board->boardParams, param);
    if (i < 0)
        return std::nullopt;
    return d->slots[slot].bdRaw[i];
}

std::optional<std::string> CrateSim::channelName(unsigned slot, unsigned channel) const
{
    std::lock_guard lk(d->m);
    auto *c = d->chan(slot, channel);
    if (!c)
        return std::nullopt;
    return c->name;
}

std::optional<std::string> CrateSim::sysProp(const std::string &name) const
{
    std::lock_guard lk(d->m);
    int i = d->sysPropIndex(name);
    if (i < 0)
        return std::nullopt;
    return d->sysProps[i].value;
}

void CrateSim::insertBoard(unsigned slot, CrateBoard board)
{
    std::lock_guard lk(d->m);
    if (slot >= d->slots.size())
        d->slots.resize(slot + 1);
    std::erase_if(d->subs, [&](const Impl::Sub &s) { return s.s.board == int(slot) && s.s.kind <= 1; });
    d->slots[slot] = Impl::makeSlot(std::move(board));
    d->queueSpecial(1, slot);
}

void CrateSim::removeBoard(unsigned slot)
{
    std::lock_guard lk(d->m);
    if (slot >= d->slots.size())
        return;
    std::erase_if(d->subs, [&](const Impl::Sub &s) { return s.s.board == int(slot) && s.s.kind <= 1; });
    d->slots[slot] = Impl::Slot{};
    d->queueSpecial(1, slot);
}

void CrateSim::setSlotSyncStatus(int slot, uint8_t statusByte)
{
    std::lock_guard lk(d->m);
    if (slot < 0)
        d->syncStatus[16] = statusByte;
    else if (slot < 16)
        d->syncStatus[slot] = statusByte;
}

void CrateSim::sendKeepAlive()
{
    std::lock_guard lk(d->m);
    d->queueSpecial(0, ++d->keepAliveWord);
}

void CrateSim::sendEventBatch(const std::vector<EventItem> &items)
{
    std::lock_guard lk(d->m);
    for (auto &e : d->encode(items))
        d->queueRaw(std::move(e));
}

void CrateSim::sendRawEvent(const std::string &bytes)
{
    std::lock_guard lk(d->m);
    d->queueRaw(bytes);
}

void CrateSim::closeEventConnections()
{
    std::lock_guard lk(d->m);
    for (auto &l : d->links)
        l.dead = true;
    d->wake = true;
    d->cv.notify_all();
}

int CrateSim::eventConnectionCount() const
{
    std::lock_guard lk(d->m);
    return int(std::count_if(d->links.begin(), d->links.end(), [](auto &l) { return l.fd >= 0 && !l.dead; }));
}

bool CrateSim::waitEventConnection(std::chrono::milliseconds timeout) const
{
    std::unique_lock lk(d->m);
    return d->linkCv.wait_for(lk, timeout, [&] {
        return std::any_of(d->links.begin(), d->links.end(), [](auto &l) { return l.fd >= 0 && !l.dead; });
    });
}

std::vector<CrateSubscription> CrateSim::subscriptions() const
{
    std::lock_guard lk(d->m);
    std::vector<CrateSubscription> out;
    for (auto &s : d->subs)
        out.push_back(s.s);
    return out;
}

void CrateSim::tickNow()
{
    std::lock_guard lk(d->m);
    d->rampStep(std::chrono::duration<double>(d->opt.tickPeriod).count());
    d->wake = true;
    d->cv.notify_all();
}

void CrateSim::addFault(CrateFault fault)
{
    std::lock_guard lk(d->m);
    if (fault.count != 0)
        d->faults.push_back(std::move(fault));
}

void CrateSim::addEventFault(EventFault fault)
{
    std::lock_guard lk(d->m);
    if (fault.count != 0)
        d->eventFaults.push_back(fault);
}

void CrateSim::clearFaults()
{
    std::lock_guard lk(d->m);
    d->faults.clear();
    d->eventFaults.clear();
}

std::vector<CrateRequest> CrateSim::requests() const
{
    std::lock_guard lk(d->m);
    return d->log;
}

std::vector<CrateRequest> CrateSim::requestsFor(const std::string &keyword) const
{
    std::lock_guard lk(d->m);
    std::vector<CrateRequest> out;
    for (auto &r : d->log)
        if (r.keyword == keyword)
            out.push_back(r);
    return out;
}

void CrateSim::clearRequests()
{
    std::lock_guard lk(d->m);
    d->log.clear();
}

std::vector<std::string> CrateSim::protocolErrors() const
{
    std::lock_guard lk(d->m);
    return d->errors;
}

int CrateSim::connectionCount() const
{
    std::lock_guard lk(d->m);
    return d->connCounter;
}

int CrateSim::activeSessions() const
{
    std::lock_guard lk(d->m);
    return int(d->sessions.size());
}

} // namespace korusim
