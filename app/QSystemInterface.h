/* The controller of one connected system: wrapper handle, node tree,
 * subscriptions, the widgets that show the system, the flags the event path
 * reads, its event readers and its change-log queue and writer.
 *
 * Threads: everything runs on the GUI thread except the event readers and the
 * change-log writer, which this object owns; stopEventReaders() and
 * stopLogWriter() join them. The event server starts readers through
 * startEventReader() while holding the main window's vector lock. */
#ifndef QSYSTEMINTERFACE_H
#define QSYSTEMINTERFACE_H

#include "KORUHVLoggerThread.h"
#include "KORUHVNoticeThrottle.h"
#include "KORUHVWidgetItem.h"
#include "KORUHVWrapper.h"
#include "QSystemInformations.h"
#include "QTripHandlingDialog.h"

#include <QMutex>
#include <QVariant>
#include <QVector>
#include <QWidget>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

class KORUHVNode;
class QBoardInformations;
class QCollapsibleWidget;
class QCustomBox;
class QProgressDialog;
class QSubWindow;
class QSystemStatusBar;

struct failSubscribeStruct {
    int slot = -1;
    int channel = -1;
    QString name;
};

class QSystemInterface : public QWidget, public KORUHVLogQueue {
    Q_OBJECT

public:
    QSystemInterface(int sysType, int linkType, QString initParam, QString sysName, int widgetIndex);
    ~QSystemInterface() override;

    int getSystemHandle() const { return systemHandle; }
    int getSysType() const { return systemType; }
    int getSysConnType() const { return linkType; }
    QString getSysInitParam() const { return initParam; }
    QString getSysName() const { return systemName; }
    KORUHVNode *getSystemNode() const { return systemNode; }
    /* What this system's panel is built from. */
    SystemPanelFacts panelFacts() const { return {systemType, initParam, linkType, systemNode}; }
    void setSystemNode(KORUHVNode *node) { systemNode = node; }
    int getWidgetIndex() const { return widgetIndex; }
    void setWidgetIndex(int index);
    bool getIsCustomView() const { return isCustomView; }
    void setIsCustomView(bool b) { isCustomView = b; }
    QString getFilenameForSubscrFail() const { return subscrFailFile; }
    void setFilenameForSubscrFail(QString name) { subscrFailFile = name; }
    QSystemInformations *getSystemInfoWidget() const { return systemPanel; }
    void setSystemInfoWidget(QSystemInformations *panel);
    QSubWindow *getSystemSubwinWidget() const { return subWindow; }
    void setSystemSubwinWidget(QSubWindow *w);
    QBoardInformations *getBoardInfoWidget() const { return boardPanel; }
    void setBoardInfoWidget(QBoardInformations *b) { boardPanel = b; }
    QSystemStatusBar *getSystemStatusBarWidget() const { return statusBar; }
    /* Hand-over within a W38XX group; the interface owns what it is given. */
    void setSystemStatusBarWidget(QSystemStatusBar *bar) { statusBar = bar; }
    QCustomBox *getSystemBoxWidget() const { return systemBox; }
    void setSystemBoxWidget(QCustomBox *box);
    int getW38xxBoardIndex() const { return w38xxBoardIndex; }
    void setW38xxBoardIndex(int i) { w38xxBoardIndex = i; }
    bool getIsMainInterface() const { return w38xxBoardIndex == 0; }
    bool getIsDisconnecting() const { return isDisconnecting.load(); }
    void setIsDisconnecting(bool b) { isDisconnecting.store(b); }
    unsigned long getNetThreadHandle() const { return netThreadHandle.load(); }
    void setNetThreadHandle(unsigned long h) { netThreadHandle.store(h); }
    int getSysSocket() const { return sysSocket.load(); }
    void setSysSocket(int s) { sysSocket.store(s); }
    bool getIsLogStarted() const { return isLogStarted; }
    QVector<KORUHVNode *> getAlarmStatusNodes() const { return alarmStatusNodes; }
    /* A W38XX group's node also lists the boards of the other interfaces on
     * its bridge; each interface owns only its own boards. Takes the others
     * out of this system node (before either side is deleted). */
    void detachForeignBoards();
    /* Drops every pointer into the subtree of a board that is about to go. */
    void forgetNodesOf(KORUHVNode *board);
    /* Serial number of this interface, unique for the run: queued signals
     * carry it so that a handler never mistakes a new interface at a reused
     * address for the one that raised the signal. */
    quint64 getSerial() const { return serial; }

    /* Ready flag under its mutex: events are dropped while it is false. */
    void setReady(bool ready);
    bool isReady();

    /* Opens the wrapper handle and builds the tree; 0 on success. */
    int systemInterfaceCreateSystemTree(QProgressDialog *progress, QString user, QString password);

    int subscribeForParameters(bool subscribe, QVector<QVector<failSubscribeStruct>> *failures,
                               QVector<KORUHVNode *> boards);
    int subscribeParameters(QVector<QVector<failSubscribeStruct>> *failures, QVector<KORUHVNode *> boards)
    {
        return subscribeForParameters(true, failures, boards);
    }
    int unsubscribeParameters(QVector<QVector<failSubscribeStruct>> *failures, QVector<KORUHVNode *> boards)
    {
        return subscribeForParameters(false, failures, boards);
    }

    /* ---- one value event, step by step (GUI thread) ---- */
    /* Stores the event's value in its parameter's node; null when this tree
     * has no such parameter. previous gets the value the node held. */
    KORUHVNode *applyEventValue(int bdIndex, int chIndex, const QString &itmName, const IDValue_t &val,
                                QVariant *previous);
    /* Queues the value's change-log line when logging (a crate's always, any
     * other family's only on a change) and wakes the writer (a crate's at
     * the batch's last record). */
    void queueChangeLogLine(KORUHVNode *node, const QVariant &previous, int bdIndex, int chIndex,
                            const QString &itmName, bool isFirstEv, bool isLastEv);
    /* A channel parameter holding a channel status word. */
    static bool isChannelStatus(const KORUHVNode *node);
    /* Paints the status's channel row in this interface's table; false when
     * it has no table. */
    bool showChannelStatus(KORUHVNode *status, bool ok);
    /* Shows a board or system parameter's value on this interface's panels. */
    void updateValueForNodeInWidget(KORUHVNode *node);
    QVector<int> updateTreeAndBoardInformationsAfterLiveInsertion(QWidget *stackedWidget);

    void createSystemInformations(QCollapsibleWidget *parent);
    void addSystemInterfaceWidgetToParents(QCollapsibleWidget *systems, QWidget *views, QWidget *boards);
    void addBoardToSystemInterfaceWidget(QWidget *boards);
    void createBoardInformations(QWidget *boards, int position);
    void updateBoardInformations(QWidget *boards);
    QSystemStatusBar *createStatusBarInformations();
    void createSubWindow(QWidget *parent);
    int updateSubWindowLive();

    /* ---- threads ---- */
    /* Starts a reader on an accepted socket (owned from now on); for a P8080
     * (socket -1) the reader asks the wrapper for "EventDataSocket". Refused
     * (false, socket untouched) once the interface is disconnecting, and
     * while the system has KORUHV_MAX_FURTHER_STREAMS live streams beside
     * its first (named in the program's log). Readers that have ended are
     * joined and their sockets closed first. */
    bool startEventReader(int socket);
    /* Number of readers started so far. */
    int eventReaderCount();
    /* Called by a reader whose stream failed: that stream ends. True when
     * it was the system's last live one (the system is lost); otherwise
     * only that stream ends, named in the program's log. */
    bool endEventStream();
    /* Shuts the accepted sockets down and joins their readers; with
     * includeWrapperSockets also joins readers of wrapper-owned sockets
     * (call that after KORUHV_DeinitSystem has woken them). */
    void stopEventReaders(bool includeWrapperSockets);
    /* Starts the change-log writer once (later calls do nothing). */
    void startLogWriter();
    /* Stop request (count -1, wakeAll) and join, waiting at most
     * KORUHVLogWriterStopBound(); past it the writer is left to end by
     * itself and what it had not written is named in the program's log. */
    void stopLogWriter();
    /* Closes the accepted sockets (after their readers were joined). */
    void closeEventSockets();

    /* The whole teardown before deletion: disconnecting flag, unsubscribe
     * (unless lost), readers stopped, wrapper handle closed, writer joined,
     * sockets closed. Safe to call twice. */
    void teardown(bool unsubscribe);
    /* Before the tree goes: treeAboutToChange(WholeTree) is emitted (open
     * cell and trip editors close without writing, dialogs let go).
     * teardown() and the destructor call it. */
    void releaseTreeUsers();
    /* Emits treeAboutToChange(slot): a slot, KORUHVTreeChange::SomeSlots
     * (live insertion) or KORUHVTreeChange::WholeTree (teardown). */
    void announceTreeChange(int slot) { Q_EMIT treeAboutToChange(slot); }

Q_SIGNALS:
    void clicked(int index);
    void clickedExtraButton(int index);
    void clickedDisconnectButton(int index);
    /* Emitted before the tree changes (see announceTreeChange): every editor
     * and dialog holding nodes of this system connects when it opens and
     * lets them go when told. */
    void treeAboutToChange(int slot);
    /* Holders of nodes opened in this interface's table window, passed on
     * so that the owner of the nodes' system connects them. */
    void cellEditorOpened(KORUHVWidgetItem *editor);
    void tripDialogOpened(QTripHandlingDialog *dialog);

public Q_SLOTS:
    void clickWidget();
    void extraButtonClick(int index);
    void disconnectButtonClick(int index);
    void setIsLogStarted(bool started);

private:
    struct EventReader;
    /* Under threadsMutex: joins the readers that have ended, closes their
     * sockets and forgets them. */
    void reapEndedReaders();
    void buildChannelParameters(KORUHVNode *channel, KORUHVNode *board, unsigned short slot, int sysType,
                                bool atConnection);

    QMutex readyMutex;
    bool ready = false;
    QBoardInformations *boardPanel = nullptr;
    QSystemInformations *systemPanel = nullptr;
    QCustomBox *systemBox = nullptr;
    QSubWindow *subWindow = nullptr;
    QSystemStatusBar *statusBar = nullptr;
    int widgetIndex;
    KORUHVNode *systemNode = nullptr;
    int systemHandle = -1;
    int systemType;
    int linkType;
    QString systemName;
    QString initParam;
    bool isCustomView = false;
    QString subscrFailFile;
    std::atomic<bool> isDisconnecting{false};
    QVector<KORUHVNode *> alarmStatusNodes;
    int w38xxBoardIndex = -1;
    std::atomic<unsigned long> netThreadHandle{0};
    std::atomic<int> sysSocket{-1};
    bool isLogStarted = false;

    quint64 serial;
    QMutex threadsMutex;
    std::vector<std::unique_ptr<EventReader>> readers;
    int readersStarted = 0;
    /* Set once stopEventReaders() begins (it joins outside the lock): no
     * reader is started or forgotten after it. */
    bool readersStopped = false;
    KORUHVNoticeThrottle refusedStreams;
    std::thread logWriter;
    bool logWriterStarted = false;
    bool tornDown = false;
};

/* "RORERAVA2020SubscrFail_<name>.log" with '/', '\\', control characters and
 * ".." of the name replaced, so that the file stays in the working folder. */
QString KORUHVSubscrFailFileName(const QString &systemName);
/* The connection text of the status bar for a link type and address. */
QString KORUHVStatusBarConnectionText(int linkType, const QString &initParam);

#endif
