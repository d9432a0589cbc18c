/* The channel table's cell delegate: opens a value editor cell on the node
 * behind the cell and shows the node's own text again when it closes. The
 * editor writes the node itself; setModelData stores nothing in the table
 * (the node's text is the truth, even after a refused write). */
#ifndef QCUSTOMTABLEWIDGETDELEGATE_H
#define QCUSTOMTABLEWIDGETDELEGATE_H

#include "KORUHVWidgetItem.h"

#include <QStyledItemDelegate>

class QCustomTableWidgetDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    explicit QCustomTableWidgetDelegate(QWidget *parent = nullptr);

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                          const QModelIndex &index) const override;
    void setEditorData(QWidget *editor, const QModelIndex &index) const override;
    void setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const override;
    void updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                              const QModelIndex &index) const override;
    void destroyEditor(QWidget *editor, const QModelIndex &index) const override;

Q_SIGNALS:
    /* A value editor opened on a node: whoever owns the node's tree connects
     * it to its "tree is about to change" notice. */
    void cellEditorOpened(KORUHVWidgetItem *editor);
};

/* Closes an open table cell editor without writing; it forgets its node
 * first. Called before a change of the tree may delete that node. */
void KORUHVCloseCellEditor(KORUHVWidgetItem *editor);

#endif
