/* The table window of one system: a channel table whose cells are the
 * system's channel-parameter nodes. */
#ifndef QSUBWINDOW_H
#define QSUBWINDOW_H

#include <QVector>
#include <QWidget>

class KORUHVNode;
class QCustomTableWidget;

class QSubWindow : public QWidget {
    Q_OBJECT
public:
    QSubWindow(QWidget *parent, QWidget *parentWidget, int idx, bool isCustom);
    ~QSubWindow() override;

    int getWidgetIdx() const { return widgetIdx; }
    void setWidgetIdx(int idx) { widgetIdx = idx; }
    QWidget *getParentWidget() const { return parentWidget; }
    void setSystemTree(KORUHVNode *root);
    KORUHVNode *getSystemTree() const { return systemTree; }
    QCustomTableWidget *getTableWidget() const { return table; }

    void buildTableWidget();
    void clearTableWidgetItems();
    void rebuildTableWidget();
    void refreshTableHeaders();
    void setCustomViewTableMode() {}
    void setRowColorForStatusAlarm(bool ok, KORUHVNode *node);
    void clearTableWidgetSelection();

private:
    QWidget *parentWidget = nullptr;
    int widgetIdx = -1;
    bool isCustom = false;
    KORUHVNode *systemTree = nullptr; /* grouping root, owned (children are not) */
    QCustomTableWidget *table = nullptr;
};

/* Creates the table window of a system (normal: under a grouping root of its
 * own; custom view: over the custom-view root) and paints the alarm rows. */
QSubWindow *KORUHVCreateSubWindow(QWidget *parent, QWidget *sysInterface, int widgetIndex, bool isCustomView,
                                  KORUHVNode *systemNode, const QString &sysName,
                                  const QVector<KORUHVNode *> &alarmNodes);
/* Rebuilds the table after the tree changed; -1 without a window, else 1. */
int KORUHVUpdateSubWindowLive(QSubWindow *window, bool isCustomView, KORUHVNode *systemNode,
                              const QVector<KORUHVNode *> &alarmNodes);

#endif
