// The standard front of the exports: test the handle, hold the slot's
// reader lock, find the family's operations, run the operation (under the
// slot's request lock when the family asks for it), return its code.
#pragma once

#include "backend_ops.h"
#include "sys_table.h"

namespace koruhv {

// Runs fn(ops, ref) inside the reader lock of handle. 26 for a handle
// outside 0..99, 4098 for a slot not open or when the lock cannot be taken.
template <typename Fn> int Api_InSlot(int handle, Fn &&fn)
{
    SystemSlot *s = Sys_Slot(handle);
    if (!s)
        return KORUHV_ERR_BAD_ARGUMENT;
    if (Sys_AcquireHandle(handle, false) != 0)
        return KORUHV_ERR_NOT_OPEN;
    int rc = KORUHV_ERR_NOT_OPEN;
    if (s->open.load(std::memory_order_acquire)) {
        if (const BackendOps *ops = Backend_ForFamily(s->family)) {
            const BackendRef ref{s->backendHandle, s->libraryHandle, handle};
            rc = fn(*ops, ref);
        }
    }
    Sys_ReleaseHandle(handle, false);
    return rc;
}

// Calls one operation of ops; a null operation answers 4098.
template <typename F, typename... A>
int Api_Call(const BackendOps &ops, const BackendRef &ref, BackendOp op, F fn, A... args)
{
    if (!fn)
        return KORUHV_ERR_NOT_OPEN;
    const bool lock = ops.requestLockOps & opBit(op);
    SystemSlot *s = Sys_Slot(ref.slot);
    if (lock)
        TicketLock_Acquire(&s->requestLock);
    const int rc = fn(ref, args...);
    if (lock)
        TicketLock_Release(&s->requestLock);
    return rc;
}

// The standard front of one export.
template <auto Member, typename... A> int Api_Forward(int handle, BackendOp op, A... args)
{
    return Api_InSlot(handle, [&](const BackendOps &ops, const BackendRef &ref) {
        return Api_Call(ops, ref, op, ops.*Member, args...);
    });
}

} // namespace koruhv
