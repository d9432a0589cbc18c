/* Set groups, saved customizations, table configuration and the custom view
 * as the main window offers them. The main window owns one instance and
 * hands each of its operations of these features to the method of the same
 * name; it reaches the systems through KORUHVCustomizationHost, so that all
 * of this is tested without the window.
 *
 * Groups and open dialogs point into system trees they do not own: the main
 * window calls removeBoardFromGroups before a board node goes and
 * removeNodesFromGroups / removeSystemFromCustomView before a tree goes; an
 * open dialog that uses those nodes is closed without writing. GUI thread. */
#ifndef KORUHVCUSTOMIZATIONS_H
#define KORUHVCUSTOMIZATIONS_H

#include "KORUHVCustomizationRules.h"

#include <QDialog>
#include <QList>
#include <QMenu>
#include <QMultiHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>
#include <QVector>

class KORUHVNode;
class QAction;
class QDialog;
class QMenu;
class QWidget;

/* An open dialog that points into system trees: it tells whether it uses
 * nodes of a system (slot negative) or board, and closes without writing.
 * nodesGoing is what the purge calls: by default the dialog closes; a
 * dialog may instead say which of its nodes go, or close only a part. */
class KORUHVNodeUsingDialog {
public:
    virtual bool usesNodesOf(int sysHandle, int slot) const = 0;
    virtual void dropNodesAndClose() = 0;
    virtual void nodesGoing(int sysHandle, int slot)
    {
        (void)sysHandle;
        (void)slot;
        dropNodesAndClose();
    }

protected:
    ~KORUHVNodeUsingDialog() = default;
};

/* What the customization code needs of the main window. */
class KORUHVCustomizationHost {
public:
    struct System {
        KORUHVNode *root = nullptr; /* may be null */
        int widgetIndex = -1;
        bool isMainInterface = false;
        bool isCustomView = false;
    };
    /* The vector of system interfaces, in its order. */
    virtual QVector<System> systemsForCustomizations() const = 0;
    /* Parent of the dialogs (the main window). */
    virtual QWidget *customizationDialogParent() = 0;
    /* getMainWindow()->connectDialogCallback(...): synchronous; success is
     * seen as one more interface at the end of the vector. */
    virtual void connectForCustomizations(int psType, int connType, QString initParam, QString name,
                                          QString user, QString password) = 0;
    /* The table window of interface position: is it in Custom mode; re-apply
     * Custom mode (QSubWindow::setCustomViewTableMode); rebuild its table
     * (QSubWindow::rebuildTableWidget). Each does nothing without a window. */
    virtual bool isTableInCustomMode(int position) = 0;
    virtual void reapplyCustomTableMode(int position) = 0;
    virtual void rebuildTable(int position) = 0;
    /* Builds the custom view's QSystemInterface (type -1, link -1, "",
     * "CustomView", widgetIndex) with its flag set and root as its system
     * node (taking ownership), adds its widgets, appends it and wires it. */
    virtual void addCustomViewInterface(KORUHVNode *root, int widgetIndex) = 0;

protected:
    ~KORUHVCustomizationHost() = default;
};

class KORUHVCustomizations : public QObject {
    Q_OBJECT
public:
    using Group = KORUHVCustomizationRules::Group;

    KORUHVCustomizations(KORUHVCustomizationHost *host, QMenu *groupsMenu, QObject *parent = nullptr);
    ~KORUHVCustomizations() override;

    KORUHVCustomizationHost *host() const { return m_host; }
    QWidget *dialogParent() const;

    /* ---- set groups ---- */
    QVector<Group> getGroups() const { return groups; }
    QMenu *groupsMenu() const { return menuViewGroups; }
    void groupCreatedCallback(QVector<KORUHVNode *> nodes, QString name);
    void groupEditedCallback(QVector<KORUHVNode *> nodes, QString name, int index);
    void deleteGroupCallback(int index);
    void removeBoardFromGroups(int sysHandle, unsigned short slot);
    void removeNodesFromGroups(int sysHandle);
    /* Roots offered by the create and edit dialogs. */
    QVector<KORUHVNode *> mainSystemRoots() const;
    QVector<KORUHVNode *> allSystemRoots() const;

    /* ---- saved customizations ---- */
    void saveCustomizedViewCallback(QVector<bool> selected, bool withCustomView);
    void loadCustomizedViewCallback(QVector<QMultiHash<QString, QVariant> *> systems, QVector<QString> users,
                                    QVector<QString> passwords, bool withCustomView);
    /* Makes the folder of a main file (the model's folder rule) and returns it. */
    QString createSubdirAtPath(QString path);
    int checkLoadingSystemIfConnected(QString initParam) const;
    void setNewConfigurationToSystem(int index, QMultiHash<QString, QVariant> *hash);
    /* Main interfaces whose root is a system root. */
    int countMainSystemsConnected() const;

    /* ---- table configuration ---- */
    void setHeadersVisibleCallback(int index);
    /* The configure dialog's OK, found again by the system node. */
    void configureViewAccepted(KORUHVNode *systemNode);

    /* ---- custom view ---- */
    int hasCustomView() const;
    void customViewDialogCallback();
    void customViewCreationDialogCallback();
    void removeSystemFromCustomView(int index);
    /* Main system roots other than the custom view's. */
    QVector<KORUHVNode *> customViewMemberRoots() const;

    /* Closes the open dialogs (without writing) that use nodes of that
     * system, or of that board when slot is not negative. */
    void closeDialogsUsing(int sysHandle, int slot);

    /* The dialog last opened by each entry point (tests look at them). */
    QDialog *lastDialog() const { return m_lastDialog; }

public Q_SLOTS:
    void createDialogForGroupSettings();
    void createDialogToEditGroup();
    void saveCustomizedViews();
    void loadCustomizedViews();
    void createConfigureTableDialog(int widgetIndex);
    void createDialogForCustomView();

private:
    void renumberGroupActions();
    void dropGroupActions(const QVector<int> &removedHighestFirst);
    void refreshCustomViewMembers(int customViewPosition);
    void track(QDialog *dialog);

    KORUHVCustomizationHost *m_host;
    QPointer<QMenu> menuViewGroups;
    QVector<Group> groups;
    QList<QPointer<QDialog>> openDialogs;
    QPointer<QDialog> m_lastDialog;
};

#endif
