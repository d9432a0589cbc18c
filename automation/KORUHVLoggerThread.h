/* The change-log writer of one system: waits on the system's queue, takes the
 * whole pending chain at once and appends it to the change-log file. It never
 * touches widgets or nodes; it only gets text-ready buffers. */
#ifndef KORUHVLOGGERTHREAD_H
#define KORUHVLOGGERTHREAD_H

#include <QString>

#include <condition_variable>
#include <mutex>

class KORUHVLogBuffer;

/* The queue a writer serves; its members are guarded by logMutex. A count
 * below 0 asks the writer to end (it writes what is still pending first).
 * Standard mutex and condition: the thread checker sees through them. */
struct KORUHVLogQueue {
    std::mutex logMutex;
    std::condition_variable logWaitCondition;
    KORUHVLogBuffer *pendingLogBuffer = nullptr;
    int pendingLogCount = 0;
    KORUHVLogBuffer *lastLogBuffer = nullptr;
};

/* Queues one event by the producer rule: appended to the last buffer while
 * it is not the first of its batch and a chain is pending, else in a new
 * buffer of that system. Nothing is queued after a stop request. Takes
 * logMutex itself; the event is owned by the queue (or deleted). */
class KORUHVLogEvent;
void KORUHVQueueLogEvent(KORUHVLogQueue *queue, KORUHVLogEvent *event, bool isFirstEv, int sysType,
                         const QString &sysName);
/* wakeAll under the mutex when something is pending. */
void KORUHVWakeLogWriter(KORUHVLogQueue *queue);
/* Sets the stop request and wakes the writer. */
void KORUHVStopLogWriter(KORUHVLogQueue *queue);

/* Lines of one buffer, one per event. */
QString createStringFromBuffer(KORUHVLogBuffer *buffer);
/* Appends up to count buffers of the chain to the change-log file and frees
 * them; 0 on success, -1 for an empty chain or a file that cannot be opened. */
int saveLogToFile(KORUHVLogBuffer **head, int count);

/* Thread entry: the argument is the KORUHVLogQueue (a system interface's
 * queue). Ends on a stop request, after writing what was pending. */
void *KORUHVLoggerThread(void *queue);

#endif
