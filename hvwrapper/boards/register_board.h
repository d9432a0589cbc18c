// The register-polling core both register-mapped families (W38XX, BQ71XX)
// run on: the table of open devices with its open and close sequence, the
// subscribe and unsubscribe walk over an item list, and the polling thread's
// loop. A family adds its description of the device and three decisions:
// what an item names, what one polling cycle reads, and what to keep when a
// call is taken back.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

#include "board_common.h"
#include "comm_entries.h"

namespace koruhv {

// What every open register device has: its entry in the family's table, the
// outside library and its device handle, the lock guarding the
// subscriptions and the event connection, and the polling thread.
struct RegisterBoard {
    virtual ~RegisterBoard() = default;

    int index = -1;
    void *library = nullptr;
    int comm = -1;
    std::atomic<bool> inUse{false};
    std::recursive_mutex lock;
    BoardEventLink events;
    BoardPoller poller;
};

// One family's open devices, at most N of them.
class RegisterBoardTable {
public:
    static constexpr int kMax = 32;

    // Takes a free entry for dev (sets its index); in-use stays clear until
    // the open is complete. False, and dev freed, when the table is full.
    bool claim(RegisterBoard *dev);
    // Gives up a claimed entry after a failed open (the device handle
    // closed when closeComm); returns -1 for the open to pass on.
    int release(RegisterBoard *dev, CommCloseDevice close, bool closeComm);
    // Marks a described device open and starts its polling thread; the
    // index, or -1 with the entry released when the thread cannot start.
    int publish(RegisterBoard *dev, CommCloseDevice close, std::function<void()> body);
    // The close sequence: the event connection ends for both sides, the
    // thread is joined, then the descriptor, the device and the library go.
    int close(const BackendRef &b);

    // The entry, or null (open or not).
    RegisterBoard *at(int index) const;
    // The entry while it is open, else null.
    RegisterBoard *open(int index) const;
    bool anyOpen() const;
    // Run by the table initialiser before any system is open.
    void reset();

private:
    pthread_mutex_t lock_ = PTHREAD_MUTEX_INITIALIZER;
    std::atomic<RegisterBoard *> devices_[kMax] = {};
    // Read by the event router without any lock: a word per entry, never a
    // pointer that a close may free.
    std::atomic<bool> inUse_[kMax] = {};
};

// A family's side of a subscribe or unsubscribe call; every member runs
// under the device lock.
class RegisterItems {
public:
    virtual ~RegisterItems() = default;
    // Applies one board (channel -1) or channel item naming param; false
    // when the device has no such item for this call (its result byte 255).
    virtual bool apply(int channel, const char *param) = 0;
    // The subscribe could not reach the subscriber: nothing of this call
    // stays, so a later subscribe of the same items starts afresh.
    virtual void takeBack() {}
    // The call went through.
    virtual void done() {}
};

// The walk over a ':'-joined item list: system items keep their result byte
// as the caller set it, an item too long to be one of ours is refused, the
// rest go to the family. A subscribe then makes sure of the event
// connection to port.
int RegisterBoard_Items(RegisterBoard *dev, const BackendRef &b, bool subscribe, short port, uint16_t count,
                        const char *items, char *results, RegisterItems &family);

// A family's side of the polling thread.
class RegisterPollCycle {
public:
    virtual ~RegisterPollCycle() = default;
    // Under the device lock: takes what is subscribed; false when nothing is.
    virtual bool take() = 0;
    // Without the lock: one read of what was taken, into w; false when the
    // device did not answer.
    virtual bool read(EventBatchWriter &w) = 0;
};

// The polling thread's loop: each period one read of what is subscribed,
// sent as one batch; when nothing could be read the subscriber still hears
// from us within the keep-alive time. Closes the event connection once
// nothing is subscribed (the next subscribe reconnects).
void RegisterBoard_Poll(RegisterBoard &dev, RegisterPollCycle &cycle);

// The operations both families answer alike, whatever the state of the
// device: no system property list, no board presence test, fixed channel
// names, board writes that change nothing, no error text.
int RegisterBoard_GetSysPropList(const BackendRef &, uint16_t *, char **);
int RegisterBoard_GetSysPropInfo(const BackendRef &, const char *, uint32_t *, uint32_t *);
int RegisterBoard_SetBdParam(const BackendRef &, uint16_t, const uint16_t *, const char *, void *);
int RegisterBoard_TestBdPresence(const BackendRef &, uint16_t, char *, char *, uint16_t *, uint8_t *,
                                 uint8_t *);
int RegisterBoard_SetChName(const BackendRef &, uint16_t, uint16_t, const uint16_t *, const char *);
const char *RegisterBoard_GetError(const BackendRef &);

// A register family's operations table with those answers filled in.
constexpr BackendOps RegisterBoard_Ops(int family, const char *namePrefix, unsigned flags)
{
    BackendOps o{};
    o.family = family;
    o.namePrefix = namePrefix;
    o.flags = flags | BACKEND_LOCAL_EVENTS | BACKEND_REGISTER_LINK;
    o.GetSysPropList = RegisterBoard_GetSysPropList;
    o.GetSysPropInfo = RegisterBoard_GetSysPropInfo;
    o.SetBdParam = RegisterBoard_SetBdParam;
    o.TestBdPresence = RegisterBoard_TestBdPresence;
    o.SetChName = RegisterBoard_SetChName;
    o.GetError = RegisterBoard_GetError;
    return o;
}

} // namespace koruhv
