// The crate simulator's connections: accepting, reading framed requests and
// answering them with the queued faults applied (the framing: sim_server.h).
#include "crate/crate_sim_impl.h"

namespace korusim {

void CrateSim::Impl::serve(Conn &c)
{
    std::optional<Session> ses;
    while (!stopping) {
        RequestFrame in;
        if (!nextRequest(*this, c.fd, false, in))
            break;
        const std::string &body = in.body;
        const uint32_t len = uint32_t(body.size());
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
        if (r.close || r.silent) {
            std::lock_guard lk(m);
            wire.add(c.id, in.bytes(), "", r.close ? "closed" : "silent");
        }
        if (r.close)
            break;
        if (r.silent)
            continue;
        if (r.fault)
            applyBodyFault(*r.fault, r.body, stopping);
        const std::string sent = sendFrame(c.fd, r.body, false, r.fault, stopping);
        const bool cut = closesAfter(r.fault);
        {
            std::lock_guard lk(m);
            wire.add(c.id, in.bytes(), sent, cut ? "closed" : "");
        }
        if (cut)
            break;
    }
    endConnection(*this, c, ses);
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
