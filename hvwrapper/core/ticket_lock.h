// First-come-first-served lock: callers are served strictly in the order in
// which they took their tickets. Not re-entrant.
#pragma once

#include <pthread.h>

#include <cstdint>

namespace koruhv {

// Waiters sleep on the condition of their ticket's slot, so a release wakes
// the next ticket's holder only (and at most the few waiters whose tickets
// share its slot), not every waiter.
constexpr unsigned kTicketWakeSlots = 16;

struct TicketLock {
    pthread_cond_t cond[kTicketWakeSlots];
    pthread_mutex_t mutex; // recursive once initialised
    uint64_t nowServing;
    uint64_t nextTicket;
};

// Initialises the condition and the (recursive) mutex; the counters only
// grow and are left as they are.
void TicketLock_Init(TicketLock *lock);
void TicketLock_Destroy(TicketLock *lock);
void TicketLock_Acquire(TicketLock *lock);
void TicketLock_Release(TicketLock *lock);

} // namespace koruhv
