#include "KORUHVEventServer.h"

#include "AppGlobals.h"
#include "KORUHVEventSink.h"
#include "KORUHVNoticeThrottle.h"
#include "KORUHVWrapper.h"
#include "QSystemInterface.h"
#include "ShellGlobals.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

std::mutex serverMutex;
std::thread serverThread;
int wakePipe[2] = {-1, -1};
std::atomic<bool> serverStop{false};
/* Read by the server and the readers while the GUI thread may change it. */
std::atomic<KORUHVEventSink *> theSink{nullptr};
std::atomic<int> acceptFailures{0};

struct PendingPeer {
    int fd;
    QByteArray received;
    QElapsedTimer age;
};

void closeFd(int fd)
{
    if (fd >= 0)
        ::close(fd);
}

/* Binds to the first connected system whose address text equals the
 * identification; closes the connection when none takes it. */
void handOver(int fd, const QString &ident)
{
    KORUHVEventSink *sink = KORUHVGetEventSink();
    if (!sink || !sink->bindEventConnection(fd, ident))
        closeFd(fd);
}

/* Reads what a local peer sent so far; true when the peer is settled
 * (handed over or closed). */
bool servePending(PendingPeer &p)
{
    char buf[KORUHV_IDENT_MAX];
    const int room = KORUHV_IDENT_MAX - static_cast<int>(p.received.size());
    const ssize_t n = ::recv(p.fd, buf, static_cast<size_t>(room), MSG_PEEK | MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return false;
    if (n <= 0) {
        closeFd(p.fd);
        return true;
    }
    QByteArray all = p.received + QByteArray(buf, static_cast<int>(n));
    QByteArray text;
    int used = 0;
    const int rc = KORUHVParseIdentification(all, &text, &used);
    /* Consume only identification bytes: up to the NUL, or all peeked bytes
     * when the NUL has not come yet (none of them belongs to a batch). */
    const int take = rc == 1 ? used - static_cast<int>(p.received.size()) : static_cast<int>(n);
    if (take > 0) {
        std::vector<char> sink(static_cast<size_t>(take));
        if (::recv(p.fd, sink.data(), static_cast<size_t>(take), MSG_DONTWAIT) != take) {
            closeFd(p.fd);
            return true;
        }
    }
    if (rc == 1) {
        handOver(p.fd, QString::fromLatin1(text));
        return true;
    }
    if (rc < 0) {
        closeFd(p.fd);
        return true;
    }
    p.received = all;
    return false;
}

int openListener()
{
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return -1;
    int one = 1;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    const QString bindAddress = eventServerAddress();
    if (bindAddress.isEmpty())
        addr.sin_addr.s_addr = htonl(INADDR_ANY);
    else if (::inet_pton(AF_INET, bindAddress.toLatin1().constData(), &addr.sin_addr) != 1) {
        ::close(s);
        return -1;
    }
    for (;;) {
        addr.sin_port = htons(tcpPort.load());
        if (::bind(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0)
            break;
        /* The search ends at the top of the port range: no wrap to port 0. */
        if (errno != EADDRINUSE || tcpPort.load() == 65535) {
            ::close(s);
            return -1;
        }
        tcpPort.store(static_cast<unsigned short>(tcpPort.load() + 1));
    }
    if (::listen(s, 128) != 0) {
        ::close(s);
        return -1;
    }
    return s;
}

/* Accepts stop for a pause while descriptors (or the kernel's memory for
 * sockets) run out: the listener stays readable, and retrying at once
 * would spin. What waits in the backlog is taken once they are back. */
class AcceptPause {
public:
    bool paused() const { return !until.hasExpired(); }
    /* Milliseconds to the end of the pause, -1 when not paused. */
    int remainingMs() const { return paused() ? static_cast<int>(until.remainingTime()) : -1; }
    void failed(int error)
    {
        ++acceptFailures;
        if (failures++ == 0)
            qWarning("LUMO2020: event server cannot accept connections (%s); it tries again every %d ms",
                     std::strerror(error), KORUHV_ACCEPT_PAUSE_MS);
        until.setRemainingTime(KORUHV_ACCEPT_PAUSE_MS);
    }
    void accepted()
    {
        if (failures > 0)
            qWarning("LUMO2020: event server accepts connections again (%d attempts failed)", failures);
        failures = 0;
        until = QDeadlineTimer();
    }

private:
    QDeadlineTimer until; /* expired: no pause */
    int failures = 0;
};

bool outOfDescriptors(int error)
{
    return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

void serverLoop()
{
    const int listener = openListener();
    if (listener < 0) {
        TcpServerWarning();
        return;
    }
    std::vector<PendingPeer> pending;
    AcceptPause pause;
    KORUHVNoticeThrottle refusedWaiting;
    while (!serverStop.load()) {
        std::vector<pollfd> fds;
        fds.push_back({wakePipe[0], POLLIN, 0});
        /* A negative descriptor is left out by poll. */
        fds.push_back({pause.paused() ? -1 : listener, POLLIN, 0});
        for (const PendingPeer &p : pending)
            fds.push_back({p.fd, POLLIN, 0});
        int timeout = pause.remainingMs();
        for (const PendingPeer &p : pending) {
            const int left = qMax(identificationTimeoutMs() - static_cast<int>(p.age.elapsed()), 0);
            timeout = timeout < 0 ? left : qMin(timeout, left);
        }
        const int n = ::poll(fds.data(), fds.size(), timeout);
        if (n < 0 && errno != EINTR)
            break;
        if (serverStop.load())
            break;
        /* Local peers first: their slots in fds follow the two fixed ones. */
        std::vector<PendingPeer> still;
        for (size_t i = 0; i < pending.size(); ++i) {
            PendingPeer &p = pending[i];
            const bool readable = n > 0 && (fds[i + 2].revents & (POLLIN | POLLHUP | POLLERR));
            if (readable && servePending(p))
                continue;
            if (p.age.elapsed() >= identificationTimeoutMs()) {
                closeFd(p.fd); /* no identification in time */
                continue;
            }
            still.push_back(std::move(p));
        }
        pending.swap(still);
        if (n <= 0 || fds[1].fd < 0 || !(fds[1].revents & POLLIN))
            continue;
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        const int fd = ::accept4(listener, reinterpret_cast<sockaddr *>(&peer), &len, SOCK_CLOEXEC);
        if (fd < 0) {
            /* Anything else (a peer gone before its accept, a signal) is
             * retried at once. */
            if (outOfDescriptors(errno))
                pause.failed(errno);
            continue;
        }
        pause.accepted();
        char text[INET_ADDRSTRLEN] = {0};
        ::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
        const QString ident = QString::fromLatin1(text);
        if (ident != QLatin1String("127.0.0.1")) {
            handOver(fd, ident);
            continue;
        }
        /* Each waiting peer holds a socket for up to the identification
         * time: past the bound, a flood of them is refused, not kept. */
        if (static_cast<int>(pending.size()) >= KORUHV_MAX_WAITING_PEERS) {
            int unsaid = 0;
            if (refusedWaiting.due(&unsaid))
                qWarning("LUMO2020: event connection from %s refused: %d connections are waiting for their "
                         "identification%s",
                         qPrintable(QStringLiteral("%1:%2").arg(ident).arg(ntohs(peer.sin_port))),
                         static_cast<int>(pending.size()),
                         qPrintable(KORUHVNoticeThrottle::unsaidText(unsaid)));
            closeFd(fd);
            continue;
        }
        PendingPeer p{fd, QByteArray(), QElapsedTimer()};
        p.age.start();
        pending.push_back(std::move(p));
    }
    for (PendingPeer &p : pending)
        closeFd(p.fd);
    ::close(listener);
}

} // namespace

int KORUHVParseIdentification(const QByteArray &received, QByteArray *text, int *used)
{
    const int nul = received.indexOf('\0');
    if (nul >= 0 && nul < KORUHV_IDENT_MAX) {
        if (text)
            *text = received.left(nul);
        if (used)
            *used = nul + 1;
        return 1;
    }
    return received.size() >= KORUHV_IDENT_MAX ? -1 : 0;
}

void KORUHVSetEventSink(KORUHVEventSink *sink)
{
    theSink.store(sink);
}

KORUHVEventSink *KORUHVGetEventSink()
{
    return theSink.load();
}

int eventServerAcceptFailures()
{
    return acceptFailures.load();
}

bool startEventServer()
{
    std::lock_guard<std::mutex> lock(serverMutex);
    if (serverThread.joinable())
        return true;
    if (::pipe2(wakePipe, O_CLOEXEC) != 0)
        return false;
    serverStop.store(false);
    try {
        serverThread = std::thread([] { TcpServerThread(nullptr); });
    } catch (...) {
        ::close(wakePipe[0]);
        ::close(wakePipe[1]);
        wakePipe[0] = wakePipe[1] = -1;
        return false;
    }
    return true;
}

void stopEventServer()
{
    std::lock_guard<std::mutex> lock(serverMutex);
    if (!serverThread.joinable())
        return;
    serverStop.store(true);
    const char c = 1;
    [[maybe_unused]] ssize_t w = ::write(wakePipe[1], &c, 1);
    serverThread.join();
    ::close(wakePipe[0]);
    ::close(wakePipe[1]);
    wakePipe[0] = wakePipe[1] = -1;
}

bool eventServerRunning()
{
    std::lock_guard<std::mutex> lock(serverMutex);
    return serverThread.joinable();
}

void *TcpServerThread(void *)
{
    serverLoop();
    return nullptr;
}

void TcpServerWarning()
{
    if (KORUHVEventSink *sink = KORUHVGetEventSink())
        sink->emitTcpServerError();
}

void *KORUHVEventsThread(void *interface)
{
    auto *sysIf = static_cast<QSystemInterface *>(interface);
    if (sysIf)
        KORUHVRunEventReader(sysIf, sysIf->getSysSocket());
    return nullptr;
}

void KORUHVRunEventReader(QSystemInterface *sysIf, int socket)
{
    if (!sysIf || !sysIf->getSystemNode())
        return;
    sysIf->startLogWriter();
    const int handle = sysIf->getSystemHandle();
    if (sysIf->getSysType() == KORUHV_SYSTYPE_P8080) {
        int wrapperSocket = -1;
        KORUHV_GetSysProp(handle, "EventDataSocket", &wrapperSocket);
        socket = wrapperSocket;
    }
    const quint64 serial = sysIf->getSerial();
    for (;;) {
        if (sysIf->getIsDisconnecting())
            return;
        KORUHV_SYSTEMSTATUS_t status{};
        EventRecord *records = nullptr;
        int count = 0;
        const int rc = KORUHV_GetEventData(socket, &status, &records, &count);
        if (rc == KORUHV_ERR_NO_EVENT_READER) {
            /* Nothing open for this peer yet (or any more): a short pause
             * instead of spinning on the wrapper. */
            std::this_thread::sleep_for(std::chrono::milliseconds(eventRetryPauseMs()));
            continue;
        }
        if (rc != 0) {
            /* A further stream from the system's address (a device that
             * reconnected, or a stranger) ends alone while another lives. */
            if (!sysIf->endEventStream())
                return;
            sysIf->setReady(false);
            if (KORUHVEventSink *sink = KORUHVGetEventSink())
                sink->emitSystemDisconnected(sysIf, 0, serial);
            return;
        }
        KORUHVEventSink *sink = KORUHVGetEventSink();
        if (!sysIf->isReady() || !sink) {
            if (records)
                KORUHV_FreeEventData(&records);
            if (!sink)
                return;
            continue;
        }
        /* One hand-over per batch; the GUI thread frees the records. */
        sink->postEventBatch(sysIf, status, records, count, serial);
    }
}
