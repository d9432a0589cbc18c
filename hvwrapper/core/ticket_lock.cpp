#include "ticket_lock.h"

namespace koruhv {

void TicketLock_Init(TicketLock *lock)
{
    for (pthread_cond_t &c : lock->cond)
        pthread_cond_init(&c, nullptr);
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&lock->mutex, &attr);
    pthread_mutexattr_destroy(&attr);
}

void TicketLock_Destroy(TicketLock *lock)
{
    for (pthread_cond_t &c : lock->cond)
        pthread_cond_destroy(&c);
    pthread_mutex_destroy(&lock->mutex);
}

void TicketLock_Acquire(TicketLock *lock)
{
    pthread_mutex_lock(&lock->mutex);
    const uint64_t ticket = lock->nextTicket++;
    while (lock->nowServing != ticket)
        pthread_cond_wait(&lock->cond[ticket % kTicketWakeSlots], &lock->mutex);
    pthread_mutex_unlock(&lock->mutex);
}

void TicketLock_Release(TicketLock *lock)
{
    pthread_mutex_lock(&lock->mutex);
    ++lock->nowServing;
    pthread_cond_broadcast(&lock->cond[lock->nowServing % kTicketWakeSlots]);
    pthread_mutex_unlock(&lock->mutex);
}

} // namespace koruhv
