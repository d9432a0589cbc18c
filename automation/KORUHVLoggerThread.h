/* The change-log writer of one system: waits on the system's queue, takes the
 * finished batches at once, turns them into lines (KORUHVLogFormat) and hands
 * them to its checked appender (KORUHVLogAppender). It never touches widgets
 * or nodes; it only gets text-ready buffers. */
#ifndef KORUHVLOGGERTHREAD_H
#define KORUHVLOGGERTHREAD_H

#include <QString>

#include <condition_variable>
#include <functional>
#include <memory>
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
/* What a writer tells whoever stops it, shared with the writer thread so it
 * outlives the queue when a stop stops waiting (a write blocked on a hung
 * file system). Guarded by mutex; changed is signalled on every step. */
struct KORUHVLogWriterState {
    std::mutex mutex;
    std::condition_variable changed;
    bool started = false;       // the writer thread runs and holds this state
    bool inQueue = false;       // the writer is inside the queue's lock or wait
    bool queueReleased = false; // took its last chain: touches the queue no more
    bool abandoned = false;     // the stopper gave up: write nothing more, end
    bool ended = false;
    long long linesTaken = 0;   // lines taken from the queue
    long long linesWritten = 0; // lines the file took
    long long linesLost = 0;    // lines given up at the end, reported in the log
    QString sysName;
    QString path;              // the file of the last write
    QString oldestUnwrittenTs; // time stamp of the oldest line taken and not yet written
};

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
    std::shared_ptr<KORUHVLogWriterState> writerState = std::make_shared<KORUHVLogWriterState>();
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
 * KORUHVLogWriterDrainMs; lines still not written then are named in the
 * program's log (qWarning) with their count. */
void *KORUHVLoggerThread(void *queue);

/* How long a stop waits for a writer by default (KORUHVAwaitLogWriter). */
constexpr int KORUHVLogWriterStopBoundMs = 10000;
/* The bound in force: tests move it through the hook (0 restores it). */
int KORUHVLogWriterStopBound();
void KORUHVSetLogWriterStopBoundForTest(int ms);

/* After a stop request: waits until the writer has ended or boundMs has
 * passed, calling tick (if any) about every 50 ms with the lines written
 * and the lines to write since the stop began. When the bound passes the
 * writer is abandoned: it does not touch the queue again, writes nothing
 * more and ends by itself (detach its thread); what it had not written is
 * named in the program's log with its count. true when the writer ended. */
bool KORUHVAwaitLogWriter(KORUHVLogQueue *queue, int boundMs,
                          const std::function<void(long long done, long long total)> &tick = {});

#endif
