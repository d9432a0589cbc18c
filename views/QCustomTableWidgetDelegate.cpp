#include "QCustomTableWidgetDelegate.h"

#include "KORUHVEditStyles.h"
#include "KORUHVNode.h"
#include "KORUHVWidgetItem.h"
#include "QCustomTableWidget.h"

#include <QHelpEvent>
#include <QLineEdit>
#include <QPainter>
#include <QToolTip>

namespace {

/* The editor's dropped input as noted when its data was committed. */
const char *const droppedInputProperty = "droppedInput";

QCustomTableWidget *tableOfEditor(QWidget *editor)
{
    /* The editor's parent is the table's viewport. */
    QWidget *viewport = editor ? editor->parentWidget() : nullptr;
    return viewport ? qobject_cast<QCustomTableWidget *>(viewport->parentWidget()) : nullptr;
}

} // namespace

QCustomTableWidgetDelegate::QCustomTableWidgetDelegate(QWidget *parent) : QStyledItemDelegate(parent) {}

QWidget *QCustomTableWidgetDelegate::createEditor(QWidget *parent, const QStyleOptionViewItem &,
                                                  const QModelIndex &index) const
{
    auto *table = parent ? qobject_cast<QCustomTableWidget *>(parent->parentWidget()) : nullptr;
    QTableWidgetItem *cell = table ? table->item(index.row(), index.column()) : nullptr;
    KORUHVNode *node = QCustomTableWidget::cellNode(cell);
    if (!node)
        return new QLineEdit(parent);

    /* Edited again: the mark of a former editor's dropped input goes. */
    if (droppedInput.remove(QPersistentModelIndex(index)) > 0)
        parent->update();
    auto *editor = new KORUHVWidgetItem(parent, node);
    editor->setSelectedStyleSheet();
    editor->setOffsetTable(table);
    const nodeDataType type = node->getDataType();
    if (type != DATA_ONOFF && type != DATA_ENUM)
        cell->setText(QString());
    editor->createInternalWidget(type, node->getAccessRights(), node->getExpUnitShortForm(),
                                 node->getNodeValue().KORUHVGetValue(), node->getNodeDecimals(), true);
    editor->setValueFieldAsTableWidgetChild();
    editor->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    connect(editor, &KORUHVWidgetItem::endEditing, table, &QCustomTableWidget::setValueForAllSelected);
    /* Opening an editor is no change of the delegate's state. */
    Q_EMIT const_cast<QCustomTableWidgetDelegate *>(this)->cellEditorOpened(editor);
    return editor;
}

void QCustomTableWidgetDelegate::setEditorData(QWidget *, const QModelIndex &) const {}

void QCustomTableWidgetDelegate::setModelData(QWidget *editor, QAbstractItemModel *,
                                              const QModelIndex &) const
{
    auto *item = qobject_cast<KORUHVWidgetItem *>(editor);
    if (!item || !item->getReferenceNode())
        return;
    KORUHVNode *node = item->getReferenceNode();
    /* Taken before the refresh below replaces the typed offset; the cell
     * says it once the editor is gone. */
    item->setProperty(droppedInputProperty, item->droppedInput());
    /* An offset left without Enter: the field shows the node's value again. */
    if (item->isOffsetMode() && !item->property("Entered").toBool()) {
        item->setDataInValueField(node->getNodeValue().KORUHVGetValue());
        item->setProperty("Entered", false);
    }
}

void QCustomTableWidgetDelegate::updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                                                      const QModelIndex &) const
{
    if (editor)
        editor->setGeometry(option.rect);
}

void QCustomTableWidgetDelegate::destroyEditor(QWidget *editor, const QModelIndex &index) const
{
    /* Whatever closed the editor (commit, Escape, another cell), the cell
     * shows its node's text again: createEditor blanked it. */
    auto *item = qobject_cast<KORUHVWidgetItem *>(editor);
    QCustomTableWidget *table = tableOfEditor(editor);
    if (item && item->getReferenceNode() && table) {
        QTableWidgetItem *cell = table->item(index.row(), index.column());
        if (cell && QCustomTableWidget::cellNode(cell) == item->getReferenceNode()) {
            /* As noted at the commit (before an offset field went back to
             * the node's value), while the editor still has input unwritten. */
            QString dropped = item->droppedInput();
            const QString noted = item->property(droppedInputProperty).toString();
            if (!dropped.isEmpty() && !noted.isEmpty())
                dropped = noted;
            cell->setText(item->getReferenceNode()->cellText());
            if (!dropped.isEmpty())
                markDroppedInput(table->viewport(), index, dropped);
        }
    }
    /* Released by the view: nothing more is committed, and it is no longer
     * an open editor to close. */
    if (item)
        item->detachNode();
    QStyledItemDelegate::destroyEditor(editor, index);
}

void QCustomTableWidgetDelegate::markDroppedInput(QWidget *viewport, const QModelIndex &index,
                                                  const QString &what) const
{
    KORUHVNode *node = nullptr;
    if (auto *table = qobject_cast<QCustomTableWidget *>(viewport->parentWidget()))
        node = QCustomTableWidget::cellNode(table->item(index.row(), index.column()));
    QString text = what;
    if (node && node->getNodeType() == NODE_CHANNEL_PARAM)
        text = QStringLiteral("Slot %1, channel %2: %3")
                   .arg(node->getBdSlotNr())
                   .arg(node->getChIdx())
                   .arg(what);
    /* Rows and columns may move or go: marks of cells that went are dropped. */
    for (auto it = droppedInput.begin(); it != droppedInput.end();)
        it = it.key().isValid() ? std::next(it) : droppedInput.erase(it);
    droppedInput.insert(QPersistentModelIndex(index), text);
    connect(index.model(), &QAbstractItemModel::dataChanged, this,
            &QCustomTableWidgetDelegate::forgetChangedCells, Qt::UniqueConnection);
    viewport->update();
    auto *view = qobject_cast<QAbstractItemView *>(viewport->parentWidget());
    const QRect rect = view ? view->visualRect(index) : QRect();
    QToolTip::showText(viewport->mapToGlobal(rect.bottomLeft()), text, viewport, rect);
}

void QCustomTableWidgetDelegate::forgetChangedCells(const QModelIndex &topLeft,
                                                    const QModelIndex &bottomRight, const QList<int> &roles)
{
    if (droppedInput.isEmpty() || (!roles.isEmpty() && !roles.contains(Qt::DisplayRole)))
        return;
    /* The cell shows a new value: the device's, not the dropped input. */
    for (auto it = droppedInput.begin(); it != droppedInput.end();) {
        const QPersistentModelIndex &i = it.key();
        const bool inside = i.isValid() && i.row() >= topLeft.row() && i.row() <= bottomRight.row() &&
                            i.column() >= topLeft.column() && i.column() <= bottomRight.column();
        it = (inside || !i.isValid()) ? droppedInput.erase(it) : std::next(it);
    }
}

QString QCustomTableWidgetDelegate::droppedInputAt(const QModelIndex &index) const
{
    return droppedInput.value(QPersistentModelIndex(index));
}

void QCustomTableWidgetDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                                       const QModelIndex &index) const
{
    QStyledItemDelegate::paint(painter, option, index);
    if (droppedInput.isEmpty() || !droppedInput.contains(QPersistentModelIndex(index)))
        return;
    painter->save();
    painter->setPen(QPen(koruviews::refusedColour(), 2));
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(option.rect.adjusted(1, 1, -1, -1));
    painter->restore();
}

bool QCustomTableWidgetDelegate::helpEvent(QHelpEvent *event, QAbstractItemView *view,
                                           const QStyleOptionViewItem &option, const QModelIndex &index)
{
    const QString dropped = droppedInputAt(index);
    if (!event || !view || event->type() != QEvent::ToolTip || dropped.isEmpty())
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    /* The reason first; the cell's own tip (the parameter's properties) below. */
    const QString own = index.data(Qt::ToolTipRole).toString();
    QToolTip::showText(event->globalPos(), own.isEmpty() ? dropped : dropped + QStringLiteral("\n\n") + own,
                       view->viewport(), option.rect);
    return true;
}

void KORUHVCloseCellEditor(KORUHVWidgetItem *editor)
{
    QCustomTableWidget *table = tableOfEditor(editor);
    if (!editor || !table || !editor->getReferenceNode() || editor->isCancelled())
        return;
    editor->detachNode();
    if (auto *delegate = qobject_cast<QAbstractItemDelegate *>(table->itemDelegate()))
        Q_EMIT delegate->closeEditor(editor, QAbstractItemDelegate::RevertModelCache);
}
