#include "QCustomLineEdit.h"

QCustomLineEdit::QCustomLineEdit(bool flag, QWidget *parent) : QLineEdit(parent), constructorFlag(flag)
{
    setContextMenuPolicy(Qt::NoContextMenu);
}

void QCustomLineEdit::setAlignmentRight()
{
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
}
