#include "QSubWindow.h"

#include "KORUHVChannelAlarm.h"

#include "AppGlobals.h"
#include "KORUHVMirrorNode.h"
#include "KORUHVNode.h"
#include "KORUHVUtils.h"
#include "KORUHVWidgetItem.h"
#include "QCustomTableWidget.h"
#include "QCustomTableWidgetDelegate.h"
#include "QSubWindowLayout.h"
#include "QTripHandlingDialog.h"
#include "TablePlan.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QPointer>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>
#include <numeric>

namespace {

/* The combo reads the mode shown, whoever applied it; a change made here is
 * no operator's choice and applies nothing. */
void showModeInCombo(QComboBox *combo, int mode)
{
    if (!combo || combo->currentIndex() == mode)
        return;
    const QSignalBlocker blocker(combo);
    combo->setCurrentIndex(mode);
}

const char *const tripIconPath = ":/Resources/buttons/config-icon.png";
const char *const offsetOffIconPath = ":/Resources/buttons/offset-icon-off.png";
const char *const offsetOnIconPath = ":/Resources/buttons/offset-icon-on.png";

bool isBoard(const KORUHVNode *n)
{
    return n && n->getNodeType() != NODE_GROUP;
}

} // namespace

QSubWindow::QSubWindow(QWidget *parent, QWidget *parentWidget, int idx, bool custom)
    : QWidget(parent), widgetIdx(idx), parentWidget_(parentWidget), isCustom(custom)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    layout = new QVBoxLayout(this);
    table = new QCustomTableWidget(isCustom, this);
    if (auto *delegate = qobject_cast<QCustomTableWidgetDelegate *>(table->itemDelegate()))
        connect(delegate, &QCustomTableWidgetDelegate::cellEditorOpened, this, &QSubWindow::cellEditorOpened);
    QAbstractButton *corner = table->findChild<QAbstractButton *>();
    if (!isCustom) {
        viewModeCombo = new QComboBox();
        viewModeCombo->setObjectName(QStringLiteral("cornerWidget"));
        viewModeCombo->setContentsMargins(6, 6, 6, 6);
        viewModeCombo->addItems(
            {QStringLiteral("Full"), QStringLiteral("Minimal"), QStringLiteral("Custom")});
        viewModeCombo->setCurrentIndex(2);
        viewModeCombo->setStyleSheet(
            QStringLiteral("QAbstractItemView { background-color:lightgrey; "
                           "selection-background-color:#383838; selection-color: #bfff27; }"));
        connect(viewModeCombo, &QComboBox::currentTextChanged, this, &QSubWindow::setViewTableMode);
        if (corner) {
            auto *cornerLayout = new QHBoxLayout();
            cornerLayout->setContentsMargins(0, 0, 0, 0);
            cornerLayout->addWidget(viewModeCombo);
            corner->setLayout(cornerLayout);
            corner->setObjectName(QStringLiteral("cornerWidget"));
            corner->setToolTip(QStringLiteral("View Mode"));
        } else {
            viewModeCombo->setParent(this);
        }
        table->verticalHeader()->setMinimumWidth(viewModeCombo->sizeHint().width());
    } else if (corner) {
        corner->setEnabled(false);
    }
    layout->addWidget(table, 1);
    layout->addSpacerItem(new QSpacerItem(30, 30, QSizePolicy::Minimum, QSizePolicy::Expanding));
    layout->setAlignment(Qt::AlignLeft);
}

QSubWindow::~QSubWindow()
{
    closeOpenEditors();
    /* The nodes belong to their trees: out of the table before it goes. */
    table->takeOutAllItems();
    delete ownedRoot;
}

void QSubWindow::adoptGroupingRoot(KORUHVNode *root)
{
    KORUHVNode *old = ownedRoot;
    ownedRoot = root;
    systemTree = root;
    /* A grouping node owns no children: the system node under it stays. */
    if (old != root)
        delete old;
}

void QSubWindow::mouseReleaseEvent(QMouseEvent *event)
{
    Q_EMIT focused();
    QWidget::mouseReleaseEvent(event);
}

void QSubWindow::closeOpenEditors()
{
    const auto items = table->viewport()->findChildren<KORUHVWidgetItem *>(Qt::FindDirectChildrenOnly);
    for (KORUHVWidgetItem *item : items) {
        if (item->isCancelled())
            continue;
        item->detachNode();
        Q_EMIT table->itemDelegate()->closeEditor(item, QAbstractItemDelegate::RevertModelCache);
    }
}

QVector<KORUHVNode *> QSubWindow::channelsInOrder() const
{
    QVector<KORUHVNode *> channels;
    if (!systemTree)
        return channels;
    for (KORUHVNode *sys : systemTree->getChildren()) {
        if (!sys)
            continue;
        for (KORUHVNode *board : sys->getChildren()) {
            if (!isBoard(board))
                continue;
            for (KORUHVNode *ch : board->getChildren())
                if (ch)
                    channels.append(ch);
        }
    }
    return channels;
}

int QSubWindow::findColumn(const QString &name) const
{
    return columnByName.value(name.toLower(), -1);
}

int QSubWindow::appendColumn(const QString &name, bool hidden)
{
    const int col = table->columnCount();
    table->setColumnCount(col + 1);
    table->setHorizontalHeaderItem(col, new QTableWidgetItem(name));
    table->setColumnHidden(col, hidden);
    columnByName.insert(name.toLower(), col);
    return col;
}

void QSubWindow::clearTableWidgetHeaders()
{
    closeOpenEditors();
    /* setRowCount(0) would delete the node cells. */
    table->takeOutAllItems();
    table->setRowCount(0);
    table->setColumnCount(0);
    columnByName.clear();
}

void QSubWindow::clearTableWidgetItems()
{
    closeOpenEditors();
    table->takeOutAllItems();
}

/* A plain copy of the tree for the plan, and the nodes behind it in the
 * plan's order: boards as counted by the plan, channels in row order. */
struct QSubWindow::PlanSource {
    koruviews::TablePlanInput input;
    QVector<KORUHVNode *> boards;
    QVector<KORUHVNode *> channels;
    QVector<QVector<KORUHVNode *>> parameters; /* per channel */
};

void QSubWindow::collectPlanSource(PlanSource &src) const
{
    src.input.customView = isCustom;
    src.input.rootSystemType = systemTree->getSystemType();
    for (KORUHVNode *sys : systemTree->getChildren()) {
        if (!sys)
            continue;
        koruviews::PlanSystem planSys;
        planSys.name = sys->getSysName().isEmpty() ? sys->getNodeName() : sys->getSysName();
        const QVector<KORUHVNode *> boards = sys->getChildren();
        for (int b = 0; b < boards.size(); ++b) {
            KORUHVNode *board = boards[b];
            if (!board)
                continue;
            koruviews::PlanBoard planBoard;
            planBoard.position = b;
            planBoard.isGroup = !isBoard(board);
            planBoard.slot = board->getBdSlotNr();
            planBoard.name = board->getNodeName();
            for (KORUHVNode *ch : planBoard.isGroup ? QVector<KORUHVNode *>() : board->getChildren()) {
                if (!ch)
                    continue;
                koruviews::PlanChannel planCh;
                planCh.name = ch->getNodeName();
                planCh.enabled = ch->isNodeEnabled();
                planCh.enabledInCustom = ch->isEnabledInCustomView();
                QVector<KORUHVNode *> params;
                for (KORUHVNode *p : ch->getParameters()) {
                    if (!p)
                        continue;
                    planCh.parameters.append(
                        {p->getNodeName(), p->isNodeEnabled(), p->isEnabledInCustomView()});
                    params.append(p);
                }
                planBoard.channels.append(planCh);
                src.channels.append(ch);
                src.parameters.append(params);
            }
            planSys.boards.append(planBoard);
            src.boards.append(board);
        }
        src.input.systems.append(planSys);
    }
}

void QSubWindow::createTableWidgetHeaders()
{
    if (!systemTree)
        return;
    clearTableWidgetHeaders();
    disconnect(table, &QCustomTableWidget::createDialogForTripHandling, this,
               &QSubWindow::handleCreateDialogForTripHandling);
    disconnect(table, &QCustomTableWidget::selectOffsetSettingModality, this,
               &QSubWindow::handleSelectOffsetSettingModality);
    tripConnected = false;
    offsetConnected = false;

    PlanSource src;
    collectPlanSource(src);
    const koruviews::TablePlan plan = koruviews::planTable(src.input);

    for (const koruviews::PlanColumn &c : plan.columns) {
        const int col = appendColumn(c.name, c.hidden);
        if (c.offsetMenu) {
            createOffsetSettingIcon(table->horizontalHeaderItem(col));
            if (!offsetConnected) {
                connect(table, &QCustomTableWidget::selectOffsetSettingModality, this,
                        &QSubWindow::handleSelectOffsetSettingModality);
                offsetConnected = true;
            }
        }
        if (c.tripMenu) {
            createTripHandlingIcon(table->horizontalHeaderItem(col));
            if (!tripConnected) {
                connect(table, &QCustomTableWidget::createDialogForTripHandling, this,
                        &QSubWindow::handleCreateDialogForTripHandling);
                tripConnected = true;
            }
        }
    }
    for (const koruviews::PlanBoardIndex &b : plan.boardIndexes)
        src.boards[b.board]->setVisualIndex(b.visualIndex);

    table->setRowCount(plan.rows.size());
    for (int r = 0; r < plan.rows.size(); ++r) {
        const koruviews::PlanRow &row = plan.rows[r];
        if (!isCustom)
            src.channels[r]->setVisualIndex(r);
        table->setVerticalHeaderItem(r, new QTableWidgetItem(row.label));
        table->setVerticalHeaderColorToBase(r);
        table->setRowHidden(r, row.hidden);
    }
    for (const koruviews::PlanCell &cell : plan.cells)
        createTableItemValue(cell.row, cell.column, src.parameters[cell.row][cell.parameter]);
    showTableOrNotice(plan.hasContent);
}

void QSubWindow::showTableOrNotice(bool hasContent)
{
    if (hasContent) {
        table->show();
        if (noChannelsLabel) {
            layout->removeWidget(noChannelsLabel);
            delete noChannelsLabel;
            noChannelsLabel = nullptr;
        }
        return;
    }
    if (!noChannelsLabel) {
        noChannelsLabel = new QLabel(QStringLiteral("No channels present"), this);
        noChannelsLabel->setContentsMargins(10, 10, 10, 10);
        noChannelsLabel->setStyleSheet(QStringLiteral("background: white;"));
        noChannelsLabel->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        layout->insertWidget(0, noChannelsLabel, 1);
    }
    table->hide();
}

void QSubWindow::createTableItemValue(int row, int column, KORUHVNode *parameter)
{
    if (!parameter)
        return;
    QTableWidgetItem *cell = parameter;
    if (isCustom) {
        cell = parameter->getMirrorNode();
        if (!cell)
            return;
    }
    cell->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    switch (parameter->getAccessRights()) {
    case ACCESS_READ_ONLY: {
        cell->setFlags(Qt::ItemIsEnabled);
        QFont bold = cell->font();
        bold.setWeight(QFont::Bold);
        cell->setFont(bold);
        break;
    }
    case ACCESS_WRITE_ONLY:
    case ACCESS_READ_WRITE:
        cell->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEditable | Qt::ItemIsEnabled);
        break;
    default:
        cell->setFlags(Qt::NoItemFlags);
        break;
    }
    /* setItem would delete a cell already there: a channel listing one
     * name twice keeps its first parameter in the table. */
    QTableWidgetItem *present = table->item(row, column);
    if (present && present != cell)
        return;
    if (!isCustom)
        parameter->setVisualIndex(column);
    table->setItem(row, column, cell);
}

void QSubWindow::fillEmptyTableItems()
{
    for (int r = 0; r < table->rowCount(); ++r) {
        for (int c = 0; c < table->columnCount(); ++c) {
            if (table->item(r, c))
                continue;
            auto *filler = new QTableWidgetItem(QStringLiteral("..."));
            filler->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            filler->setFlags(Qt::NoItemFlags);
            table->setItem(r, c, filler);
        }
    }
}

void QSubWindow::buildTableWidget()
{
    createTableWidgetHeaders();
    fillEmptyTableItems();
    adjustTable();
}

void QSubWindow::rebuildTableWidget()
{
    clearTableWidgetItems();
    buildTableWidget();
    if (viewMode == 1)
        setMinimalViewTableMode();
    else if (viewMode == 0)
        setFullViewTableMode();
}

void QSubWindow::setViewTableMode(QString choice)
{
    if (choice.contains(QLatin1String("full"), Qt::CaseInsensitive)) {
        if (viewMode != 0)
            setFullViewTableMode();
    } else if (choice.contains(QLatin1String("minimal"), Qt::CaseInsensitive)) {
        if (viewMode != 1)
            setMinimalViewTableMode();
    } else if (choice.contains(QLatin1String("custom"), Qt::CaseInsensitive)) {
        if (viewMode != 2)
            setCustomViewTableMode();
    }
}

void QSubWindow::setFullViewTableMode()
{
    const QSignalBlocker blocker(table->verticalHeader());
    viewMode = 0;
    showModeInCombo(viewModeCombo, viewMode);
    for (int r = 0; r < table->rowCount(); ++r)
        table->setRowHidden(r, false);
    for (int c = 0; c < table->columnCount(); ++c)
        table->setColumnHidden(c, false);
    reorderColumns();
    reorderRows();
    adjustTable();
}

void QSubWindow::setMinimalViewTableMode()
{
    const QSignalBlocker blocker(table->verticalHeader());
    viewMode = 1;
    showModeInCombo(viewModeCombo, viewMode);
    for (int r = 0; r < table->rowCount(); ++r)
        table->setRowHidden(r, false);
    bool any = false;
    for (int c = 0; c < table->columnCount(); ++c) {
        QTableWidgetItem *h = table->horizontalHeaderItem(c);
        const bool keep = h && koruviews::isMinimalViewColumn(h->text());
        any = any || keep;
        table->setColumnHidden(c, !keep);
    }
    if (!any)
        for (int c = 0; c < table->columnCount() && c < 3; ++c)
            table->setColumnHidden(c, false);
    reorderColumns();
    reorderRows();
    adjustTable();
}

void QSubWindow::setCustomViewTableMode()
{
    const QSignalBlocker blocker(table->verticalHeader());
    viewMode = 2;
    showModeInCombo(viewModeCombo, viewMode);
    if (!systemTree)
        return;
    QHeaderView *vh = table->verticalHeader();
    QHeaderView *hh = table->horizontalHeader();
    const QVector<KORUHVNode *> channels = channelsInOrder();
    const int rows = std::min(int(channels.size()), table->rowCount());
    /* The shown rows in the order of their indexes (the dialog's list), then
     * the hidden ones. A hidden channel may keep an index it had before it
     * was deselected, and indexes may repeat (a saved file): rows are placed
     * one position after the other, never swapped by index. Ties and rows
     * without an index keep tree order. */
    auto shown = [&](int r) {
        return isCustom ? channels[r]->isEnabledInCustomView() : channels[r]->isNodeEnabled();
    };
    auto key = [&](int r) {
        const int index = isCustom ? channels[r]->getCustomViewVisualIndex() : channels[r]->getVisualIndex();
        return index >= 0 ? index : INT_MAX;
    };
    QVector<int> order(rows);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        const bool sa = shown(a), sb = shown(b);
        if (sa != sb)
            return sa;
        return sa && key(a) < key(b);
    });
    for (int position = 0; position < rows; ++position) {
        const int current = vh->visualIndex(order[position]);
        if (current != position)
            vh->moveSection(current, position);
    }
    for (int row = 0; row < rows; ++row) {
        KORUHVNode *ch = channels[row];
        table->setRowHidden(row, !shown(row));
        for (KORUHVNode *p : ch->getParameters()) {
            if (!p)
                continue;
            const int col = findColumn(p->getNodeName());
            if (col < 0)
                continue;
            const bool hidden = isCustom ? !p->isEnabledInCustomView() : !p->isNodeEnabled();
            table->setColumnHidden(col, hidden);
            const int colTarget = isCustom ? p->getCustomViewVisualIndex() : p->getVisualIndex();
            if (!hidden && colTarget >= 0 && colTarget < hh->count() && colTarget != hh->visualIndex(col))
                hh->moveSection(hh->visualIndex(col), colTarget);
        }
    }
    if (isCustom) {
        bool anyRow = false, anyColumn = false;
        for (int r = 0; r < table->rowCount() && !anyRow; ++r)
            anyRow = !table->isRowHidden(r);
        for (int c = 0; c < table->columnCount() && !anyColumn; ++c)
            anyColumn = !table->isColumnHidden(c);
        if (anyRow && anyColumn)
            showTableOrNotice(true);
    }
    adjustTable();
}

bool QSubWindow::isCustomMode() const
{
    return isCustom || (viewModeCombo && viewModeCombo->currentIndex() == 2);
}

void QSubWindow::reorderColumns()
{
    QHeaderView *hh = table->horizontalHeader();
    for (int c = 0; c < table->columnCount(); ++c)
        if (hh->visualIndex(c) != c)
            hh->moveSection(hh->visualIndex(c), c);
}

void QSubWindow::reorderRows()
{
    QHeaderView *vh = table->verticalHeader();
    for (int r = 0; r < table->rowCount(); ++r)
        if (vh->visualIndex(r) != r)
            vh->moveSection(vh->visualIndex(r), r);
}

/* No pending events are processed here: a queued live insertion or
 * disconnection handled inside would rebuild or delete what is walked. */
void QSubWindow::adjustTable()
{
    int width = table->verticalHeader()->width() + 20;
    for (int c = 0; c < table->columnCount(); ++c)
        if (!table->isColumnHidden(c))
            width += table->columnWidth(c);
    int height = table->horizontalHeader()->height() + 20;
    for (int r = 0; r < table->rowCount(); ++r)
        if (!table->isRowHidden(r))
            height += table->rowHeight(r);
    table->setMaximumWidth(width);
    table->setMaximumHeight(height);
    table->alternateRowColors();
}

int QSubWindow::rowOfNode(KORUHVNode *node) const
{
    if (!isCustom)
        return node->tableWidget() == table ? table->row(node) : -1;
    /* Custom view: the row of the node's mirror in this table. */
    if (node->tableWidget() == table)
        return table->row(node);
    KORUHVMirrorNode *mirror = node->getMirrorNode();
    return (mirror && mirror->tableWidget() == table) ? table->row(mirror) : -1;
}

void QSubWindow::setRowColorForStatusAlarm(bool ok, KORUHVNode *node)
{
    if (!node)
        return;
    /* Paints only: the alarm flags are the model's (KORUHVSetChannelAlarm). */
    const int row = rowOfNode(node);
    if (row < 0 || table->isRowHidden(row))
        return;
    const QColor background =
        ok ? ((row % 2 == 0) ? QColor(238, 238, 238) : QColor(213, 213, 213)) : QColor(238, 0, 0);
    const QColor text = ok ? QColor(Qt::black) : QColor(Qt::white);
    for (int c = 0; c < table->columnCount(); ++c) {
        QTableWidgetItem *cell = table->item(row, c);
        if (!cell)
            continue;
        cell->setBackground(background);
        QTableWidgetItem *h = table->horizontalHeaderItem(c);
        if (!h || h->text() != QLatin1String("Pw"))
            cell->setForeground(text);
    }
}

void QSubWindow::clearTableWidgetSelection()
{
    table->clearSelection();
}

void QSubWindow::setSelectionModeOnTableWidget(bool multi)
{
    table->setSelectionMode(multi ? QAbstractItemView::MultiSelection : QAbstractItemView::ExtendedSelection);
}

void QSubWindow::createTripHandlingIcon(QTableWidgetItem *header)
{
    if (header)
        header->setIcon(QIcon(QLatin1String(tripIconPath)));
}

void QSubWindow::createOffsetSettingIcon(QTableWidgetItem *header)
{
    if (header)
        header->setIcon(QIcon(QLatin1String(offsetOffIconPath)));
}

void QSubWindow::handleSelectOffsetSettingModality(QPoint pos, int column, int paramType)
{
    const char *property = paramType == 0 ? "Offset_I" : paramType == 1 ? "Offset_V" : nullptr;
    if (!property)
        return;
    auto *menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("offsCtxMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->setProperty("Par", paramType);
    menu->setProperty("Col", column);
    const bool offset = table->property(property).toBool();
    QAction *absolute = menu->addAction(QStringLiteral("Absolute"));
    absolute->setCheckable(true);
    absolute->setChecked(!offset);
    QAction *offsetAction = menu->addAction(QStringLiteral("Offset"));
    offsetAction->setCheckable(true);
    offsetAction->setChecked(offset);
    connect(menu, &QMenu::triggered, this, &QSubWindow::handleContextMenuClicked);
    menu->popup(pos);
}

void QSubWindow::handleContextMenuClicked(QAction *action)
{
    auto *menu = qobject_cast<QMenu *>(sender());
    if (!menu || !action)
        return;
    const int par = menu->property("Par").toInt();
    const int col = menu->property("Col").toInt();
    QTableWidgetItem *header = table->horizontalHeaderItem(col);
    const char *property = par == 0 ? "Offset_I" : par == 1 ? "Offset_V" : nullptr;
    if (!header || !property)
        return;
    if (action->text().compare(QLatin1String("Absolute"), Qt::CaseInsensitive) == 0) {
        table->setProperty(property, false);
        header->setIcon(QIcon(QLatin1String(offsetOffIconPath)));
    } else if (action->text().compare(QLatin1String("Offset"), Qt::CaseInsensitive) == 0) {
        table->setProperty(property, true);
        header->setIcon(QIcon(QLatin1String(offsetOnIconPath)));
    }
}

void QSubWindow::handleCreateDialogForTripHandling(int flagExt)
{
    if (!systemTree || systemTree->getChildren().isEmpty())
        return;
    QWidget *mainWidget = getMainWindow() ? getMainWindow()->mainWindowWidget() : nullptr;
    QPointer<QTripHandlingDialog> dialog =
        new QTripHandlingDialog(flagExt, systemTree->getChildren().first(), mainWidget);
    Q_EMIT tripDialogOpened(dialog.data());
    /* A disconnection handled during the modal run may delete this window. */
    QPointer<QSubWindow> self(this);
    const int result = dialog->exec();
    if (self && result == QDialog::Accepted)
        table->clearSelection();
}

QSubWindow *KORUHVCreateSubWindow(QWidget *parent, QWidget *sysInterface, int widgetIndex, bool isCustomView,
                                  KORUHVNode *systemNode, const QString &sysName,
                                  const QVector<KORUHVNode *> &alarmNodes)
{
    auto *window = new QSubWindow(parent, sysInterface, widgetIndex, isCustomView);
    window->setObjectName(QStringLiteral("subWindow"));
    window->setWindowTitle(sysName);
    KORUHVUpdateSubWindowLive(window, isCustomView, systemNode, alarmNodes);
    return window;
}

int KORUHVUpdateSubWindowLive(QSubWindow *window, bool isCustomView, KORUHVNode *systemNode,
                              const QVector<KORUHVNode *> &alarmNodes)
{
    if (!window)
        return -1;
    if (!isCustomView) {
        auto *root = new KORUHVNode();
        root->KORUHVPrepareNode(QStringLiteral("fakeRoot"), NODE_GROUP, -1, -1, QString(), QString(),
                                QString());
        root->addChildNode(systemNode);
        if (systemNode) {
            const int type = systemNode->getSystemType();
            systemNode->setSystemType(type);
            root->setSystemType(type);
        }
        window->adoptGroupingRoot(root);
        window->rebuildTableWidget();
        for (KORUHVNode *n : alarmNodes)
            if (n)
                window->setRowColorForStatusAlarm(false, n);
        /* The rebuild kept Full or Minimal; Custom only where it was chosen
         * (a new window starts in it). */
        if (window->isCustomMode())
            window->setCustomViewTableMode();
        return 1;
    }
    window->setSystemTree(systemNode);
    window->rebuildTableWidget();
    if (systemNode) {
        for (KORUHVNode *sys : systemNode->getChildren()) {
            if (!sys)
                continue;
            for (KORUHVNode *board : sys->getChildren()) {
                if (!board || board->getNodeType() == NODE_GROUP)
                    continue;
                for (KORUHVNode *ch : board->getChildren()) {
                    if (!ch)
                        continue;
                    for (KORUHVNode *p : ch->getParameters()) {
                        if (!p || p->getParWrapperType() != WRAPPER_TYPE_CHSTATUS)
                            continue;
                        const int value = p->getNodeValue().KORUHVGetValue().toInt();
                        if (!KORUHVUtils::KORUHVCheckChStatusValue(p->getSystemType(), value)) {
                            KORUHVSetChannelAlarm(p, ch->getParameters(), true);
                            window->setRowColorForStatusAlarm(false, p);
                        }
                    }
                }
            }
        }
    }
    window->setCustomViewTableMode();
    return 1;
}
