#include "ticket_lock.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>

namespace koruhv {

namespace {

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t) && std::atomic<uint32_t>::is_always_lock_free,
              "a wake word is a plain 32-bit futex word");

// Sleeps while *word still holds seen (returns at once when it changed; a
// signal or a spurious wake-up returns too, and the caller looks again).
void sleepWhile(std::atomic<uint32_t> &word, uint32_t seen)
{
    ::syscall(SYS_futex, reinterpret_cast<uint32_t *>(&word), FUTEX_WAIT_PRIVATE, seen, nullptr, nullptr, 0);
}

void wakeAll(std::atomic<uint32_t> &word)
{
    ::syscall(SYS_futex, reinterpret_cast<uint32_t *>(&word), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr,
              0);
}

} // namespace

void TicketLock_Init(TicketLock *) {}

void TicketLock_Destroy(TicketLock *) {}

// The ticket, the release's increment and the two looks across them are
// sequentially consistent: a ticket taken just after a release looked for
// waiters sees that release's count, so no waiter is ever left asleep.
void TicketLock_Acquire(TicketLock *lock)
{
    const uint64_t ticket = lock->nextTicket.fetch_add(1);
    std::atomic<uint32_t> &word = lock->wake[ticket % kTicketWakeSlots];
    for (;;) {
        const uint32_t seen = word.load();
        if (lock->nowServing.load() == ticket)
            return;
        sleepWhile(word, seen);
    }
}

void TicketLock_Release(TicketLock *lock)
{
    const uint64_t next = lock->nowServing.fetch_add(1) + 1;
    if (lock->nextTicket.load() <= next)
        return; // nobody holds the next ticket yet
    std::atomic<uint32_t> &word = lock->wake[next % kTicketWakeSlots];
    word.fetch_add(1);
    wakeAll(word);
}

} // namespace koruhv
