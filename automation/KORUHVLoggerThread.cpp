#include "KORUHVLoggerThread.h"

#include "KORUHVLogAppender.h"
#include "KORUHVLogBuffer.h"
#include "KORUHVLogFormat.h"
#include "KORUHVLogGlobals.h"

#include <QDir>

#include <chrono>
#include <memory>

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

void *KORUHVLoggerThread(void *arg)
{
    auto *queue = static_cast<KORUHVLogQueue *>(arg);
    if (!queue)
        return nullptr;
    /* Made with the first chain: the appender names its system in the count
     * line and the failure signal. */
    std::unique_ptr<KORUHVLogAppender> appender;
    int sysType = -1;
    QString sysName;
    for (;;) {
        KORUHVLogBuffer *chain = nullptr;
        bool stop = false;
        long long dropped = 0;
        {
            std::unique_lock<std::mutex> lock(queue->logMutex);
            /* The state is tested before every wait, so a wake-up raised
             * while the previous chain was being written is not lost. */
            const auto ready = [queue] { return queue->pendingLogCount < 0 || queue->completeLogBuffer; };
            if (appender && appender->hasPending())
                queue->logWaitCondition.wait_for(lock, std::chrono::milliseconds(KORUHVLogAppender::RetryIntervalMs),
                                                 ready);
            else
                queue->logWaitCondition.wait(lock, ready);
            stop = queue->pendingLogCount < 0;
            chain = takeChain(queue, stop);
            dropped = queue->droppedRecords;
            queue->droppedRecords = 0;
        }
        /* No lock is held from here: formatting, the file name (under its own
         * lock) and the write. */
        QString text;
        qint64 records = 0;
        while (chain) {
            KORUHVLogBuffer *next = chain->getNextBuffer();
            sysType = chain->getSysType();
            sysName = chain->getSysName();
            const QString ts = chain->getTimestamp();
            for (const KORUHVLogEvent *e : chain->getLogEvents()) {
                korulog::appendLine(text, ts, sysName, e->board, e->channel, e->parameterName, e->value);
                ++records;
            }
            delete chain;
            chain = next;
        }
        if (!appender && (records > 0 || dropped > 0))
            appender = std::make_unique<KORUHVLogAppender>(sysName);
        if (appender) {
            const QString path = korulog::logFilePath(currentLogFilename(), QDir::homePath(), sysType, sysName);
            if (records > 0)
                appender->append(path, korulog::encodeForLog(text), records);
            if (dropped > 0)
                appender->noteDropped(dropped);
            appender->retry(path);
            if (stop)
                appender->drain(path, KORUHVLogWriterDrainMs);
        }
        if (stop)
            return nullptr;
    }
}
