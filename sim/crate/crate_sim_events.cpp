// The crate simulator's event side: subscriptions turned into event batches,
// the links to the subscribers' event servers and the event faults.
#include "crate/crate_sim_impl.h"

namespace korusim {

std::vector<std::string> CrateSim::Impl::encode(const std::vector<EventItem> &items)
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

EventItem CrateSim::Impl::specialItem(uint32_t idx, uint32_t word) const
{
    uint32_t id = (254u << 24) | (0xFFFFu << 8) | idx;
    return firstGen() ? EventItem::number(id, word) : EventItem::word16(id, uint16_t(word));
}

void CrateSim::Impl::queueSpecial(uint32_t idx, uint32_t word)
{
    // A first-generation crate reports them only to sessions that subscribed them.
    uint32_t need = firstGen() ? ((254u << 24) | (0xFFFFu << 8) | idx) : 0;
    for (auto &e : encode({specialItem(idx, word)}))
        queueRaw(std::move(e), need);
}

bool CrateSim::Impl::linkHas(const Link &l, uint32_t id) const
{
    return std::any_of(subs.begin(), subs.end(), [&](const Sub &s) {
        return s.s.session == l.session && s.s.port == l.port && s.s.id == id;
    });
}

EventItem CrateSim::Impl::padded(EventItem i)
{
    if (i.value.size() < 4)
        i.value.resize(4, '\0');
    return i;
}

EventItem CrateSim::Impl::firstGenSysItem(uint32_t id, const CrateSysProp &p) const
{
    const std::string &v = p.value;
    switch (p.kind) {
    case SysPropKind::Word16:
        return EventItem::number(id, v.size() >= 2 ? getBe16(v, 0) : 0);
    case SysPropKind::Word32:
        return EventItem::number(id, v.size() >= 4 ? getBe32(v, 0) : 0);
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

std::string CrateSim::Impl::batch(const std::vector<EventItem> &items)
{
    std::string b = "KORUHV";
    b.append(14, '\0');
    putBe32(b, uint32_t(items.size()));
    for (int i = 0; i < 16; ++i)
        b.push_back(char(syncStatus[i]));
    b.push_back(char(syncStatus[16]));
    std::string body;
    for (auto &it : items) {
        putBe32(body, it.id);
        putBe16(body, it.text ? 1 : 0);
        putBe16(body, uint16_t(it.value.size()));
        body += it.value;
    }
    putBe32(b, uint32_t(45 + body.size()));
    return b + body;
}

std::optional<EventItem> CrateSim::Impl::itemOf(const Sub &s)
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
            return EventItem::number(s.s.id, v.size() >= 2 ? getBe16(v, 0) : 0);
        case SysPropKind::Word32:
            return EventItem::number(s.s.id, v.size() >= 4 ? getBe32(v, 0) : 0);
        case SysPropKind::Sessions:
            return EventItem::textItem(s.s.id, sessionLog());
        default:
            return EventItem::textItem(s.s.id, v);
        }
    }
    return std::nullopt;
}

bool CrateSim::Impl::mangle(std::string &b, size_t &split)
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
                p += 8 + getBe16(b, p + 6);
            }
            uint16_t l = uint16_t(getBe16(b, last + 6) + 64);
            b[last + 6] = char(l >> 8);
            b[last + 7] = char(l & 0xFF);
        }
        return false;
    case EventFault::CountTooHigh: {
        uint32_t n = getBe32(b, 20) + 5;
        std::string c;
        putBe32(c, n);
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

bool CrateSim::Impl::mangleDatagram(const EventFault &f, std::string &b)
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
            p += 18 + getBe32(b, p + 14);
        }
        if (last) {
            uint32_t l = getBe32(b, last + 14) + 64;
            std::string w;
            putBe32(w, l);
            b.replace(last + 14, 4, w);
        }
        break;
    }
    case EventFault::CountTooHigh:
        if (multi && b.size() >= 10)
            put16At(8, uint16_t(getBe16(b, 8) + 5));
        break;
    case EventFault::WrongTotalLength:
        if (multi && b.size() >= 10)
            put16At(6, uint16_t(getBe16(b, 6) + 1));
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

int CrateSim::Impl::connectLink(const std::string &peer, uint16_t p)
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

int CrateSim::Impl::datagramLink(const std::string &peer, uint16_t p)
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

void CrateSim::Impl::eventLoop()
{
    simserver::RampClock ramp(opt.tickPeriod);
    std::unique_lock lk(m);
    while (!stopping) {
        cv.wait_until(lk, ramp.wakeBy(), [&] { return stopping.load() || wake; });
        if (stopping)
            break;
        wake = false;
        if (const std::optional<double> seconds = ramp.take(); seconds && opt.ramp)
            rampStep(*seconds);
        auto now = Clock::now();
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

void CrateSim::Impl::queueRaw(std::string bytes, uint32_t needId)
{
    rawQueue.push_back({std::move(bytes), needId});
    wake = true;
    cv.notify_all();
}

} // namespace korusim
