/* The program's single main window: menus, tool bar, the SYSTEM and BOARDS
 * docks, the view area, the vector of connected systems, and the handlers of
 * the event signals that the reader threads raise (queued into the GUI
 * thread). */
#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include "AppGlobals.h"
#include "KORUHVCustomizations.h"
#include "KORUHVEventBatch.h"
#include "KORUHVEventSink.h"
#include "KORUHVWrapper.h"
#include "QSystemInterface.h"

#include <QMainWindow>
#include <QMetaType>
#include <QMutex>
#include <QToolButton>
#include <QVector>

#include <memory>

class KORUHVNode;
class QCollapsibleWidget;
class QMdiSubWindow;
struct Ui_MainWindow;

Q_DECLARE_METATYPE(IDValue_t)
Q_DECLARE_METATYPE(KORUHV_SYSTEMSTATUS_t)

class MainWindow : public QMainWindow,
                   public MainWindowServices,
                   public KORUHVCustomizationHost,
                   public KORUHVEventSink {
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    /* The registered main window, or null. */
    static MainWindow *instance();

    Ui_MainWindow *getUi() const { return ui; }
    QMainWindow *mainWindowWidget() override { return this; }

    /* ---- connecting and disconnecting ---- */
    void connectDialogCallback(int sysType, int linkType, QString initParam, QString name,
                               QString userOrBoard, QString password) override;
    /* The same with its result: 0 connected, 1 not (the warning was shown). */
    int connectSystem(int sysType, int linkType, QString initParam, QString name, QString userOrBoard,
                      QString password);
    int getW38XXMainInterfaceIndex(QString initParam, int linkType);
    QVector<QSystemInterface *> getSysInterfaceVector() const { return sysInterfaces; }
    void deleteSystemInterfaceWidget(int sysIndex);
    void deleteBoardInformations(int index);
    void disconnectDialogCallback(int sysIndex);
    void updateBoardName(KORUHVNode *board, int slot);
    void createSubscribeFailedMessageBox(int handle, QVector<failSubscribeStruct> system,
                                         QVector<failSubscribeStruct> boards,
                                         QVector<failSubscribeStruct> channels);
    /* ---- groups, saved customizations, table configuration, custom view:
     * each hands over to the controller's method of the same name ---- */
    KORUHVCustomizations *customizationsController() const { return customizations.get(); }
    void removeBoardFromGroups(int sysHandle, unsigned short slot) override;
    void removeNodesFromGroups(int sysHandle);
    void removeSystemFromCustomView(int sysIndex);
    int hasCustomView();
    QVector<KORUHVCustomizations::Group> getGroups() const;
    void groupCreatedCallback(QVector<KORUHVNode *> nodes, QString name);
    void groupEditedCallback(QVector<KORUHVNode *> nodes, QString name, int index);
    void deleteGroupCallback(int index);
    void saveCustomizedViewCallback(QVector<bool> selected, bool withCustomView);
    void loadCustomizedViewCallback(QVector<QMultiHash<QString, QVariant> *> systems, QVector<QString> users,
                                    QVector<QString> passwords, bool withCustomView);
    int checkLoadingSystemIfConnected(QString initParam);
    void setNewConfigurationToSystem(int index, QMultiHash<QString, QVariant> *hash);
    QString createSubdirAtPath(QString path);
    void setHeadersVisibleCallback(int index);
    void customViewDialogCallback();
    void customViewCreationDialogCallback();
    /* Rebuilds and re-applies the custom view's table, and rebuilds its
     * BOARDS page, after member boards left a system that stays (nothing
     * without a custom view). */
    void refreshCustomViewTable();

    /* KORUHVCustomizationHost: the systems as the controller sees them. */
    QVector<System> systemsForCustomizations() const override;
    QWidget *customizationDialogParent() override { return this; }
    void connectForCustomizations(int psType, int connType, QString initParam, QString name, QString user,
                                  QString password) override;
    bool isTableInCustomMode(int position) override;
    void reapplyCustomTableMode(int position) override;
    void rebuildTable(int position) override;
    void addCustomViewInterface(KORUHVNode *root, int widgetIndex) override;

    /* The interface for a queued signal's pointer and serial, or null when it
     * is gone (serial 0: pointer only). */
    QSystemInterface *findInterface(QSystemInterface *sysIf, quint64 serial = 0) const;
    /* Event server: hands an accepted connection to the first connected
     * system with that address text; false when none takes it (the caller
     * closes it). Any thread. */
    bool bindEventConnection(int socket, const QString &ident) override;

    /* ---- views ---- */
    void openSystemWidget(QSystemInterface *sysIf);
    void deleteMdiSubWindow(int index);
    void highlightSelectedInfoWidget(int index);
    void setCurrentBoardsInfoWidget(int index);
    void setCurrentStatusBar(int index);
    QCollapsibleWidget *systemList() const { return systemsWidget; }

    /* ---- frame ---- */
    int createTcpServer();
    void createToolBarButtons();
    void restoreWindowState();
    QToolButton *toolButton(int i)
    {
        return i == 0 ? &tbAll : i == 1 ? &tbNone : i == 2 ? &tbSys : i == 3 ? &tbBrd : &tbLock;
    }

    /* ---- emitters (any thread) ---- */
    void emitTcpServerError() override;
    void emitConnectionStatusChanged(QSystemInterface *sysIf, int rate);
    void emitUpdateValueAndWidget(QSystemInterface *sysIf, int bdIndex, int chIndex, QString itmName,
                                  IDValue_t val, bool isFirstEv, bool isLastEv, quint64 serial = 0);
    void emitLiveInsertion(QSystemInterface *sysIf, bool isFirstEv, bool isLastEv, quint64 serial = 0);
    void emitTransparentMode(QSystemInterface *sysIf, quint64 serial = 0);
    void emitSystemEvStatus(QSystemInterface *sysIf, KORUHV_SYSTEMSTATUS_t sysStatus, quint64 serial = 0);
    void emitSystemDisconnected(QSystemInterface *sysIf, int errorCode, quint64 serial = 0) override;
    /* A reader's whole batch (its status and records; the records are taken
     * over and freed once applied): applied on the GUI thread in order,
     * raising the same signals as one record at a time did. */
    void postEventBatch(QSystemInterface *sysIf, const KORUHV_SYSTEMSTATUS_t &status, EventRecord *records,
                        int count, quint64 serial) override;

    /* Joins every system's threads and closes its handle (close sequence). */
    void shutDownAllSystems();

protected:
    void closeEvent(QCloseEvent *event) override;

Q_SIGNALS:
    void tcpServerError();
    /* Batches wait for the GUI thread (emitted by a reader; the connection,
     * made here, is queued). */
    void eventBatchesWaiting();
    void connectionStatusChanged(QSystemInterface *sysIf, int rate);
    void liveInsertion(QSystemInterface *sysIf, bool isFirstEv, bool isLastEv, quint64 serial);
    void TransparentMode(QSystemInterface *sysIf, quint64 serial);
    void updateValueAndWidget(QSystemInterface *sysIf, int bdIndex, int chIndex, QString itmName,
                              IDValue_t val, bool isFirstEv, bool isLastEv, quint64 serial);
    void systemEvStatus(QSystemInterface *sysIf, KORUHV_SYSTEMSTATUS_t sysStatus, quint64 serial);
    void systemDisconnected(QSystemInterface *sysIf, int errorCode, quint64 serial);
    /* A system stopped answering: open trip editors close. */
    void systemConnectionLost();

public Q_SLOTS:
    void createDialogForConnection();
    void tabMdiAreaViews();
    void tileMdiAreaViews();
    void floatMdiAreaViews();
    void setCurrentSubWindowIndex(int index);
    void tbarAllClicked();
    void tbarNoneClicked();
    void tbarSysClicked();
    void tbarBrdClicked();
    void tbarLockClicked();
    void showToolBar();
    void showDockLeft();
    void showDockRight();
    void checkMenuDockLeft();
    void checkMenuDockRight();
    void setCurrentWidgetIndex(QMdiSubWindow *subWindow);
    void createDialogForGroupSettings();
    void createDialogForCustomView();
    void createDialogToEditGroup();
    void lockPanels();
    void createConfigureTableDialog(int index);
    void disconnectFromSystem(int sysIndex);
    void loadCustomizedViews();
    void saveCustomizedViews();
    int showAboutDialog();
    void showUserManual();
    void cancelConnection();
    void handleTcpServerError();
    void handleConnectionStatusChanged(QSystemInterface *sysIf, int rate);
    void handleEventLiveInsertion(QSystemInterface *sysIf, bool isFirstEv, bool isLastEv, quint64 serial = 0);
    void handleUpdateValueAndWidget(QSystemInterface *sysIf, int bdIndex, int chIndex, QString itmName,
                                    IDValue_t val, bool isFirstEv, bool isLastEv, quint64 serial = 0);
    void handleSystemEvStatus(QSystemInterface *sysIf, KORUHV_SYSTEMSTATUS_t sysStatus, quint64 serial = 0);
    void handleSystemDisconnected(QSystemInterface *sysIf, int errCode, quint64 serial = 0);
    void handleTransparentMode(QSystemInterface *sysIf, quint64 serial = 0);
    /* One non-modal warning per failure episode of a change-log writer. */
    void handleLogWriteFailed(QString sysName, QString path, QString error);

private:
    void selectDockLayout(QToolButton *active, bool systems, bool boards);
    void setDockLayoutFromOutside(bool all);
    void setSystemActionsEnabled(bool enabled);
    /* Appends or removes under the vector lock (the event server reads it). */
    void appendInterface(QSystemInterface *sysIf);
    void removeInterfaceAt(int index);
    void markDisconnecting(QSystemInterface *sysIf);
    /* Widget indexes again from the rows of the SYSTEM list. */
    void renumberWidgetIndexes();
    QSystemInterface *displayInterfaceOf(QSystemInterface *sysIf);
    /* A value event's last step: every interface that shows the system
     * shows the node's new value. */
    void showEventValue(QSystemInterface *sysIf, KORUHVNode *node, int chIndex);
    void onBoardRemoved(int handle, unsigned short slot, KORUHVNode *oldNode);
    /* A cell editor hears the tree notices of its node's system. */
    void watchCellEditor(KORUHVWidgetItem *editor);
    /* The trip editor is closed by a tree notice of any system and by a
     * lost connection. */
    void watchTripDialog(QTripHandlingDialog *dialog);
    void closeChildDialogs();
    void runLiveInsertion(QSystemInterface *sysIf, bool isFirstEv, bool isLastEv);
    void drainEventBatches();
    void applyEventRecord(KORUHVEventBatch &batch, int index);

    Ui_MainWindow *ui;
    QVector<QSystemInterface *> sysInterfaces;
    /* Groups, their menu actions and the dialogs that point into the trees. */
    std::unique_ptr<KORUHVCustomizations> customizations;
    QToolButton tbAll, tbNone, tbSys, tbBrd, tbLock;
    bool connectionCancelled = false;

    mutable QMutex sysInterfacesMutex;
    QCollapsibleWidget *systemsWidget = nullptr;
    /* Live insertion of a system running / asked for again meanwhile. */
    QSet<quint64> liveRebuilding;
    /* Batches from the readers (see KORUHVEventBatch.h). */
    KORUHVEventBatchQueue eventBatches;
    QSet<quint64> liveAgain;
};

#endif
