/* The main window's form, built in code: actions, menus, docks, view area and
 * tool bar with the object names the style sheet and the program use. */
#ifndef MAINWINDOWUI_H
#define MAINWINDOWUI_H

class QAction;
class QDockWidget;
class QMainWindow;
class QMdiArea;
class QMenu;
class QMenuBar;
class QStackedWidget;
class QToolBar;
class QVBoxLayout;
class QWidget;

struct Ui_MainWindow {
    QAction *menuExit, *menuTab, *menuTile, *menuCreateGroup, *menuCustomView, *menuLockPanels, *menuConnect,
        *menuSystems, *menuBoards, *menuFloat, *menuAutosave, *menuLoad, *menuSave, *menuLogout, *menuAbout,
        *menuUpgrade, *menuTech, *menuSys, *menuResFlag, *menuGenSign, *menuKill, *menuClearAlarm,
        *menuLogging, *menuScripting, *menuAlarms, *menuEnableKey, *menuSettings, *menuManual,
        *menuAutodetect;
    QWidget *centralWidget;
    QVBoxLayout *verticalLayout_3;
    QMdiArea *viewsArea;
    QMenuBar *menuBar;
    QMenu *menuFile, *menuGroups, *menuViewGroups, *menuWindow, *menuPanels, *menuView, *menuHelp, *menuInfo,
        *menuFlag, *menuSignals;
    QDockWidget *dockLeft;
    QWidget *dockLeftContents;
    QVBoxLayout *verticalLayout_2;
    QDockWidget *dockRight;
    QWidget *dockRightContents;
    QVBoxLayout *verticalLayout_4;
    QStackedWidget *stackedWidgetRight;
    QToolBar *mainTBar;

    void setupUi(QMainWindow *window);
};

#endif
