// The rack simulator's event side: subscriptions turned into event batches on
// the event connections, keep-alives and the event faults.
#include "crate/p8080_sim_impl.h"

namespace korusim {

std::string P8080Sim::Impl::batchPayload(const std::vector<P8080EventItem> &items, bool noHash)
{
    std::string b;
    putLe32(b, uint32_t(items.size()));
    b += ":";
    for (auto &it : items) {
        putLe32(b, it.id);
        std::string v = it.value;
        if (noHash && !v.empty() && v.back() == '#')
            v.pop_back();
        b += v;
    }
    return b;
}

std::optional<P8080EventItem> P8080Sim::Impl::itemOf(const Sub &s)
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

P8080Sim::Impl::Out P8080Sim::Impl::makeOut(int fd, const std::vector<P8080EventItem> &items,
                                            const std::string *raw)
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
        putLe32(c, getLe32(payload, 0) + 5);
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

void P8080Sim::Impl::eventLoop()
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
                outs.push_back(makeOut(
                    e.fd, {P8080EventItem::word(p8080Id(kP8080RackMessageBoard, 0xFFFF, 0), 0)}, nullptr));
                if (!e.keepAliveDue) {
                    e.keepAliveDue = true;
                    e.keepAliveSent = now;
                }
            }
            if (e.keepAliveDue && opt.keepAliveTimeout.count() > 0 &&
                now - e.keepAliveSent > opt.keepAliveTimeout) {
                protocolError("keep-alive not answered within " +
                              std::to_string(opt.keepAliveTimeout.count()) + " ms, event connection closed");
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

void P8080Sim::Impl::queueRaw(std::string payload)
{
    rawQueue.push_back(std::move(payload));
    wake = true;
    cv.notify_all();
}

void P8080Sim::Impl::rackMessage(unsigned slot, uint32_t word)
{
    queueRaw(
        batchPayload({P8080EventItem::word(p8080Id(kP8080RackMessageBoard, 0xFFFF, slot), word)}, false));
}

} // namespace korusim
