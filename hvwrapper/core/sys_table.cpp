#include "sys_table.h"

#include <cstring>

#include "backend_ops.h"
#include "timed_wait.h"

namespace koruhv {

namespace {

SystemSlot g_slots[kMaxSystems];
pthread_once_t g_initOnce = PTHREAD_ONCE_INIT;
pthread_mutex_t g_nameLock = PTHREAD_MUTEX_INITIALIZER;

} // namespace

TicketLock Sys_TableLock;

void Sys_InitTable()
{
    for (SystemSlot &s : g_slots) {
        s.inUse.store(0);
        s.open.store(0);
        s.family = 0;
        s.linkType = 0;
        std::memset(s.name, 0, sizeof s.name);
        std::memset(s.address, 0, sizeof s.address);
        s.libraryHandle = nullptr;
        s.backendHandle = -1;
        pthread_cond_init(&s.readersCond, nullptr);
        pthread_cond_init(&s.writerCond, nullptr);
        pthread_mutex_init(&s.rwMutex, nullptr);
        s.rwState.store(0);
        s.writersWaiting.store(0);
        // Once for the library's life: a slot's request lock is never
        // destroyed while a caller might still be inside it.
        TicketLock_Init(&s.requestLock);
    }
    TicketLock_Init(&Sys_TableLock);
    for (const BackendOps *const *p = Backend_All(); *p; ++p) {
        const BackendOps *ops = Backend_ForFamily((*p)->family);
        if (ops && ops->ResetInstances)
            ops->ResetInstances();
    }
}

void Sys_EnsureInit()
{
    pthread_once(&g_initOnce, Sys_InitTable);
}

SystemSlot *Sys_Slot(int handle)
{
    if (handle < 0 || handle >= kMaxSystems)
        return nullptr;
    return &g_slots[handle];
}

int Sys_AcquireHandle(int handle, bool writer)
{
    if (handle < 0)
        return 0;
    if (handle >= kMaxSystems)
        return 1;
    Sys_EnsureInit();
    SystemSlot &s = g_slots[handle];
    if (!writer) {
        uint32_t state = s.rwState.load();
        while (!(state & kSlotWriter))
            if (s.rwState.compare_exchange_weak(state, state + 1))
                return 0;
    }
    if (Sys_MutexLock(&s.rwMutex) != 0)
        return 1;
    if (writer) {
        // A writer waits for no reader and no other writer; readers that
        // come meanwhile still get in. The count and the readers' look at
        // it are sequentially consistent: the last reader out sees this
        // writer waiting, or this writer sees it gone.
        s.writersWaiting.fetch_add(1);
        for (uint32_t idle = 0; !s.rwState.compare_exchange_strong(idle, kSlotWriter); idle = 0)
            Sys_CondTimedWait(&s.writerCond, &s.rwMutex, -1);
        s.writersWaiting.fetch_sub(1);
    } else {
        // Writers change the state only under the mutex held here.
        while (s.rwState.load() & kSlotWriter)
            Sys_CondTimedWait(&s.readersCond, &s.rwMutex, -1);
        s.rwState.fetch_add(1);
    }
    Sys_MutexUnlock(&s.rwMutex);
    return 0;
}

int Sys_ReleaseHandle(int handle, bool writer)
{
    if (handle < 0)
        return 0;
    if (handle >= kMaxSystems)
        return 1;
    SystemSlot &s = g_slots[handle];
    if (!writer) {
        uint32_t state = s.rwState.load();
        while ((state & ~kSlotWriter) != 0 && !s.rwState.compare_exchange_weak(state, state - 1)) {
        }
        if ((state & ~kSlotWriter) != 1 || s.writersWaiting.load() == 0)
            return 0; // not the last reader, or nobody to tell
        if (Sys_MutexLock(&s.rwMutex) != 0)
            return 1;
        Sys_CondBroadcast(&s.writerCond);
        Sys_MutexUnlock(&s.rwMutex);
        return 0;
    }
    if (Sys_MutexLock(&s.rwMutex) != 0)
        return 1;
    s.inUse.store(0);
    s.rwState.fetch_and(~kSlotWriter);
    Sys_CondBroadcast(&s.readersCond);
    Sys_CondBroadcast(&s.writerCond); // a second closer waits for the first
    Sys_MutexUnlock(&s.rwMutex);
    return 0;
}

void Sys_LockNames()
{
    pthread_mutex_lock(&g_nameLock);
}
void Sys_UnlockNames()
{
    pthread_mutex_unlock(&g_nameLock);
}

namespace {

int findBy(const char *text, bool byName, SlotRoute *route = nullptr)
{
    if (!text || strnlen(text, kSlotTextSize) >= kSlotTextSize)
        return kMaxSystems;
    Sys_EnsureInit();
    int found = kMaxSystems;
    Sys_LockNames();
    for (int i = 0; i < kMaxSystems; ++i) {
        const SystemSlot &s = g_slots[i];
        if (!s.open.load(std::memory_order_acquire))
            continue;
        const char *field = byName ? s.name : s.address;
        if (std::strncmp(field, text, kSlotTextSize) == 0) {
            found = i;
            if (route)
                *route = SlotRoute{i, s.family, s.backendHandle, s.libraryHandle};
            break;
        }
    }
    Sys_UnlockNames();
    return found;
}

} // namespace

int Sys_FindByName(const char *name)
{
    return findBy(name, true);
}
int Sys_FindByAddress(const char *address)
{
    return findBy(address, false);
}

bool Sys_RouteByAddress(const char *address, SlotRoute *out)
{
    return out && findBy(address, false, out) < kMaxSystems;
}

} // namespace koruhv
