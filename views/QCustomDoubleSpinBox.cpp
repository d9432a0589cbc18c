#include "QCustomDoubleSpinBox.h"

#include <QLocale>

QCustomDoubleSpinBox::QCustomDoubleSpinBox(bool flag, QWidget *parent)
    : QDoubleSpinBox(parent), constructorFlag(flag)
{
    setContextMenuPolicy(Qt::NoContextMenu);
    setLocale(QLocale::c());
    setDecimals(1);
}

void QCustomDoubleSpinBox::setAlignmentRight()
{
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
}
