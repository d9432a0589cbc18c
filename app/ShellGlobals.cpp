#include "ShellGlobals.h"

#include <atomic>

QMutex logfileMutex;
QString logFilename;
QMutex stopFlagMutex;
bool stopFlag = false;

namespace {
QMutex hookMutex;
QString serverAddress;
std::atomic<int> retryPause{50};
std::atomic<int> splashWait{3000};
} // namespace

bool isStopRequested()
{
    QMutexLocker lock(&stopFlagMutex);
    return stopFlag;
}

void setEventServerAddressForTest(const QString &address)
{
    QMutexLocker lock(&hookMutex);
    serverAddress = address;
}

QString eventServerAddress()
{
    QMutexLocker lock(&hookMutex);
    return serverAddress;
}

void setEventRetryPauseForTest(int ms)
{
    retryPause = ms;
}

int eventRetryPauseMs()
{
    return retryPause;
}

void setSplashWaitForTest(int ms)
{
    splashWait = ms;
}

int splashWaitMs()
{
    return splashWait;
}
