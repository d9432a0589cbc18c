/* The channel table's cell delegate: opens a value editor cell on the node
 * behind the cell and shows the node's own text again when it closes. The
 * editor writes the node itself; setModelData stores nothing in the table
 * (the node's text is the truth, even after a refused write). */
#ifndef QCUSTOMTABLEWIDGETDELEGATE_H
#define QCUSTOMTABLEWIDGETDELEGATE_H

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
};

/* Closes, without writing, every open table cell editor whose node belongs
 * to the system (all systems for a negative handle). Call it before a board
 * change or a disconnection deletes nodes of that system. */
void KORUHVCloseCellEditorsOfSystem(int sysHandle);

#endif
