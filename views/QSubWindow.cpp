#include "QSubWindow.h"

#include "KORUHVNode.h"
#include "QCustomTableWidget.h"

#include <QHeaderView>
#include <QVBoxLayout>

QSubWindow::QSubWindow(QWidget *parent, QWidget *pw, int idx, bool custom)
    : QWidget(parent), parentWidget(pw), widgetIdx(idx), isCustom(custom)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    table = new QCustomTableWidget(this);
    table->setObjectName(QStringLiteral("tableWidget"));
    table->horizontalHeader()->setObjectName(QStringLiteral("horizontalHeader"));
    layout->addWidget(table);
}

QSubWindow::~QSubWindow()
{
    clearTableWidgetItems();
    delete systemTree;
}

void QSubWindow::setSystemTree(KORUHVNode *root)
{
    if (root == systemTree)
        return;
    clearTableWidgetItems();
    delete systemTree;
    systemTree = root;
}

void QSubWindow::clearTableWidgetItems()
{
    /* The cells are nodes owned by the tree: take them out, never delete. */
    for (int r = 0; r < table->rowCount(); ++r)
        for (int c = 0; c < table->columnCount(); ++c)
            table->takeItem(r, c);
    table->setRowCount(0);
    table->setColumnCount(0);
}

void QSubWindow::buildTableWidget()
{
    clearTableWidgetItems();
    if (!systemTree)
        return;
    QStringList columns;
    QVector<KORUHVNode *> channels;
    for (KORUHVNode *sys : systemTree->getChildren())
        for (KORUHVNode *board : sys->getChildren()) {
            if (board->getNodeType() != NODE_BOARD)
                continue;
            for (KORUHVNode *ch : board->getChildren()) {
                channels.append(ch);
                for (KORUHVNode *p : ch->getParameters())
                    if (!columns.contains(p->getNodeName()))
                        columns.append(p->getNodeName());
            }
        }
    table->setColumnCount(columns.size());
    table->setHorizontalHeaderLabels(columns);
    table->setRowCount(channels.size());
    QStringList rows;
    for (int r = 0; r < channels.size(); ++r) {
        rows.append(QStringLiteral("%1 %2").arg(channels[r]->getBdName(), channels[r]->getNodeName()));
        for (KORUHVNode *p : channels[r]->getParameters())
            table->setItem(r, columns.indexOf(p->getNodeName()), p);
    }
    table->setVerticalHeaderLabels(rows);
}

void QSubWindow::rebuildTableWidget()
{
    buildTableWidget();
}

void QSubWindow::refreshTableHeaders()
{
    buildTableWidget();
}

void QSubWindow::setRowColorForStatusAlarm(bool ok, KORUHVNode *node)
{
    if (!node || node->tableWidget() != table)
        return;
    const int row = node->row();
    for (int c = 0; c < table->columnCount(); ++c)
        if (QTableWidgetItem *it = table->item(row, c))
            it->setBackground(ok ? QBrush(Qt::lightGray) : QBrush(QColor(238, 0, 0)));
}

void QSubWindow::clearTableWidgetSelection()
{
    table->clearSelection();
}

QSubWindow *KORUHVCreateSubWindow(QWidget *parent, QWidget *sysInterface, int widgetIndex, bool isCustomView,
                                  KORUHVNode *systemNode, const QString &sysName,
                                  const QVector<KORUHVNode *> &alarmNodes)
{
    auto *w = new QSubWindow(parent, sysInterface, widgetIndex, isCustomView);
    w->setObjectName(QStringLiteral("subWindow"));
    w->setWindowTitle(sysName);
    KORUHVUpdateSubWindowLive(w, isCustomView, systemNode, alarmNodes);
    return w;
}

int KORUHVUpdateSubWindowLive(QSubWindow *window, bool, KORUHVNode *systemNode,
                              const QVector<KORUHVNode *> &alarmNodes)
{
    if (!window)
        return -1;
    auto *root = new KORUHVNode;
    if (systemNode) {
        root->setSystemType(systemNode->getSystemType());
        root->addChildNode(systemNode);
    }
    window->setSystemTree(root);
    window->rebuildTableWidget();
    for (KORUHVNode *n : alarmNodes)
        window->setRowColorForStatusAlarm(false, n);
    return 1;
}
