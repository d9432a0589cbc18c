#include "KORUHVLogBuffer.h"

#include "KORUHVLogFormat.h"

KORUHVLogBuffer::KORUHVLogBuffer() : timestamp(QDateTime::currentDateTime()) {}

KORUHVLogBuffer::~KORUHVLogBuffer()
{
    for (int i = logEvents.size() - 1; i >= 0; --i)
        delete logEvents[i];
}

QString KORUHVLogBuffer::getTimestamp() const
{
    return korulog::timestampText(timestamp);
}

void KORUHVLogBuffer::addLogEvent(KORUHVLogEvent *event)
{
    if (event)
        logEvents.append(event);
}

void KORUHVLogBuffer::freeChain(KORUHVLogBuffer *head)
{
    while (head) {
        KORUHVLogBuffer *next = head->getNextBuffer();
        delete head;
        head = next;
    }
}
