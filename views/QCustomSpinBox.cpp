#include "QCustomSpinBox.h"

QCustomSpinBox::QCustomSpinBox(bool flag, QWidget *parent) : QSpinBox(parent), constructorFlag(flag)
{
    setContextMenuPolicy(Qt::NoContextMenu);
}

void QCustomSpinBox::setAlignmentRight()
{
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
}
