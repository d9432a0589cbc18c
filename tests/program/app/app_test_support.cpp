#include "app_test_support.h"

#include "AppGlobals.h"
#include "KORUHVEventServer.h"
#include "ShellGlobals.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <random>
#include <sys/socket.h>
#include <unistd.h>

ShellTestEnvironment::ShellTestEnvironment()
{
    oldCurrent = QDir::currentPath();
    QDir::setCurrent(dir.path());
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("HOME", dir.path().toLocal8Bit());
    QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "openUrl");
    setSplashWaitForTest(0);
}

ShellTestEnvironment::~ShellTestEnvironment()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    QDir::setCurrent(oldCurrent);
}

void ShellTestEnvironment::openUrl(const QUrl &url)
{
    openedUrls.append(url);
}

unsigned short freeLoopbackPort(const char *address)
{
    static std::mt19937 rng(static_cast<unsigned>(::getpid()));
    for (int attempt = 0; attempt < 200; ++attempt) {
        const auto port = static_cast<unsigned short>(20000 + rng() % 12000);
        const int s = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        ::inet_pton(AF_INET, address, &a.sin_addr);
        const bool ok = ::bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
        ::close(s);
        if (ok)
            return port;
    }
    return 0;
}

unsigned short startTestEventServer()
{
    stopEventServer();
    setEventServerAddressForTest(QStringLiteral("127.0.0.1"));
    setEventRetryPauseForTest(5);
    tcpPort.store(freeLoopbackPort());
    startEventServer();
    return tcpPort.load();
}

int processThreadCount()
{
    /* Threads that carry the process's own name: ours (Qt names its own
     * threads, whose pool comes and goes on its own schedule). */
    const auto readName = [](const QString &path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed() : QByteArray();
    };
    const QByteArray own = readName(QStringLiteral("/proc/self/comm"));
    int n = 0;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &t : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        if (readName(tasks.filePath(t + QStringLiteral("/comm"))) == own)
            ++n;
    return n;
}

bool waitUntil(const std::function<bool()> &cond, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}
