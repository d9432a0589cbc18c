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
#include <cstdlib>
#include <dirent.h>
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
    setIdentificationTimeoutForTest(KORUHV_IDENT_TIMEOUT_MS);
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

int openDescriptorCount()
{
    DIR *dir = ::opendir("/proc/self/fd");
    if (!dir)
        return -1;
    int n = 0;
    while (const dirent *e = ::readdir(dir))
        if (e->d_name[0] != '.' && std::atoi(e->d_name) != ::dirfd(dir))
            ++n;
    ::closedir(dir);
    return n;
}

namespace {
/* The log in use; the handler reads it under the lock, so a log is never
 * used while it goes. */
std::mutex programLogMutex;
ProgramLog *programLog = nullptr;
} // namespace

ProgramLog::ProgramLog()
{
    std::lock_guard<std::mutex> lock(programLogMutex);
    programLog = this;
    previous = qInstallMessageHandler(&ProgramLog::handle);
}

ProgramLog::~ProgramLog()
{
    std::lock_guard<std::mutex> lock(programLogMutex);
    qInstallMessageHandler(previous);
    programLog = nullptr;
}

QString ProgramLog::find(const QString &part) const
{
    std::lock_guard<std::mutex> lock(mutex);
    for (const QString &l : seen)
        if (l.contains(part))
            return l;
    return QString();
}

void ProgramLog::handle(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    std::lock_guard<std::mutex> lock(programLogMutex);
    if (!programLog)
        return;
    {
        std::lock_guard<std::mutex> seenLock(programLog->mutex);
        programLog->seen.append(text);
    }
    if (programLog->previous)
        programLog->previous(type, context, text);
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
