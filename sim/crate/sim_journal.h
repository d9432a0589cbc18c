// What the crate and rack simulators share around their models: the lock,
// the event thread's wake-up, the fault queues, the request log, the protocol
// errors and the connection count (SimCore, the base of each simulator's
// state), and the test knobs over them (SimJournal, a base of each simulator).
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
