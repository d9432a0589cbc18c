#include "KORUHVLoggerThread.h"

#include "AppGlobals.h"
#include "KORUHVLogBuffer.h"
#include "ShellGlobals.h"

#include <QDir>
#include <QFile>
#include <QMutexLocker>
#include <QTextStream>

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
    if (queue->pendingLogCount > 0)
        queue->logWaitCondition.notify_all();
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

QString valueText(const QVariant &v)
{
    switch (v.typeId()) {
    case QMetaType::Float:
    case QMetaType::Double:
        return QString::number(v.toDouble(), 'g', 6);
    case QMetaType::Bool:
        return v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    default:
        return v.toString();
    }
}

QString logPath(const KORUHVLogBuffer *head)
{
    {
        QMutexLocker lock(&logfileMutex);
        if (!logFilename.isEmpty())
            return logFilename;
    }
    QString home = QDir::homePath();
    const int snap = home.indexOf(QStringLiteral("snap"));
    if (snap >= 0)
        home = home.left(snap);
    const QString name = head->getSysType() == 13
                             ? QStringLiteral("VUDIZERUDar_%1.log").arg(head->getSysName())
                             : QStringLiteral("RORERAVA2020.log");
    return QDir(home).filePath(name);
}

} // namespace

QString createStringFromBuffer(KORUHVLogBuffer *buffer)
{
    QString out;
    if (!buffer)
        return out;
    const QString ts = buffer->getTimestamp();
    const QString sys = buffer->getSysName();
    for (const KORUHVLogEvent *e : buffer->getLogEvents()) {
        if (e->channel >= 0)
            out += QStringLiteral("[%1]: [%2] bd [%3] ch [%4] par [%5] val [%6]; \n")
                       .arg(ts, sys, QString::number(e->board), QString::number(e->channel), e->parameterName,
                            valueText(e->value));
        else if (e->board >= 0)
            out += QStringLiteral("[%1]: [%2] bd [%3] par [%4] val [%5]; \n")
                       .arg(ts, sys, QString::number(e->board), e->parameterName, valueText(e->value));
        else if (!e->parameterName.isEmpty())
            out += QStringLiteral("[%1]: [%2] par [%3] val [%4]; \n").arg(ts, sys, e->parameterName, valueText(e->value));
        else
            out += QStringLiteral("[%1]: [%2] live inserted/removed board; \n").arg(ts, sys);
    }
    return out;
}

int saveLogToFile(KORUHVLogBuffer **head, int count)
{
    if (!head || !*head)
        return -1;
    QFile file(logPath(*head));
    if (!file.open(QIODevice::Append | QIODevice::Text))
        return -1;
    QTextStream stream(&file);
    stream.setEncoding(QStringConverter::System);
    for (int n = 0; n < count && *head; ++n) {
        KORUHVLogBuffer *buffer = *head;
        stream << createStringFromBuffer(buffer);
        *head = buffer->getNextBuffer();
        delete buffer;
    }
    *head = nullptr;
    stream.flush();
    file.close();
    return 0;
}

void *KORUHVLoggerThread(void *arg)
{
    auto *queue = static_cast<KORUHVLogQueue *>(arg);
    if (!queue)
        return nullptr;
    for (;;) {
        KORUHVLogBuffer *chain = nullptr;
        int count = 0;
        bool stop = false;
        {
            std::unique_lock<std::mutex> lock(queue->logMutex);
            /* The count is tested before every wait, so a wake-up raised while
             * the previous chain was being written is not lost. */
            queue->logWaitCondition.wait(lock, [queue] { return queue->pendingLogCount != 0; });
            stop = queue->pendingLogCount < 0;
            chain = queue->pendingLogBuffer;
            count = stop ? 0 : queue->pendingLogCount;
            if (stop) {
                /* Count what is left so that it is written before the end. */
                for (KORUHVLogBuffer *b = chain; b; b = b->getNextBuffer())
                    ++count;
            } else {
                queue->pendingLogCount = 0;
            }
            queue->pendingLogBuffer = nullptr;
            queue->lastLogBuffer = nullptr;
        }
        if (chain) {
            saveLogToFile(&chain, count);
            KORUHVLogBuffer::freeChain(chain);
        }
        if (stop)
            return nullptr;
    }
}
