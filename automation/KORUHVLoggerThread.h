/* The change-log writer of one system: waits on the system's queue, takes the
 * finished batches at once, turns them into lines (KORUHVLogFormat) and hands
 * them to its checked appender (KORUHVLogAppender). It never touches widgets
 * or nodes; it only gets text-ready buffers. */
#ifndef KORUHVLOGGERTHREAD_H
#define KORUHVLOGGERTHREAD_H

#include <QString>

#include <condition_variable>
#include <mutex>

class KORUHVLogBuffer;
class KORUHVLogEvent;

/* The queue a writer serves; its members are guarded by logMutex. A count
 * below 0 asks the writer to end (it writes what is still pending first).
 * Standard mutex and condition: the thread checker sees through them.
 *
 * completeLogBuffer is the last buffer of the last finished batch (set by
 * KORUHVWakeLogWriter): the writer takes the chain up to it only, so a batch
 * still being queued is never split across two writes (in a shared file
 * another system's lines could land between its halves).
 *
 * pendingRecords counts the queued events; past KORUHVLogQueueMaxRecords a
 * new batch is dropped whole and counted in droppedRecords, which the writer
 * reports as one count line. */
struct KORUHVLogQueue {
    std::mutex logMutex;
    std::condition_variable logWaitCondition;
    KORUHVLogBuffer *pendingLogBuffer = nullptr;
    int pendingLogCount = 0;
    KORUHVLogBuffer *lastLogBuffer = nullptr;
    KORUHVLogBuffer *completeLogBuffer = nullptr;
    long long pendingRecords = 0;
    long long droppedRecords = 0;
    bool droppingBatch = false;
};

constexpr long long KORUHVLogQueueMaxRecords = 100000;
/* How long a stopping writer keeps retrying held text before it ends. */
constexpr int KORUHVLogWriterDrainMs = 2000;

/* Queues one event by the producer rule: appended to the last buffer while
 * it is not the first of its batch and a chain is pending, else in a new
 * buffer of that system. Nothing is queued after a stop request. Takes
 * logMutex itself; the event is owned by the queue (or deleted). */
void KORUHVQueueLogEvent(KORUHVLogQueue *queue, KORUHVLogEvent *event, bool isFirstEv, int sysType,
                         const QString &sysName);
/* Marks what is queued as finished and wakes the writer (under the mutex)
 * when something is pending. */
void KORUHVWakeLogWriter(KORUHVLogQueue *queue);
/* Sets the stop request and wakes the writer. */
void KORUHVStopLogWriter(KORUHVLogQueue *queue);

/* Thread entry: the argument is the KORUHVLogQueue (a system interface's
 * queue). On a write error the text is held and retried after
 * KORUHVLogAppender::RetryIntervalMs or at the next wake. Ends on a stop
 * request after writing what was pending, retrying held text for at most
 * KORUHVLogWriterDrainMs. */
void *KORUHVLoggerThread(void *queue);

#endif
