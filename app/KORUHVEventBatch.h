/* Event batches on their way from the readers to the GUI thread.
 *
 * A reader hands over each whole batch the wrapper gave it (the records stay
 * in the wrapper's block, freed when the batch is done) with one queued call
 * at most, instead of one queued signal per record. The GUI thread applies
 * the batches strictly in arrival order, a slice of time at a time, so that
 * its timers and input keep running under a heavy stream; a nested event
 * loop inside a record's handling (a live insertion, a message box) carries
 * on with the next record, never overtaking one. */
#ifndef KORUHVEVENTBATCH_H
#define KORUHVEVENTBATCH_H

#include "KORUHVWrapper.h"

#include <QtGlobal>

#include <deque>
#include <memory>
#include <mutex>

class QSystemInterface;

struct KORUHVEventBatch {
    QSystemInterface *sysIf = nullptr;
    quint64 serial = 0;
    KORUHV_SYSTEMSTATUS_t status{};
    EventRecord *records = nullptr; /* the wrapper's block */
    int count = 0;
    /* Where the GUI thread stands in it. */
    bool statusShown = false;
    bool firstSeen = false;
    int next = 0;
    KORUHVEventBatch() = default;
    KORUHVEventBatch(const KORUHVEventBatch &) = delete;
    KORUHVEventBatch &operator=(const KORUHVEventBatch &) = delete;
    ~KORUHVEventBatch()
    {
        if (records)
            KORUHV_FreeEventData(&records);
    }
};

struct KORUHVEventBatchQueue {
    std::mutex lock;
    std::deque<std::shared_ptr<KORUHVEventBatch>> waiting; /* under lock */
    bool drainPosted = false;                              /* under lock */
    /* GUI thread only: the batch being applied. */
    std::shared_ptr<KORUHVEventBatch> inHand;
};

/* The longest the GUI thread applies records before it lets other events
 * run (it comes back at once when nothing else waits). */
constexpr int KORUHV_EVENT_SLICE_MS = 8;

#endif
