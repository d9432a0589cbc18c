// The table of 100 system slots and its locks. Lock order, always: slot
// reader/writer lock, then Sys_TableLock, then the slot's request lock.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstddef>

#include "KORUHVWrapper.h"
#include "ticket_lock.h"

namespace koruhv {

constexpr int kMaxSystems = KORUHV_MAX_SYSTEMS;
constexpr size_t kSlotTextSize = 80;

struct SystemSlot {
    std::atomic<int> inUse;   // 1 while open or being opened (claimed under Sys_TableLock)
    char name[kSlotTextSize]; // internal name, e.g. "KORU_L2290_HVW_003"
    int family;
    int linkType;
    char address[kSlotTextSize]; // the caller's address text
    int backendHandle;
    void *libraryHandle;
    TicketLock requestLock; // initialised once by Sys_InitTable
    pthread_cond_t readersCond;
    pthread_cond_t writerCond;
    // Reader count, with kSlotWriter set while a writer holds the slot. A
    // reader enters and leaves with one atomic operation when no writer is
    // there or waiting; rwMutex and the conditions serve the waits only.
    std::atomic<uint32_t> rwState;
    std::atomic<int> writersWaiting;
    pthread_mutex_t rwMutex;
    // 1 once the backend is open and the fields above are filled; calls
    // reach the backend only then (a slot being opened answers 4098).
    std::atomic<int> open;
};

constexpr uint32_t kSlotWriter = 1u << 31;

extern TicketLock Sys_TableLock;

// Runs Sys_InitTable once; every entry point calls it.
void Sys_EnsureInit();
void Sys_InitTable();

// 0..99, else null.
SystemSlot *Sys_Slot(int handle);

// Reader/writer lock of a slot. 0 on success; 1 when the slot's mutex cannot
// be locked or the handle is 100 or more (the caller must not go on); a
// negative handle does nothing and gives 0. Writers also wait for another
// writer.
int Sys_AcquireHandle(int handle, bool writer);
// Releasing the writer frees the slot (inUse 0).
int Sys_ReleaseHandle(int handle, bool writer);

// Guards the name and address texts against torn reads by the lock-free
// lookups (event routing, name-keyed error text); held only briefly.
void Sys_LockNames();
void Sys_UnlockNames();

// Index of the first open slot with that internal name / address, or 100.
int Sys_FindByName(const char *name);
int Sys_FindByAddress(const char *address);

// What the event router needs of a slot, copied under the name lock so that
// a close running beside it cannot tear it.
struct SlotRoute {
    int index;
    int family;
    int backendHandle;
    void *libraryHandle;
};
// false when no open slot has that address.
bool Sys_RouteByAddress(const char *address, SlotRoute *out);

} // namespace koruhv
