#include "MainWindowUi.h"

#include <QAction>
#include <QDockWidget>
#include <QFrame>
#include <QMainWindow>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QStackedWidget>
#include <QToolBar>
#include <QVBoxLayout>

namespace {
QAction *action(QMainWindow *w, const char *name, const char *text, const char *shortcut = nullptr,
                bool checkable = false, bool checked = false)
{
    auto *a = new QAction(w);
    a->setObjectName(QLatin1String(name));
    a->setText(QLatin1String(text));
    if (shortcut)
        a->setShortcut(QKeySequence(QLatin1String(shortcut)));
    a->setCheckable(checkable);
    a->setChecked(checked);
    return a;
}

QMenu *menu(QWidget *parent, const char *name, const char *title)
{
    auto *m = new QMenu(parent);
    m->setObjectName(QLatin1String(name));
    m->setTitle(QLatin1String(title));
    return m;
}
} // namespace

void Ui_MainWindow::setupUi(QMainWindow *w)
{
    w->setObjectName(QStringLiteral("MainWindow"));
    w->resize(1055, 735);
    w->setWindowIcon(QIcon(QStringLiteral(":/Resources/buttons/n_icon.png")));
    w->setDockNestingEnabled(true);
    w->setDocumentMode(false);
    w->setUnifiedTitleAndToolBarOnMac(true);

    menuExit = action(w, "menuExit", "Exit", "Ctrl+Q");
    menuTab = action(w, "menuTab", "Tabbed", "Alt+1", true);
    menuTab->setToolTip(QStringLiteral("Tab Views"));
    menuTile = action(w, "menuTile", "Tiled", "Alt+2", true);
    menuTile->setToolTip(QStringLiteral("Tile Views"));
    menuCreateGroup = action(w, "menuCreateGroup", "New Group");
    menuCustomView = action(w, "menuCustomView", "Custom View..");
    menuLockPanels = action(w, "menuLockPanels", "Lock", "Alt+Shift+L", true, true);
    menuConnect = action(w, "menuConnect", "Connect..", "Alt+C");
    menuSystems = action(w, "menuSystems", "Systems", "Alt+L", true, true);
    menuBoards = action(w, "menuBoards", "Boards", "Alt+R", true, true);
    menuFloat = action(w, "menuFloat", "Floated", "Alt+3", true);
    menuAutosave = action(w, "menuAutosave", "Autosave", nullptr, true, true);
    menuLoad = action(w, "menuLoad", "Load");
    menuSave = action(w, "menuSave", "Save");
    menuLogout = action(w, "menuLogout", "Logout");
    menuAbout = action(w, "menuAbout", "About..");
    menuUpgrade = action(w, "menuUpgrade", "Upgrade");
    menuUpgrade->setVisible(false);
    menuTech = action(w, "menuTech", "Tech Info");
    menuSys = action(w, "menuSys", "Sys Info");
    menuResFlag = action(w, "menuResFlag", "Res Flag");
    menuGenSign = action(w, "menuGenSign", "Gen Sign Cfg");
    menuKill = action(w, "menuKill", "Kill");
    menuClearAlarm = action(w, "menuClearAlarm", "Clear Alarm");
    menuLogging = action(w, "menuLogging", "System Logging");
    menuScripting = action(w, "menuScripting", "Scripting");
    menuAlarms = action(w, "menuAlarms", "Alarms");
    menuAlarms->setEnabled(false);
    menuEnableKey = action(w, "menuEnableKey", "", nullptr, true, true);
    menuEnableKey->setToolTip(QStringLiteral("Disable virtual keyboard"));
    menuSettings = action(w, "menuSettings", "Settings");
    menuManual = action(w, "menuManual", "User Manual");
    menuAutodetect = action(w, "menuAutodetect", "Autodetect");

    centralWidget = new QWidget(w);
    centralWidget->setObjectName(QStringLiteral("centralWidget"));
    verticalLayout_3 = new QVBoxLayout(centralWidget);
    verticalLayout_3->setObjectName(QStringLiteral("verticalLayout_3"));
    verticalLayout_3->setSpacing(0);
    verticalLayout_3->setContentsMargins(0, 0, 0, 0);
    viewsArea = new QMdiArea(centralWidget);
    viewsArea->setObjectName(QStringLiteral("viewsArea"));
    viewsArea->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewsArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewsArea->setBackground(QBrush(QColor(160, 160, 160), Qt::NoBrush));
    verticalLayout_3->addWidget(viewsArea);
    w->setCentralWidget(centralWidget);

    menuBar = new QMenuBar(w);
    menuBar->setObjectName(QStringLiteral("menuBar"));
    menuFile = menu(menuBar, "menuFile", "File");
    menuView = menu(menuBar, "menuView", "Settings");
    menuGroups = menu(menuBar, "menuGroups", "Groups");
    menuViewGroups = menu(menuGroups, "menuViewGroups", "Groups");
    menuViewGroups->setEnabled(false);
    menuWindow = menu(menuBar, "menuWindow", "Window");
    menuPanels = menu(menuWindow, "menuPanels", "Panels");
    menuHelp = menu(menuBar, "menuHelp", "Help");
    menuInfo = menu(menuBar, "menuInfo", "Info");
    menuFlag = menu(menuBar, "menuFlag", "Flag");
    menuSignals = menu(menuBar, "menuSignals", "Signals");
    w->setMenuBar(menuBar);

    menuBar->addAction(menuFile->menuAction());
    menuBar->addAction(menuView->menuAction());
    menuBar->addAction(menuGroups->menuAction());
    menuBar->addAction(menuWindow->menuAction());
    menuBar->addAction(menuHelp->menuAction());
    menuBar->addAction(menuInfo->menuAction());
    menuBar->addAction(menuFlag->menuAction());
    menuBar->addAction(menuSignals->menuAction());
    menuFile->addAction(menuConnect);
    menuFile->addAction(menuLogout);
    menuFile->addSeparator();
    menuFile->addAction(menuExit);
    menuView->addAction(menuCustomView);
    menuView->addSeparator();
    menuView->addAction(menuLoad);
    menuView->addAction(menuSave);
    menuGroups->addAction(menuCreateGroup);
    menuGroups->addSeparator();
    menuGroups->addAction(menuViewGroups->menuAction());
    menuWindow->addAction(menuPanels->menuAction());
    menuPanels->addAction(menuSystems);
    menuPanels->addAction(menuBoards);
    menuPanels->addSeparator();
    menuPanels->addAction(menuLockPanels);
    menuWindow->addSeparator();
    menuWindow->addAction(menuTab);
    menuWindow->addAction(menuTile);
    menuWindow->addAction(menuFloat);
    menuWindow->addSeparator();
    menuHelp->addAction(menuUpgrade);
    menuHelp->addSeparator();
    menuHelp->addAction(menuManual);
    menuHelp->addAction(menuAbout);
    menuInfo->addAction(menuTech);
    menuInfo->addAction(menuSys);
    menuFlag->addAction(menuResFlag);
    menuFlag->addAction(menuGenSign);
    menuSignals->addAction(menuKill);
    menuSignals->addAction(menuClearAlarm);

    dockLeft = new QDockWidget(w);
    dockLeft->setObjectName(QStringLiteral("dockLeft"));
    dockLeft->setFixedWidth(250);
    dockLeft->setMinimumSize(250, 100);
    dockLeft->setFeatures(QDockWidget::NoDockWidgetFeatures);
    dockLeft->setWindowTitle(QStringLiteral("SYSTEMS"));
    dockLeftContents = new QWidget;
    dockLeftContents->setObjectName(QStringLiteral("dockLeftContents"));
    verticalLayout_2 = new QVBoxLayout(dockLeftContents);
    verticalLayout_2->setObjectName(QStringLiteral("verticalLayout_2"));
    dockLeft->setWidget(dockLeftContents);
    w->addDockWidget(Qt::LeftDockWidgetArea, dockLeft);

    dockRight = new QDockWidget(w);
    dockRight->setObjectName(QStringLiteral("dockRight"));
    dockRight->setFixedWidth(230);
    dockRight->setMinimumSize(230, 100);
    dockRight->setFeatures(QDockWidget::NoDockWidgetFeatures);
    dockRight->setWindowTitle(QStringLiteral("BOARDS"));
    dockRightContents = new QWidget;
    dockRightContents->setObjectName(QStringLiteral("dockRightContents"));
    verticalLayout_4 = new QVBoxLayout(dockRightContents);
    verticalLayout_4->setObjectName(QStringLiteral("verticalLayout_4"));
    verticalLayout_4->setSpacing(0);
    verticalLayout_4->setContentsMargins(0, 0, 0, 0);
    stackedWidgetRight = new QStackedWidget(dockRightContents);
    stackedWidgetRight->setObjectName(QStringLiteral("stackedWidgetRight"));
    stackedWidgetRight->setFixedWidth(230);
    stackedWidgetRight->setFrameShape(QFrame::Box);
    stackedWidgetRight->setFrameShadow(QFrame::Plain);
    stackedWidgetRight->setLineWidth(8);
    verticalLayout_4->addWidget(stackedWidgetRight);
    dockRight->setWidget(dockRightContents);
    w->addDockWidget(Qt::RightDockWidgetArea, dockRight);

    mainTBar = new QToolBar(w);
    mainTBar->setObjectName(QStringLiteral("mainTBar"));
    mainTBar->setWindowTitle(QStringLiteral("toolBar"));
    mainTBar->setAllowedAreas(Qt::TopToolBarArea);
    mainTBar->setMovable(false);
    mainTBar->setFloatable(false);
    mainTBar->setIconSize(QSize(32, 32));
    w->addToolBar(Qt::TopToolBarArea, mainTBar);

    w->setWindowTitle(QStringLiteral("LUMO2020"));
    QObject::connect(menuExit, &QAction::triggered, w, &QWidget::close);
}
