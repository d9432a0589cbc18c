#include "ShellGlobals.h"

#include "KORUHVEventServer.h"

#include <atomic>

QMutex logfileMutex;
QString logFilename;
QMutex stopFlagMutex;
bool stopFlag = false;

namespace {
QMutex hookMutex;
QString serverAddress;
std::atomic<int> identTimeout{KORUHV_IDENT_TIMEOUT_MS};
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

void setIdentificationTimeoutForTest(int ms)
{
    identTimeout = ms;
}

int identificationTimeoutMs()
{
    return identTimeout;
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
