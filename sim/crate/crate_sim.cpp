// The crate simulator: its model state (channels, ramp, derived front panel
// and fans), its start and stop, and the knobs its tests turn.
#include "crate/crate_sim_impl.h"

namespace korusim {

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

CrateSim::Impl::Impl(CrateModel model, std::string addr, uint16_t p, CrateSimOptions o)
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

void CrateSim::Impl::refreshDerived()
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

void CrateSim::Impl::markChannel(unsigned slot, unsigned ch, int idx)
{
    for (auto &s : subs)
        if (s.s.kind == 0 && s.s.board == int(slot) && s.s.channel == int(ch) && s.index == idx)
            s.dirty = true;
    wake = true;
    cv.notify_all();
}

void CrateSim::Impl::markBoard(unsigned slot, int idx)
{
    for (auto &s : subs)
        if (s.s.kind == 1 && s.s.board == int(slot) && s.index == idx)
            s.dirty = true;
    wake = true;
    cv.notify_all();
}

void CrateSim::Impl::markSys(int idx)
{
    for (auto &s : subs)
        if (s.s.kind == 2 && s.index == idx)
            s.dirty = true;
    wake = true;
    cv.notify_all();
}

bool CrateSim::Impl::setChRaw(unsigned slot, unsigned ch, int idx, uint32_t raw)
{
    Chan &c = slots[slot].ch[ch];
    if (c.raw[idx] == raw)
        return false;
    c.raw[idx] = raw;
    markChannel(slot, ch, idx);
    return true;
}

int CrateSim::Impl::sysPropIndex(const std::string &name) const
{
    for (size_t i = 0; i < sysProps.size(); ++i)
        if (sysProps[i].name == name)
            return int(i);
    return -1;
}

void CrateSim::Impl::rampStep(double dt)
{
    rampSlots(slots, dt, [this](unsigned s, unsigned c, int i, uint32_t raw) { setChRaw(s, c, i, raw); });
    refreshDerived();
}

void CrateSim::Impl::kill()
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

void CrateSim::Impl::clearAlarms()
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

// --------------------------------------------------------------- public

CrateSim::CrateSim(CrateModel model, std::string bindAddress, uint16_t port, CrateSimOptions options)
    : d(std::make_unique<Impl>(std::move(model), std::move(bindAddress), port, std::move(options)))
{
    attachCore(d.get());
}

CrateSim::~CrateSim()
{
    stop();
    std::lock_guard lk(d->m);
    d->wire.write(d->firstGen() ? "crate, first generation" : "crate, current generation", d->errors);
}

bool CrateSim::start()
{
    if (d->started)
        return true;
    if (!isLoopback(d->address) || d->address == "127.0.0.1") {
        d->errorText = "the crate simulator serves 127.0.0.2 and up only, not " + d->address;
        return false;
    }
    int fd = listenOn(d->address, d->port, d->errorText);
    if (fd < 0)
        return false;
    d->listenFd = fd;
    startServing(*d);
    return true;
}

void CrateSim::stop()
{
    if (!stopServing(*d))
        return;
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
    std::optional<int> i = channelIndexToSet(d->slots, slot, channel, param, raw);
    if (!i)
        return false;
    d->setChRaw(slot, channel, *i, raw);
    d->refreshDerived();
    return true;
}

bool CrateSim::setChannelValue(unsigned slot, unsigned channel, const std::string &param, double value)
{
    std::optional<uint32_t> raw;
    {
        std::lock_guard lk(d->m);
        raw = channelRawFor(d->slots, slot, channel, param, value);
    }
    return raw && setChannelRaw(slot, channel, param, *raw);
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
    std::optional<uint32_t> raw;
    {
        std::lock_guard lk(d->m);
        raw = boardRawFor(d->slots, slot, param, value);
    }
    return raw && setBoardRaw(slot, param, *raw);
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
    return channelRawOf(d->slots, slot, channel, param);
}

std::optional<double> CrateSim::channelValue(unsigned slot, unsigned channel, const std::string &param) const
{
    std::lock_guard lk(d->m);
    return channelValueOf(d->slots, slot, channel, param);
}

std::optional<uint32_t> CrateSim::boardRaw(unsigned slot, const std::string &param) const
{
    std::lock_guard lk(d->m);
    return boardRawOf(d->slots, slot, param);
}

std::optional<std::string> CrateSim::channelName(unsigned slot, unsigned channel) const
{
    std::lock_guard lk(d->m);
    return channelNameOf(d->slots, slot, channel);
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

int CrateSim::activeSessions() const
{
    std::lock_guard lk(d->m);
    return int(d->sessions.size());
}

} // namespace korusim
