// The server skeleton the crate and rack simulators share: socket helpers,
// the request field reader, the listening socket, the bounded request read
// and the fault queue. The two protocols differ in byte order and in how a
// request may end; everything else here is the same for both.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <sys/socket.h>

#include "crate/crate_sim.h"

namespace korusim::simserver {

// The ramp clock of an event loop: wakes the loop at the next tick (or a
// quarter second on, for its other work) and tells how long the last tick
// is ago once the next one is due.
class RampClock {
public:
    using Clock = std::chrono::steady_clock;
    explicit RampClock(std::chrono::milliseconds period)
        : period(period), last(Clock::now()), next(last + period)
    {
    }
    Clock::time_point wakeBy() const { return std::min(next, Clock::now() + std::chrono::milliseconds(250)); }
    // Seconds since the previous tick when a tick is due (and taken), else nothing.
    std::optional<double> take()
    {
        const Clock::time_point now = Clock::now();
        if (now < next)
            return std::nullopt;
        const double seconds = std::chrono::duration<double>(now - last).count();
        last = now;
        next = now + period;
        return seconds;
    }

private:
    std::chrono::milliseconds period;
    Clock::time_point last, next;
};

void putBe16(std::string &s, uint16_t v);
void putBe32(std::string &s, uint32_t v);
void putLe16(std::string &s, uint16_t v);
void putLe32(std::string &s, uint32_t v);
uint16_t getBe16(const std::string &s, size_t p);
uint32_t getBe32(const std::string &s, size_t p);
uint16_t getLe16(const std::string &s, size_t p);
uint32_t getLe32(const std::string &s, size_t p);

bool sendAll(int fd, const char *data, size_t n);
bool isLoopback(const std::string &ip);
std::string printable(const std::string &s); // bytes outside ASCII as \xNN

// Reads exactly n bytes; false on end of stream, error or once `stopping`
// is set (checked every 100 ms so that a stop is never held up).
bool readExact(int fd, char *buf, size_t n, const std::atomic<bool> &stopping);

// Waits d, or less once `stopping` is set.
void pauseFor(std::chrono::milliseconds d, const std::atomic<bool> &stopping);

// One request as it came on a command connection: its 4 length bytes (in
// the protocol's byte order) and its body.
struct RequestFrame {
    std::string length, body;
    std::string bytes() const { return length + body; }
};

// Reads the next request of a connection. False when the connection ends
// there: at the end of the stream or the stop, and with `error` set (a
// departure from the protocol) for a length of 0 or above maxRequest or a
// stream that ended inside the request.
bool readRequest(int fd, bool littleEndian, size_t maxRequest, const std::atomic<bool> &stopping,
                 RequestFrame &out, std::string &error);

// readRequest on a connection of simulator d (its stop flag and request
// limit), a departure from the protocol noted among its protocol errors.
template <class Core> bool nextRequest(Core &d, int fd, bool littleEndian, RequestFrame &out)
{
    std::string error;
    if (readRequest(fd, littleEndian, d.opt.maxRequest, d.stopping, out, error))
        return true;
    if (!error.empty()) {
        std::lock_guard lk(d.m);
        d.errors.push_back(error);
    }
    return false;
}

// What a reply fault does to the body before it goes: a delay, cut data,
// another body, a wrong keyword.
template <class Fault>
void applyBodyFault(const Fault &f, std::string &body, const std::atomic<bool> &stopping)
{
    if (f.action == Fault::Delay)
        pauseFor(f.delay, stopping);
    if (f.action == Fault::CutData)
        body.resize(std::min(f.bytes, body.size()));
    if (f.action == Fault::ReplaceBody)
        body = f.body;
    if (f.action == Fault::WrongKeyword)
        body = "XXXX" + body;
}

// Whether a reply fault ends the connection once its reply is out.
template <class Fault> bool closesAfter(const std::optional<Fault> &f)
{
    return f && (f->action == Fault::CutFrame || f->action == Fault::LengthOverride);
}

// Sends a reply frame (its length in the protocol's byte order, then the
// body) as the fault, if any, shapes it: the length in two pieces, the
// frame in pieces, cut short, or under a wrong length. Returns the bytes it
// sent.
template <class Fault>
std::string sendFrame(int fd, const std::string &body, bool littleEndian, const std::optional<Fault> &fault,
                      const std::atomic<bool> &stopping)
{
    auto length = [littleEndian](size_t n) {
        std::string l;
        if (littleEndian)
            putLe32(l, uint32_t(n));
        else
            putBe32(l, uint32_t(n));
        return l;
    };
    std::string sent;
    auto send = [&](const char *data, size_t n) {
        sendAll(fd, data, n);
        sent.append(data, n);
    };
    const std::string frame = length(body.size()) + body;
    switch (fault ? fault->action : Fault::Refuse) {
    case Fault::SplitLength:
        send(frame.data(), 2);
        pauseFor(fault->delay, stopping);
        send(frame.data() + 2, frame.size() - 2);
        break;
    case Fault::SplitReply: {
        const size_t step = std::max<size_t>(1, fault->chunk);
        for (size_t p = 0; p < frame.size() && !stopping; p += step) {
            send(frame.data() + p, std::min(step, frame.size() - p));
            if (p + step < frame.size())
                pauseFor(fault->delay, stopping);
        }
        break;
    }
    case Fault::CutFrame:
        send(frame.data(), 4 + std::min(fault->bytes, body.size()));
        break;
    case Fault::LengthOverride: {
        const std::string wrong = length(fault->bytes) + body;
        send(wrong.data(), wrong.size());
        break;
    }
    default:
        send(frame.data(), frame.size());
    }
    return sent;
}

// A listening TCP socket on address:port (0 picks a port, written back);
// -1 with errorText set on failure.
int listenOn(const std::string &address, uint16_t &port, std::string &errorText);

// One command connection and the thread that serves it.
struct Conn {
    int id = 0;
    int fd = -1;
    std::string peer;
    std::thread th;
    std::atomic<bool> done{false}; // set by the serving thread as it ends
};

// Accepts one pending connection (no Nagle delay, the peer's address noted);
// nullptr when there was none.
std::unique_ptr<Conn> acceptConn(int listenFd);

// The command connections being served.
struct ConnSet {
    std::mutex m;
    std::list<std::unique_ptr<Conn>> conns;
    // Reaps the connections that have ended and serves `c` on its own thread.
    void adopt(std::unique_ptr<Conn> c, const std::function<void(Conn &)> &serve);
    // Joins every serving thread (they end on the simulator's stop flag) and
    // closes the sockets.
    void joinAll();
};

// The end of a command connection of simulator d: its session (if it
// logged in) ended, the socket shut down, the serving thread done.
template <class Core, class Session>
void endConnection(Core &d, Conn &c, const std::optional<Session> &session)
{
    {
        std::lock_guard lk(d.m);
        if (session)
            d.endSession(session->id);
    }
    ::shutdown(c.fd, SHUT_RDWR);
    c.done = true;
}

// Starting and stopping a simulator's threads; Core is its state, with
// started, stopping, m, cv, the accept and event threads, their loops, the
// listening socket and the connection set. stopServing is false when the
// simulator was not started.
template <class Core> void startServing(Core &d)
{
    d.stopping = false;
    d.started = true;
    d.acceptTh = std::thread([&d] { d.acceptLoop(); });
    d.eventTh = std::thread([&d] { d.eventLoop(); });
}
void closeSocket(int &fd); // closes and sets -1; nothing for -1
template <class Core> bool stopServing(Core &d)
{
    if (!d.started)
        return false;
    {
        std::lock_guard lk(d.m);
        d.stopping = true;
        d.cv.notify_all();
    }
    d.acceptTh.join();
    d.eventTh.join();
    d.conns.joinAll();
    closeSocket(d.listenFd);
    return true;
}

// Field reader over one request; every departure from the expected layout is
// noted so that a client's fault is visible to its tests.
struct FieldReader {
    const std::string &b;
    size_t p;
    std::string where;
    bool littleEndian = false;
    bool trailingColonOk = false; // the crate lets a request end with one ':'
    std::string error;

    bool fail(const std::string &what);
    bool ok() const { return error.empty(); }
    bool need(size_t n, const char *what);
    uint16_t u16(const char *what);
    uint32_t u32(const char *what);
    bool colon(const char *after);
    // A name ended by ':' (not included). NUL bytes inside are a fault.
    std::string name(const char *what);
    std::vector<uint16_t> list(uint16_t n, const char *what);
    // The last field: the request ends here.
    bool end();
};

int paramIndex(const std::vector<CrateParam> &list, const std::string &name);
// Whether two descriptors are alike (the modules of one model).
bool sameDescriptor(const CrateParam &a, const CrateParam &b, bool compareReserved);
// Whether a raw value may be written to the parameter.
bool inRange(const CrateParam &p, uint32_t raw);

// Takes the first fault queued for the keyword ("" matches any); a fault
// with a count is used that many times, one with count 0 stays.
template <class Fault> std::optional<Fault> takeFault(std::list<Fault> &faults, const std::string &kw)
{
    for (auto it = faults.begin(); it != faults.end(); ++it) {
        if (!it->keyword.empty() && it->keyword != kw)
            continue;
        Fault f = *it;
        if (it->count > 0 && --it->count == 0)
            faults.erase(it);
        return f;
    }
    return std::nullopt;
}

} // namespace korusim::simserver
