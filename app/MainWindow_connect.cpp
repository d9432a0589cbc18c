/* Connecting and disconnecting systems, the W38XX group rule, and the
 * hand-over of event connections to systems. */
#include "KORUHVGuiPulse.h"
#include "MainWindow.h"

#include "KORUHVNode.h"
#include "KORUHVWorkingFile.h"
#include "MainWindowUi.h"
#include "QBoardInformations.h"
#include "QCollapsibleWidget.h"
#include "QCustomBox.h"
#include "QDisconnectDialog.h"
#include "QSubWindow.h"
#include "QSystemInformations.h"
#include "QSystemStatusBar.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTextBrowser>
#include <QTextStream>

#include <unistd.h>

namespace {

constexpr int maxMainInterfaces = 4;

/* "Unable to connect to %0." and the cause's line. */
void showConnectFailure(const QString &name, int code)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("LUMO2020"),
                    QStringLiteral("Unable to connect to %0.").arg(name) +
                        (code == 4103 ? QStringLiteral("\nIncorrect username or password.")
                                      : QStringLiteral("\nSome errors occourred.")));
    box.exec();
}

/* An interface with panels of its own: a main interface or the custom view.
 * Widget indexes count these, in the order of their rows. */
bool ownsDisplay(const QSystemInterface *s)
{
    return s->getIsMainInterface() || s->getIsCustomView();
}

bool sameBridge(const QString &a, const QString &b)
{
    if (a.isEmpty() || b.isEmpty())
        return false;
    const QStringList pa = a.split(QLatin1Char('_')), pb = b.split(QLatin1Char('_'));
    return pa.size() == 3 && pb.size() == 3 && pa[0] == pb[0] && pa[1] == pb[1];
}

/* A W38XX interface behind the bridge of that address and link. */
bool onBridgeOf(const QSystemInterface *s, const QString &initParam, int linkType)
{
    return s->getSysType() == KORUHV_SYSTYPE_W38XX && s->getSysConnType() == linkType &&
           sameBridge(s->getSysInitParam(), initParam);
}

/* Board indexes of a W38XX group after a board left: an interface's index is
 * the position of its board under the group's node, the number its board
 * name carries (Board00: the main interface). So they stay distinct within
 * the group, and a board that joins later (at the end) takes the next one. */
void numberGroupBoards(const QVector<QSystemInterface *> &systems, QSystemInterface *mainIf)
{
    KORUHVNode *group = mainIf->getSystemNode();
    if (!group)
        return;
    const QVector<KORUHVNode *> boards = group->getChildren();
    for (QSystemInterface *s : systems) {
        if (!onBridgeOf(s, mainIf->getSysInitParam(), mainIf->getSysConnType()) || !s->getSystemNode())
            continue;
        if (s == mainIf) {
            s->setW38xxBoardIndex(0);
            continue;
        }
        /* A board that is leaving is no longer under the group: it keeps its index. */
        const QVector<KORUHVNode *> own = s->getSystemNode()->getChildren();
        const int at = own.isEmpty() ? -1 : int(boards.indexOf(own.first()));
        if (at > 0)
            s->setW38xxBoardIndex(at);
    }
}

} // namespace

void MainWindow::appendInterface(QSystemInterface *sysIf)
{
    {
        QMutexLocker lock(&sysInterfacesMutex);
        sysInterfaces.append(sysIf);
    }
    /* Holders of nodes opened in its windows hear the tree notices. */
    connect(sysIf, &QSystemInterface::cellEditorOpened, this, &MainWindow::watchCellEditor);
    connect(sysIf, &QSystemInterface::tripDialogOpened, this, &MainWindow::watchTripDialog);
}

void MainWindow::removeInterfaceAt(int index)
{
    QMutexLocker lock(&sysInterfacesMutex);
    if (index >= 0 && index < sysInterfaces.size())
        sysInterfaces.remove(index);
}

void MainWindow::markDisconnecting(QSystemInterface *sysIf)
{
    /* Under the vector lock: the event server starts no reader for it after this. */
    QMutexLocker lock(&sysInterfacesMutex);
    sysIf->setIsDisconnecting(true);
}

QSystemInterface *MainWindow::findInterface(QSystemInterface *sysIf, quint64 serial) const
{
    if (!sysIf)
        return nullptr;
    for (QSystemInterface *s : sysInterfaces)
        if (s == sysIf && (serial == 0 || s->getSerial() == serial))
            return s;
    return nullptr;
}

bool MainWindow::bindEventConnection(int socket, const QString &ident)
{
    QMutexLocker lock(&sysInterfacesMutex);
    for (QSystemInterface *s : sysInterfaces) {
        if (s->getSysInitParam() != ident || s->getIsDisconnecting())
            continue;
        /* A P8080 reads the wrapper's own event connection instead. */
        if (s->getSysType() == KORUHV_SYSTYPE_P8080)
            return false;
        return s->startEventReader(socket);
    }
    return false;
}

int MainWindow::getW38XXMainInterfaceIndex(QString initParam, int linkType)
{
    for (int i = 0; i < sysInterfaces.size(); ++i) {
        QSystemInterface *s = sysInterfaces[i];
        if (s->getSysType() == KORUHV_SYSTYPE_W38XX && s->getSysConnType() == linkType &&
            sameBridge(s->getSysInitParam(), initParam))
            return i;
    }
    return -1;
}

void MainWindow::connectDialogCallback(int sysType, int linkType, QString initParam, QString name,
                                       QString userOrBoard, QString password)
{
    connectSystem(sysType, linkType, initParam, name, userOrBoard, password);
}

int MainWindow::connectSystem(int sysType, int linkType, QString initParam, QString name, QString userOrBoard,
                              QString password)
{
    connectionCancelled = false;
    const QString label = sysType == KORUHV_SYSTYPE_W38XX ? userOrBoard : name;
    int mainCount = 0;
    for (QSystemInterface *s : sysInterfaces)
        if (s->getIsMainInterface())
            ++mainCount;
    const bool joinsGroup =
        sysType == KORUHV_SYSTYPE_W38XX && getW38XXMainInterfaceIndex(initParam, linkType) >= 0;
    if (mainCount >= maxMainInterfaces && !joinsGroup) {
        /* The "Connect.." action is off at four systems; other callers
         * (saved customizations) are refused here as well. */
        showConnectFailure(label.isEmpty() ? QStringLiteral("System") : label, 1);
        return 1;
    }

    auto *progress = new QProgressDialog(QStringLiteral("Please wait while %0 is fetching data..").arg(label),
                                         QString(), 0, 100, this);
    progress->setWindowModality(Qt::WindowModal);
    progress->setValue(0);
    progress->show();

    if (name.isEmpty())
        name = QStringLiteral("System");
    if (sysType != KORUHV_SYSTYPE_W38XX && !sysInterfaces.isEmpty()) {
        const auto taken = [this](const QString &n) {
            for (QSystemInterface *s : sysInterfaces)
                if (s->getSystemNode() && s->getSystemNode()->getNodeName() == n)
                    return true;
            return false;
        };
        if (taken(name))
            name += QStringLiteral("(1)");
        for (int n = 2; n <= sysInterfaces.size(); ++n)
            if (taken(name))
                name += QStringLiteral("(%1)").arg(n);
    }

    /* The custom view holds a row, a page and a view of its own: it counts. */
    int widgetIndex = 0;
    for (QSystemInterface *s : sysInterfaces)
        if (ownsDisplay(s))
            ++widgetIndex;
    auto *sysIf = new QSystemInterface(sysType, linkType, initParam, name, widgetIndex);
    const quint64 serial = sysIf->getSerial();
    appendInterface(sysIf);

    const auto fail = [&](int code) {
        progress->setValue(100);
        delete progress;
        QCoreApplication::processEvents();
        /* The interface may have been moved by nothing else: look it up again. */
        const int at = sysInterfaces.indexOf(sysIf);
        markDisconnecting(sysIf);
        removeInterfaceAt(at);
        sysIf->teardown(false);
        delete sysIf;
        if (code != -3)
            showConnectFailure(sysType == KORUHV_SYSTYPE_W38XX ? userOrBoard : name, code);
        return 1;
    };

    int rc = sysIf->systemInterfaceCreateSystemTree(progress, userOrBoard, password);
    if (rc == -3)
        return fail(-3);
    if (rc != 0)
        return fail(rc);

    QVector<QVector<failSubscribeStruct>> failures;
    int subscribed;
    {
        KORUHVGuiPulse pulse(progress);
        subscribed = sysIf->subscribeParameters(&failures, {});
    }
    if (subscribed != 0)
        return fail(1); /* teardown closes the handle */
    progress->setValue(96);

    const int m = sysType == KORUHV_SYSTYPE_W38XX ? getW38XXMainInterfaceIndex(initParam, linkType) : -1;
    const int own = sysInterfaces.indexOf(sysIf);
    if (sysType != KORUHV_SYSTYPE_W38XX || m < 0 || m == own) {
        {
            /* A full crate's panels, table, page and their first showing
             * take 100 ms and more: the GUI thread answers between them. */
            KORUHVGuiPulse pulse(progress);
            sysIf->addSystemInterfaceWidgetToParents(systemsWidget, ui->viewsArea, ui->stackedWidgetRight);
            sysIf->createStatusBarInformations();
            sysIf->setW38xxBoardIndex(0);
            ui->stackedWidgetRight->setCurrentIndex(sysIf->getWidgetIndex());
            if (sysIf->getWidgetIndex() == 0)
                setDockLayoutFromOutside(true);
            connect(sysIf, &QSystemInterface::clickedExtraButton, this,
                    &MainWindow::createConfigureTableDialog);
            connect(sysIf, &QSystemInterface::clickedDisconnectButton, this,
                    &MainWindow::disconnectFromSystem);
            KORUHVGuiPulse::beat();
            openSystemWidget(sysIf);
        }
        connect(sysIf, &QSystemInterface::clicked, this, &MainWindow::setCurrentSubWindowIndex);
        progress->setValue(98);
        /* The custom view's headers are built again and its choices applied
         * again; the new system does not join it. */
        if (QSystemInterface *cv = sysInterfaces.value(hasCustomView()))
            if (QSubWindow *w = cv->getSystemSubwinWidget()) {
                w->refreshTableHeaders();
                if (w->isCustomMode())
                    w->setCustomViewTableMode();
            }
        progress->setValue(99);
        if (failures.size() == 3)
            createSubscribeFailedMessageBox(sysIf->getSystemHandle(), failures[0], failures[1], failures[2]);
        progress->setValue(100);
        delete progress;
        setSystemActionsEnabled(true);
        ui->menuPanels->setEnabled(true);
    } else {
        /* A further board of the bridge of interface m. */
        QSystemInterface *mainIf = sysInterfaces[m];
        KORUHVNode *group = mainIf->getSystemNode();
        int k = 0;
        for (QSystemInterface *s : sysInterfaces)
            if (s->getSysType() == KORUHV_SYSTYPE_W38XX && s != sysIf &&
                sameBridge(s->getSysInitParam(), initParam) && s->getSysConnType() == linkType)
                ++k;
        k = group ? group->getChildren().size() : 0;
        const QVector<KORUHVNode *> boards = sysIf->getSystemNode()->getChildren();
        for (int i = 0; i < boards.size(); ++i) {
            updateBoardName(boards[i], k + i);
            if (group)
                group->addChildNode(boards[i]);
        }
        /* Board index within the group (the number of boards before it). */
        sysIf->setW38xxBoardIndex(k > 0 ? k : 1);
        mainIf->addBoardToSystemInterfaceWidget(ui->stackedWidgetRight);
        connect(sysIf, &QSystemInterface::clickedExtraButton, this, &MainWindow::createConfigureTableDialog);
        connect(sysIf, &QSystemInterface::clickedDisconnectButton, this, &MainWindow::disconnectFromSystem);
        connect(sysIf, &QSystemInterface::clicked, this, &MainWindow::setCurrentSubWindowIndex);
        sysIf->setWidgetIndex(mainIf->getWidgetIndex());
        setCurrentSubWindowIndex(mainIf->getWidgetIndex());
        progress->setValue(100);
        delete progress;
        if (failures.size() == 3)
            createSubscribeFailedMessageBox(sysIf->getSystemHandle(), failures[0], failures[1], failures[2]);
    }

    /* A modal box above may have let the interface go: look it up again. */
    if (!findInterface(sysIf, serial))
        return 1;
    sysIf->setReady(true);
    if (sysType == KORUHV_SYSTYPE_P8080)
        sysIf->startEventReader(-1);
    int mains = 0;
    for (QSystemInterface *s : sysInterfaces)
        if (s->getIsMainInterface())
            ++mains;
    if (mains >= maxMainInterfaces)
        ui->menuConnect->setEnabled(false);
    return 0;
}

void MainWindow::createSubscribeFailedMessageBox(int handle, QVector<failSubscribeStruct> system,
                                                 QVector<failSubscribeStruct> boards,
                                                 QVector<failSubscribeStruct> channels)
{
    QSystemInterface *sysIf = nullptr;
    for (QSystemInterface *s : sysInterfaces)
        if (s->getSystemHandle() == handle)
            sysIf = s;
    if (!sysIf || (system.isEmpty() && boards.isEmpty() && channels.isEmpty()))
        return;
    /* The working folder may be writable by others: the log replaces
     * whatever is at its name and is never written through a link. */
    const QString path = sysIf->getFilenameForSubscrFail();
    QString text = QStringLiteral("List of unsubscribed parameters:\n\n"
                                  "SYSTEM\t|\tBOARD\t|\tCHANNEL\t|\tPARAMETER\n\n");
    if (!sysIf->getSystemNode()) {
        KORUHVReplaceFile(path, text.toUtf8());
        return;
    }
    const QString sysName = sysIf->getSystemNode()->getNodeName();
    const QString line = QStringLiteral("%0\t|\t%1\t|\t%2\t|\t%3\n");
    for (const auto &f : system)
        text += line.arg(sysName, QStringLiteral("     "), QStringLiteral("       "), f.name);
    for (const auto &f : boards)
        text += line.arg(sysName, QString::number(f.slot), QStringLiteral("       "), f.name);
    for (const auto &f : channels)
        text += line.arg(sysName, QString::number(f.slot), QString::number(f.channel), f.name);
    text += QStringLiteral("\n") + QString(87, QLatin1Char('-')) + QStringLiteral("\n\n");
    KORUHVReplaceFile(path, text.toUtf8());
    QMessageBox box(
        QMessageBox::Warning, QStringLiteral("LUMO2020"),
        QStringLiteral("There have been some troubles in communication.\nSome items will not be updated\n"));
    box.setInformativeText(QStringLiteral("Please check if your firewall is\nblocking inbound "
                                          "connections.\nClick Details button to view logfile.\n"));
    QPushButton *details = box.addButton(QStringLiteral("Details.."), QMessageBox::AcceptRole);
    box.addButton(QStringLiteral("Ok"), QMessageBox::RejectRole);
    box.exec();
    if (box.clickedButton() == details) {
        auto *browser = new QTextBrowser;
        browser->setAttribute(Qt::WA_DeleteOnClose);
        browser->setWindowFlags(Qt::Window | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                                Qt::WindowCloseButtonHint);
        browser->setMinimumWidth(800);
        browser->setFont(QFont(QStringLiteral("Courier")));
        QByteArray written = KORUHVReadFileNoFollow(path);
        const int nul = written.indexOf('\0');
        if (nul >= 0)
            written.truncate(nul);
        browser->setPlainText(QString::fromLocal8Bit(written));
        browser->show();
    }
}

void MainWindow::updateBoardName(KORUHVNode *board, int slot)
{
    if (!board)
        return;
    const QString name = QStringLiteral("Board%1").arg(slot, 2, 10, QLatin1Char('0'));
    board->setNodeName(name);
    board->updateBdNameForAllChildren(name);
}

void MainWindow::deleteBoardInformations(int index)
{
    if (index >= 0 && index < ui->stackedWidgetRight->count()) {
        QWidget *page = ui->stackedWidgetRight->widget(index);
        ui->stackedWidgetRight->removeWidget(page);
    }
}

void MainWindow::deleteSystemInterfaceWidget(int sysIndex)
{
    if (sysIndex < 0 || sysIndex >= sysInterfaces.size())
        return;
    QSystemInterface *sysIf = sysInterfaces[sysIndex];
    if (QBoardInformations *b = sysIf->getBoardInfoWidget())
        if (b->getInternalWidget())
            ui->stackedWidgetRight->removeWidget(b->getInternalWidget());
    /* The row is the one that shows this interface's box. */
    for (int row = 0; sysIf->getSystemBoxWidget() && row < systemsWidget->topLevelItemCount(); ++row) {
        QTreeWidgetItem *item = systemsWidget->topLevelItem(row);
        if (systemsWidget->itemWidget(item, 0) != sysIf->getSystemBoxWidget())
            continue;
        /* The view lets go of the widgets of removed rows only, not of
         * their children's: the panel's row goes first. */
        while (item->childCount() > 0)
            delete item->takeChild(0);
        delete systemsWidget->takeTopLevelItem(row);
        break;
    }
    /* Panel and box go with the interface (the item only displayed them). */
    markDisconnecting(sysIf);
    sysIf->teardown(false);
    removeInterfaceAt(sysInterfaces.indexOf(sysIf));
    delete sysIf;
    renumberWidgetIndexes();
}

void MainWindow::renumberWidgetIndexes()
{
    /* The k-th row of the SYSTEM list gives its owner (a main interface or
     * the custom view) the widget index k; the row order is that of the
     * views and board pages too. */
    for (int row = 0; row < systemsWidget->topLevelItemCount(); ++row) {
        QWidget *header = systemsWidget->itemWidget(systemsWidget->topLevelItem(row), 0);
        for (QSystemInterface *s : sysInterfaces)
            if (header && ownsDisplay(s) && s->getSystemBoxWidget() == header)
                s->setWidgetIndex(row);
    }
    for (QSystemInterface *s : sysInterfaces)
        if (s->getSysType() == KORUHV_SYSTYPE_W38XX && !s->getIsMainInterface()) {
            const int m = getW38XXMainInterfaceIndex(s->getSysInitParam(), s->getSysConnType());
            if (m >= 0)
                s->setWidgetIndex(sysInterfaces[m]->getWidgetIndex());
        }
}

void MainWindow::disconnectFromSystem(int sysIndex)
{
    /* The box names its own system by widget index: find that system. */
    int at = -1;
    if (QObject *s = sender(); s && qobject_cast<QSystemInterface *>(s))
        at = sysInterfaces.indexOf(static_cast<QSystemInterface *>(s));
    if (at < 0)
        at = sysIndex;
    if (at < 0 || at >= sysInterfaces.size())
        return;
    closeChildDialogs();
    QSystemInterface *sysIf = sysInterfaces[at];
    KORUHVNode *node = sysIf->getSystemNode();
    if (!node)
        return;
    const connStatus status = node->getConnectionStatus();
    const QString buttonText =
        sysIf->getSystemBoxWidget() ? sysIf->getSystemBoxWidget()->getDisconnectButtonText() : QString();
    const bool lost = status == CONN_KO || buttonText == QLatin1String("Close");
    if (sysIf->getSysType() == KORUHV_SYSTYPE_W38XX && node->getChildren().size() > 1 && !lost) {
        auto *dialog = new QDisconnectDialog(this);
        dialog->show();
        return;
    }
    const int widgetIndex = sysIf->getWidgetIndex();
    QProgressDialog *progress = nullptr;
    if (node->getNodeType() == NODE_SYSTEM) {
        if (!lost) {
            progress = new QProgressDialog(QStringLiteral("Disconnecting from %0..").arg(node->getNodeName()),
                                           QString(), 0, 100, this);
            progress->setWindowModality(Qt::WindowModal);
            progress->setValue(0);
        }
        markDisconnecting(sysIf);
        if (progress)
            progress->setValue(10);
        sysIf->teardown(!lost);
        if (progress)
            progress->setValue(50);
        removeNodesFromGroups(sysIf->getSystemHandle());
        removeSystemFromCustomView(at);
        if (progress)
            progress->setValue(70);
        ui->menuConnect->setEnabled(true);
    }
    QCoreApplication::processEvents();
    at = sysInterfaces.indexOf(sysIf);
    const QString initParam = sysIf->getSysInitParam();
    const int linkType = sysIf->getSysConnType();
    const int sysType = sysIf->getSysType();
    /* The group's node lists the other boards of its bridge, which go with
     * their own interfaces below; the groups of other bridges stay whole. */
    if (sysType == KORUHV_SYSTYPE_W38XX)
        for (QSystemInterface *s : sysInterfaces)
            if (onBridgeOf(s, initParam, linkType))
                s->detachForeignBoards();
    if (at >= 0)
        deleteSystemInterfaceWidget(at);
    if (sysType == KORUHV_SYSTYPE_W38XX) {
        for (int m = getW38XXMainInterfaceIndex(initParam, linkType); m >= 0;
             m = getW38XXMainInterfaceIndex(initParam, linkType)) {
            QSystemInterface *other = sysInterfaces[m];
            markDisconnecting(other);
            removeInterfaceAt(m);
            other->teardown(false);
            removeNodesFromGroups(other->getSystemHandle());
            delete other; /* its own boards go with it; the group node went first */
        }
    }
    if (progress)
        progress->setValue(80);
    deleteMdiSubWindow(widgetIndex);
    if (sysInterfaces.isEmpty()) {
        if (auto *bar = findChild<QSystemStatusBar *>(QString(), Qt::FindDirectChildrenOnly))
            bar->setParent(nullptr);
        setDockLayoutFromOutside(false);
        setSystemActionsEnabled(false);
        ui->menuWindow->setEnabled(true);
        ui->menuPanels->setEnabled(false);
    }
    if (progress) {
        progress->setValue(100);
        delete progress;
    }
    if (sysInterfaces.isEmpty())
        createDialogForConnection();
}

void MainWindow::disconnectDialogCallback(int sysIndex)
{
    if (sysIndex < 0 || sysIndex >= sysInterfaces.size())
        return;
    QCoreApplication::processEvents();
    QSystemInterface *sysIf = sysInterfaces.value(sysIndex);
    if (!sysIf)
        return;
    sysIndex = sysInterfaces.indexOf(sysIf);
    KORUHVNode *node = sysIf->getSystemNode();
    QProgressDialog *progress = nullptr;
    if (node && node->getNodeType() == NODE_SYSTEM) {
        const bool lost = node->getConnectionStatus() == CONN_KO;
        if (!lost) {
            const QVector<KORUHVNode *> b = node->getChildren();
            const QString label = b.isEmpty() ? node->getNodeName() : b.first()->getSysName();
            progress = new QProgressDialog(QStringLiteral("Disconnecting from %0..").arg(label), QString(), 0,
                                           100, this);
            progress->setWindowModality(Qt::WindowModal);
            progress->setValue(0);
        }
        markDisconnecting(sysIf);
        sysIf->teardown(!lost);
        removeNodesFromGroups(sysIf->getSystemHandle());
        removeSystemFromCustomView(sysIndex);
        if (progress)
            progress->setValue(70);
    }
    QCoreApplication::processEvents();
    sysIndex = sysInterfaces.indexOf(sysIf);
    const int m = getW38XXMainInterfaceIndex(sysIf->getSysInitParam(), sysIf->getSysConnType());
    QSystemInterface *mainIf = m >= 0 ? sysInterfaces[m] : nullptr;
    KORUHVNode *group = mainIf ? mainIf->getSystemNode() : nullptr;
    if (!group || group->getChildren().size() < 2) {
        const int widgetIndex = sysIf->getWidgetIndex();
        deleteSystemInterfaceWidget(sysIndex);
        deleteMdiSubWindow(widgetIndex);
        ui->menuConnect->setEnabled(true);
    } else if (sysIndex != m) {
        /* A further board leaves the group. */
        for (KORUHVNode *b : node->getChildren())
            for (int c = group->getChildren().size() - 1; c >= 0; --c)
                if (group->getChildren()[c] == b)
                    group->removeChildNode(c);
        for (int i = 0; i < group->getChildren().size(); ++i)
            updateBoardName(group->getChildren()[i], i);
        numberGroupBoards(sysInterfaces, mainIf);
        mainIf->updateBoardInformations(ui->stackedWidgetRight);
        mainIf->updateSubWindowLive();
        refreshCustomViewTable();
        removeInterfaceAt(sysIndex);
        delete sysIf;
    } else {
        /* The main interface leaves: its panels pass to the next board. */
        /* Its own board goes with it; the others' stay with their interfaces. */
        sysIf->detachForeignBoards();
        removeInterfaceAt(sysIndex);
        const int n = getW38XXMainInterfaceIndex(sysIf->getSysInitParam(), sysIf->getSysConnType());
        if (n >= 0) {
            QSystemInterface *next = sysInterfaces[n];
            next->setSystemInfoWidget(sysIf->getSystemInfoWidget());
            next->setSystemSubwinWidget(sysIf->getSystemSubwinWidget());
            next->setBoardInfoWidget(sysIf->getBoardInfoWidget());
            next->setSystemBoxWidget(sysIf->getSystemBoxWidget());
            /* The group keeps its connection state and event lights (the
             * bar names the bridge, which all its boards share). */
            if (!next->getSystemStatusBarWidget()) {
                next->setSystemStatusBarWidget(sysIf->getSystemStatusBarWidget());
                sysIf->setSystemStatusBarWidget(nullptr);
            }
            sysIf->setSystemInfoWidget(nullptr);
            sysIf->setSystemSubwinWidget(nullptr);
            sysIf->setBoardInfoWidget(nullptr);
            sysIf->setSystemBoxWidget(nullptr);
            connect(next, &QSystemInterface::clicked, this, &MainWindow::setCurrentSubWindowIndex,
                    Qt::UniqueConnection);
            int k = 0;
            for (QSystemInterface *s : sysInterfaces) {
                if (s->getSysType() != KORUHV_SYSTYPE_W38XX ||
                    s->getSysConnType() != next->getSysConnType() ||
                    !sameBridge(s->getSysInitParam(), next->getSysInitParam()))
                    continue;
                for (KORUHVNode *b : s->getSystemNode()->getChildren()) {
                    if (s != next && next->getSystemNode()->getChildren().contains(b))
                        continue;
                    updateBoardName(b, k++);
                    if (s != next)
                        next->getSystemNode()->addChildNode(b);
                }
            }
            numberGroupBoards(sysInterfaces, next);
            next->setWidgetIndex(sysIf->getWidgetIndex());
            next->updateBoardInformations(ui->stackedWidgetRight);
            next->updateSubWindowLive();
        }
        delete sysIf;
    }
    if (sysInterfaces.isEmpty()) {
        setDockLayoutFromOutside(false);
        setSystemActionsEnabled(false);
        ui->menuPanels->setEnabled(false);
    }
    if (progress) {
        progress->setValue(100);
        delete progress;
    }
}
