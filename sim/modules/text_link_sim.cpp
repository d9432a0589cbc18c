// Transports, framing, faults and the request log of the text-module
// simulators. Every blocking call is bounded (poll with a short period) so
// stop() always returns.
#include "modules/text_link_sim.h"

#include "common/journal_text.h"

#include <arpa/inet.h>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <list>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace korusim {

namespace {

constexpr size_t kMaxLine = 4096; // a request longer than this without LF is dropped
constexpr int kPollMs = 50;

Fault base(std::string match, int times)
{
    Fault f;
    f.match = std::move(match);
    f.times = times;
    return f;
}

bool isLoopback(const std::string &address, in_addr &out)
{
    if (inet_pton(AF_INET, address.c_str(), &out) != 1)
        return false;
    return (ntohl(out.s_addr) >> 24) == 127;
}

} // namespace

Fault Fault::silence(std::string m, int t)
{
    Fault f = base(std::move(m), t);
    f.silent = true;
    f.execute = false;
    return f;
}

Fault Fault::delay(std::string m, int ms, int t)
{
    Fault f = base(std::move(m), t);
    f.delayMs = ms;
    return f;
}

Fault Fault::late(std::string m, int ms, int t)
{
    return delay(std::move(m), ms, t);
}

Fault Fault::split(std::string m, int pieces, int pauseMs, int t)
{
    Fault f = base(std::move(m), t);
    f.pieces = pieces;
    f.pauseMs = pauseMs;
    return f;
}

Fault Fault::swappedLineEnd(std::string m, int t)
{
    Fault f = base(std::move(m), t);
    f.lineEnd = "\n\r";
    return f;
}

Fault Fault::errorReply(std::string m, DeviceError kind, int t)
{
    Fault f = base(std::move(m), t);
    f.error = kind;
    f.execute = false;
    return f;
}

Fault Fault::wrongAddress(std::string m, int address, int t)
{
    Fault f = base(std::move(m), t);
    f.address = address;
    return f;
}

Fault Fault::malformed(std::string m, std::string bytes, int t)
{
    Fault f = base(std::move(m), t);
    f.raw = std::move(bytes);
    return f;
}

Fault Fault::halfLineThenSilence(std::string m, int t)
{
    Fault f = base(std::move(m), t);
    f.halfLine = true;
    return f;
}

Fault Fault::closeConnection(std::string m, int t)
{
    Fault f = base(std::move(m), t);
    f.silent = true;
    f.closeAfter = true;
    return f;
}

bool TextLinkSim::lineMatches(std::string_view line, std::string_view match)
{
    bool atStart = !match.empty() && match.front() == '^';
    if (atStart)
        match.remove_prefix(1);
    bool atEnd = !match.empty() && match.back() == '$';
    if (atEnd)
        match.remove_suffix(1);
    if (atStart && atEnd)
        return line == match;
    if (atStart)
        return line.substr(0, match.size()) == match;
    if (atEnd)
        return line.size() >= match.size() && line.substr(line.size() - match.size()) == match;
    return line.find(match) != std::string_view::npos;
}

struct TextLinkSim::Impl {
    TextLinkSim *owner = nullptr;

    mutable std::mutex m;
    mutable std::condition_variable cv; // log growth, stop, tick period
    bool stopping = false;
    bool started = false;
    std::string error;

    std::list<Fault> faults;
    std::vector<LoggedRequest> log;
    size_t logLimit = 100000;

    // Caller holds m.
    void pushLog(LoggedRequest e)
    {
        if (logLimit == 0)
            return;
        if (log.size() >= logLimit)
            log.erase(log.begin(), log.begin() + std::ptrdiff_t(log.size() - logLimit + 1));
        log.push_back(std::move(e));
    }

    // TCP
    int listenFd = -1;
    std::string boundAddress;
    uint16_t boundPort = 0;
    std::thread acceptThread;
    struct Conn {
        int fd = -1;
        int id = 0;
        bool done = false;
        std::thread th;
    };
    std::list<Conn> conns;
    int accepted = 0;

    // pty
    bool ptyMode = false;
    int masterFd = -1;
    int slaveFd = -1;
    std::string ptyName;
    bool ptyHangup = false;
    std::thread ptyThread;

    // tick
    std::thread tickThread;
    std::chrono::milliseconds tickPeriod{100};
    bool tickStop = false;

    void sleepMs(int ms)
    {
        if (ms <= 0)
            return;
        std::unique_lock<std::mutex> lk(m);
        cv.wait_for(lk, std::chrono::milliseconds(ms), [this] { return stopping; });
    }

    bool isStopping()
    {
        std::lock_guard<std::mutex> lk(m);
        return stopping;
    }

    // Writes all bytes, waiting at most 1 s for room each time.
    static bool writeAll(int fd, const char *data, size_t n, bool socket)
    {
        while (n > 0) {
            pollfd p{fd, POLLOUT, 0};
            int r = ::poll(&p, 1, 1000);
            if (r <= 0 || (p.revents & (POLLERR | POLLHUP | POLLNVAL)))
                return false;
            ssize_t w = socket ? ::send(fd, data, n, MSG_NOSIGNAL) : ::write(fd, data, n);
            if (w < 0) {
                if (errno == EINTR || errno == EAGAIN)
                    continue;
                return false;
            }
            data += w;
            n -= size_t(w);
        }
        return true;
    }

    std::optional<Fault> takeFault(const std::string &line)
    {
        std::lock_guard<std::mutex> lk(m);
        for (auto it = faults.begin(); it != faults.end(); ++it) {
            if (it->times == 0 || !TextLinkSim::lineMatches(line, it->match))
                continue;
            Fault f = *it;
            if (it->times > 0 && --it->times == 0)
                faults.erase(it);
            return f;
        }
        return std::nullopt;
    }

    // Handles one received line; false when the connection must be closed.
    bool serveLine(int fd, bool socket, int connId, const std::string &raw)
    {
        std::string line = raw;
        if (!line.empty() && line.back() == '\n')
            line.pop_back();
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::string violation;
        if (raw.size() < 2 || raw.compare(raw.size() - 2, 2, "\r\n") != 0)
            violation = "request does not end in CR LF";

        std::optional<Fault> f = takeFault(line);
        DialectReply dr = owner->dialect_->handle(line, f ? f->execute : true);
        if (!dr.violation.empty())
            violation = violation.empty() ? dr.violation : violation + "; " + dr.violation;

        std::optional<std::string> body = dr.text;
        if (f && f->error)
            body = owner->dialect_->errorReply(line, *f->error);
        if (f && f->address && body)
            body = owner->dialect_->withAddress(*body, *f->address);

        std::string out;
        if (f && f->raw)
            out = *f->raw;
        else if (body)
            out = *body + (f && !f->lineEnd.empty() ? f->lineEnd : std::string("\r\n"));
        if (f && f->silent)
            out.clear();
        if (f && f->halfLine && !out.empty())
            out.resize(std::max<size_t>(1, out.size() / 2));

        {
            std::lock_guard<std::mutex> lk(m);
            LoggedRequest e;
            e.at = std::chrono::steady_clock::now();
            e.connection = connId;
            e.line = line;
            e.raw = raw;
            e.reply = out;
            e.violation = violation;
            pushLog(std::move(e));
        }
        cv.notify_all();

        if (f)
            sleepMs(f->delayMs);
        bool ok = true;
        if (!out.empty()) {
            int pieces = f ? std::max(1, f->pieces) : 1;
            if (size_t(pieces) > out.size())
                pieces = int(out.size());
            size_t step = out.size() / size_t(pieces);
            size_t pos = 0;
            for (int i = 0; i < pieces && ok; ++i) {
                size_t len = (i == pieces - 1) ? out.size() - pos : step;
                if (i > 0)
                    sleepMs(f->pauseMs);
                ok = writeAll(fd, out.data() + pos, len, socket);
                pos += len;
            }
        }
        return ok && !(f && f->closeAfter);
    }

    // Splits the buffer into lines and serves each; false to close.
    bool serveBuffer(int fd, bool socket, int connId, std::string &buf, std::string &pending)
    {
        pending += buf;
        size_t nl;
        while ((nl = pending.find('\n')) != std::string::npos) {
            std::string raw = pending.substr(0, nl + 1);
            pending.erase(0, nl + 1);
            if (!serveLine(fd, socket, connId, raw))
                return false;
        }
        if (pending.size() > kMaxLine) {
            std::lock_guard<std::mutex> lk(m);
            LoggedRequest e;
            e.at = std::chrono::steady_clock::now();
            e.connection = connId;
            e.raw = pending;
            e.violation = "request longer than 4096 bytes without a line end";
            pushLog(std::move(e));
            pending.clear();
        }
        return true;
    }

    void connLoop(Conn *c)
    {
        std::string pending;
        char tmp[2048];
        while (!isStopping()) {
            pollfd p{c->fd, POLLIN, 0};
            int r = ::poll(&p, 1, kPollMs);
            if (r < 0 && errno != EINTR)
                break;
            if (r <= 0)
                continue;
            ssize_t n = ::recv(c->fd, tmp, sizeof tmp, 0);
            if (n <= 0)
                break;
            std::string buf(tmp, size_t(n));
            if (!serveBuffer(c->fd, true, c->id, buf, pending))
                break;
        }
        std::lock_guard<std::mutex> lk(m);
        ::close(c->fd);
        c->fd = -1;
        c->done = true;
    }

    void reapConns(bool all)
    {
        std::list<Conn> finished;
        {
            std::lock_guard<std::mutex> lk(m);
            for (auto it = conns.begin(); it != conns.end();) {
                if (all || it->done) {
                    auto next = std::next(it);
                    finished.splice(finished.end(), conns, it);
                    it = next;
                } else {
                    ++it;
                }
            }
        }
        for (Conn &c : finished)
            if (c.th.joinable())
                c.th.join();
    }

    void acceptLoop()
    {
        while (!isStopping()) {
            reapConns(false);
            pollfd p{listenFd, POLLIN, 0};
            int r = ::poll(&p, 1, kPollMs);
            if (r <= 0)
                continue;
            int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            // Pieces of a split reply must leave as separate segments.
            int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            std::lock_guard<std::mutex> lk(m);
            if (stopping) {
                ::close(fd);
                break;
            }
            conns.emplace_back();
            Conn &c = conns.back();
            c.fd = fd;
            c.id = ++accepted;
            c.th = std::thread([this, pc = &c] { connLoop(pc); });
        }
    }

    bool openPty(std::string &err)
    {
        int mfd = -1, sfd = -1;
        char name[128] = {0};
        if (::openpty(&mfd, &sfd, name, nullptr, nullptr) != 0) {
            err = std::string("openpty: ") + std::strerror(errno);
            return false;
        }
        ::fcntl(mfd, F_SETFL, ::fcntl(mfd, F_GETFL) | O_NONBLOCK);
        ::fcntl(mfd, F_SETFD, FD_CLOEXEC);
        ::fcntl(sfd, F_SETFD, FD_CLOEXEC);
        std::string n = name;
        if (n.rfind("/dev/", 0) == 0)
            n.erase(0, 5);
        std::lock_guard<std::mutex> lk(m);
        masterFd = mfd;
        // The slave stays open here so the line survives the client closing
        // and reopening it; its settings are left as openpty made them, so a
        // client that does not configure the line shows it.
        slaveFd = sfd;
        ptyName = n;
        ++accepted;
        cv.notify_all();
        return true;
    }

    void closePty()
    {
        std::lock_guard<std::mutex> lk(m);
        if (masterFd >= 0)
            ::close(masterFd);
        if (slaveFd >= 0)
            ::close(slaveFd);
        masterFd = slaveFd = -1;
    }

    void ptyLoop()
    {
        std::string pending;
        char tmp[2048];
        while (!isStopping()) {
            bool hang;
            int fd, id;
            {
                std::lock_guard<std::mutex> lk(m);
                hang = ptyHangup;
                ptyHangup = false;
                fd = masterFd;
                id = accepted;
            }
            if (hang || fd < 0) {
                closePty();
                pending.clear();
                std::string err;
                if (!openPty(err)) {
                    sleepMs(200);
                }
                continue;
            }
            pollfd p{fd, POLLIN, 0};
            int r = ::poll(&p, 1, kPollMs);
            if (r <= 0)
                continue;
            ssize_t n = ::read(fd, tmp, sizeof tmp);
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            if (n <= 0) {
                // No slave open (cannot happen while we hold one) or an
                // error: idle briefly rather than spin.
                sleepMs(kPollMs);
                continue;
            }
            std::string buf(tmp, size_t(n));
            if (!serveBuffer(fd, false, id, buf, pending)) {
                std::lock_guard<std::mutex> lk(m);
                ptyHangup = true;
            }
        }
    }

    void tickLoop()
    {
        auto last = std::chrono::steady_clock::now();
        std::unique_lock<std::mutex> lk(m);
        while (!tickStop) {
            if (tickPeriod.count() <= 0) {
                cv.wait(lk, [this] { return tickStop || tickPeriod.count() > 0; });
                last = std::chrono::steady_clock::now();
                continue;
            }
            cv.wait_for(lk, tickPeriod);
            if (tickStop)
                break;
            auto now = std::chrono::steady_clock::now();
            double dt = std::chrono::duration<double>(now - last).count();
            if (tickPeriod.count() <= 0 || dt * 1000.0 < double(tickPeriod.count()) * 0.5)
                continue;
            last = now;
            lk.unlock();
            owner->dialect_->tick(dt);
            lk.lock();
        }
    }
};

TextLinkSim::TextLinkSim(std::shared_ptr<TextDialect> dialect)
    : dialect_(std::move(dialect)), impl_(std::make_unique<Impl>())
{
    impl_->owner = this;
    impl_->tickThread = std::thread([this] { impl_->tickLoop(); });
}

TextLinkSim::~TextLinkSim()
{
    stop();
    // A test hook: KORU_SIM_JOURNAL names a file that gets every request
    // and reply of this simulator appended, to compare the wire of two builds.
    if (const char *path = std::getenv("KORU_SIM_JOURNAL"); path && *path) {
        std::ofstream f(path, std::ios::app);
        std::lock_guard<std::mutex> lk(impl_->m);
        f << "== " << dialect_->name() << "\n";
        for (const LoggedRequest &e : impl_->log)
            f << e.connection << " > " << journalText(e.raw, false) << "\n  < " << journalText(e.reply, false)
              << (e.violation.empty() ? "" : "\n  ! " + e.violation) << "\n";
    }
    {
        std::lock_guard<std::mutex> lk(impl_->m);
        impl_->tickStop = true;
    }
    impl_->cv.notify_all();
    if (impl_->tickThread.joinable())
        impl_->tickThread.join();
}

bool TextLinkSim::startTcp(const std::string &address, uint16_t port)
{
    Impl &d = *impl_;
    if (running()) {
        std::lock_guard<std::mutex> lk(d.m);
        d.error = "already running";
        return false;
    }
    in_addr a{};
    if (!isLoopback(address, a)) {
        std::lock_guard<std::mutex> lk(d.m);
        d.error = "not a loopback IPv4 address: " + address;
        return false;
    }
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        std::lock_guard<std::mutex> lk(d.m);
        d.error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr = a;
    sa.sin_port = htons(port);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 || ::listen(fd, 16) != 0) {
        std::lock_guard<std::mutex> lk(d.m);
        d.error = "bind " + address + ":" + std::to_string(port) + ": " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    socklen_t len = sizeof sa;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &len);
    {
        std::lock_guard<std::mutex> lk(d.m);
        d.stopping = false;
        d.started = true;
        d.ptyMode = false;
        d.listenFd = fd;
        d.boundAddress = address;
        d.boundPort = ntohs(sa.sin_port);
        d.error.clear();
    }
    d.acceptThread = std::thread([&d] { d.acceptLoop(); });
    return true;
}

bool TextLinkSim::startPty()
{
    Impl &d = *impl_;
    if (running()) {
        std::lock_guard<std::mutex> lk(d.m);
        d.error = "already running";
        return false;
    }
    std::string err;
    {
        std::lock_guard<std::mutex> lk(d.m);
        d.stopping = false;
        d.ptyHangup = false;
    }
    if (!d.openPty(err)) {
        std::lock_guard<std::mutex> lk(d.m);
        d.error = err;
        return false;
    }
    {
        std::lock_guard<std::mutex> lk(d.m);
        d.started = true;
        d.ptyMode = true;
        d.error.clear();
    }
    d.ptyThread = std::thread([&d] { d.ptyLoop(); });
    return true;
}

void TextLinkSim::stop()
{
    Impl &d = *impl_;
    {
        std::lock_guard<std::mutex> lk(d.m);
        if (!d.started)
            return;
        d.stopping = true;
    }
    d.cv.notify_all();
    if (d.acceptThread.joinable())
        d.acceptThread.join();
    if (d.ptyThread.joinable())
        d.ptyThread.join();
    d.reapConns(true);
    d.closePty();
    std::lock_guard<std::mutex> lk(d.m);
    if (d.listenFd >= 0)
        ::close(d.listenFd);
    d.listenFd = -1;
    d.boundPort = 0;
    d.ptyName.clear();
    d.started = false;
}

bool TextLinkSim::running() const
{
    std::lock_guard<std::mutex> lk(impl_->m);
    return impl_->started;
}

uint16_t TextLinkSim::port() const
{
    std::lock_guard<std::mutex> lk(impl_->m);
    return impl_->boundPort;
}

std::string TextLinkSim::address() const
{
    std::lock_guard<std::mutex> lk(impl_->m);
    return impl_->boundAddress;
}

std::string TextLinkSim::ptyName() const
{
    std::lock_guard<std::mutex> lk(impl_->m);
    return impl_->ptyName;
}

std::string TextLinkSim::error() const
{
    std::lock_guard<std::mutex> lk(impl_->m);
    return impl_->error;
}

bool TextLinkSim::ptySettings(PtyLineSettings &out) const
{
    std::lock_guard<std::mutex> lk(impl_->m);
    termios t{};
    if (impl_->slaveFd < 0 || ::tcgetattr(impl_->slaveFd, &t) != 0)
        return false;
    static const std::pair<speed_t, unsigned> kSpeeds[] = {
        {B110, 110},     {B134, 134},     {B150, 150},       {B200, 200},      {B300, 300},   {B600, 600},
        {B1200, 1200},   {B1800, 1800},   {B2400, 2400},     {B4800, 4800},    {B9600, 9600}, {B19200, 19200},
        {B38400, 38400}, {B57600, 57600}, {B115200, 115200}, {B230400, 230400}};
    out = PtyLineSettings{};
    speed_t sp = ::cfgetospeed(&t);
    for (auto &[code, baud] : kSpeeds)
        if (code == sp)
            out.baud = baud;
    switch (t.c_cflag & CSIZE) {
    case CS5:
        out.dataBits = 5;
        break;
    case CS6:
        out.dataBits = 6;
        break;
    case CS7:
        out.dataBits = 7;
        break;
    default:
        out.dataBits = 8;
        break;
    }
    out.stopBits = (t.c_cflag & CSTOPB) ? 2 : 1;
    out.parity = (t.c_cflag & PARENB) != 0;
    out.hardwareFlow = (t.c_cflag & CRTSCTS) != 0;
    out.softwareFlow = (t.c_iflag & (IXON | IXOFF)) != 0;
    out.raw = !(t.c_lflag & (ECHO | ICANON | ISIG | IEXTEN)) &&
              !(t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP)) && !(t.c_oflag & OPOST);
    return true;
}

void TextLinkSim::dropConnections()
{
    Impl &d = *impl_;
    std::unique_lock<std::mutex> lk(d.m);
    if (d.ptyMode) {
        // The pty thread hangs up and opens a new pty; wait (bounded) so the
        // new name is there when this returns.
        int before = d.accepted;
        d.ptyHangup = true;
        d.cv.wait_for(lk, std::chrono::seconds(2), [&] { return d.accepted != before || d.stopping; });
        return;
    }
    for (auto &c : d.conns)
        if (c.fd >= 0)
            ::shutdown(c.fd, SHUT_RDWR);
}

int TextLinkSim::connectionsAccepted() const
{
    std::lock_guard<std::mutex> lk(impl_->m);
    return impl_->accepted;
}

int TextLinkSim::openConnections() const
{
    std::lock_guard<std::mutex> lk(impl_->m);
    if (impl_->ptyMode)
        return impl_->masterFd >= 0 ? 1 : 0;
    int n = 0;
    for (auto &c : impl_->conns)
        n += c.done ? 0 : 1;
    return n;
}

void TextLinkSim::setTickPeriod(std::chrono::milliseconds period)
{
    {
        std::lock_guard<std::mutex> lk(impl_->m);
        impl_->tickPeriod = period;
    }
    impl_->cv.notify_all();
}

void TextLinkSim::advance(double seconds)
{
    dialect_->tick(seconds);
}

void TextLinkSim::addFault(Fault fault)
{
    std::lock_guard<std::mutex> lk(impl_->m);
    if (fault.times != 0)
        impl_->faults.push_back(std::move(fault));
}

void TextLinkSim::clearFaults()
{
    std::lock_guard<std::mutex> lk(impl_->m);
    impl_->faults.clear();
}

int TextLinkSim::pendingFaults() const
{
    std::lock_guard<std::mutex> lk(impl_->m);
    return int(impl_->faults.size());
}

std::vector<LoggedRequest> TextLinkSim::requests() const
{
    std::lock_guard<std::mutex> lk(impl_->m);
    return impl_->log;
}

std::vector<std::string> TextLinkSim::lines(std::string_view match) const
{
    std::lock_guard<std::mutex> lk(impl_->m);
    std::vector<std::string> out;
    for (auto &e : impl_->log)
        if (lineMatches(e.line, match))
            out.push_back(e.line);
    return out;
}

size_t TextLinkSim::requestCount(std::string_view match) const
{
    std::lock_guard<std::mutex> lk(impl_->m);
    size_t n = 0;
    for (auto &e : impl_->log)
        n += lineMatches(e.line, match) ? 1 : 0;
    return n;
}

bool TextLinkSim::waitForRequests(size_t n, std::chrono::milliseconds timeout, std::string_view match) const
{
    std::unique_lock<std::mutex> lk(impl_->m);
    return impl_->cv.wait_for(lk, timeout, [&] {
        size_t k = 0;
        for (auto &e : impl_->log)
            k += lineMatches(e.line, match) ? 1 : 0;
        return k >= n;
    });
}

std::vector<std::string> TextLinkSim::violations() const
{
    std::lock_guard<std::mutex> lk(impl_->m);
    std::vector<std::string> out;
    for (auto &e : impl_->log)
        if (!e.violation.empty())
            out.push_back(e.violation + ": " + e.raw);
    return out;
}

void TextLinkSim::setLogLimit(size_t n)
{
    std::lock_guard<std::mutex> lk(impl_->m);
    impl_->logLimit = n;
    if (impl_->log.size() > n)
        impl_->log.erase(impl_->log.begin(), impl_->log.begin() + std::ptrdiff_t(impl_->log.size() - n));
}

void TextLinkSim::clearLog()
{
    std::lock_guard<std::mutex> lk(impl_->m);
    impl_->log.clear();
}

} // namespace korusim
