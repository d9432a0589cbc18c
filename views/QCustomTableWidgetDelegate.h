/* The channel table's cell delegate: opens a value editor cell on the node
 * behind the cell and shows the node's own text again when it closes. The
 * editor writes the node itself; setModelData stores nothing in the table
 * (the node's text is the truth, even after a refused write). An editor
 * that closes with input it did not write (refused, or an offset left
 * without Return) leaves the cell marked: a red frame and, as its tool tip,
 * what was dropped and why, until the cell is edited again or shows a new
 * value. */
#ifndef QCUSTOMTABLEWIDGETDELEGATE_H
#define QCUSTOMTABLEWIDGETDELEGATE_H

#include "KORUHVWidgetItem.h"

#include <QHash>
#include <QPersistentModelIndex>
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
    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;

    /* What the editor of that cell dropped when it closed, and why; empty
     * when the cell carries no such mark. */
    QString droppedInputAt(const QModelIndex &index) const;

Q_SIGNALS:
    /* A value editor opened on a node: whoever owns the node's tree connects
     * it to its "tree is about to change" notice. */
    void cellEditorOpened(KORUHVWidgetItem *editor);

private:
    void markDroppedInput(QWidget *viewport, const QModelIndex &index, const QString &what) const;
    void forgetChangedCells(const QModelIndex &topLeft, const QModelIndex &bottomRight,
                            const QList<int> &roles);

    /* Cells whose editor dropped input: the text said on them. */
    mutable QHash<QPersistentModelIndex, QString> droppedInput;
};

/* Closes an open table cell editor without writing; it forgets its node
 * first. Called before a change of the tree may delete that node. */
void KORUHVCloseCellEditor(KORUHVWidgetItem *editor);

#endif
