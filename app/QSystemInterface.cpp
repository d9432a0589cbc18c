#include "QSystemInterface.h"

#include "KORUHVEventServer.h"
#include "KORUHVLogBuffer.h"
#include "KORUHVNode.h"
#include "KORUHVTreeChange.h"
#include "KORUHVWrapper.h"
#include "MainWindow.h"
#include "QBoardInformations.h"
#include "QCustomBox.h"
#include "QSubWindow.h"
#include "QSystemInformations.h"
#include "QSystemStatusBar.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMutexLocker>
#include <QProgressDialog>
#include <QThread>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
std::atomic<quint64> nextSerial{1};
/* Longest a reader gets to notice its shut-down socket before we wait for it
 * without a bound (its socket is shut, so it returns). */
constexpr int readerJoinWarnMs = 5000;

/* "address:port" of a connection's peer, for the program's log. */
QString peerText(int socket)
{
    if (socket < 0)
        return QStringLiteral("the system's own event connection");
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    char text[INET_ADDRSTRLEN] = {0};
    if (::getpeername(socket, reinterpret_cast<sockaddr *>(&peer), &len) != 0 || peer.sin_family != AF_INET ||
        !::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text))
        return QStringLiteral("an unknown peer");
    return QStringLiteral("%1:%2").arg(QLatin1String(text)).arg(ntohs(peer.sin_port));
}
} // namespace

struct QSystemInterface::EventReader {
    int socket = -1; /* accepted socket, owned; -1 for a wrapper-owned one */
    std::thread thread;
    std::atomic<bool> finished{false};
    /* Under threadsMutex (thread is joined without it): the reader's id, and
     * whether its stream failed (endEventStream). */
    std::thread::id id;
    bool ended = false;
    QString peer;
};

QSystemInterface::QSystemInterface(int sysType, int link, QString init, QString sysName, int index)
    : QWidget(nullptr), widgetIndex(index), systemType(sysType), linkType(link), systemName(sysName),
      initParam(init), subscrFailFile(KORUHVSubscrFailFileName(sysName)), serial(nextSerial++)
{
    setObjectName(QStringLiteral("systemInterface"));
}

QSystemInterface::~QSystemInterface()
{
    releaseTreeUsers();
    /* Threads first: nothing may run against what is freed below. */
    stopEventReaders(true);
    stopLogWriter();
    closeEventSockets();
    detachForeignBoards();
    delete systemNode;
    systemNode = nullptr;
    delete systemPanel;
    delete systemBox;
    delete subWindow;
    delete boardPanel;
    KORUHVLogBuffer::freeChain(pendingLogBuffer);
    pendingLogBuffer = nullptr;
    lastLogBuffer = nullptr;
    delete statusBar;
}

void QSystemInterface::setWidgetIndex(int index)
{
    widgetIndex = index;
    if (systemPanel)
        systemPanel->setWidgetIdx(index);
    if (systemBox)
        systemBox->setWidgetIdx(index);
    if (boardPanel)
        boardPanel->setWidgetIdx(index);
    if (subWindow)
        subWindow->setWidgetIdx(index);
}

void QSystemInterface::setSystemInfoWidget(QSystemInformations *panel)
{
    /* A panel handed over within a W38XX group hears, reports to and works
     * on its new interface only: the old one's tree and interface go. */
    if (systemPanel && systemPanel != panel) {
        disconnect(this, &QSystemInterface::treeAboutToChange, systemPanel, nullptr);
        disconnect(systemPanel, nullptr, this, nullptr);
    }
    systemPanel = panel;
    if (!panel)
        return;
    panel->setSystemTree(systemNode);
    panel->setParentWidget(this);
    connect(this, &QSystemInterface::treeAboutToChange, panel, &QSystemInformations::treeAboutToChange,
            Qt::UniqueConnection);
    connect(panel, &QSystemInformations::clickedWidget, this, &QSystemInterface::clickWidget,
            Qt::UniqueConnection);
    if (!isCustomView)
        connect(panel, &QSystemInformations::startLog, this, &QSystemInterface::setIsLogStarted,
                Qt::UniqueConnection);
}

void QSystemInterface::setSystemSubwinWidget(QSubWindow *w)
{
    /* A window handed over within a W38XX group reports to its new
     * interface only. */
    if (subWindow && subWindow != w) {
        disconnect(subWindow, &QSubWindow::cellEditorOpened, this, &QSystemInterface::cellEditorOpened);
        disconnect(subWindow, &QSubWindow::tripDialogOpened, this, &QSystemInterface::tripDialogOpened);
    }
    subWindow = w;
    if (!w)
        return;
    connect(w, &QSubWindow::cellEditorOpened, this, &QSystemInterface::cellEditorOpened,
            Qt::UniqueConnection);
    connect(w, &QSubWindow::tripDialogOpened, this, &QSystemInterface::tripDialogOpened,
            Qt::UniqueConnection);
}

void QSystemInterface::setSystemBoxWidget(QCustomBox *box)
{
    /* A box handed over within a W38XX group reports to its new interface only. */
    if (systemBox && systemBox != box)
        disconnect(systemBox, nullptr, this, nullptr);
    systemBox = box;
    if (box) {
        box->setParentWidget(this);
        /* Clicks too: a box handed over within a W38XX group keeps bringing
         * its group to the front. */
        connect(box, &QCustomBox::itemClicked, this, &QSystemInterface::clickWidget, Qt::UniqueConnection);
        connect(box, &QCustomBox::clickedDisconnectButton, this, &QSystemInterface::disconnectButtonClick,
                Qt::UniqueConnection);
        connect(box, &QCustomBox::clickedExtraButton, this, &QSystemInterface::extraButtonClick,
                Qt::UniqueConnection);
    }
}

void QSystemInterface::detachForeignBoards()
{
    if (systemType != KORUHV_SYSTYPE_W38XX || !systemNode)
        return;
    const QVector<KORUHVNode *> children = systemNode->getChildren();
    for (int c = children.size() - 1; c >= 0; --c)
        if (children[c] && children[c]->getInitParam() != initParam)
            systemNode->removeChildNode(c);
}

void QSystemInterface::forgetNodesOf(KORUHVNode *board)
{
    if (!board)
        return;
    QVector<KORUHVNode *> kept;
    for (KORUHVNode *n : alarmStatusNodes) {
        bool inside = false;
        for (KORUHVNode *ch : board->getChildren())
            if (ch->getParameters().contains(n))
                inside = true;
        if (!inside)
            kept.append(n);
    }
    alarmStatusNodes = kept;
}

void QSystemInterface::setReady(bool r)
{
    QMutexLocker lock(&readyMutex);
    ready = r;
}

bool QSystemInterface::isReady()
{
    QMutexLocker lock(&readyMutex);
    return ready;
}

void QSystemInterface::clickWidget()
{
    emit clicked(widgetIndex);
}

void QSystemInterface::extraButtonClick(int index)
{
    emit clickedExtraButton(index);
}

void QSystemInterface::disconnectButtonClick(int index)
{
    emit clickedDisconnectButton(index);
}

void QSystemInterface::setIsLogStarted(bool started)
{
    isLogStarted = started;
    if (systemType != KORUHV_SYSTYPE_W38XX || !systemNode)
        return;
    auto *mw = MainWindow::instance();
    if (!mw)
        return;
    const QVector<KORUHVNode *> children = systemNode->getChildren();
    for (int i = 1; i < children.size(); ++i) {
        if (!children[i])
            continue;
        for (QSystemInterface *other : mw->getSysInterfaceVector())
            if (other != this && other->getSysInitParam() == children[i]->getInitParam()) {
                other->setIsLogStarted(started);
                break;
            }
    }
}

/* ---------------------------------------------------------------- threads */

bool QSystemInterface::startEventReader(int socket)
{
    QMutexLocker lock(&threadsMutex);
    if (isDisconnecting.load() || tornDown || readersStopped)
        return false;
    reapEndedReaders();
    auto reader = std::make_unique<EventReader>();
    reader->socket = socket;
    reader->peer = peerText(socket);
    EventReader *r = reader.get();
    /* A further stream while one is live: a reconnecting device, or anyone
     * who can connect from the system's address. A few are let in; past
     * them each would hold a thread and a socket for the system's life. */
    const auto live = std::count_if(readers.begin(), readers.end(), [](const auto &other) {
        return !other->ended && !other->finished.load();
    });
    if (live > KORUHV_MAX_FURTHER_STREAMS) {
        int unsaid = 0;
        if (refusedStreams.due(&unsaid))
            qWarning("LUMO2020: further event stream from %s refused: %s has %d event streams already%s",
                     qPrintable(reader->peer), qPrintable(systemName), static_cast<int>(live),
                     qPrintable(KORUHVNoticeThrottle::unsaidText(unsaid)));
        return false;
    }
    if (live > 0)
        qInfo("LUMO2020: further event stream from %s bound to %s", qPrintable(reader->peer),
              qPrintable(systemName));
    if (socket >= 0)
        sysSocket.store(socket);
    r->thread = std::thread([this, r, socket] {
        KORUHVRunEventReader(this, socket);
        r->finished.store(true);
    });
    r->id = r->thread.get_id();
    netThreadHandle.store(static_cast<unsigned long>(r->thread.native_handle()));
    readers.push_back(std::move(reader));
    ++readersStarted;
    return true;
}

void QSystemInterface::reapEndedReaders()
{
    for (auto it = readers.begin(); it != readers.end();) {
        EventReader *r = it->get();
        if (!r->finished.load()) {
            ++it;
            continue;
        }
        /* Its thread is past its last use of the interface. */
        if (r->thread.joinable())
            r->thread.join();
        if (r->socket >= 0) {
            int expected = r->socket;
            sysSocket.compare_exchange_strong(expected, -1);
            ::close(r->socket);
        }
        it = readers.erase(it);
    }
}

bool QSystemInterface::endEventStream()
{
    QMutexLocker lock(&threadsMutex);
    EventReader *mine = nullptr;
    bool othersLive = false;
    for (const auto &r : readers) {
        if (r->id == std::this_thread::get_id())
            mine = r.get();
        else if (!r->ended && !r->finished.load())
            othersLive = true;
    }
    if (mine)
        mine->ended = true;
    if (othersLive)
        qWarning("LUMO2020: event stream from %s of %s ended; its other event stream goes on",
                 qPrintable(mine ? mine->peer : QStringLiteral("an unknown peer")), qPrintable(systemName));
    return !othersLive;
}

int QSystemInterface::eventReaderCount()
{
    QMutexLocker lock(&threadsMutex);
    return readersStarted;
}

void QSystemInterface::stopEventReaders(bool includeWrapperSockets)
{
    std::vector<EventReader *> toJoin;
    {
        QMutexLocker lock(&threadsMutex);
        readersStopped = true;
        for (auto &r : readers) {
            if (!r->thread.joinable())
                continue;
            if (r->socket >= 0)
                ::shutdown(r->socket, SHUT_RDWR);
            else if (!includeWrapperSockets)
                continue;
            toJoin.push_back(r.get());
        }
    }
    for (EventReader *r : toJoin) {
        QElapsedTimer t;
        t.start();
        while (!r->finished.load() && t.elapsed() < readerJoinWarnMs)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (!r->finished.load())
            qWarning("event reader of %s slow to end", qPrintable(systemName));
        r->thread.join();
    }
}

void QSystemInterface::closeEventSockets()
{
    QMutexLocker lock(&threadsMutex);
    for (auto &r : readers) {
        if (r->thread.joinable())
            continue; /* still running: its socket stays */
        if (r->socket >= 0) {
            ::close(r->socket);
            r->socket = -1;
        }
    }
    sysSocket.store(-1);
}

void QSystemInterface::startLogWriter()
{
    QMutexLocker lock(&threadsMutex);
    if (logWriterStarted || tornDown)
        return;
    logWriterStarted = true;
    logWriter = std::thread([this] { KORUHVLoggerThread(static_cast<KORUHVLogQueue *>(this)); });
}

void QSystemInterface::stopLogWriter()
{
    bool join = false;
    {
        QMutexLocker lock(&threadsMutex);
        join = logWriter.joinable();
    }
    KORUHVStopLogWriter(this);
    if (!join)
        return;
    /* The wait is bounded: a backlog or a write blocked on a hung file
     * system must not hold the operator. Past a second the operator sees
     * how far the writer got; the window's own events are kept out meanwhile.
     * While the window is being destroyed nothing is shown. */
    MainWindowServices *services = getMainWindow();
    QWidget *window = services ? services->mainWindowWidget() : nullptr;
    const bool show = window && QThread::currentThread() == qApp->thread();
    std::unique_ptr<QProgressDialog> progress;
    QElapsedTimer waited;
    waited.start();
    const auto tick = [&](long long done, long long total) {
        if (!show)
            return;
        if (!progress && waited.elapsed() >= 1000) {
            progress = std::make_unique<QProgressDialog>(
                QStringLiteral("Writing the change log of %0..").arg(systemName), QString(), 0, 100, window);
            progress->setObjectName(QStringLiteral("logWriterProgress"));
            progress->setWindowModality(Qt::WindowModal);
            progress->setMinimumDuration(0);
            progress->show();
        }
        if (progress) {
            /* Percent: line counts pass an int's range. */
            progress->setValue(total > 0 ? int(std::min<long long>(100, done * 100 / total)) : 0);
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        }
    };
    if (KORUHVAwaitLogWriter(this, KORUHVLogWriterStopBound(), tick))
        logWriter.join();
    else
        logWriter.detach(); /* it owns what it still uses and ends by itself */
}

void QSystemInterface::releaseTreeUsers()
{
    if (systemNode)
        announceTreeChange(KORUHVTreeChange::WholeTree);
}

void QSystemInterface::teardown(bool unsubscribe)
{
    {
        QMutexLocker lock(&threadsMutex);
        if (tornDown)
            return;
    }
    releaseTreeUsers();
    setIsDisconnecting(true);
    if (unsubscribe && systemHandle >= 0 && systemNode) {
        QVector<QVector<failSubscribeStruct>> failures;
        unsubscribeParameters(&failures, {});
    }
    stopEventReaders(false);
    if (systemHandle >= 0)
        KORUHV_DeinitSystem(systemHandle);
    /* A P8080 reader waits on the wrapper's own socket, which the
     * de-initialisation closes. */
    stopEventReaders(true);
    stopLogWriter();
    closeEventSockets();
    QMutexLocker lock(&threadsMutex);
    tornDown = true;
}

/* ---------------------------------------------------------------- texts */

QString KORUHVSubscrFailFileName(const QString &systemName)
{
    QString safe;
    for (QChar c : systemName) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.category() == QChar::Other_Control)
            safe += QLatin1Char('_');
        else
            safe += c;
    }
    safe.replace(QStringLiteral(".."), QStringLiteral("__"));
    return QStringLiteral("%0_%1.log").arg(QStringLiteral("RORERAVA2020SubscrFail"), safe);
}

QString KORUHVStatusBarConnectionText(int linkType, const QString &init)
{
    switch (linkType) {
    case 3:
        return init.isEmpty() ? QStringLiteral("USB ") : QStringLiteral("USB ") + init.left(1);
    case 4:
        return init.size() > 2 ? QStringLiteral("OPTICAL LINK ") + init.left(3)
                               : QStringLiteral("OPTICAL LINK ");
    case 5: {
        const QStringList parts = init.split(QLatin1Char('_'), Qt::SkipEmptyParts);
        if (parts.size() != 6)
            return QString();
        bool ok = false;
        int stop = parts[3].toInt(&ok);
        if (!ok)
            stop = 0;
        int parity = parts[4].toInt(&ok);
        if (!ok)
            parity = 0;
        static const char *stops[] = {"1", "1.5", "2"};
        static const char *parities[] = {"None", "Even", "Odd", "Mark", "Space"};
        const QString stopText = stop >= 0 && stop < 3 ? QLatin1String(stops[stop]) : QString();
        const QString parityText = parity >= 0 && parity < 5 ? QLatin1String(parities[parity]) : QString();
        return QStringLiteral("COM") + parts[0] + QStringLiteral(", BaudRate: ") + parts[1] +
               QStringLiteral(", Data: ") + parts[2] + QStringLiteral(", Stop: ") + stopText +
               QStringLiteral(", Parity: ") + parityText;
    }
    default:
        return init;
    }
}
