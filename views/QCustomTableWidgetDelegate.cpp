#include "QCustomTableWidgetDelegate.h"

#include "KORUHVNode.h"
#include "KORUHVWidgetItem.h"
#include "QCustomTableWidget.h"

#include <QLineEdit>

namespace {

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
        if (cell && QCustomTableWidget::cellNode(cell) == item->getReferenceNode())
            cell->setText(item->getReferenceNode()->cellText());
    }
    /* Released by the view: nothing more is committed, and it is no longer
     * an open editor to close. */
    if (item)
        item->detachNode();
    QStyledItemDelegate::destroyEditor(editor, index);
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
