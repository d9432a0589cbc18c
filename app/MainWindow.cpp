#include "MainWindow.h"

#include "KORUHVConfig.h"
#include "KORUHVEventServer.h"
#include "KORUHVEventSink.h"
#include "KORUHVLogAppender.h"
#include "KORUHVNode.h"
#include "MainWindowUi.h"
#include "QAboutDialog.h"
#include "QCollapsibleWidget.h"
#include "QConnectDialog.h"
#include "QSubWindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDialog>
#include <QDockWidget>
#include <QHBoxLayout>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QStackedWidget>
#include <QToolBar>
#include <QUrl>

namespace {
const char *whiteIcons[] = {
    ":/Resources/Elementi/icona-2-bianca.png", ":/Resources/Elementi/icona-1-bianca.png",
    ":/Resources/Elementi/icona-3-bianca.png", ":/Resources/Elementi/icona-4-bianca.png",
    ":/Resources/Elementi/icona-5-bianca.png"};
const char *greenIcons[] = {
    ":/Resources/Elementi/icona-2-verde.png", ":/Resources/Elementi/icona-1-verde.png",
    ":/Resources/Elementi/icona-3-verde.png", ":/Resources/Elementi/icona-4-verde.png",
    ":/Resources/Elementi/icona-5-verde.png"};
} // namespace

MainWindow *MainWindow::instance()
{
    return dynamic_cast<MainWindow *>(getMainWindow());
}

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent), ui(new Ui_MainWindow)
{
    ui->setupUi(this);
    /* Before any connection below: the group and settings entries reach it. */
    customizations = std::make_unique<KORUHVCustomizations>(this, ui->menuViewGroups);
    QPalette pal = palette();
    const QPixmap background = QPixmap(QStringLiteral(":/Resources/Elementi/Lumo_only_trasparent.png"))
                                   .scaled(size(), Qt::IgnoreAspectRatio);
    if (!background.isNull()) {
        pal.setBrush(QPalette::All, QPalette::Window, QBrush(background));
        setPalette(pal);
    }
    setWindowTitle(QStringLiteral("LUMO2020"));
    setContextMenuPolicy(Qt::NoContextMenu);
    ui->viewsArea->setContextMenuPolicy(Qt::NoContextMenu);
    ui->dockLeft->setWindowTitle(QStringLiteral("SYSTEM"));
    QCoreApplication::setOrganizationName(QStringLiteral("KORU"));
    QCoreApplication::setApplicationName(QStringLiteral("LUMO2020"));
    setWindowState(Qt::WindowMaximized);

    qRegisterMetaType<IDValue_t>("IDValue_t");
    qRegisterMetaType<KORUHV_SYSTEMSTATUS_t>("KORUHV_SYSTEMSTATUS_t");
    /* A queued signal rather than a functor posted from the reader: the call
     * object is made here, on the GUI thread, and read only here. */
    connect(this, &MainWindow::eventBatchesWaiting, this, &MainWindow::drainEventBatches,
            Qt::QueuedConnection);
    connect(this, &MainWindow::updateValueAndWidget, this, &MainWindow::handleUpdateValueAndWidget);
    connect(this, &MainWindow::liveInsertion, this, &MainWindow::handleEventLiveInsertion);
    connect(this, &MainWindow::TransparentMode, this, &MainWindow::handleTransparentMode);
    connect(this, &MainWindow::systemDisconnected, this, &MainWindow::handleSystemDisconnected);
    connect(this, &MainWindow::systemEvStatus, this, &MainWindow::handleSystemEvStatus);

    for (QWidget *w :
         {static_cast<QWidget *>(ui->mainTBar), static_cast<QWidget *>(ui->dockLeft),
          static_cast<QWidget *>(ui->dockRight), static_cast<QWidget *>(ui->menuBar), ui->centralWidget})
        w->setContextMenuPolicy(Qt::CustomContextMenu);
    ui->stackedWidgetRight->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);

    connect(ui->menuTab, &QAction::triggered, this, &MainWindow::tabMdiAreaViews);
    connect(ui->menuTile, &QAction::triggered, this, &MainWindow::tileMdiAreaViews);
    connect(ui->menuFloat, &QAction::triggered, this, &MainWindow::floatMdiAreaViews);
    connect(ui->menuCreateGroup, &QAction::triggered, this, &MainWindow::createDialogForGroupSettings);
    connect(ui->menuCustomView, &QAction::triggered, this, &MainWindow::createDialogForCustomView);
    connect(ui->menuLoad, &QAction::triggered, this, &MainWindow::loadCustomizedViews);
    connect(ui->menuSave, &QAction::triggered, this, &MainWindow::saveCustomizedViews);
    connect(ui->menuConnect, &QAction::triggered, this, &MainWindow::createDialogForConnection);
    connect(ui->menuLogout, &QAction::triggered, this, &MainWindow::createDialogForConnection);
    connect(ui->menuSystems, &QAction::toggled, this, &MainWindow::showDockLeft);
    connect(ui->menuBoards, &QAction::toggled, this, &MainWindow::showDockRight);
    connect(ui->menuLockPanels, &QAction::toggled, this, &MainWindow::lockPanels);
    connect(ui->menuManual, &QAction::triggered, this, &MainWindow::showUserManual);
    connect(ui->menuAbout, &QAction::triggered, this, &MainWindow::showAboutDialog);
    connect(ui->viewsArea, &QMdiArea::subWindowActivated, this, &MainWindow::setCurrentWidgetIndex);

    createToolBarButtons();
    setSystemActionsEnabled(false);
    ui->menuPanels->setEnabled(false);

    systemsWidget = new QCollapsibleWidget(ui->dockLeft);
    ui->dockLeft->setWidget(systemsWidget);

    ui->menuTab->setChecked(true);
    if (ui->menuTab->isChecked())
        tabMdiAreaViews();
    else if (ui->menuTile->isChecked())
        tileMdiAreaViews();
    else
        floatMdiAreaViews();
    connect(this, &MainWindow::tcpServerError, this, &MainWindow::handleTcpServerError);
    restoreWindowState();
    ui->menuLogout->setVisible(false);
    ui->menuInfo->menuAction()->setVisible(false);
    ui->menuFlag->menuAction()->setVisible(false);
    ui->menuSignals->menuAction()->setVisible(false);

    /* A board that leaves its slot takes every pointer into it along. */
    KORUHVConfig::KORUHVConfigSetBoardRemovalHandler(
        [this](int handle, unsigned short slot, KORUHVNode *oldNode) {
            onBoardRemoved(handle, slot, oldNode);
        });
    /* A change-log writer that cannot write says so once per episode, queued. */
    connect(KORUHVLogTrouble::instance(), &KORUHVLogTrouble::logWriteFailed, this,
            &MainWindow::handleLogWriteFailed);
    setMainWindow(this);
    KORUHVSetEventSink(this);
}

MainWindow::~MainWindow()
{
    /* Destroying a shown window hides its docks and sub-windows, whose
     * signals would otherwise reach this window after its destructor ran. */
    for (QObject *source : {static_cast<QObject *>(ui->viewsArea), static_cast<QObject *>(ui->dockLeft),
                            static_cast<QObject *>(ui->dockRight)})
        disconnect(source, nullptr, this, nullptr);
    /* Threads find no window from now on; the server binds under the vector
     * lock, which the shut-down below takes as well. */
    if (getMainWindow() == this)
        setMainWindow(nullptr);
    if (KORUHVGetEventSink() == this)
        KORUHVSetEventSink(nullptr);
    KORUHVConfig::KORUHVConfigSetBoardRemovalHandler({});
    shutDownAllSystems();
    /* Its dialogs and groups point into trees that are gone now. */
    customizations.reset();
    /* Docks hidden while the base class deletes them must not call back into
     * this half-destroyed window (a shown window's docks do). */
    const QList<QDockWidget *> docks = findChildren<QDockWidget *>();
    for (QDockWidget *dock : docks)
        dock->disconnect(this);
    /* Queued deliveries for this window are dropped with it. */
    delete ui;
}

void MainWindow::setSystemActionsEnabled(bool enabled)
{
    ui->menuCustomView->setEnabled(enabled);
    ui->menuCreateGroup->setEnabled(enabled);
    ui->menuTab->setEnabled(enabled);
    ui->menuTile->setEnabled(enabled);
    ui->menuFloat->setEnabled(enabled);
    ui->menuSave->setEnabled(enabled);
    tbLock.setEnabled(enabled);
}

void MainWindow::createToolBarButtons()
{
    auto *logo = new QWidget;
    auto *layout = new QHBoxLayout(logo);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *label = new QLabel;
    label->setPixmap(QPixmap(QStringLiteral(":/Resources/Elementi/logo_head.png")));
    layout->addWidget(label);
    layout->addStretch();
    ui->mainTBar->addWidget(logo);
    QToolButton *buttons[] = {&tbNone, &tbAll, &tbSys, &tbBrd, &tbLock};
    for (QToolButton *b : buttons) {
        b->setCheckable(true);
        b->setStyleSheet(QStringLiteral("padding-top:30px;"));
        ui->mainTBar->addWidget(b);
    }
    tbNone.setObjectName(QStringLiteral("tbNone"));
    tbAll.setObjectName(QStringLiteral("tbAll"));
    tbSys.setObjectName(QStringLiteral("tbSys"));
    tbBrd.setObjectName(QStringLiteral("tbBrd"));
    tbLock.setObjectName(QStringLiteral("tbLock"));
    for (int i = 0; i < 5; ++i)
        toolButton(i)->setIcon(QIcon(QLatin1String(whiteIcons[i])));
    ui->mainTBar->addWidget(new QToolButton);
    connect(&tbNone, &QToolButton::clicked, this, &MainWindow::tbarNoneClicked);
    connect(&tbAll, &QToolButton::clicked, this, &MainWindow::tbarAllClicked);
    connect(&tbSys, &QToolButton::clicked, this, &MainWindow::tbarSysClicked);
    connect(&tbBrd, &QToolButton::clicked, this, &MainWindow::tbarBrdClicked);
    connect(&tbLock, &QToolButton::clicked, this, &MainWindow::tbarLockClicked);
}

void MainWindow::restoreWindowState()
{
    tbNone.setChecked(true);
    tbLock.setChecked(true);
    ui->menuLockPanels->setChecked(true);
    ui->menuSystems->setChecked(false);
    ui->menuBoards->setChecked(false);
    showDockLeft();
    showDockRight();
    lockPanels();
    for (int i = 0; i < 4; ++i)
        if (toolButton(i)->isChecked()) {
            toolButton(i)->setIcon(QIcon(QLatin1String(greenIcons[i])));
            break;
        }
    connect(ui->dockLeft, &QDockWidget::visibilityChanged, this, &MainWindow::checkMenuDockLeft);
    connect(ui->dockRight, &QDockWidget::visibilityChanged, this, &MainWindow::checkMenuDockRight);
}

void MainWindow::selectDockLayout(QToolButton *active, bool systems, bool boards)
{
    if (ui->menuLockPanels->isChecked())
        return;
    for (int i = 0; i < 4; ++i) {
        toolButton(i)->setChecked(toolButton(i) == active);
        toolButton(i)->setIcon(QIcon(QLatin1String(toolButton(i) == active ? greenIcons[i] : whiteIcons[i])));
    }
    removeDockWidget(ui->dockLeft);
    removeDockWidget(ui->dockRight);
    addDockWidget(Qt::LeftDockWidgetArea, ui->dockLeft);
    addDockWidget(Qt::RightDockWidgetArea, ui->dockRight);
    ui->menuSystems->setChecked(systems);
    ui->menuBoards->setChecked(boards);
    showDockLeft();
    showDockRight();
}

void MainWindow::tbarAllClicked()
{
    selectDockLayout(&tbAll, true, true);
}
void MainWindow::tbarNoneClicked()
{
    selectDockLayout(&tbNone, false, false);
}
void MainWindow::tbarSysClicked()
{
    selectDockLayout(&tbSys, true, false);
}
void MainWindow::tbarBrdClicked()
{
    selectDockLayout(&tbBrd, false, true);
}

void MainWindow::setDockLayoutFromOutside(bool all)
{
    ui->menuLockPanels->setChecked(false);
    (all ? tbAll : tbNone).setChecked(true);
    if (all)
        tbarAllClicked();
    else
        tbarNoneClicked();
    ui->menuLockPanels->setChecked(true);
}

void MainWindow::tbarLockClicked()
{
    ui->menuLockPanels->setChecked(tbLock.isChecked());
}

void MainWindow::lockPanels()
{
    const bool locked = ui->menuLockPanels->isChecked();
    const auto features = locked ? QDockWidget::NoDockWidgetFeatures
                                 : (QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable);
    ui->dockLeft->setFeatures(features);
    ui->dockRight->setFeatures(features);
    ui->menuSystems->setEnabled(!locked);
    ui->menuBoards->setEnabled(!locked);
    tbLock.setIcon(QIcon(QLatin1String(locked ? greenIcons[4] : whiteIcons[4])));
    tbLock.setChecked(locked);
}

void MainWindow::showToolBar()
{
    ui->mainTBar->setVisible(!ui->mainTBar->isVisible());
}

void MainWindow::showDockLeft()
{
    ui->dockLeft->setVisible(ui->menuSystems->isChecked());
}

void MainWindow::showDockRight()
{
    ui->dockRight->setVisible(ui->menuBoards->isChecked());
}

void MainWindow::checkMenuDockLeft()
{
    ui->menuSystems->setChecked(ui->dockLeft->isVisible());
}

void MainWindow::checkMenuDockRight()
{
    ui->menuBoards->setChecked(ui->dockRight->isVisible());
}

int MainWindow::showAboutDialog()
{
    auto *about = new QAboutDialog(this);
    return about->exec();
}

void MainWindow::showUserManual()
{
    const QUrl url(QStringLiteral("file://%0")
                       .arg(QStringLiteral("/usr/share/KORU/RORERAVA2020/MN5190_LUMO2020_REV9.pdf")));
    if (!QDesktopServices::openUrl(url)) {
        QMessageBox box(
            QMessageBox::Warning, QStringLiteral("LUMO2020"),
            QStringLiteral(
                "Unable to find KORU\nLUMO2020 User Manual,\nplease open it from\nthe LUMO2020 folder."));
        box.exec();
    }
}

void MainWindow::createDialogForConnection()
{
    auto *dialog = new QConnectDialog(ui->viewsArea, ui->mainTBar->height(), this);
    dialog->show();
}

void MainWindow::cancelConnection()
{
    connectionCancelled = true;
}

int MainWindow::createTcpServer()
{
    if (!startEventServer()) {
        ui->menuConnect->setEnabled(false);
        return 1;
    }
    return 0;
}

void MainWindow::closeChildDialogs()
{
    for (QDialog *d : findChildren<QDialog *>())
        if (d->isVisible())
            d->close();
}

void MainWindow::shutDownAllSystems()
{
    /* Every thread of every system is joined here, before anything it uses
     * is freed; the interfaces themselves go with the window. */
    for (QSystemInterface *s : sysInterfaces)
        s->detachForeignBoards();
    /* The SYSTEM list keeps pointers to the boxes and panels of its rows:
     * the rows go before their widgets go with the interfaces (a layout
     * pass meanwhile would show the deleted widgets). */
    while (systemsWidget && systemsWidget->topLevelItemCount() > 0) {
        const int last = systemsWidget->topLevelItemCount() - 1;
        QTreeWidgetItem *item = systemsWidget->topLevelItem(last);
        while (item->childCount() > 0)
            delete item->takeChild(0);
        delete systemsWidget->takeTopLevelItem(last);
    }
    while (!sysInterfaces.isEmpty()) {
        QSystemInterface *s = sysInterfaces.last();
        markDisconnecting(s);
        const bool real = s->getSystemNode() && s->getSystemNode()->getNodeType() == NODE_SYSTEM &&
                          s->getSystemNode()->getConnectionStatus() != CONN_KO;
        s->teardown(real);
        removeNodesFromGroups(s->getSystemHandle());
        removeSystemFromCustomView(sysInterfaces.size() - 1);
        removeInterfaceAt(sysInterfaces.size() - 1);
        delete s;
    }
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    /* Every writer starts on what it still has at once, so their bounded
     * waits below overlap instead of adding up. */
    for (QSystemInterface *s : sysInterfaces)
        KORUHVStopLogWriter(s);
    for (QSystemInterface *s : sysInterfaces) {
        if (!s->getSystemNode() || s->getSystemNode()->getNodeType() != NODE_SYSTEM)
            continue;
        markDisconnecting(s);
        s->teardown(s->getSystemNode()->getConnectionStatus() != CONN_KO);
    }
    for (QWidget *w : QApplication::allWidgets())
        if (auto *d = qobject_cast<QDialog *>(w))
            if (d->isVisible())
                d->close();
    event->accept();
}

/* ---------------------------------------------------------------- emitters */

void MainWindow::emitTcpServerError()
{
    emit tcpServerError();
}

void MainWindow::emitConnectionStatusChanged(QSystemInterface *sysIf, int rate)
{
    emit connectionStatusChanged(sysIf, rate);
}

void MainWindow::emitUpdateValueAndWidget(QSystemInterface *sysIf, int bdIndex, int chIndex, QString itmName,
                                          IDValue_t val, bool isFirstEv, bool isLastEv, quint64 serial)
{
    emit updateValueAndWidget(sysIf, bdIndex, chIndex, itmName, val, isFirstEv, isLastEv, serial);
}

void MainWindow::emitLiveInsertion(QSystemInterface *sysIf, bool isFirstEv, bool isLastEv, quint64 serial)
{
    emit liveInsertion(sysIf, isFirstEv, isLastEv, serial);
}

void MainWindow::emitTransparentMode(QSystemInterface *sysIf, quint64 serial)
{
    emit TransparentMode(sysIf, serial);
}

void MainWindow::emitSystemEvStatus(QSystemInterface *sysIf, KORUHV_SYSTEMSTATUS_t sysStatus, quint64 serial)
{
    emit systemEvStatus(sysIf, sysStatus, serial);
}

void MainWindow::emitSystemDisconnected(QSystemInterface *sysIf, int errorCode, quint64 serial)
{
    if (sysIf && !sysIf->getIsDisconnecting())
        emit systemDisconnected(sysIf, errorCode, serial);
}
