/* Event batches from the readers applied on the GUI thread: in order, a
 * slice at a time, each record raising the signal it always raised. */
#include "KORUHVLoggerThread.h"
#include "MainWindow.h"
#include "QSystemInterface.h"

#include <QElapsedTimer>

#include <cstddef>
#include <cstring>

void MainWindow::postEventBatch(QSystemInterface *sysIf, const KORUHV_SYSTEMSTATUS_t &status,
                                EventRecord *records, int count, quint64 serial)
{
    auto batch = std::make_shared<KORUHVEventBatch>();
    batch->sysIf = sysIf;
    batch->serial = serial;
    batch->status = status;
    batch->records = records;
    batch->count = records ? count : 0;
    {
        std::lock_guard<std::mutex> g(eventBatches.lock);
        eventBatches.waiting.push_back(std::move(batch));
        if (eventBatches.drainPosted)
            return;
        eventBatches.drainPosted = true;
    }
    emit eventBatchesWaiting();
}

void MainWindow::applyEventRecord(KORUHVEventBatch &b, int i)
{
    const EventRecord &r = b.records[i];
    const bool isLast = i == b.count - 1;
    const bool isFirst = !b.firstSeen;
    switch (r.type) {
    case KORUHV_EVENT_VALUE: {
        b.firstSeen = true;
        const QString name =
            QString::fromLatin1(r.name, static_cast<int>(strnlen(r.name, KORUHV_EVENT_NAME_SIZE)));
        IDValue_t value;
        std::memcpy(&value, reinterpret_cast<const char *>(&r) + offsetof(EventRecord, value), sizeof value);
        emit updateValueAndWidget(b.sysIf, r.board, r.channel, name, value, isFirst, isLast, b.serial);
        break;
    }
    case KORUHV_EVENT_LIVE_INSERTION:
        b.firstSeen = true;
        emit liveInsertion(b.sysIf, isFirst, isLast, b.serial);
        break;
    case KORUHV_EVENT_KEEP_ALIVE:
        b.firstSeen = true;
        break;
    case KORUHV_EVENT_TRANSPARENT:
        b.firstSeen = true;
        emit TransparentMode(b.sysIf, b.serial);
        break;
    default:
        break;
    }
    /* Lines of the batch wait for this: its last record may be one that
     * queues none (a keep-alive, an item the tree cannot place). */
    if (isLast)
        if (QSystemInterface *s = findInterface(b.sysIf, b.serial))
            KORUHVWakeLogWriter(s);
}

void MainWindow::drainEventBatches()
{
    QElapsedTimer slice;
    slice.start();
    for (;;) {
        if (!eventBatches.inHand) {
            std::lock_guard<std::mutex> g(eventBatches.lock);
            if (eventBatches.waiting.empty()) {
                eventBatches.drainPosted = false;
                return;
            }
            eventBatches.inHand = std::move(eventBatches.waiting.front());
            eventBatches.waiting.pop_front();
        }
        if (slice.elapsed() >= KORUHV_EVENT_SLICE_MS) {
            /* The rest after whatever else waits (timers, input, paint). */
            emit eventBatchesWaiting();
            return;
        }
        /* Kept alive here: a nested loop may finish it and take the next. */
        const std::shared_ptr<KORUHVEventBatch> b = eventBatches.inHand;
        if (!b->statusShown) {
            b->statusShown = true;
            emit systemEvStatus(b->sysIf, b->status, b->serial);
        }
        while (eventBatches.inHand == b && b->next < b->count && slice.elapsed() < KORUHV_EVENT_SLICE_MS)
            applyEventRecord(*b, b->next++);
        if (eventBatches.inHand == b && b->next >= b->count)
            eventBatches.inHand.reset();
    }
}
