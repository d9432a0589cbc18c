// The rack simulator's connections: accepting command and event connections,
// reading framed requests and sending replies with the queued faults applied.
#include "crate/p8080_sim_impl.h"

namespace korusim {

void P8080Sim::Impl::pause(milliseconds d)
{
    auto until = Clock::now() + d;
    while (!stopping && Clock::now() < until)
        std::this_thread::sleep_for(milliseconds(5));
}

std::string P8080Sim::Impl::sendReply(int fd, const Reply &r)
{
    std::string sent; // for the wire journal
    auto send = [&](const char *data, size_t n) {
        sendAll(fd, data, n);
        sent.append(data, n);
    };
    std::string frame = frameOf(r.body);
    if (!r.fault) {
        send(frame.data(), frame.size());
        return sent;
    }
    const P8080Fault &f = *r.fault;
    switch (f.action) {
    case P8080Fault::SplitLength:
        send(frame.data(), 2);
        pause(f.delay);
        send(frame.data() + 2, frame.size() - 2);
        break;
    case P8080Fault::SplitReply: {
        size_t step = std::max<size_t>(1, f.chunk);
        for (size_t p = 0; p < frame.size() && !stopping; p += step) {
            send(frame.data() + p, std::min(step, frame.size() - p));
            if (p + step < frame.size())
                pause(f.delay);
        }
        break;
    }
    case P8080Fault::CutFrame:
        send(frame.data(), 4 + std::min(f.bytes, r.body.size()));
        break;
    case P8080Fault::LengthOverride: {
        std::string l;
        putLe32(l, uint32_t(f.bytes));
        std::string fr = l + r.body;
        send(fr.data(), fr.size());
        break;
    }
    default:
        send(frame.data(), frame.size());
    }
    return sent;
}

void P8080Sim::Impl::serve(Conn &c)
{
    std::optional<Session> ses;
    while (!stopping) {
        char lenBytes[4];
        if (!readExact(c.fd, lenBytes, 4))
            break;
        uint32_t len = getLe32(std::string(lenBytes, 4), 0);
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
        const std::string frame = std::string(lenBytes, 4) + body;
        if (r.close || r.silent || r.none) {
            std::lock_guard lk(m);
            wire.add(c.id, frame, "", r.close ? "closed" : r.silent ? "silent" : "");
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
        const std::string sent = sendReply(c.fd, r);
        const bool cut = r.fault && (r.fault->action == P8080Fault::CutFrame ||
                                     r.fault->action == P8080Fault::LengthOverride);
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
