#include "KORUHVLogGlobals.h"

#include <QMutexLocker>

// logfileMutex and logFilename themselves are the shell's program-wide
// statics (app/ShellGlobals.cpp).

QString currentLogFilename()
{
    QMutexLocker lock(&logfileMutex);
    return logFilename;
}

void setLogFilename(const QString &name)
{
    QMutexLocker lock(&logfileMutex);
    logFilename = name;
}
