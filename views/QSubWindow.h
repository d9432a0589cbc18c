/* The table window of one connected system (or of the cross-system custom
 * view): a channel table built from the node tree, three view modes (Full,
 * Minimal, Custom), alarm rows, the offset menu of the set-value columns and
 * the trip-line editor.
 *
 * The window never deletes nodes: each rebuild and the destructor take the
 * node cells out of the table first. A normal window owns the grouping root
 * ("fakeRoot", node type 8) it is given with adoptGroupingRoot(), never the
 * system node under it. GUI thread only. */
#ifndef QSUBWINDOW_H
#define QSUBWINDOW_H

#include "KORUHVWidgetItem.h"
#include "QTripHandlingDialog.h"

#include <QHash>
#include <QPoint>
#include <QString>
#include <QVector>
#include <QWidget>

class KORUHVNode;
class QAction;
class QComboBox;
class QLabel;
class QTableWidgetItem;
class QVBoxLayout;
class QCustomTableWidget;

class QSubWindow : public QWidget {
    Q_OBJECT

public:
    QSubWindow(QWidget *parent, QWidget *parentWidget, int idx, bool isCustom);
    ~QSubWindow() override;

    int getWidgetIdx() const { return widgetIdx; }
    void setWidgetIdx(int index) { widgetIdx = index; }
    QWidget *getParentWidget() const { return parentWidget_; }
    void setSystemTree(KORUHVNode *root) { systemTree = root; }
    KORUHVNode *getSystemTree() const { return systemTree; }
    /* Makes root (a grouping node of type 8) the window's root and owns it;
     * the grouping node it replaces is deleted (it owns no children). */
    void adoptGroupingRoot(KORUHVNode *root);

    QCustomTableWidget *getTableWidget() const { return table; }
    QComboBox *getViewModeCombo() const { return viewModeCombo; }
    int getViewMode() const { return viewMode; }
    bool getIsCustom() const { return isCustom; }
    QLabel *getNoChannelsLabel() const { return noChannelsLabel; }

    void buildTableWidget();
    void rebuildTableWidget();
    void refreshTableHeaders() { rebuildTableWidget(); }
    void createTableWidgetHeaders();
    void createTableItemValue(int row, int column, KORUHVNode *parameter);
    void fillEmptyTableItems();
    void clearTableWidgetHeaders();
    void clearTableWidgetItems();

    void setFullViewTableMode();
    void setMinimalViewTableMode();
    void setCustomViewTableMode();
    bool isCustomMode() const;
    void reorderColumns();
    void reorderRows();
    void reorderTableHeaders()
    {
        reorderColumns();
        reorderRows();
    }
    void adjustTable();

    void setRowColorForStatusAlarm(bool ok, KORUHVNode *node);
    void clearTableWidgetSelection();
    void setSelectionModeOnTableWidget(bool multi);
    void createTripHandlingIcon(QTableWidgetItem *header);
    void createOffsetSettingIcon(QTableWidgetItem *header);

    /* Closes this table's open cell editor without writing. */
    void closeOpenEditors();

Q_SIGNALS:
    void focused();
    void closing(int idx);
    /* Holders of nodes this window opened: the owner of the nodes' tree
     * connects them to its "tree is about to change" notice. */
    void cellEditorOpened(KORUHVWidgetItem *editor);
    void tripDialogOpened(QTripHandlingDialog *dialog);

public Q_SLOTS:
    void setViewTableMode(QString choice);
    void handleCreateDialogForTripHandling(int flagExt);
    void handleSelectOffsetSettingModality(QPoint pos, int column, int paramType);
    void handleContextMenuClicked(QAction *action);

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    int findColumn(const QString &name) const;
    int appendColumn(const QString &name, bool hidden);
    void showTableOrNotice(bool hasContent);
    int rowOfNode(KORUHVNode *node) const;
    QVector<KORUHVNode *> channelsInOrder() const;
    struct PlanSource;
    void collectPlanSource(PlanSource &src) const;

    QCustomTableWidget *table = nullptr;
    QComboBox *viewModeCombo = nullptr;
    KORUHVNode *systemTree = nullptr;
    KORUHVNode *ownedRoot = nullptr;
    int viewMode = 2;
    int widgetIdx;
    QWidget *parentWidget_;
    bool isCustom;
    QLabel *noChannelsLabel = nullptr;
    QVBoxLayout *layout = nullptr;
    QHash<QString, int> columnByName; /* lower-case header text -> column */
    bool tripConnected = false;
    bool offsetConnected = false;
};

/* Steps 1-3 of the system interface's createSubWindow: the window of one
 * system (a grouping root made here) or of the custom view (systemNode is
 * the custom view's root), built, alarm rows painted, Custom mode applied. */
QSubWindow *KORUHVCreateSubWindow(QWidget *parent, QWidget *sysInterface, int widgetIndex, bool isCustomView,
                                  KORUHVNode *systemNode, const QString &sysName,
                                  const QVector<KORUHVNode *> &alarmNodes);
/* The body of updateSubWindowLive: rebuild over a new grouping root (the old
 * one deleted, never the system node), alarm rows painted again. -1 without
 * a window, else 1. */
int KORUHVUpdateSubWindowLive(QSubWindow *window, bool isCustomView, KORUHVNode *systemNode,
                              const QVector<KORUHVNode *> &alarmNodes);

#endif
