/* The change log's queued records: one KORUHVLogEvent per logged change, gathered
 * per event batch into a KORUHVLogBuffer; buffers are chained into a system's
 * queue (first buffer, last buffer, count) that the writer thread empties. */
#ifndef KORUHVLOGBUFFER_H
#define KORUHVLOGBUFFER_H

#include <QDateTime>
#include <QList>
#include <QString>
#include <QVariant>

class KORUHVLogEvent {
public:
    KORUHVLogEvent() = default;

    /* board and channel below 0 with an empty name: a board was inserted or removed. */
    int board = -1;
    int channel = -1;
    QString parameterName;
    QVariant value = QVariant(0);
};

class KORUHVLogBuffer {
public:
    KORUHVLogBuffer();
    /* Deletes the buffer's events; the next buffer of the chain stays. */
    ~KORUHVLogBuffer();
    KORUHVLogBuffer(const KORUHVLogBuffer &) = delete;
    KORUHVLogBuffer &operator=(const KORUHVLogBuffer &) = delete;

    QString getSysName() const { return sysName; }
    void setSysName(QString name) { sysName = name; }
    int getSysType() const { return sysType; }
    void setSysType(int type) { sysType = type; }
    /* "yyyy-MM-ddThh:mm:ss.zzz" of the buffer's creation. */
    QString getTimestamp() const;
    QList<KORUHVLogEvent *> getLogEvents() const { return logEvents; }
    KORUHVLogBuffer *getNextBuffer() const { return nextBuffer; }
    void setNextBuffer(KORUHVLogBuffer *next) { nextBuffer = next; }
    /* Records dropped by the queue's bound just before this buffer. */
    long long getDroppedBefore() const { return droppedBefore; }
    void setDroppedBefore(long long n) { droppedBefore = n; }
    /* Takes ownership; a null event is ignored. */
    void addLogEvent(KORUHVLogEvent *event);

    /* Frees a whole chain starting at head. */
    static void freeChain(KORUHVLogBuffer *head);

private:
    QString sysName;
    int sysType = -1;
    QDateTime timestamp;
    QList<KORUHVLogEvent *> logEvents;
    KORUHVLogBuffer *nextBuffer = nullptr;
    long long droppedBefore = 0;
};

#endif
