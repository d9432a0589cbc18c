// The crate simulator's command connection: each request keyword and its reply.
#include "crate/crate_sim_impl.h"

namespace korusim {

std::string CrateSim::Impl::head(const std::string &kw, bool login, const std::string &sid, int16_t st)
{
    std::string r = kw + ":";
    if (!login)
        r += sid + ":";
    putBe16(r, uint16_t(st));
    r += ":";
    return r;
}

CrateSim::Impl::Reply CrateSim::Impl::plain(const std::string &kw, bool login, const std::string &sid,
                                            int16_t st, const std::string &msg)
{
    Reply r;
    r.status = st;
    r.body = head(kw, login, sid, st) + (msg.empty() ? statusText(st) : msg);
    return r;
}

CrateSim::Impl::Reply CrateSim::Impl::data(const std::string &kw, const std::string &sid,
                                           const std::string &bytes)
{
    Reply r;
    r.body = head(kw, false, sid, 0) + statusText(0) + ":" + bytes;
    return r;
}

CrateSim::Impl::Reply CrateSim::Impl::malformed(const std::string &kw, bool login, const std::string &sid,
                                                const FieldReader &rd)
{
    protocolError(rd.error);
    return plain(kw, login, sid, kStatusMalformed);
}

std::string CrateSim::Impl::sysInfo() const
{
    std::vector<CrateParam> desc;
    auto indexOf = [&](const CrateParam &p) {
        for (size_t i = 0; i < desc.size(); ++i)
            if (sameDescriptor(desc[i], p, true))
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
        putBe16(boards, uint16_t(b.boardParams.size()));
        boards += ":";
        for (auto &p : b.boardParams)
            putBe16(boards, indexOf(p));
        boards += ":";
        for (unsigned c = 0; c < b.channels; ++c) {
            const auto &ps = b.paramsOf(c);
            putBe16(boards, uint16_t(ps.size()));
            boards += ":";
            for (auto &p : ps)
                putBe16(boards, indexOf(p));
            boards += ":";
        }
    }
    std::string d;
    putBe16(d, uint16_t(desc.size()));
    d += ":";
    for (auto &p : desc) {
        std::string rec(10, '\0');
        std::memcpy(rec.data(), p.name.data(), std::min<size_t>(10, p.name.size()));
        uint32_t w = (uint32_t(p.type) << 16) | (p.writable ? 0x8000u : 0) | (p.isSigned ? 0x4000u : 0);
        putBe32(rec, w);
        if (p.type == 1) {
            std::string on(8, '\0'), off(8, '\0');
            std::memcpy(on.data(), p.onText.data(), std::min<size_t>(7, p.onText.size()));
            std::memcpy(off.data(), p.offText.data(), std::min<size_t>(7, p.offText.size()));
            rec += on + off + std::string(2, '\0');
        } else {
            putBe32(rec, uint32_t(p.minRaw));
            putBe32(rec, uint32_t(p.maxRaw));
            putBe16(rec, p.decimals);
            putBe16(rec, p.factor);
            putBe16(rec, uint16_t(p.unit));
            putBe16(rec, uint16_t(p.exp));
            putBe16(rec, p.reserved);
        }
        d += rec;
    }
    d += ":";
    putBe16(d, uint16_t(present.size()));
    d += ":";
    for (unsigned s : present)
        putBe16(d, uint16_t(s));
    d += ":";
    for (unsigned s : present)
        putBe16(d, uint16_t(slots[s].board->channels));
    d += ":";
    return d + boards;
}

std::string CrateSim::Impl::crateMap() const
{
    std::string d;
    putBe16(d, uint16_t(slots.size()));
    for (auto &s : slots) {
        d += ":";
        if (!s.board) {
            d.push_back('\0');
            continue;
        }
        d += s.board->model + ":" + s.board->description + ":";
        putBe16(d, s.board->serial);
        d += ":";
        putBe16(d, uint16_t((s.board->fwMajor << 8) | s.board->fwMinor));
    }
    // The first generation has no tail of 32-bit serial numbers.
    if (!firstGen())
        for (auto &s : slots)
            putBe32(d, s.board ? s.board->serial32 : 0);
    return d;
}

std::string CrateSim::Impl::sysComp() const
{
    std::string d(1, char(1));
    d += ":";
    putBe16(d, uint16_t(slots.size() & 0xFF));
    d += ":";
    for (auto &s : slots)
        putBe32(d, s.board ? (0x10000u | s.board->channels) : 0);
    return d;
}

std::string CrateSim::Impl::sessionLines() const
{
    std::string d;
    for (auto &s : sessions)
        d += s.user + ":" + s.peer + ":TCP/IP:" + std::to_string(s.since) + "\n";
    return d;
}

std::string CrateSim::Impl::getData(const std::string &kw) const
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

std::string CrateSim::Impl::sessionLog() const
{
    std::string d;
    if (firstGen()) {
        putBe16(d, uint16_t(sessions.size()));
        return d + ":" + sessionLines();
    }
    putBe16(d, uint16_t(sessions.size()));
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

uint32_t CrateSim::Impl::subscribe(uint32_t session, uint16_t evPort, int kind, int board, int ch,
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
        s.s = CrateSubscription{id, session, evPort, kind, kind <= 1 ? board : -1, kind == 0 ? ch : -1, name};
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

CrateSim::Impl::Reply CrateSim::Impl::cmdSubscribe(const std::string &kw, const std::string &sid,
                                                   FieldReader &rd, const Session &ses)
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
    putBe16(d, n);
    d += ":";
    for (auto &it : items)
        putBe32(d, subscribe(ses.id, evPort, it.kind, it.board, it.ch, it.name, ses.peer));
    return data(kw, sid, d);
}

CrateSim::Impl::Reply CrateSim::Impl::cmdUnsubscribe(const std::string &kw, const std::string &sid,
                                                     FieldReader &rd, const Session &ses)
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
    putBe16(d, n);
    return data(kw, sid, d);
}

bool CrateSim::Impl::decodeSet(const CrateSysProp &p, const std::string &v, std::string &out,
                               std::string &why)
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

CrateSim::Impl::Reply CrateSim::Impl::execute(const std::string &body, Conn &conn,
                                              std::optional<Session> &ses, int16_t &status)
{
    size_t colon = body.find(':');
    std::string kw = body.substr(0, colon);
    bool login = kw == "LOGINSYSTEM" || kw == "LOGIN";
    if (login && firstGen() && kw == "LOGINSYSTEM") {
        protocolError("unknown keyword LOGINSYSTEM (the first generation logs in with LOGIN)");
        return plain(kw, true, {}, kStatusUnknownCommand);
    }
    if (login) {
        FieldReader rd{body, kw.size(), kw, false, true, {}};
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
        putBe32(r.body, s.id);
        return r;
    }
    // Every other request: keyword ':' session(4), then ':' and arguments.
    FieldReader rd{body, kw.size(), kw, false, true, {}};
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
        putBe16(d, s->board->serial);
        d += ":";
        putBe16(d, uint16_t((s->board->fwMajor << 8) | s->board->fwMinor));
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
            putBe32(d, s->bdRaw[i]);
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
            putBe32(d, s->ch[c].raw[i]);
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

void CrateSim::Impl::endSession(uint32_t id)
{
    std::erase_if(sessions, [&](const Session &s) { return s.id == id; });
    std::erase_if(subs, [&](const Sub &s) { return s.s.session == id; });
    for (auto &l : links)
        if (l.session == id)
            l.dead = true;
    wake = true;
    cv.notify_all();
}

} // namespace korusim
