// The rack simulator's connections: accepting command and event connections,
// reading framed requests and answering them with the queued faults applied
// (the framing: sim_server.h).
#include "crate/p8080_sim_impl.h"

namespace korusim {

void P8080Sim::Impl::serve(Conn &c)
{
    std::optional<Session> ses;
    while (!stopping) {
        RequestFrame in;
        if (!nextRequest(*this, c.fd, true, in))
            break;
        const std::string &body = in.body;
        const uint32_t len = uint32_t(body.size());
        Reply r;
        std::string kw = body.substr(0, body.find(':'));
        {
            std::lock_guard lk(m);
            P8080Request req{c.id, len, body, kw, 0, false};
            std::optional<P8080Fault> f = takeFault(kw);
            bool exec =
                std::find(std::begin(kExecKeywords), std::end(kExecKeywords), kw) != std::end(kExecKeywords);
            std::string sidBytes = body.size() >= kw.size() + 5 ? body.substr(kw.size() + 1, 4) : "";
            if (f && f->action == P8080Fault::Close) {
                r.close = true;
            } else if (f && f->action == P8080Fault::Silent) {
                r.silent = true;
            } else if (f && f->action == P8080Fault::Refuse && !exec) {
                r.status = f->status;
                if (kw == "LOGIN") {
                    r.body = kw + ":";
                    putLe16(r.body, uint16_t(f->status));
                    r.body += std::string(":") + statusText(f->status) + ":";
                    putLe32(r.body, 0);
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
        if (r.close || r.silent || r.none) {
            std::lock_guard lk(m);
            wire.add(c.id, in.bytes(), "", r.close ? "closed" : r.silent ? "silent" : "");
        }
        if (r.close)
            break;
        if (r.silent || r.none)
            continue;
        if (r.fault) {
            applyBodyFault(*r.fault, r.body, stopping);
            if (r.fault->action == P8080Fault::WrongSession && kw != "LOGIN" &&
                r.body.size() >= kw.size() + 5)
                for (size_t i = 0; i < 4; ++i)
                    r.body[kw.size() + 1 + i] ^= char(0x11);
        }
        const std::string sent = sendFrame(c.fd, r.body, true, r.fault, stopping);
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

void P8080Sim::Impl::acceptCommand()
{
    auto c = acceptConn(listenFd);
    if (!c)
        return;
    {
        std::lock_guard lk(m);
        c->id = ++connCounter;
    }
    conns.adopt(std::move(c), [this](Conn &k) { serve(k); });
}

void P8080Sim::Impl::acceptEvent()
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
    auto it = std::find_if(pending.begin(), pending.end(), [&](const Pending &p) { return p.peer == ip; });
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

void P8080Sim::Impl::acceptLoop()
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

} // namespace korusim
