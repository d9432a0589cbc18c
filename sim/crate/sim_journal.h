// What the crate and rack simulators share around their models: the lock,
// the event thread's wake-up, the fault queues, the request log, the protocol
// errors, the connection count and the wire journal (SimCore, the base of
// each simulator's state), and the test knobs over them (SimJournal, a base
// of each simulator).
#pragma once

#include <condition_variable>
#include <list>
#include <mutex>
#include <string>
#include <vector>

namespace korusim {

// The requests of a log whose keyword is `keyword`.
template <class Request>
std::vector<Request> requestsWith(const std::vector<Request> &log, const std::string &keyword)
{
    std::vector<Request> out;
    for (auto &r : log)
        if (r.keyword == keyword)
            out.push_back(r);
    return out;
}

// A test hook: when KORU_SIM_JOURNAL names a file, every request a command
// connection brought and the bytes sent back are kept, and the simulator
// appends them to that file as it is destroyed (one block, written at once),
// so that the wire of two builds can be compared (scripts/sim-journal-compare).
class WireJournal {
public:
    WireJournal();
    bool on() const { return !path_.empty(); }
    // The caller holds the simulator's lock. reply: the bytes sent ("" when
    // none); note: why nothing or not all was sent, or "".
    void add(int connection, const std::string &request, const std::string &reply, const char *note);
    // Appends the block (titled `title`, the protocol errors last) to the
    // file; nothing when the hook is off. The caller holds the lock.
    void write(const std::string &title, const std::vector<std::string> &errors) const;

private:
    struct Entry {
        int connection;
        std::string request, reply;
        const char *note;
    };
    std::string path_;
    std::vector<Entry> entries_;
};

template <class Fault, class EventFault, class Request> struct SimCore {
    mutable std::mutex m;
    std::condition_variable cv; // wakes the event thread
    mutable std::condition_variable linkCv;
    bool wake = false;
    std::list<Fault> faults;
    std::list<EventFault> eventFaults;
    std::vector<Request> log;
    std::vector<std::string> errors;
    int connCounter = 0;
    WireJournal wire;
};

template <class Fault, class EventFault, class Request> class SimJournal {
public:
    using Core = SimCore<Fault, EventFault, Request>;

    // Faults; one with a count of 0 applies to nothing and is dropped.
    void addFault(Fault fault)
    {
        std::lock_guard lk(core_->m);
        if (fault.count != 0)
            core_->faults.push_back(std::move(fault));
    }
    void addEventFault(EventFault fault)
    {
        std::lock_guard lk(core_->m);
        if (fault.count != 0)
            core_->eventFaults.push_back(std::move(fault));
    }
    void clearFaults()
    {
        std::lock_guard lk(core_->m);
        core_->faults.clear();
        core_->eventFaults.clear();
    }

    // Request log (command connections) and protocol observations.
    std::vector<Request> requests() const
    {
        std::lock_guard lk(core_->m);
        return core_->log;
    }
    std::vector<Request> requestsFor(const std::string &keyword) const
    {
        std::lock_guard lk(core_->m);
        return requestsWith(core_->log, keyword);
    }
    void clearRequests()
    {
        std::lock_guard lk(core_->m);
        core_->log.clear();
    }
    // Every departure from the protocol the simulator noticed in a request
    // (a missing separator, a length that does not match its fields, a NUL in
    // a name...). Tests of a client expect this to stay empty.
    std::vector<std::string> protocolErrors() const
    {
        std::lock_guard lk(core_->m);
        return core_->errors;
    }
    int connectionCount() const // command connections accepted so far
    {
        std::lock_guard lk(core_->m);
        return core_->connCounter;
    }

protected:
    void attachCore(Core *core) { core_ = core; }

private:
    Core *core_ = nullptr;
};

} // namespace korusim
