// First-come-first-served lock: callers are served strictly in the order in
// which they took their tickets. Not re-entrant.
#pragma once

#include <atomic>
#include <cstdint>

namespace koruhv {

// Waiters sleep on the wake word of their ticket's slot, so a release wakes
// the next ticket's holder only (and at most the few waiters whose tickets
// share its slot), not every waiter.
constexpr unsigned kTicketWakeSlots = 16;

// The zero state is a free lock. Taking and releasing it without a waiter
// costs two atomic operations and no system call; a waiter sleeps in the
// kernel and is woken by the release that serves its ticket, which holds
// nothing while it wakes it (the woken thread never waits for the waker).
struct TicketLock {
    std::atomic<uint64_t> nowServing;
    std::atomic<uint64_t> nextTicket;
    std::atomic<uint32_t> wake[kTicketWakeSlots];
};

// Init and Destroy leave the counters as they are (they only grow); the
// lock needs no resources of its own.
void TicketLock_Init(TicketLock *lock);
void TicketLock_Destroy(TicketLock *lock);
void TicketLock_Acquire(TicketLock *lock);
void TicketLock_Release(TicketLock *lock);

} // namespace koruhv
