#include "QCustomComboBox.h"

#include <QLineEdit>

QCustomComboBox::QCustomComboBox(QWidget *parent) : QComboBox(parent)
{
    setStyleSheet("QAbstractItemView { background-color:lightgrey; selection-background-color:#383838; "
                  "selection-color:#bfff27; }");
    setContextMenuPolicy(Qt::NoContextMenu);
}

void QCustomComboBox::setAlignmentRight()
{
    setEditable(true);
    lineEdit()->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    for (int i = 0; i < count(); ++i)
        setItemData(i, int(Qt::AlignRight), Qt::TextAlignmentRole);
    lineEdit()->setReadOnly(true);
}

void QCustomComboBox::setIsTableWidgetChild()
{
    isTableWidgetChild = true;
    setObjectName("tableWidgetChild");
}

void QCustomComboBox::setIsDialogChild()
{
    isDialogChild = true;
    setObjectName("comboDialogChild");
}

void QCustomComboBox::clearComboCurrentText()
{
    if (isTableWidgetChild && lineEdit())
        lineEdit()->setText(QString());
}
