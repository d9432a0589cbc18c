#include "KORUHVLogGlobals.h"

#include <QMutexLocker>

QMutex logfileMutex;
QString logFilename;

QString currentLogFilename() {
    QMutexLocker lock(&logfileMutex);
    return logFilename;
}

void setLogFilename(const QString &name) {
    QMutexLocker lock(&logfileMutex);
    logFilename = name;
}
