#include "KORUHVLoggerThread.h"

#include "KORUHVLogAppender.h"
#include "KORUHVLogBuffer.h"
#include "KORUHVLogFormat.h"
#include "KORUHVLogGlobals.h"

#include <QDir>
#include <QElapsedTimer>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <vector>

void KORUHVQueueLogEvent(KORUHVLogQueue *queue, KORUHVLogEvent *event, bool isFirstEv, int sysType,
                         const QString &sysName)
{
    if (!queue || !event)
        return;
    std::lock_guard<std::mutex> lock(queue->logMutex);
    if (queue->pendingLogCount < 0) {
        /* The writer is told to stop: a new chain would never be written. */
        delete event;
        return;
    }
    /* The bound is checked per batch, so a batch is kept or dropped whole. */
    if (isFirstEv)
        queue->droppingBatch = queue->pendingRecords >= KORUHVLogQueueMaxRecords;
    if (queue->droppingBatch) {
        ++queue->droppedRecords;
        delete event;
        return;
    }
    ++queue->pendingRecords;
    if (!isFirstEv && queue->pendingLogCount > 0 && queue->lastLogBuffer) {
        queue->lastLogBuffer->addLogEvent(event);
        return;
    }
    auto *buffer = new KORUHVLogBuffer;
    /* Records dropped so far came before this one (the rest of a batch
     * dropped across a take included): their count line goes here. */
    buffer->setDroppedBefore(queue->droppedRecords);
    queue->droppedRecords = 0;
    buffer->setSysType(sysType);
    buffer->setSysName(sysName);
    buffer->addLogEvent(event);
    if (queue->pendingLogCount > 0 && queue->lastLogBuffer)
        queue->lastLogBuffer->setNextBuffer(buffer);
    else
        queue->pendingLogBuffer = buffer;
    queue->lastLogBuffer = buffer;
    ++queue->pendingLogCount;
}

void KORUHVWakeLogWriter(KORUHVLogQueue *queue)
{
    if (!queue)
        return;
    std::lock_guard<std::mutex> lock(queue->logMutex);
    if (queue->pendingLogCount > 0) {
        queue->completeLogBuffer = queue->lastLogBuffer;
        queue->logWaitCondition.notify_all();
    }
}

void KORUHVStopLogWriter(KORUHVLogQueue *queue)
{
    if (!queue)
        return;
    std::lock_guard<std::mutex> lock(queue->logMutex);
    queue->pendingLogCount = -1;
    queue->logWaitCondition.notify_all();
}

namespace {

/* Detaches the finished part of the chain (all of it on a stop); called
 * with logMutex held. */
KORUHVLogBuffer *takeChain(KORUHVLogQueue *queue, bool stop)
{
    KORUHVLogBuffer *head = queue->pendingLogBuffer;
    if (stop) {
        queue->pendingLogBuffer = nullptr;
        queue->lastLogBuffer = nullptr;
        queue->completeLogBuffer = nullptr;
        queue->pendingRecords = 0;
        return head;
    }
    KORUHVLogBuffer *end = queue->completeLogBuffer;
    if (!head || !end)
        return nullptr;
    int buffers = 0;
    long long records = 0;
    for (KORUHVLogBuffer *b = head;; b = b->getNextBuffer()) {
        ++buffers;
        records += b->getLogEvents().size();
        if (b == end)
            break;
    }
    queue->pendingLogBuffer = end->getNextBuffer();
    end->setNextBuffer(nullptr);
    queue->pendingLogCount -= buffers;
    queue->pendingRecords -= records;
    if (queue->pendingLogCount <= 0) {
        queue->pendingLogCount = 0;
        queue->pendingLogBuffer = nullptr;
        queue->lastLogBuffer = nullptr;
    }
    queue->completeLogBuffer = nullptr;
    return head;
}

} // namespace

namespace {

std::atomic<int> stopBoundForTest{0};

/* Lines given up at the end go to the program's log, so they leave a trace. */
void reportUnwritten(const QString &sysName, const QString &path, long long lines, const QString &from,
                     const char *why)
{
    if (lines <= 0)
        return;
    const QString span = from.isEmpty() ? QString() : QStringLiteral(" (the lines from %1 on)").arg(from);
    qWarning("change log of %s: %lld lines not written to %s%s: %s", qPrintable(sysName), lines,
             qPrintable(path.isEmpty() ? QStringLiteral("the change-log file") : path), qPrintable(span),
             why);
}

} // namespace

int KORUHVLogWriterStopBound()
{
    const int ms = stopBoundForTest.load();
    return ms > 0 ? ms : KORUHVLogWriterStopBoundMs;
}

void KORUHVSetLogWriterStopBoundForTest(int ms)
{
    stopBoundForTest.store(ms > 0 ? ms : 0);
}

void *KORUHVLoggerThread(void *arg)
{
    auto *queue = static_cast<KORUHVLogQueue *>(arg);
    if (!queue)
        return nullptr;
    /* The state outlives the queue when a stop gives up on this thread. It
     * is set once with the queue and never changed; a stopper gives up on
     * this thread only after it has said it started. */
    std::shared_ptr<KORUHVLogWriterState> state = queue->writerState;
    if (!state)
        state = std::make_shared<KORUHVLogWriterState>();
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        state->started = true;
        state->changed.notify_all();
    }
    const auto abandoned = [&state] {
        std::lock_guard<std::mutex> lock(state->mutex);
        return state->abandoned;
    };
    /* Made with the first chain: the appender names its system in the count
     * line and the failure signal. */
    std::unique_ptr<KORUHVLogAppender> appender;
    /* Everything of ours is gone before the end is told: a stopper that gave
     * up may let the program end right after. */
    const auto finish = [&state, &appender] {
        appender.reset();
        std::lock_guard<std::mutex> lock(state->mutex);
        state->ended = true;
        state->changed.notify_all();
        return nullptr;
    };
    int sysType = -1;
    QString sysName;
    /* What a stopper needs to name unwritten lines, told before each write
     * (it may block) and after it. */
    const auto publish = [&](const QString &path, const QString &writingFrom) {
        std::lock_guard<std::mutex> lock(state->mutex);
        if (appender) {
            state->linesWritten = appender->writtenRecords();
            state->oldestUnwrittenTs = appender->heldFrom();
        }
        if (state->oldestUnwrittenTs.isEmpty())
            state->oldestUnwrittenTs = writingFrom;
        state->path = path;
        state->sysName = sysName;
        state->changed.notify_all();
    };
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(state->mutex);
            if (state->abandoned) {
                lock.unlock();
                return finish();
            }
            state->inQueue = true;
        }
        KORUHVLogBuffer *chain = nullptr;
        bool stop = false;
        long long dropped = 0;
        {
            std::unique_lock<std::mutex> lock(queue->logMutex);
            /* The state is tested before every wait, so a wake-up raised
             * while the previous chain was being written is not lost. */
            const auto ready = [queue] { return queue->pendingLogCount < 0 || queue->completeLogBuffer; };
            if (appender && appender->hasPending())
                queue->logWaitCondition.wait_for(
                    lock, std::chrono::milliseconds(KORUHVLogAppender::RetryIntervalMs), ready);
            else
                queue->logWaitCondition.wait(lock, ready);
            stop = queue->pendingLogCount < 0;
            chain = takeChain(queue, stop);
            dropped = queue->droppedRecords;
            queue->droppedRecords = 0;
        }
        long long taken = 0;
        for (KORUHVLogBuffer *b = chain; b; b = b->getNextBuffer())
            taken += b->getLogEvents().size();
        {
            /* From a stop on the queue is not touched again. */
            std::lock_guard<std::mutex> lock(state->mutex);
            state->inQueue = false;
            state->queueReleased = stop;
            state->linesTaken += taken;
            state->changed.notify_all();
        }
        /* No lock is held from here: formatting, the file name (under its own
         * lock) and the write. The chain is cut where records were dropped
         * before a buffer, so the count line stands where they would have. */
        struct Segment {
            long long droppedBefore = 0;
            QString text;
            qint64 records = 0;
            QString firstTs;
        };
        std::vector<Segment> segments;
        qint64 records = 0;
        QString firstTs;
        while (chain) {
            KORUHVLogBuffer *next = chain->getNextBuffer();
            sysType = chain->getSysType();
            sysName = chain->getSysName();
            const QString ts = chain->getTimestamp();
            if (firstTs.isEmpty())
                firstTs = ts;
            if (segments.empty() || chain->getDroppedBefore() > 0)
                segments.push_back({chain->getDroppedBefore(), QString(), 0, ts});
            Segment &seg = segments.back();
            for (const KORUHVLogEvent *e : chain->getLogEvents()) {
                korulog::appendLine(seg.text, ts, sysName, e->board, e->channel, e->parameterName, e->value);
                ++seg.records;
                ++records;
            }
            delete chain;
            chain = next;
        }
        if (abandoned())
            return finish();
        if (!appender && (records > 0 || dropped > 0))
            appender = std::make_unique<KORUHVLogAppender>(sysName);
        QString path;
        if (appender) {
            path = korulog::logFilePath(currentLogFilename(), QDir::homePath(), sysType, sysName);
            publish(path, firstTs);
            for (const Segment &seg : segments) {
                appender->noteDropped(seg.droppedBefore);
                if (seg.records > 0)
                    appender->append(path, korulog::encodeForLog(seg.text), seg.records, seg.firstTs);
            }
            if (dropped > 0)
                appender->noteDropped(dropped);
            appender->retry(path);
            publish(path, QString());
            if (stop) {
                /* Held text gets a bounded number of retries; the stopper may
                 * give up sooner. */
                QElapsedTimer drain;
                drain.start();
                while (!appender->retry(path) && drain.elapsed() < KORUHVLogWriterDrainMs && !abandoned())
                    QThread::msleep(100);
                publish(path, QString());
                if (appender->hasPending() && !abandoned()) {
                    const long long lost = appender->heldRecords() + appender->droppedRecords();
                    reportUnwritten(sysName, path, lost, appender->heldFrom(),
                                    "the file still refused them when the writer ended");
                    std::lock_guard<std::mutex> lock(state->mutex);
                    state->linesLost += lost;
                }
            }
        }
        if (stop || abandoned())
            return finish();
    }
}

bool KORUHVAwaitLogWriter(KORUHVLogQueue *queue, int boundMs,
                          const std::function<void(long long done, long long total)> &tick)
{
    if (!queue)
        return true;
    std::shared_ptr<KORUHVLogWriterState> state;
    long long queued = 0;
    {
        std::lock_guard<std::mutex> lock(queue->logMutex);
        state = queue->writerState;
        queued = queue->pendingRecords;
    }
    if (!state)
        return true;
    QElapsedTimer t;
    t.start();
    std::unique_lock<std::mutex> lock(state->mutex);
    const long long writtenAtStart = state->linesWritten;
    const long long total = queued + state->linesTaken - state->linesWritten;
    while (!state->ended && t.elapsed() < boundMs) {
        state->changed.wait_for(lock, std::chrono::milliseconds(50));
        if (tick) {
            const long long done = state->linesWritten - writtenAtStart;
            lock.unlock();
            tick(done, std::max(total, done));
            lock.lock();
        }
    }
    if (state->ended)
        return true;
    /* Give up. The writer leaves the queue at once after a stop request (it
     * only waits for the queue's lock there), so waiting for that is short;
     * from then on it only touches the shared state. */
    state->changed.wait(lock, [&] { return (state->started && !state->inQueue) || state->ended; });
    if (state->ended)
        return true;
    state->abandoned = true;
    long long stillQueued = 0;
    if (!state->queueReleased) {
        lock.unlock();
        {
            std::lock_guard<std::mutex> q(queue->logMutex);
            stillQueued = queue->pendingRecords;
        }
        lock.lock();
    }
    const long long unwritten = stillQueued + state->linesTaken - state->linesWritten;
    state->linesLost += unwritten;
    const QString why = QStringLiteral("the writer did not finish within %1 s (a write blocked or too slow); "
                                       "a write still under way may yet complete")
                            .arg(boundMs / 1000.0, 0, 'g', 3);
    reportUnwritten(state->sysName, state->path, unwritten, state->oldestUnwrittenTs, qPrintable(why));
    return false;
}
