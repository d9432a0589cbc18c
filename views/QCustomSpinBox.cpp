#include "QCustomSpinBox.h"

#include "KORUHVEditStyles.h"

QCustomSpinBox::QCustomSpinBox(bool flag, QWidget *parent) : QSpinBox(parent), constructorFlag(flag)
{
    setContextMenuPolicy(Qt::NoContextMenu);
    restStyleSheet = styleSheet();
}

void QCustomSpinBox::setAlignmentRight()
{
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
}

void QCustomSpinBox::restyle()
{
    QString sheet;
    if (koruviews::workingStyleSheet(isTableWidgetChild, isDialogChild, &sheet))
        setStyleSheet(sheet);
}

void QCustomSpinBox::mousePressEvent(QMouseEvent *event)
{
    if (isReadOnly())
        return;
    restyle();
    QSpinBox::mousePressEvent(event);
}

void QCustomSpinBox::keyPressEvent(QKeyEvent *event)
{
    restyle();
    if (koruviews::fieldRefusesKey(event->key(), isTableWidgetChild)) {
        event->ignore();
        return;
    }
    QSpinBox::keyPressEvent(event);
}

void QCustomSpinBox::focusInEvent(QFocusEvent *event)
{
    if (isReadOnly())
        return;
    restyle();
    QSpinBox::focusInEvent(event);
}

void QCustomSpinBox::focusOutEvent(QFocusEvent *event)
{
    setStyleSheet(restStyleSheet);
    QSpinBox::focusOutEvent(event);
}
