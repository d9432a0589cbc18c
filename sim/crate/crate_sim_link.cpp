// The crate simulator's connections: accepting, reading framed requests and
// sending replies with the queued faults applied.
#include "crate/crate_sim_impl.h"

namespace korusim {

void CrateSim::Impl::pause(milliseconds d)
{
    auto until = Clock::now() + d;
    while (!stopping && Clock::now() < until)
        std::this_thread::sleep_for(milliseconds(5));
}

std::string CrateSim::Impl::sendReply(Conn &c, const Reply &r)
{
    std::string sent; // for the wire journal
    auto send = [&](const char *data, size_t n) {
        sendAll(c.fd, data, n);
        sent.append(data, n);
    };
    std::string len;
    putBe32(len, uint32_t(r.body.size()));
    std::string frame = len + r.body;
    if (!r.fault) {
        send(frame.data(), frame.size());
        return sent;
    }
    const CrateFault &f = *r.fault;
    switch (f.action) {
    case CrateFault::SplitLength:
        send(frame.data(), 2);
        pause(f.delay);
        send(frame.data() + 2, frame.size() - 2);
        break;
    case CrateFault::SplitReply: {
        size_t step = std::max<size_t>(1, f.chunk);
        for (size_t p = 0; p < frame.size() && !stopping; p += step) {
            send(frame.data() + p, std::min(step, frame.size() - p));
            if (p + step < frame.size())
                pause(f.delay);
        }
        break;
    }
    case CrateFault::CutFrame:
        send(frame.data(), 4 + std::min(f.bytes, r.body.size()));
        break;
    case CrateFault::LengthOverride: {
        std::string l;
        putBe32(l, uint32_t(f.bytes));
        std::string fr = l + r.body;
        send(fr.data(), fr.size());
        break;
    }
    default:
        send(frame.data(), frame.size());
    }
    return sent;
}

void CrateSim::Impl::serve(Conn &c)
{
    std::optional<Session> ses;
    while (!stopping) {
        char lenBytes[4];
        if (!readExact(c, lenBytes, 4))
            break;
        uint32_t len = getBe32(std::string(lenBytes, 4), 0);
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
                    r.status = int16_t(getBe16(r.body, at));
            }
            req.status = r.status;
            log.push_back(std::move(req));
        }
        const std::string frame = std::string(lenBytes, 4) + body;
        if (r.close || r.silent) {
            std::lock_guard lk(m);
            wire.add(c.id, frame, "", r.close ? "closed" : "silent");
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
        const std::string sent = sendReply(c, r);
        const bool cut = r.fault && (r.fault->action == CrateFault::CutFrame ||
                                     r.fault->action == CrateFault::LengthOverride);
        {
            std::lock_guard lk(m);
            wire.add(c.id, frame, sent, cut ? "closed" : "");
        }
        if (cut)
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

void CrateSim::Impl::acceptLoop()
{
    while (!stopping) {
        pollfd p{listenFd, POLLIN, 0};
        int r = ::poll(&p, 1, 100);
        if (r <= 0)
            continue;
        auto c = acceptConn(listenFd);
        if (!c)
            continue;
        {
            std::lock_guard lk(m);
            c->id = ++connCounter;
        }
        conns.adopt(std::move(c), [this](Conn &k) { serve(k); });
    }
}

} // namespace korusim
