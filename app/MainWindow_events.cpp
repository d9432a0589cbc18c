/* Handlers of the event signals, on the GUI thread: value routing, event
 * status, transparent mode, lost systems and live insertion. */
#include "KORUHVGuiPulse.h"
#include "MainWindow.h"

#include "KORUHVConfig.h"
#include "KORUHVLogBuffer.h"
#include "KORUHVNode.h"
#include "KORUHVTreeChange.h"
#include "KORUHVUtils.h"
#include "MainWindowUi.h"
#include "QBoardInformations.h"
#include "QCustomBox.h"
#include "QCustomTableWidgetDelegate.h"
#include "QSubWindow.h"
#include "QSystemInformations.h"
#include "QSystemStatusBar.h"
#include "QTripHandlingDialog.h"

#include <QAction>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

QSystemInterface *MainWindow::displayInterfaceOf(QSystemInterface *sysIf)
{
    if (sysIf->getSysType() != KORUHV_SYSTYPE_W38XX)
        return sysIf;
    const QString init = sysIf->getSysInitParam();
    if (init.size() < 3)
        return nullptr;
    /* The group's main interface shows every board of the bridge. */
    const int m = getW38XXMainInterfaceIndex(init, sysIf->getSysConnType());
    return m >= 0 ? sysInterfaces[m] : nullptr;
}

void MainWindow::handleTcpServerError()
{
    QMessageBox box(
        QMessageBox::Warning, QStringLiteral("LUMO2020"),
        QStringLiteral(
            "Unable to start tcp server. Please check\nyour network connection, than restart application."));
    box.exec();
    ui->menuConnect->setEnabled(false);
    const QList<QAction *> entries = ui->menuBar->actions();
    if (entries.size() > 2) {
        entries[1]->setEnabled(false);
        entries[2]->setEnabled(false);
    }
    close();
}

void MainWindow::handleConnectionStatusChanged(QSystemInterface *sysIf, int rate)
{
    sysIf = findInterface(sysIf);
    if (sysIf && sysIf->getSystemNode())
        sysIf->getSystemNode()->setConnectionStatus(rate ? CONN_OK : CONN_KO);
}

void MainWindow::handleSystemDisconnected(QSystemInterface *sysIf, int, quint64 serial)
{
    Q_EMIT systemConnectionLost();
    sysIf = findInterface(sysIf, serial);
    if (!sysIf || !sysIf->getSystemNode() || sysIf->getIsDisconnecting())
        return;
    sysIf->getSystemNode()->setConnectionStatus(CONN_KO);
    QString name = sysIf->getSystemNode()->getNodeName();
    if (sysIf->getSysType() == KORUHV_SYSTYPE_W38XX)
        name += QStringLiteral(" on KORU HV VME Crate");
    QMessageBox box(
        QMessageBox::Warning, QStringLiteral("LUMO2020"),
        QStringLiteral("%0 is no longer connected.\nPlease check your network and try to reconnect.")
            .arg(name));
    box.exec();
    /* The box ran an event loop: the interface may be gone by now. */
    sysIf = findInterface(sysIf, serial);
    if (!sysIf)
        return;
    QSystemInterface *shown = displayInterfaceOf(sysIf);
    if (!shown)
        return;
    if (QSubWindow *w = shown->getSystemSubwinWidget()) {
        w->clearTableWidgetSelection();
        w->setEnabled(false);
    }
    if (QSystemInformations *p = shown->getSystemInfoWidget())
        p->setEnabled(false);
    if (QBoardInformations *b = shown->getBoardInfoWidget())
        if (b->getInternalWidget())
            b->getInternalWidget()->setEnabled(false);
    if (QSystemStatusBar *bar = shown->getSystemStatusBarWidget()) {
        bar->setConnStatLabel(CONN_KO);
        bar->clearAllEvStatus();
    }
    if (QCustomBox *box2 = shown->getSystemBoxWidget())
        box2->setDisconnectButtonText(QStringLiteral("Close"));
}

void MainWindow::handleSystemEvStatus(QSystemInterface *sysIf, KORUHV_SYSTEMSTATUS_t status, quint64 serial)
{
    sysIf = findInterface(sysIf, serial);
    if (!sysIf || !sysIf->getSystemStatusBarWidget())
        return;
    bool sync = false, async = false, unsync = false;
    const auto take = [&](int32_t w) {
        if (w == KORUHV_EVSTATUS_SYNC)
            sync = true;
        else if (w == KORUHV_EVSTATUS_ASYNC)
            async = true;
        else if (w == KORUHV_EVSTATUS_UNSYNC)
            unsync = true;
    };
    take(status.System);
    for (int32_t w : status.Board)
        take(w);
    QSystemStatusBar *bar = sysIf->getSystemStatusBarWidget();
    bar->setEvStatusSync(sync);
    bar->setEvStatusAsync(async);
    bar->setEvStatusUnsync(unsync);
}

void MainWindow::handleTransparentMode(QSystemInterface *sysIf, quint64 serial)
{
    sysIf = findInterface(sysIf, serial);
    if (!sysIf)
        return;
    if (QSubWindow *w = sysIf->getSystemSubwinWidget()) {
        w->clearTableWidgetSelection();
        w->setEnabled(false);
    }
    if (QSystemStatusBar *bar = sysIf->getSystemStatusBarWidget())
        bar->setConnStatLabel(CONN_TRANSPARENT);
}

void MainWindow::handleUpdateValueAndWidget(QSystemInterface *sysIf, int bdIndex, int chIndex,
                                            QString itmName, IDValue_t val, bool isFirstEv, bool isLastEv,
                                            quint64 serial)
{
    sysIf = findInterface(sysIf, serial);
    if (!sysIf || !sysIf->getSystemNode())
        return;
    QVariant previous;
    KORUHVNode *node = sysIf->applyEventValue(bdIndex, chIndex, itmName, val, &previous);
    if (!node)
        return;
    sysIf->queueChangeLogLine(node, previous, bdIndex, chIndex, itmName, isFirstEv, isLastEv);
    showEventValue(sysIf, node, chIndex);
    if (node->getNodeName() == QLatin1String("Sessions")) {
        auto *frame = new QFrame(this, Qt::Popup);
        frame->setAttribute(Qt::WA_DeleteOnClose);
        frame->setStyleSheet(QStringLiteral("border: 1px solid black"));
        auto *layout = new QVBoxLayout(frame);
        auto *label = new QLabel(QStringLiteral("Someone has connected to\n(disconnected from)\n %0")
                                     .arg(sysIf->getSysInitParam()),
                                 frame);
        QFont f = label->font();
        f.setPointSize(7);
        label->setFont(f);
        label->setStyleSheet(QStringLiteral("border: none"));
        label->setObjectName(QStringLiteral("sessionNotice"));
        layout->addWidget(label);
        frame->setGeometry(width() - 200, height() - 50, 0, 0);
        frame->show();
        QTimer::singleShot(5000, frame, &QWidget::close);
    }
}

void MainWindow::showEventValue(QSystemInterface *sysIf, KORUHVNode *node, int chIndex)
{
    QSystemInterface *shown = displayInterfaceOf(sysIf);
    if (QSystemInterface::isChannelStatus(node) && shown && shown->getSystemSubwinWidget()) {
        const bool ok = KORUHVUtils::KORUHVCheckChStatusValue(node->getSystemType(),
                                                              node->getNodeValue().KORUHVGetValue().toInt());
        shown->showChannelStatus(node, ok);
        /* The custom view shows the same row (the walk ends at one without
         * a table). */
        for (QSystemInterface *s : sysInterfaces)
            if (s->getIsCustomView() && !s->showChannelStatus(node, ok))
                break;
    }
    if (chIndex >= 0)
        return;
    if (shown)
        shown->updateValueForNodeInWidget(node);
    if (node->getNodeType() == NODE_BOARD_PARAM)
        for (QSystemInterface *s : sysInterfaces)
            if (s->getIsCustomView()) {
                s->updateValueForNodeInWidget(node);
                break;
            }
}

void MainWindow::handleEventLiveInsertion(QSystemInterface *sysIf, bool isFirstEv, bool isLastEv,
                                          quint64 serial)
{
    sysIf = findInterface(sysIf, serial);
    if (!sysIf)
        return;
    /* The rebuild may take boards away: the system's open editors close
     * first, without writing, and an open trip editor closes. */
    sysIf->announceTreeChange(KORUHVTreeChange::SomeSlots);
    /* The rebuild processes events: a record for the same system arriving
     * meanwhile runs once it is done. */
    const quint64 key = sysIf->getSerial();
    if (liveRebuilding.contains(key)) {
        liveAgain.insert(key);
        return;
    }
    liveRebuilding.insert(key);
    /* Run from a connection's progress dialog, this rebuild lets no events
     * in halfway: its tables and pages are reachable while they rebuild. */
    KORUHVGuiPulse quiet(nullptr);
    runLiveInsertion(sysIf, isFirstEv, isLastEv);
    while (findInterface(sysIf, key) && liveAgain.remove(key))
        runLiveInsertion(sysIf, false, true);
    liveRebuilding.remove(key);
    liveAgain.remove(key);
}

void MainWindow::runLiveInsertion(QSystemInterface *sysIf, bool isFirstEv, bool isLastEv)
{
    const quint64 key = sysIf->getSerial();
    if (QSubWindow *w = sysIf->getSystemSubwinWidget())
        w->setEnabled(true);
    if (QSystemStatusBar *bar = sysIf->getSystemStatusBarWidget())
        bar->setConnStatLabel(CONN_OK);
    KORUHVNode *sysNode = sysIf->getSystemNode();
    if (!sysNode)
        return;
    if (sysIf->getIsLogStarted()) {
        auto *event = new KORUHVLogEvent;
        KORUHVQueueLogEvent(sysIf, event, isFirstEv, sysNode->getSystemType(), sysNode->getNodeName());
    }
    if (isLastEv)
        KORUHVWakeLogWriter(sysIf);
    const QVector<int> addedSlots =
        sysIf->updateTreeAndBoardInformationsAfterLiveInsertion(ui->stackedWidgetRight);
    if (!findInterface(sysIf, key))
        return;
    for (QSystemInterface *s : sysInterfaces)
        if (s->getIsCustomView()) {
            s->updateBoardInformations(ui->stackedWidgetRight);
            s->updateSubWindowLive();
        }
    sysNode = sysIf->getSystemNode();
    if (!sysNode)
        return;
    QVector<KORUHVNode *> boards;
    const QVector<KORUHVNode *> children = sysNode->getChildren();
    for (int slot : addedSlots)
        if (slot < children.size())
            boards.append(children[slot]);
    if (boards.isEmpty())
        return;
    QVector<QVector<failSubscribeStruct>> failures;
    sysIf->subscribeParameters(&failures, boards);
    if (failures.size() == 3)
        createSubscribeFailedMessageBox(sysIf->getSystemHandle(), failures[0], failures[1], failures[2]);
}

void MainWindow::watchCellEditor(KORUHVWidgetItem *editor)
{
    const KORUHVNode *node = editor ? editor->getReferenceNode() : nullptr;
    if (!node)
        return;
    for (QSystemInterface *s : sysInterfaces)
        if (s->getSystemHandle() == node->getSysHandle())
            connect(s, &QSystemInterface::treeAboutToChange, editor,
                    [editor] { KORUHVCloseCellEditor(editor); });
}

void MainWindow::watchTripDialog(QTripHandlingDialog *dialog)
{
    if (!dialog)
        return;
    for (QSystemInterface *s : sysInterfaces)
        connect(s, &QSystemInterface::treeAboutToChange, dialog, &QTripHandlingDialog::treeAboutToChange);
    connect(this, &MainWindow::systemConnectionLost, dialog, &QWidget::close);
}

void MainWindow::onBoardRemoved(int handle, unsigned short slot, KORUHVNode *oldNode)
{
    /* Open editors of the system forget their nodes before the board goes. */
    for (QSystemInterface *s : sysInterfaces)
        if (s->getSystemHandle() == handle)
            s->announceTreeChange(slot);
    if (oldNode && oldNode->getNodeType() == NODE_BOARD)
        removeBoardFromGroups(handle, slot);
    else if (oldNode)
        /* An empty slot fills: dialogs listing the whole tree close; a
         * group's value dialog stays, none of its members is there. */
        customizations->closeDialogsUsing(handle, slot);
    for (QSystemInterface *s : sysInterfaces)
        if (s->getSystemHandle() == handle)
            s->forgetNodesOf(oldNode);
}
