// The rack simulator's command connection: login, each request keyword and its reply.
#include "crate/p8080_sim_impl.h"

namespace korusim {

void P8080Sim::Impl::runExec(const std::string &kw)
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

void P8080Sim::Impl::keepAliveAnswered(uint32_t session)
{
    for (auto &e : evconns)
        if (e.session == session)
            e.keepAliveDue = false;
}

std::string P8080Sim::Impl::head(const std::string &kw, const std::string &sid, int16_t st,
                                 const std::string &msg)
{
    std::string r = kw + ":" + sid;
    putLe16(r, uint16_t(st));
    return r + ":" + msg + ":";
}

P8080Sim::Impl::Reply P8080Sim::Impl::plain(const std::string &kw, const std::string &sid, int16_t st)
{
    Reply r;
    r.status = st;
    r.body = head(kw, sid, st, statusText(st));
    return r;
}

P8080Sim::Impl::Reply P8080Sim::Impl::data(const std::string &kw, const std::string &sid,
                                           const std::string &bytes)
{
    Reply r;
    r.body = head(kw, sid, 0, statusText(0)) + bytes;
    return r;
}

P8080Sim::Impl::Reply P8080Sim::Impl::malformed(const std::string &kw, const std::string &sid,
                                                const FieldReader &rd)
{
    protocolError(rd.error);
    return plain(kw, sid, kP8080Malformed);
}

std::string P8080Sim::Impl::sysInfo() const
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
            if (sameDescriptor(desc[i], p, false))
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
    putLe16(d, uint16_t(desc.size()));
    d += ":";
    for (auto &p : desc) {
        d += p.name.substr(0, 11) + ":";
        d.push_back(char(p.type));
        d.push_back(char(p.writable ? 1 : 0));
        d.push_back(char(p.isSigned ? 1 : 0));
        if (p.type == 1) {
            d += p.onText.substr(0, 7) + ":" + p.offText.substr(0, 7) + ":";
        } else {
            putLe32(d, uint32_t(p.minRaw));
            putLe32(d, uint32_t(p.maxRaw));
            putLe32(d, p.decimals);
            putLe32(d, p.factor);
            d.push_back(char(int8_t(p.unit)));
            putLe16(d, uint16_t(p.exp));
        }
    }
    d += ":";
    putLe16(d, uint16_t(entries.size()));
    d += ":";
    for (auto &e : entries) {
        d.push_back(char(e.board % 25));
        d.push_back(char(e.board / 25));
    }
    d += ":";
    for (auto &e : entries)
        putLe16(d, uint16_t(e.channels));
    d += ":";
    for (auto &e : entries) {
        putLe16(d, uint16_t(e.bd.size()));
        for (uint16_t i : e.bd)
            putLe16(d, i);
        d += ":";
        for (auto &l : e.ch) {
            putLe16(d, uint16_t(l.size()));
            for (uint16_t i : l)
                putLe16(d, i);
        }
    }
    return d;
}

std::string P8080Sim::Impl::crateMap() const
{
    std::string d(1, char(uint8_t(modules.size() + 1)));
    auto entry = [&](const std::string &model, const std::string &descr, uint32_t serial, uint8_t maj,
                     uint8_t min) {
        d += ":" + model + ":" + descr + ":";
        putLe32(d, serial);
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

std::string P8080Sim::Impl::sysComp() const
{
    std::string d;
    putLe16(d, 1);
    d += ":";
    putLe16(d, uint16_t(modules.size() + 1));
    d += ":";
    for (auto &md : modules)
        putLe32(d, md.board ? (0x10000u | md.board->channels) : 0);
    putLe32(d, 0);
    return d;
}

uint32_t P8080Sim::Impl::subscribe(uint32_t session, int kind, int board, int ch, const std::string &name)
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

P8080Sim::Impl::Reply P8080Sim::Impl::cmdEnable(const std::string &kw, const std::string &sid,
                                                FieldReader &rd, const Session &ses)
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
            int v = getBe16(rd.b, rd.p);
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
            rd.fail("item kind " + std::to_string(it.kind) +
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
    putLe16(d, evPort);
    d += ":";
    for (auto &it : items)
        putLe32(d, subscribe(ses.id, it.kind, it.board, it.ch, it.name));
    bool haveConn = std::any_of(evconns.begin(), evconns.end(),
                                [&](const EvConn &e) { return e.session == ses.id && !e.dead; });
    bool waiting =
        std::any_of(pending.begin(), pending.end(), [&](const Pending &p) { return p.session == ses.id; });
    if (!haveConn && !waiting)
        pending.push_back({ses.id, ses.peer});
    wake = true;
    cv.notify_all();
    return data(kw, sid, d);
}

P8080Sim::Impl::Reply P8080Sim::Impl::login(const std::string &body, Conn &conn, std::optional<Session> &ses)
{
    const std::string kw = "LOGIN";
    auto answer = [&](int16_t st, uint32_t id) {
        Reply r;
        r.status = st;
        r.body = kw + ":";
        putLe16(r.body, uint16_t(st));
        r.body += std::string(":") + (st ? statusText(st) : "Login Ok") + ":";
        putLe32(r.body, id);
        return r;
    };
    FieldReader rd{body, kw.size(), kw, true, false, {}};
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
        ok = EVP_PKEY_decrypt(ctx, reinterpret_cast<unsigned char *>(pass.data()), &outLen, in, enc.size()) >
             0;
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

P8080Sim::Impl::Reply P8080Sim::Impl::execute(const std::string &body, Conn &conn,
                                              std::optional<Session> &ses)
{
    size_t colon = body.find(':');
    std::string kw = body.substr(0, colon);
    if (kw == "LOGIN")
        return login(body, conn, ses);
    FieldReader rd{body, kw.size(), kw, true, false, {}};
    std::string sid;
    rd.colon("keyword");
    if (rd.need(4, "session id"))
        sid = body.substr(rd.p, 4);
    uint32_t id = rd.u32("session id");
    bool exec = std::find(std::begin(kExecKeywords), std::end(kExecKeywords), kw) != std::end(kExecKeywords);
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
                    putLe32(d, sysRaw[i]);
                }
                continue;
            }
            Module *md = module(b);
            if (!md)
                return plain(kw, sid, kP8080SlotNotPresent);
            int i = paramIndex(md->board->boardParams, name);
            if (i < 0)
                return plain(kw, sid, kP8080ParamNotFound);
            putLe32(d, md->bdRaw[i]);
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
            putLe32(d, md->ch[c].raw[i]);
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

P8080Sim::Impl::Reply P8080Sim::Impl::setBdParam(const std::string &kw, const std::string &sid,
                                                 FieldReader &rd)
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

void P8080Sim::Impl::endSession(uint32_t id)
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

} // namespace korusim
